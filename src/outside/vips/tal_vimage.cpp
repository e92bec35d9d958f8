// tal_vimage.cpp - TalVImage on libzint.
//
// Contents
//   lifetime      constructors, assignment, Failure
//   symbols       talQR, talCode128 (both through Render)
//   pixels        write, copy2mem, pixel
#include "tal_vimage.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <zint.h>

namespace {

// Input beyond this is longer than any Code 128 or QR symbol can hold; refusing it here keeps
// the length inside zint's int.
constexpr std::size_t kMaxTextBytes = 1 << 16;
constexpr int kDefaultBarHeight = 50;
constexpr int kMaxBarHeight = 1000;
constexpr int kEciUtf8 = 26;

struct SymbolDeleter {
    void operator()(zint_symbol* s) const { ZBarcode_Delete(s); }
};
using SymbolPtr = std::unique_ptr<zint_symbol, SymbolDeleter>;

TalVError ErrorFromZint(int r)
{
    switch (r) {
    case ZINT_ERROR_TOO_LONG:
    case ZINT_ERROR_INVALID_DATA:
    case ZINT_ERROR_INVALID_CHECK:
        return TalVError::InvalidInput;
    case ZINT_ERROR_INVALID_OPTION:
        return TalVError::InvalidOption;
    case ZINT_ERROR_MEMORY:
        return TalVError::NoMemory;
    default:
        return TalVError::Failed;
    }
}

} // namespace

// ---- lifetime ---------------------------------------------------------------------------------

TalVImage::TalVImage() = default;

TalVImage::TalVImage(const char* name, const char* mode)
{
    try {
        m_name = name ? name : "";
    } catch (const std::bad_alloc&) {
        m_error = TalVError::NoMemory;
        return;
    }
    m_writable = mode && std::strcmp(mode, "t") == 0;
}

// Copies never throw: a copy that cannot get its memory is an empty image marked NoMemory.
TalVImage::TalVImage(const TalVImage& other)
{
    *this = other;
}

TalVImage& TalVImage::operator=(const TalVImage& other)
{
    if (this == &other)
        return *this;
    try {
        m_name = other.m_name;
        m_pixels = other.m_pixels;
        m_writable = other.m_writable;
        m_width = other.m_width;
        m_height = other.m_height;
        SetError(other.m_error, other.m_errorText);
    } catch (const std::bad_alloc&) {
        std::vector<unsigned char>().swap(m_pixels);
        m_width = 0;
        m_height = 0;
        SetError(TalVError::NoMemory, "no memory for a copy of the image");
    }
    return *this;
}

TalVImage::~TalVImage() = default;

TalVImage TalVImage::Failure(TalVError error, const char* text)
{
    TalVImage image;
    image.SetError(error, text);
    return image;
}

void TalVImage::SetError(TalVError error, const char* text)
{
    m_error = error;
    std::snprintf(m_errorText, sizeof m_errorText, "%s", text ? text : "");
}

// ---- symbols ----------------------------------------------------------------------------------

TalVImage TalVImage::Draw(zint_symbol* s, const char* text, std::size_t length)
{
    // zint's raster scale 1 is two pixels per module; 0.5 gives one. The intermediate buffer
    // holds one character per pixel, '1' for a dark module and '0' for a light one.
    s->scale = 0.5f;
    s->show_hrt = 0;
    s->whitespace_width = 0;
    s->whitespace_height = 0;
    s->border_width = 0;
    s->output_options = OUT_BUFFER_INTERMEDIATE;
    s->input_mode = UNICODE_MODE;
    const int r = ZBarcode_Encode_and_Buffer(s, reinterpret_cast<const unsigned char*>(text),
                                             static_cast<int>(length), 0);
    if (r >= ZINT_ERROR)
        return Failure(ErrorFromZint(r), s->errtxt);
    if (!s->bitmap || s->bitmap_width <= 0 || s->bitmap_height <= 0)
        return Failure(TalVError::Failed, "the symbol library drew nothing");
    const std::uint64_t count = std::uint64_t(s->bitmap_width) * std::uint64_t(s->bitmap_height);
    TalVImage image;
    try {
        image.m_pixels.resize(count);
    } catch (const std::bad_alloc&) {
        return Failure(TalVError::NoMemory, "no memory for the symbol image");
    }
    for (std::uint64_t i = 0; i < count; ++i)
        image.m_pixels[i] = s->bitmap[i] == '0' ? 255 : 0;
    image.m_width = s->bitmap_width;
    image.m_height = s->bitmap_height;
    return image;
}

