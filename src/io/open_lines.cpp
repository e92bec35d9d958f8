// open_lines.cpp - line-by-line open.
//
//   TDib::ObrirDinamic        chooses the reader and drives the caller's consumer
//   TDib::__ObrirDinamicProc  the kernel's per-rows callback: progress, region, alpha split and
//                             composite over white
#include "io_internal.h"

#include <algorithm>
#include <base/progress.h>
#include <codecs/tiff/tiff_codec.h>
#include <core/checked_size.h>
#include <core/last_error.h>
#include <cstring>
#include <dib/FileInfo.h>
#include <dib/LineConsumer.h>
#include <dib/internal/dib_access.h>
#include <dib/internal/status_map.h>
#include <new>
#include <raster/file_module.h>
#include <vector>

namespace {

// 255 - floor((255 - v) * a / 255): a = 255 keeps v, a = 0 gives white.
inline std::uint8_t OverWhite(std::uint8_t v, std::uint8_t a)
{
    return static_cast<std::uint8_t>(255 - (255 - v) * a / 255);
}

bool IsProgressiveJpeg(const CFILEINFO& info)
{
    static const char16_t kProgressive[] = u"Progressive JPEG";
    const std::size_t n = sizeof(info.Compression) / sizeof(info.Compression[0]);
    for (std::size_t i = 0; i < n; ++i) {
        if (info.Compression[i] != kProgressive[i])
            return false;
        if (kProgressive[i] == 0)
            return true;
    }
    return false;
}

} // namespace

int TDib::__ObrirDinamicProc(_FILEINFO*, _BITMAPHANDLE* bitmap, std::uint8_t* buffer,
                             std::uint32_t flags, int firstRow, int rows, void* user)
{
    auto* c = static_cast<dib::io::LoadContext*>(user);
    if (!c)
        return 1;
    if ((flags & 3u) == 1u)
        return 1;
    const int height = bitmap ? bitmap->Height : c->height;
    TIndicadorEstat::SetRangPosicioRel(c->progress, std::uint64_t(std::max(firstRow, 0)),
                                       std::uint64_t(std::max(height, 0)));
    // Rows lie a bitmap row apart; the context's line size is what was asked for. Reads stay
    // inside the row the kernel delivered whatever the two say.
    const std::int64_t rowBytes =
        bitmap && bitmap->BytesPerLine > 0 ? bitmap->BytesPerLine : c->lineSize;
    const bool split = c->colourLine && c->alphaLine;
    bool fits = true;
    if (c->consumer && !c->refused && rows > 0 && buffer) {
        const std::int64_t need =
            split ? (std::int64_t(c->lastColumn) + 1) * c->pixelStride
                  : (std::int64_t(c->firstColumn) * std::max(c->bitsPerPixel, 1)) / 8 + 1;
        fits = need <= rowBytes;
    }
    for (int i = 0; fits && buffer && i < rows; ++i) {
        if (c->currentRow > c->lastRow)
            break;
        std::uint8_t* row = buffer + std::int64_t(i) * rowBytes;
        if (c->currentRow >= c->firstRow && c->consumer && !c->refused) {
            int accepted;
            if (split) {
                const int colours = c->channels - 1;
                const bool composite = c->consumer->OutAlpha() == 0;
                std::uint8_t* out = c->colourLine;
                std::uint8_t* alpha = c->alphaLine;
                for (int col = c->firstColumn; col <= c->lastColumn; ++col) {
                    const std::uint8_t* px = row + std::int64_t(col) * c->pixelStride;
                    const std::uint8_t a = px[c->pixelStride - 1];
                    for (int k = 0; k < colours; ++k)
                        *out++ = composite ? OverWhite(px[k], a) : px[k];
                    *alpha++ = a;
                }
                accepted = c->consumer->Processar(c->colourLine, c->alphaLine);
            } else {
                // Packed rows start at the byte holding the first column's pixel.
                const std::int64_t offset = c->bitsPerPixel < 8
                                                ? std::int64_t(c->firstColumn) * c->bitsPerPixel / 8
                                                : std::int64_t(c->firstColumn) * c->bytesPerPixel;
                accepted = c->consumer->Processar(row + offset, nullptr);
            }
            if (accepted == 0)
                c->refused = true;
        }
        ++c->currentRow;
    }
    if (!fits) {
        TIndicadorEstat::PopRangRel(c->progress);
        core::SetLastErrorText("decoded rows narrower than the file's description");
        return 0;
    }
    return TIndicadorEstat::PopRangRel(c->progress) == 0 ? 0 : 1;
}

