// exchange.cpp - TDib and the Windows-shaped image objects: packed DIBs, device-dependent
// bitmaps, icons and device contexts.
//
// Contents
//   import          ImportFromDIB, ImportFromDDB, FromIcon
//   export          ExportToDIB, ExportToDDB
//   device context  CreateDCW, DeleteDC
#include <core/checked_size.h>
#include <cstdlib>
#include <dib/TDib.h>
#include <dib/internal/status_map.h>
#include <raster/kernel.h>
#include <win/gdi.h>
#include <win/global_memory.h>

// ---- import ---------------------------------------------------------------------------------

namespace {

// Imports a locked packed DIB of blockBytes bytes; header and pixel bits are checked against
// the block before the kernel sees them.
int ImportLockedDIB(_BITMAPHANDLE& bitmap, const BYTE* block, std::uint64_t blockBytes)
{
    if (blockBytes < sizeof(BITMAPINFOHEADER))
        return DIB_ERR_INVALID;
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(block);
    std::uint64_t colours = header->biClrUsed;
    if (colours == 0) {
        switch (header->biBitCount) {
        case 1:
            colours = 2;
            break;
        case 4:
            colours = 16;
            break;
        case 8:
            colours = 256;
            break;
        case 24:
            colours = 0;
            break;
        default:
            return DIB_ERR_UNSUPPORTED;
        }
    }
    // The bits follow a 40-byte header and the colour table; another header size would put
    // them elsewhere.
    if (header->biSize != sizeof(BITMAPINFOHEADER))
        return DIB_ERR_UNSUPPORTED;
    // With BI_BITFIELDS the three colour masks sit between the header and the colour table; the
    // kernel reads them there, so they must lie in the block and the bits come after them.
    const std::uint64_t masks = header->biCompression == BI_BITFIELDS ? 12 : 0;
    const std::uint64_t offset = 4 * (10 + colours) + masks;
    if (offset > blockBytes)
        return DIB_ERR_INVALID;
    if (header->biCompression == BI_RGB || header->biCompression == BI_BITFIELDS) {
        const auto rows = std::llabs(static_cast<long long>(header->biHeight));
        const auto bytes = core::CheckedImageSize(header->biWidth, rows, header->biBitCount, 4);
        if (!bytes || *bytes > blockBytes - offset)
            return DIB_ERR_INVALID;
    }
    const int r = RkConvertFromDIBBits(&bitmap, BITMAPHANDLE_SIZE,
                                       reinterpret_cast<const BITMAPINFO*>(block), block + offset);
    return dib::StatusFromKernel(r);
}

} // namespace

int TDib::ImportFromDIB(void* dib, int lockHere)
{
    Done();
    int status;
    if (lockHere) {
        const std::uint64_t blockBytes = GlobalSize(dib);
        const auto* block = static_cast<const BYTE*>(GlobalLock(dib));
        if (!block)
            return DIB_ERR_INVALID;
        status = ImportLockedDIB(m_bitmap, block, blockBytes);
        GlobalUnlock(dib);
    } else {
        status = dib::StatusFromKernel(RkConvertFromDIB(&m_bitmap, BITMAPHANDLE_SIZE, dib));
    }
    if (status == DIB_OK)
        status = NormalitzarTopLeft();
    if (status != DIB_OK)
        Done();
    return status;
}

int TDib::ImportFromDDB(HBITMAP ddb, int variant)
{
    // The other members stay; only the pixels are replaced (freed first so none leak). A
    // device-dependent bitmap carries no alpha plane, so no alpha index survives.
    RkFreeBitmap(&m_bitmap);
    m_canalAlpha = -1;
    RkInitBitmap(&m_bitmap, BITMAPHANDLE_SIZE, 0, 0, 0);
    CClientDC screen(nullptr);
    // Any non-zero variant selects the kernel's second import.
    const int r = RkConvertFromDDB(screen.m_hDC, &m_bitmap, BITMAPHANDLE_SIZE, ddb, nullptr,
                                   variant != 0 ? 1 : 0);
    int status = dib::StatusFromKernel(r);
    if (status == DIB_OK)
        status = NormalitzarTopLeft();
    if (status != DIB_OK) {
        RkFreeBitmap(&m_bitmap);
        RkInitBitmap(&m_bitmap, BITMAPHANDLE_SIZE, 0, 0, 0);
    }
    return status;
}

TDib* TDib::FromIcon(HICON icon, unsigned long background)
{
    ICONINFO info{};
    if (!GetIconInfo(icon, &info))
        return nullptr;
    // GetIconInfo hands out copies of both bitmaps; they go whatever happens below.
    struct IconBitmaps {
        ICONINFO& i;
        ~IconBitmaps()
        {
            if (i.hbmColor)
                DeleteObject(i.hbmColor);
            if (i.hbmMask)
                DeleteObject(i.hbmMask);
        }
    } owned{info};

    HBITMAP source = info.hbmColor ? info.hbmColor : info.hbmMask;
    const int depth = info.hbmColor ? 24 : 1;
    BITMAP bm{};
    if (!source || GetObjectW(source, sizeof(bm), &bm) == 0)
        return nullptr;
    const int width = bm.bmWidth;
    // A monochrome icon's mask holds the AND mask above the XOR mask.
    const int height = info.hbmColor ? bm.bmHeight : bm.bmHeight / 2;

    TDib* image = new (std::nothrow) TDib();
    if (!image)
        return nullptr;
    if (image->Crear(width, height, depth, nullptr) != DIB_OK) {
        delete image;
        return nullptr;
    }
    HDC dc = RkCreateBitmapDC(&image->m_bitmap);
    if (!dc) {
        delete image;
        return nullptr;
    }
    SetMapMode(dc, MM_TEXT);
    const RECT all{0, 0, width, height};
    // Without the brush the image would come back without its background: a failure too.
    HBRUSH brush = CreateSolidBrush(static_cast<COLORREF>(background));
    if (!brush) {
        RkDeleteBitmapDC(dc);
        delete image;
        return nullptr;
    }
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    DrawIcon(dc, 0, 0, icon);
    RkDeleteBitmapDC(dc);
    return image;
}

// ---- export ---------------------------------------------------------------------------------

void* TDib::ExportToDIB(int variant)
{
    // Any non-zero variant selects the kernel's second export.
    return RkConvertToDIB(&m_bitmap, variant != 0 ? 1 : 0);
}

HBITMAP TDib::ExportToDDB(int variant)
{
    CClientDC screen(nullptr);
    return RkConvertToDDB(screen.m_hDC, &m_bitmap, variant != 0 ? 1 : 0);
}

// ---- device context ----------------------------------------------------------------------------

HDC TDib::CreateDCW()
{
    HDC dc = RkCreateBitmapDC(&m_bitmap);
    if (dc)
        SetMapMode(dc, MM_TEXT);
    return dc;
}

int TDib::DeleteDC(HDC dc)
{
    RkDeleteBitmapDC(dc);
    return DIB_OK;
}
