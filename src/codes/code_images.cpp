// code_images.cpp - TDib::CrearCode: Code 128 and QR symbols as 1-bit images.
//
// The symbol comes from the vips stand-in as one byte per module (0 dark, 255 light). It is
// laid on a white 8-bit grey canvas with a 2-pixel margin and reduced to 1 bit by the kernel's
// nearest-colour depth change. Everything is built in a separate image and moved into this one
// only when every step has succeeded, so a failure leaves the caller's image as it was.
#include <array>
#include <base/strings.h>
#include <climits>
#include <core/checked_size.h>
#include <core/last_error.h>
#include <cstdint>
#include <dib/TDib.h>
#include <dib/internal/status_map.h>
#include <new>
#include <raster/kernel.h>
#include <string>
#include <vector>
#include <vips/tal_vimage.h>

namespace {

constexpr int kMargin = 2;
constexpr int kResolution = 72;
constexpr COLORREF kWhite = 0xFFFFFF;

// The reason a code could not be made, for the caller's one-line error.
void setReason(const char* reason)
{
    core::SetLastErrorText(reason);
}

// A wchar_t that UTF-8 can carry: a Unicode scalar value (not a surrogate, not above U+10FFFF).
bool IsScalarValue(wchar_t c)
{
    const auto v = static_cast<std::int64_t>(c);
    return v >= 0 && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF);
}

int StatusFromSymbol(TalVError error)
{
    switch (error) {
    case TalVError::InvalidInput:
    case TalVError::InvalidOption:
        return DIB_ERR_INVALID;
    case TalVError::NoMemory:
        return DIB_ERR_NO_MEMORY;
    default:
        return DIB_ERR_FAILED;
    }
}

} // namespace

int TDib::CrearCode(int type, const wchar_t* text)
{
    if (!text || !*text) {
        setReason("no text to encode");
        return DIB_ERR_INVALID;
    }
    for (const wchar_t* p = text; *p; ++p) {
        if (!IsScalarValue(*p)) {
            setReason("the text holds a value that is not a Unicode character");
            return DIB_ERR_INVALID;
        }
    }
    std::string utf8;
    try {
        utf8 = CStringEx::WideToUTF8(text);
    } catch (const std::bad_alloc&) {
        setReason("no memory for the text");
        return DIB_ERR_NO_MEMORY;
    }

    const TalVImage symbol(type == 0 ? TalVImage::talQR(utf8.c_str(), 0, 0)
                                     : TalVImage::talCode128(utf8.c_str(), 0, 0, 0));
    if (symbol.LastError() != TalVError::None) {
        setReason(symbol.ErrorText());
        return StatusFromSymbol(symbol.LastError());
    }
    const int w = symbol.width();
    const int h = symbol.height();
    if (w < 1 || h < 1 || w > INT_MAX - 2 * kMargin || h > INT_MAX - 2 * kMargin) {
        setReason("the symbol image has no usable size");
        return DIB_ERR_FAILED;
    }

    TalVImage temporary("QRbuffer", "t");
    if (temporary.write(symbol) != 0) {
        setReason(temporary.ErrorText());
        return StatusFromSymbol(temporary.LastError());
    }
    // The copy must be exactly one byte per pixel: anything else would be read out of step.
    const auto expected = core::CheckedMul(std::uint64_t(w), std::uint64_t(h));
    const std::int64_t size = temporary.copy2mem(nullptr, 0);
    if (!expected || size < 0 || std::uint64_t(size) != *expected ||
        !core::FitsAllocation(*expected)) {
        setReason("the symbol image is not one byte per pixel");
        return DIB_ERR_FAILED;
    }
    std::vector<unsigned char> pixels;
    try {
        pixels.resize(std::size_t(*expected));
    } catch (const std::bad_alloc&) {
        setReason("no memory for the symbol's pixels");
        return DIB_ERR_NO_MEMORY;
    }
    if (temporary.copy2mem(reinterpret_cast<char*>(pixels.data()), pixels.size()) != size) {
        setReason("the symbol's pixels could not be copied");
        return DIB_ERR_FAILED;
    }

    // Byte values are grey levels, so the canvas gets a grey palette instead of the kernel's
    // default colour cube, where 255 is not white.
    std::array<tagRGBQUAD, 256> greys{};
    for (int i = 0; i < 256; ++i)
        greys[i] = {BYTE(i), BYTE(i), BYTE(i), 0};
    TDib work;
    if (const int r = work.Crear(w + 2 * kMargin, h + 2 * kMargin, 8, greys.data()); r != DIB_OK) {
        setReason("no image could be created for the symbol");
        return r;
    }
    if (const int r = RkFillBitmap(&work.m_bitmap, kWhite); r <= 0) {
        setReason("the symbol's canvas could not be cleared to white");
        return dib::StatusFromKernel(r);
    }
    for (int row = 0; row < h; ++row) {
        const int r = work.SetLinia(row + kMargin, kMargin, pixels.data() + std::size_t(row) * w,
                                    std::uint64_t(w));
        if (r != DIB_OK) {
            setReason("the symbol could not be drawn");
            return r;
        }
    }
    if (work.m_bitmap.BitsPerPixel != 1) {
        if (const int r = RkColorResBitmap(&work.m_bitmap, 1, nullptr); r <= 0) {
            setReason("the symbol could not be reduced to 1 bit per pixel");
            return dib::StatusFromKernel(r);
        }
    }
    work.m_bitmap.XResolution = kResolution;
    work.m_bitmap.YResolution = kResolution;

    // Move the finished bitmap in: records are plain values owning their storage, and the
    // emptied record in work keeps its destructor from freeing what this image now holds.
    Done();
    m_bitmap = work.m_bitmap;
    RkInitBitmap(&work.m_bitmap, BITMAPHANDLE_SIZE, 0, 0, 0);
    m_resolucioX = kResolution;
    m_resolucioY = kResolution;
    m_espaiColor = DIB_CS_RGB;
    m_canals = 3;
    m_bitsPerCanal = 8;
    m_canalAlpha = -1;
    return DIB_OK;
}
