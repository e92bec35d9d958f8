// image_preview.cpp - previews of an image in memory: TDib::GetPreview and GetPreviewDIB.
#include <core/last_error.h>
#include <dib/Preview.h>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <memory>

namespace {

struct LineFormat {
    unsigned long cs;
    int bpc;
    int cha;
};

// The format of the image's lines as the line feeder delivers them. Images whose format
// fields were never set (made by Crear, imported) are described from their depth: palette
// depths as indices, 24 and 32 bits as blue-green-red (a fourth byte dropped), 48 bits as
// 16-bit samples.
bool FormatOf(const TDib& d, LineFormat& f)
{
    const std::uint32_t cs = dib::TDibAccess::EspaiColor(d);
    const int bpc = static_cast<int>(dib::TDibAccess::BitsPerCanal(d));
    const int cha = static_cast<int>(dib::TDibAccess::Canals(d));
    const int bpp = d.GetBitsPerPixel();
    if (cs != DIB_CS_NONE && bpc > 0 && cha > 0 && bpc * cha <= bpp) {
        // The feeder delivers whole stored pixels: an alpha channel stored beside the colour
        // channels is part of the pixel stride.
        f = {cs, bpc, bpp % bpc == 0 ? bpp / bpc : cha};
        return true;
    }
    switch (bpp) {
    case 1:
    case 2:
    case 4:
    case 8:
        f = {DIB_CS_RGB, bpp, 1};
        return true;
    case 24:
        f = {DIB_CS_RGB, 8, 3};
        return true;
    case 32:
        f = {DIB_CS_RGB, 8, 4};
        return true;
    case 48:
        f = {DIB_CS_RGB, 16, 3};
        return true;
    default:
        return false;
    }
}

} // namespace

int TDib::GetPreview(int sizeKB, TDib*& preview, TIndicadorEstat* progress)
{
    int w = 0, h = 0;
    if (!CalculaMidesAcotades(sizeKB, GetBitsPerPixel(), GetMidaX(), GetMidaY(), w, h)) {
        preview = Duplicar();
        if (preview == nullptr) {
            core::SetLastErrorText("no memory for the copy");
            return DIB_ERR_NO_MEMORY;
        }
        return DIB_OK;
    }
    LineFormat f{};
    if (!FormatOf(*this, f)) {
        core::SetLastErrorText("no preview of this depth");
        return DIB_ERR_UNSUPPORTED;
    }
    tagRGBQUAD palette[256];
    const bool indexed = GetBitsPerPixel() <= 8;
    if (indexed)
        GetPaleta(palette, nullptr);
    TPLPreviewDIBDinamic scaler(f.cs, f.bpc, f.cha, 0, GetMidaX(), GetMidaY(), w, h,
                                indexed ? palette : nullptr, preview, 0, 3);
    preview = nullptr; // the scaler holds it now
    CRect region(0, 0, 0, 0);
    const int r = scaler.Init(GetMidaX(), GetMidaY(), region);
    if (r < 0) {
        delete scaler.TreuDIB();
        return r;
    }
    const int fed = ProcesarLiniesDIB(&scaler, region.top, region.bottom - region.top + 1,
                                      region.left, region.right - region.left + 1, progress);
    scaler.Done();
    std::unique_ptr<TDib> made(scaler.TreuDIB());
    if (fed >= 0)
        preview = made.release();
    return fed;
}

int GetPreviewDIB(TDib* source, int sizeKB, TDib*& preview, TIndicadorEstat* progress)
{
    if (source == nullptr) {
        preview = nullptr;
        core::SetLastErrorText("no source image");
        return DIB_ERR_INVALID;
    }
    return source->GetPreview(sizeKB, preview, progress);
}
