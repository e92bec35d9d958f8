// ops_compose.cpp - RkCombineBitmap: one bitmap combined into another, block by block of rows.
//
// Rows of both bitmaps are converted to 8-bit blue-green-red triplets, combined with OpenCV's
// saturating element-wise arithmetic, and converted back; a plain copy between bitmaps of one
// layout copies stored values instead.
#include "raster/ops/ops_compose.h"

#include "raster/ops/ops_pixels_internal.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <opencv2/core.hpp>

using namespace rk;

namespace {

// Clips a span (d in a destination of size dn, s in a source of size sn, length n).
void clipSpan(std::int64_t& d, std::int64_t& s, std::int64_t& n, std::int64_t dn, std::int64_t sn)
{
    if (d < 0) {
        s -= d;
        n += d;
        d = 0;
    }
    if (s < 0) {
        d -= s;
        n += s;
        s = 0;
    }
    n = std::min({n, dn - d, sn - s});
}

bool samePalette(const Bitmap& a, const Bitmap& b)
{
    return a.palette.size() == b.palette.size() &&
           (a.palette.empty() || std::memcmp(a.palette.data(), b.palette.data(),
                                             a.palette.size() * sizeof(tagRGBQUAD)) == 0);
}

// result = d (op) s on 8-bit values; d is replaced by the result.
void applyOperation(std::uint32_t op, cv::Mat& d, const cv::Mat& s)
{
    switch (op) {
    case RK_COMBINE_COPY:
        s.copyTo(d);
        break;
    case RK_COMBINE_AND:
        cv::bitwise_and(d, s, d);
        break;
    case RK_COMBINE_OR:
        cv::bitwise_or(d, s, d);
        break;
    case RK_COMBINE_XOR:
        cv::bitwise_xor(d, s, d);
        break;
    case RK_COMBINE_ADD:
        cv::add(d, s, d);
        break;
    case RK_COMBINE_SUBTRACT:
        cv::subtract(d, s, d);
        break;
    case RK_COMBINE_MULTIPLY:
        cv::multiply(d, s, d, 1.0 / 255.0);
        break;
    case RK_COMBINE_DARKEN:
        cv::min(d, s, d);
        break;
    case RK_COMBINE_LIGHTEN:
        cv::max(d, s, d);
        break;
    case RK_COMBINE_AVERAGE:
        cv::addWeighted(d, 0.5, s, 0.5, 0.0, d);
        break;
    case RK_COMBINE_DIFFERENCE:
        cv::absdiff(d, s, d);
        break;
    default:
        break;
    }
}

} // namespace

static int combineBitmapImpl(_BITMAPHANDLE* dst, int dx, int dy, int width, int height,
                             const _BITMAPHANDLE* src, int sx, int sy, std::uint32_t flags)
{
    Bitmap *to = nullptr, *from = nullptr;
    if (int rc = resolve(dst, &to); rc <= 0)
        return rc;
    if (int rc = resolve(src, &from); rc <= 0)
        return rc;
    const std::uint32_t op = flags & RK_COMBINE_OP_MASK;
    if (width < 0 || height < 0 || op < RK_COMBINE_COPY || op > RK_COMBINE_DIFFERENCE ||
        (flags & ~(RK_COMBINE_OP_MASK | RK_COMBINE_MODIFIER_MASK)) != 0)
        return RK_ERROR_INV_PARAMETER;
    std::int64_t x0 = dx, x1 = sx, w = width, y0 = dy, y1 = sy, h = height;
    clipSpan(x0, x1, w, to->geo.width, from->geo.width);
    clipSpan(y0, y1, h, to->geo.height, from->geo.height);
    if (w <= 0 || h <= 0)
        return RK_SUCCESS;

    const bool raw = op == RK_COMBINE_COPY && !(flags & RK_COMBINE_MODIFIER_MASK) &&
                     to->geo.bits == from->geo.bits && to->order == from->order &&
                     samePalette(*to, *from);
    Buffer in, out, sBgr, dBgr, sAlpha, dAlpha;
    if (!allocate(in, from->geo.stride) || !allocate(out, to->geo.stride) ||
        (!raw && (!allocate(sBgr, std::uint64_t(w) * 3) || !allocate(dBgr, std::uint64_t(w) * 3) ||
                  !allocate(sAlpha, std::uint64_t(w)) || !allocate(dAlpha, std::uint64_t(w)))))
        return RK_ERROR_NO_MEMORY;
    const ops::RowReader sourceReader(*from), targetReader(*to);
    ops::RowWriter writer(*to);
    const int n = int(w);
    cv::Mat s, d;
    if (!raw) {
        s = cv::Mat(1, n * 3, CV_8U, sBgr.data());
        d = cv::Mat(1, n * 3, CV_8U, dBgr.data());
    }

    // Within one bitmap, rows go in the order that reads every source row before it is
    // overwritten.
    const bool upwards = to == from && y0 > y1;
    Progress progress;
    for (std::int64_t i = 0; i < h; ++i) {
        if (!progress.step(std::uint64_t(i), std::uint64_t(h)))
            return RK_ERROR_CANCELLED;
        const std::int64_t k = upwards ? h - 1 - i : i;
        const int sRow = ops::storedRow(src, *from, int(y1 + k));
        const int dRow = ops::storedRow(dst, *to, int(y0 + k));
        if (int rc = from->readRow(sRow, in.data()); rc <= 0)
            return rc;
        if (int rc = to->readRow(dRow, out.data()); rc <= 0)
            return rc;
        if (raw) {
            copyPixels(out.data(), int(x0), in.data(), int(x1), n, to->geo.bits);
        } else {
            sourceReader.read(in.data(), int(x1), n, sBgr.data(), sAlpha.data());
            if (flags & RK_COMBINE_INVERT_SRC)
                cv::bitwise_not(s, s);
            if (op != RK_COMBINE_COPY) {
                targetReader.read(out.data(), int(x0), n, dBgr.data(), nullptr);
                if (flags & RK_COMBINE_INVERT_DST)
                    cv::bitwise_not(d, d);
            }
            applyOperation(op, d, s);
            if (flags & RK_COMBINE_INVERT_RES)
                cv::bitwise_not(d, d);
            writer.write(out.data(), int(x0), n, dBgr.data(),
                         op == RK_COMBINE_COPY ? sAlpha.data() : nullptr);
        }
        if (int rc = to->writeRow(dRow, out.data()); rc <= 0)
            return rc;
    }
    return progress.finish() ? RK_SUCCESS : RK_ERROR_CANCELLED;
}

int RkCombineBitmap(_BITMAPHANDLE* dst, int dx, int dy, int width, int height,
                    const _BITMAPHANDLE* src, int sx, int sy, std::uint32_t flags)
{
    // OpenCV reports failures by exception; none may leave the kernel.
    try {
        return combineBitmapImpl(dst, dx, dy, width, height, src, sx, sy, flags);
    } catch (const std::bad_alloc&) {
        return RK_ERROR_NO_MEMORY;
    } catch (...) {
        return RK_FAILURE;
    }
}