TalVImage TalVImage::talQR(const char* text, int level, int version)
{
    if (!text || !*text)
        return Failure(TalVError::InvalidInput, "no text to encode");
    const std::size_t length = std::strlen(text);
    if (length > kMaxTextBytes)
        return Failure(TalVError::InvalidInput, "text too long for a QR code");
    if (level < 0 || level > 4)
        return Failure(TalVError::InvalidOption, "QR error-correction level outside 0 to 4");
    if (version < 0 || version > 40)
        return Failure(TalVError::InvalidOption, "QR version outside 0 to 40");

    SymbolPtr s(ZBarcode_Create());
    if (!s)
        return Failure(TalVError::NoMemory, "no memory for the symbol");
    s->symbology = BARCODE_QRCODE;
    s->option_1 = level == 0 ? 2 : level; // zint: 1 L, 2 M, 3 Q, 4 H
    s->option_2 = version;
    // Without an ECI zint would pick Latin-1 or Shift JIS for non-ASCII text, which readers
    // then have to guess at; UTF-8 marked as such comes back exactly.
    for (std::size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) {
            s->eci = kEciUtf8;
            break;
        }
    }
    return Draw(s.get(), text, length);
}

TalVImage TalVImage::talCode128(const char* text, int height, int reserved1, int reserved2)
{
    if (!text || !*text)
        return Failure(TalVError::InvalidInput, "no text to encode");
    const std::size_t length = std::strlen(text);
    if (length > kMaxTextBytes)
        return Failure(TalVError::InvalidInput, "text too long for Code 128");
    if (height < 0 || height > kMaxBarHeight)
        return Failure(TalVError::InvalidOption, "Code 128 bar height outside 0 to 1000");
    if (reserved1 != 0 || reserved2 != 0)
        return Failure(TalVError::InvalidOption, "reserved Code 128 parameters must be 0");

    SymbolPtr s(ZBarcode_Create());
    if (!s)
        return Failure(TalVError::NoMemory, "no memory for the symbol");
    s->symbology = BARCODE_CODE128;
    s->height = static_cast<float>(height == 0 ? kDefaultBarHeight : height);
    return Draw(s.get(), text, length);
}

// ---- pixels -----------------------------------------------------------------------------------

int TalVImage::write(const TalVImage& source)
{
    if (!m_writable) {
        SetError(TalVError::InvalidOption, "only temporary images (mode \"t\") can be written");
        return -1;
    }
    if (source.m_width <= 0 || source.m_height <= 0) {
        SetError(TalVError::Failed, "nothing to write: the source image is empty");
        return -1;
    }
    if (this == &source)
        return 0;
    try {
        m_pixels = source.m_pixels;
    } catch (const std::bad_alloc&) {
        SetError(TalVError::NoMemory, "no memory for the image");
        return -1;
    }
    m_width = source.m_width;
    m_height = source.m_height;
    SetError(TalVError::None, "");
    return 0;
}

std::int64_t TalVImage::copy2mem(char* buffer, std::uint64_t size) const
{
    const std::uint64_t count = m_pixels.size();
    if (!buffer)
        return static_cast<std::int64_t>(count);
    if (size < count)
        return -1;
    if (count != 0)
        std::memcpy(buffer, m_pixels.data(), count);
    return static_cast<std::int64_t>(count);
}

unsigned char TalVImage::pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return 255;
    return m_pixels[std::size_t(y) * std::size_t(m_width) + std::size_t(x)];
}