int TDib::ObrirDinamic(const wchar_t* path, TProcesLiniaDIB* consumer, int bitsPerPixel, int keep,
                       int, TIndicadorEstat* progress, const CFILEINFO* info, int wantAlpha)
{
    dib::io::InstallMemoryCodecsOnce();
    CFILEINFO fi;
    if (info) {
        fi = *info;
    } else {
        const int described = GetInfoFitxer(path, 1, &fi);
        if (described < 0)
            return described;
    }
    int depth = bitsPerPixel != 0 ? bitsPerPixel : fi.BitsPerPixel;
    dib::io::LoadContext c;
    if (!dib::io::MakeLoadContext(fi, depth, progress, c)) {
        core::SetLastErrorText("file description with sizes out of range");
        return DIB_ERR_INVALID;
    }
    c.consumer = consumer;

    TDib decoded;
    int r = 0;
    bool ownTiff = false;
    const int format = fi.Format;
    if (dib::io::IsJpegFamily(format) && !(fi.Channels < 4 && IsProgressiveJpeg(fi))) {
        r = dib::TDibAccess::LoadJPEG(decoded, path, depth, consumer, progress, keep, 0);
    } else if (dib::io::IsTiffFamily(format) && fi.Indexed) {
        r = dib::TiffReaderAccess::LoadIndexedTiff(decoded, path, fi.BitsPerPixel, consumer,
                                                   progress, keep);
    } else if (dib::io::IsTiffFamily(format) && !fi.Tiled && !(fi.ColourModel == 3 && keep)) {
        ownTiff = true;
        r = dib::TiffReaderAccess::LoadTiff(decoded, path, fi.ColorSpace == DIB_CS_LAB ? 1 : 0,
                                            consumer, progress, keep, 1, wantAlpha);
    } else {
        std::string utf8;
        if (!dib::io::Utf8Path(path, utf8))
            return DIB_ERR_INVALID;
        if (consumer) {
            CRect region(0, 0, c.width - 1, c.height - 1);
            const int first = consumer->Init(c.width, c.height, region);
            if (first < 0)
                return 1;
            // The consumer's region is held inside the image.
            c.firstRow = first;
            c.firstColumn = std::clamp<int>(region.left, 0, std::max(c.width - 1, 0));
            c.lastColumn = std::clamp<int>(region.right, c.firstColumn, std::max(c.width - 1, 0));
            c.lastRow = std::min<int>(region.bottom, c.height - 1);
        }
        if (format == RK_FORMAT_PNG && fi.Channels == 2) {
            // Grey with alpha arrives expanded to 32-bit pixels: grey in the first byte, alpha
            // in the fourth.
            c.pixelStride = 4;
            c.channels = 2;
            depth = 32;
            c.bitsPerPixel = 32;
            c.bytesPerPixel = 4;
            c.lineSize =
                int(core::CheckedLineSize(std::uint64_t(std::max(c.width, 0)), 32, 4).value_or(0));
        }
        // The alpha split needs pixels that really hold every channel.
        std::vector<std::uint8_t> colourLine, alphaLine;
        if (fi.AlphaChannel > 0 && c.channels >= 2 && c.pixelStride * 8 == depth && c.width > 0) {
            try {
                colourLine.assign(std::size_t(std::max(c.lineSize, 1)), 0);
                alphaLine.assign(std::size_t(c.width), 0);
            } catch (const std::bad_alloc&) {
                if (consumer)
                    consumer->Done();
                return DIB_ERR_NO_MEMORY;
            }
            c.colourLine = colourLine.data();
            c.alphaLine = alphaLine.data();
        }
        const std::uint32_t flags =
            keep ? (RK_LOAD_ALLOCATE | RK_LOAD_STORE | RK_LOAD_CALLBACK) : RK_LOAD_CALLBACK;
        r = RkLoadFileCallback(utf8.c_str(), &decoded.m_bitmap, BITMAPHANDLE_SIZE, depth,
                               RK_ORDER_BGR, flags, &TDib::__ObrirDinamicProc, &c, nullptr);
        if (consumer)
            consumer->Done();
    }
    if (r <= 0)
        return dib::StatusFromKernel(r);
    if (!keep)
        return DIB_OK;
    if (!(decoded.m_bitmap.Flags & BITMAP_FLAG_ALLOCATED)) {
        // The consumer refused the run before any bitmap was made: nothing to keep.
        return DIB_OK;
    }
    const int flipped = decoded.NormalitzarTopLeft();
    if (flipped != DIB_OK)
        return flipped;
    dib::io::AdoptBitmap(*this, decoded);
    m_canalAlpha = fi.AlphaChannel;
    m_espaiColor = fi.ColorSpace;
    m_canals = fi.Channels;
    m_bitsPerCanal = ownTiff && fi.BitsPerChannel == 16 ? 8 : fi.BitsPerChannel;
    return DIB_OK;
}
