// file_preview.cpp - previews of files: the streamed preview, the boxed and budgeted
// TDib::GetPreview forms and GetPreviewFitxerDIB.
//
// A file's lines are decoded once and pushed through the preview scaler; the file's pixels are
// never held. The boxed preview scales to twice the box, centres that on the background and
// halves it, so edges come out anti-aliased.
#include "file_preview_internal.h"

#include <algorithm>
#include <cmath>
#include <codecs/jpeg/jpeg_reader.h>
#include <core/last_error.h>
#include <cstdint>
#include <dib/FileInfo.h>
#include <dib/Preview.h>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <dib/internal/status_map.h>
#include <info/format_families.h>
#include <memory>
#include <new>
#include <raster/file_module.h>
#include <raster/kernel.h>
#include <vector>

namespace dib::filepreview {
namespace {

constexpr int kBoxRefused = DIB_STATUS_KERNEL_BASE + RK_ERROR_INV_PARAMETER;

int RoundHalfAway(double v)
{
    const double r = std::round(v);
    if (!(r >= 1.0))
        return 1;
    return r > double(INT32_MAX) ? INT32_MAX : int(r);
}

// The scaler, remembering what its Init answered: a reader reports a consumer's refusal as a
// success without lines, which must not pass for a preview.
class Scaler : public TPLPreviewDIBDinamic {
public:
    using TPLPreviewDIBDinamic::TPLPreviewDIBDinamic;
    int Init(int width, int height, CRect& region) override
    {
        initResult = TPLPreviewDIBDinamic::Init(width, height, region);
        initCalled = true;
        return initResult;
    }
    int Processar(unsigned char* line, unsigned char* alpha) override
    {
        ++lines;
        return TPLPreviewDIBDinamic::Processar(line, alpha);
    }
    bool initCalled = false;
    int initResult = DIB_OK;
    std::int64_t lines = 0;
};

// JPEG files of every kind the JPEG decoder reads, the subsampled ones included (which the
// line-by-line open hands to the kernel's loader).
bool IsAnyJpeg(int format)
{
    return IsJpegFamily(format) || format == RK_FORMAT_JPEG_411 || format == RK_FORMAT_JPEG_422;
}

bool ShownColourSpace(std::uint32_t cs)
{
    return cs == DIB_CS_CMYK || cs == DIB_CS_GREY || cs == DIB_CS_RGB || cs == DIB_CS_MONO;
}

} // namespace

Fit FitInCanvas(int fileWidth, int fileHeight, int canvasWidth, int canvasHeight)
{
    Fit f;
    if (fileWidth < 1 || fileHeight < 1 || canvasWidth < 1 || canvasHeight < 1)
        return f;
    const double a = double(fileHeight) / double(fileWidth);
    if (a > double(canvasHeight) / double(canvasWidth)) {
        f.byHeight = true;
        f.height = canvasHeight;
        f.width = RoundHalfAway(canvasHeight / a);
        if (f.width > canvasWidth) {
            f.width = canvasWidth;
            f.height = RoundHalfAway(canvasWidth * a);
        }
    } else {
        f.width = canvasWidth;
        f.height = RoundHalfAway(canvasWidth * a);
        if (f.height > canvasHeight) {
            f.height = canvasHeight;
            f.width = RoundHalfAway(canvasHeight / a);
        }
    }
    f.width = std::min(f.width, canvasWidth);
    f.height = std::min(f.height, canvasHeight);
    return f;
}

void BudgetBox(int sizeKB, int fileWidth, int fileHeight, int& boxWidth, int& boxHeight)
{
    boxWidth = boxHeight = 0;
    if (!TDib::CalculaMidesAcotades(sizeKB, 24, fileWidth, fileHeight, boxWidth, boxHeight))
        boxWidth = boxHeight = 0;
}

int JpegScaleFor(int fileWidth, int fileHeight, int width, int height)
{
    for (int num = 1; num < 8; ++num)
        if (jpeg::ScaledSide(fileWidth, num) >= width &&
            jpeg::ScaledSide(fileHeight, num) >= height)
            return num;
    return 8;
}

int StreamedPreview(const wchar_t* path, const CFILEINFO& info, int width, int height, TDib*& out,
                    TIndicadorEstat* progress, bool reducedDecode)
{
    // Palette images (other than TIFF, whose reader delivers them itself) are expanded through
    // the file's colours; the query loads the picture.
    tagRGBQUAD palette[256];
    bool havePalette = false;
    if (info.BitsPerPixel == 8 && !IsTiffFamily(info.Format)) {
        for (int i = 0; i < 256; ++i)
            palette[i] = tagRGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
        havePalette = TDib::GetPaletaFitxer(path, palette) > 0;
    }

    int scale = 8;
    if (reducedDecode && IsAnyJpeg(info.Format))
        scale = JpegScaleFor(info.Width, info.Height, width, height);
    const int srcWidth = scale < 8 ? jpeg::ScaledSide(info.Width, scale) : info.Width;
    const int srcHeight = scale < 8 ? jpeg::ScaledSide(info.Height, scale) : info.Height;

    const bool alpha = info.AlphaChannel >= 1;
    const int channels = int(info.Channels) - (alpha ? 1 : 0);
    Scaler scaler(info.ColorSpace, int(info.BitsPerChannel), channels, alpha ? 1 : 0, srcWidth,
                  srcHeight, width, height, havePalette ? palette : nullptr, out,
                  info.BitsPerPixel == 32 && !alpha ? 1 : 0, info.Format);
    out = nullptr; // the scaler holds it now

    int r;
    if (scale < 8) {
        r = StatusFromKernel(
            jpeg::LoadFileScaled(path, info.BitsPerPixel, scale, &scaler, progress));
    } else {
        TDib decoder;
        r = decoder.ObrirDinamic(path, &scaler, info.BitsPerPixel, 0, 0, progress, &info, 1);
    }
    if (r < 0)
        return r;
    if (scaler.initCalled && scaler.initResult < 0)
        return scaler.initResult;
    std::unique_ptr<TDib> made(scaler.TreuDIB());
    if (!scaler.initCalled || scaler.lines < srcHeight || !made || made->GetMidaX() < 1) {
        core::SetLastErrorText("the file delivered no complete picture");
        return DIB_ERR_UNSUPPORTED;
    }
    // The line-by-line open hands every file's lines over top first, bottom-up files included:
    // the preview is already the right way up.
    out = made.release();
    return DIB_OK;
}

int BoxedPreview(const wchar_t* path, int width, int height, unsigned long background,
                 TDib*& preview, TIndicadorEstat* progress, const CFILEINFO* info,
                 bool reducedDecode)
{
    std::unique_ptr<TDib> given(preview);
    preview = nullptr;
    CFILEINFO fi;
    if (info) {
        fi = *info;
    } else {
        const int described = TDib::GetInfoFitxer(path, 0, &fi);
        if (described < 0)
            return described;
    }
    if (!ShownColourSpace(fi.ColorSpace)) {
        core::SetLastErrorTextF("no preview of colour space %u", unsigned(fi.ColorSpace));
        return DIB_ERR_UNSUPPORTED;
    }
    if (width < 1 || height < 1 || width > kMaxBoxSide || height > kMaxBoxSide) {
        core::SetLastErrorText("the preview box is empty or too large");
        return kBoxRefused;
    }
    const int canvasWidth = 2 * width, canvasHeight = 2 * height;
    const Fit fit = FitInCanvas(fi.Width, fi.Height, canvasWidth, canvasHeight);
    if (fit.width < 1 || fit.height < 1) {
        core::SetLastErrorText("the file has no pixels");
        return DIB_ERR_UNSUPPORTED;
    }

    TDib* streamedRaw = nullptr;
    const int r =
        StreamedPreview(path, fi, fit.width, fit.height, streamedRaw, progress, reducedDecode);
    std::unique_ptr<TDib> streamed(streamedRaw);
    if (r < 0)
        return r;
    if (!streamed)
        return DIB_ERR_UNSUPPORTED;
    // The canvas is drawn at 24 bits from the start, so the background keeps its colour around
    // grey and CMYK pictures too (an 8-bit canvas would take the nearest grey).
    if (streamed->GetBitsPerPixel() != 24) {
        const int deep = RkColorResBitmap(&TDibAccess::Bitmap(*streamed), 24, nullptr);
        if (deep <= 0)
            return StatusFromKernel(deep);
    }

    std::unique_ptr<TDib> canvas =
        given ? std::move(given) : std::unique_ptr<TDib>(new (std::nothrow) TDib());
    if (!canvas)
        return DIB_ERR_NO_MEMORY;
    int s = canvas->Crear(canvasWidth, canvasHeight, 24, nullptr);
    if (s != DIB_OK)
        return s;
    const int filled = RkFillBitmap(&TDibAccess::Bitmap(*canvas), COLORREF(background & 0xFFFFFF));
    if (filled <= 0)
        return StatusFromKernel(filled);

    // Rows of the picture only (no line padding), which would otherwise paint a dark column
    // beside a picture centred across.
    const std::uint64_t bytes = std::uint64_t(fit.width) * 3;
    std::vector<unsigned char> row;
    try {
        row.resize(bytes);
    } catch (const std::bad_alloc&) {
        return DIB_ERR_NO_MEMORY;
    }
    const int column = fit.byHeight ? (canvasWidth - fit.width) / 2 : 0;
    const int top = fit.byHeight ? 0 : (canvasHeight - fit.height) / 2;
    for (int y = 0; y < fit.height; ++y) {
        s = streamed->GetLinia(y, row.data(), bytes);
        if (s == DIB_OK)
            s = canvas->SetLinia(top + y, column, row.data(), bytes);
        if (s != DIB_OK)
            return s;
    }
    streamed.reset();

    s = canvas->EscalarInt(width, height, 4);
    if (s != DIB_OK)
        return s;
    preview = canvas.release();
    return r;
}

} // namespace dib::filepreview

int TDib::GetPreview(const wchar_t* path, int sizeKB, TDib*& preview, TIndicadorEstat* progress,
                     CFILEINFO* info)
{
    CFILEINFO fi;
    if (info) {
        fi = *info;
    } else {
        const int described = GetInfoFitxer(path, 0, &fi);
        if (described < 0) {
            delete preview;
            preview = nullptr;
            return described;
        }
    }
    int w = 0, h = 0;
    dib::filepreview::BudgetBox(sizeKB, fi.Width, fi.Height, w, h);
    return dib::filepreview::BoxedPreview(path, w, h, 0xFFFFFF, preview, progress, &fi, true);
}

int TDib::GetPreview(const wchar_t* path, int width, int height, unsigned long background,
                     TDib*& preview, TIndicadorEstat* progress, CFILEINFO* info)
{
    return dib::filepreview::BoxedPreview(path, width, height, background, preview, progress, info,
                                          true);
}

int GetPreviewFitxerDIB(const wchar_t* path, int sizeKB, TDib*& preview, TIndicadorEstat* progress)
{
    return TDib::GetPreview(path, sizeKB, preview, progress, nullptr);
}
