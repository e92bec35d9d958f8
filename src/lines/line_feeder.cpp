// line_feeder.cpp - TDib::ProcesarLiniesDIB: an image in memory handed line by line to a
// TProcesLiniaDIB.
//
// The region is checked against the image before anything is allocated or delivered, so a
// region that runs outside the image is refused (-3) instead of reading past a row.
#include <base/progress.h>
#include <core/checked_size.h>
#include <cstdlib>
#include <dib/LineConsumer.h>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <dib/internal/status_map.h>
#include <memory>
#include <raster/kernel.h>

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// Bytes per delivered line, or 0 when the columns do not lie in the stored row.
std::uint64_t DeliveredBytes(const _BITMAPHANDLE& b, int firstColumn, int pixelCount)
{
    if (firstColumn < 0 || firstColumn >= b.Width || b.BitsPerPixel < 1)
        return 0;
    const std::uint64_t offset =
        static_cast<std::uint64_t>(firstColumn) * static_cast<std::uint64_t>(b.BitsPerPixel) / 8;
    const auto stride = static_cast<std::uint64_t>(b.BytesPerLine);
    if (offset >= stride)
        return 0;
    if (pixelCount < 0)
        return stride - offset; // the stored line from firstColumn to its end
    if (pixelCount == 0 || std::int64_t(firstColumn) + pixelCount > b.Width)
        return 0;
    const auto bytes = core::CheckedLineSize(pixelCount, b.BitsPerPixel, 0);
    if (!bytes || *bytes == 0 || *bytes > stride - offset)
        return 0;
    return *bytes;
}

} // namespace

int TDib::ProcesarLiniesDIB(TProcesLiniaDIB* consumer, int firstLine, int lineCount,
                            int firstColumn, int pixelCount, TIndicadorEstat* progress) const
{
    if (!consumer)
        return DIB_ERR_INVALID;
    const int height = m_bitmap.Height;
    if (lineCount < 0) {
        firstLine = 0;
        lineCount = height;
    }
    if (lineCount == 0)
        return DIB_OK;
    if (firstLine < 0 || std::int64_t(firstLine) + lineCount > height)
        return DIB_ERR_INVALID;
    const std::uint64_t bytes = DeliveredBytes(m_bitmap, firstColumn, pixelCount);
    if (bytes == 0 || !core::FitsAllocation(bytes))
        return DIB_ERR_INVALID;

    std::unique_ptr<unsigned char, FreeDeleter> buffer(
        static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(bytes))));
    if (!buffer)
        return DIB_ERR_NO_MEMORY;

    Lock();
    int result = DIB_OK;
    const bool topLeft = m_bitmap.ViewPerspective == RK_TOP_LEFT;
    const auto total = static_cast<std::uint64_t>(lineCount);
    for (int i = 0; i < lineCount; ++i) {
        TIndicadorEstat::SetRangPosicioRel(progress, static_cast<std::uint64_t>(i), total);
        const int n = firstLine + i;
        const int stored = topLeft ? n : height - 1 - n;
        const std::int64_t r =
            RkGetBitmapRowCol(&m_bitmap, buffer.get(), stored, firstColumn, bytes);
        if (r <= 0) {
            TIndicadorEstat::PopRangRel(progress);
            result = dib::StatusFromKernel(r);
            break;
        }
        const int more = consumer->Processar(buffer.get(), nullptr);
        const int go = TIndicadorEstat::PopRangRel(progress);
        if (more == 0)
            break;
        if (go == 0) {
            result = DIB_ERR_FAILED;
            break;
        }
    }
    Unlock();
    return result;
}
