// stream_resize.cpp - the streaming resize of stream_resize.h.
//
//   Taps          one (source pixel, result pixel, weight) triple of the across-row pass
//   MakeTaps      area taps for reductions, linear taps for enlargements
//   Stream        position, accumulated row and row buffer of one depth
//   RkStartResize / RkResizeRow / RkStopResize
//
// Positions are compared in integer units: source pixel i spans [i * dst, (i + 1) * dst) and
// result pixel j spans [j * src, (j + 1) * src), so coverage and row completion are exact and
// the result height is always reached exactly.
#include "stream_resize.h"

#include "../kernel_status.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr int kMaxSide = 1 << 28;

struct Tap {
    std::uint32_t src;
    std::uint32_t dst;
    float weight;
};

// Taps of the across-row pass from srcLen pixels to dstLen pixels.
std::vector<Tap> MakeTaps(int srcLen, int dstLen)
{
    std::vector<Tap> taps;
    if (dstLen <= srcLen) {
        // Area: overlap of source pixel i with result pixel j, over the result pixel's length.
        const std::int64_t s = srcLen, d = dstLen;
        taps.reserve(static_cast<std::size_t>(srcLen + dstLen));
        std::int64_t j = 0;
        for (std::int64_t i = 0; i < s; ++i) {
            std::int64_t lo = i * d;
            const std::int64_t hi = (i + 1) * d;
            while (lo < hi) {
                const std::int64_t end = std::min(hi, (j + 1) * s);
                taps.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j),
                                static_cast<float>(static_cast<double>(end - lo) / s)});
                lo = end;
                if (end == (j + 1) * s)
                    ++j;
            }
        }
        return taps;
    }
    // Linear, pixel centres aligned, edges replicated.
    taps.reserve(static_cast<std::size_t>(dstLen) * 2);
    const double scale = static_cast<double>(srcLen) / dstLen;
    for (int j = 0; j < dstLen; ++j) {
        const double f = (j + 0.5) * scale - 0.5;
        int x0 = static_cast<int>(std::floor(f));
        double a = f - x0;
        if (x0 < 0) {
            x0 = 0;
            a = 0.0;
        }
        if (x0 >= srcLen - 1) {
            x0 = srcLen - 1;
            a = 0.0;
        }
        taps.push_back({static_cast<std::uint32_t>(x0), static_cast<std::uint32_t>(j),
                        static_cast<float>(1.0 - a)});
        if (a > 0.0)
            taps.push_back({static_cast<std::uint32_t>(x0 + 1), static_cast<std::uint32_t>(j),
                            static_cast<float>(a)});
    }
    return taps;
}

struct Stream {
    int samples = 0;                // bytes per pixel
    int nextRow = 0;                // next source row expected
    std::int64_t nextDstRow = 0;    // result row being accumulated (reduction)
    std::vector<float> across;      // a row scaled across
    std::vector<float> accumulated; // reduction: the source rows of the result row being
                                    // built, weighted, at the source width
};

// Scales n source pixels of `samples` floats or bytes across through the taps into out.
template <class T>
void Across(const std::vector<Tap>& taps, const T* in, int samples, float* out, std::size_t count)
{
    std::fill(out, out + count, 0.0f);
    for (const Tap& t : taps) {
        const T* p = in + static_cast<std::size_t>(t.src) * samples;
        float* o = out + static_cast<std::size_t>(t.dst) * samples;
        for (int c = 0; c < samples; ++c)
            o[c] += t.weight * static_cast<float>(p[c]);
    }
}

struct ResizeState {
    int srcWidth = 0, srcHeight = 0, dstWidth = 0, dstHeight = 0;
    std::vector<Tap> taps;
    std::vector<std::unique_ptr<Stream>> streams;

    Stream* StreamFor(int samples)
    {
        for (auto& s : streams)
            if (s->samples == samples)
                return s.get();
        return nullptr;
    }
};

inline unsigned char ToByte(float v)
{
    if (!(v > 0.0f))
        return 0;
    if (v >= 255.0f)
        return 255;
    return static_cast<unsigned char>(v + 0.5f);
}

// Rows of the result whose centres fall into source row y on an enlargement: result row j
// belongs to source row floor((2j + 1) * src / (2 * dst)).
int EnlargedCount(std::int64_t y, std::int64_t src, std::int64_t dst)
{
    // first j with (2j + 1) * src >= 2 * y * dst, i.e. j >= (2 y dst - src) / (2 src)
    auto firstRow = [&](std::int64_t row) {
        const std::int64_t num = 2 * row * dst - src;
        if (num <= 0)
            return std::int64_t{0};
        return (num + 2 * src - 1) / (2 * src);
    };
    const std::int64_t a = firstRow(y);
    const std::int64_t b = y + 1 >= src ? dst : firstRow(y + 1);
    return static_cast<int>(std::max<std::int64_t>(0, b - a));
}

} // namespace

int RkStartResize(int srcWidth, int srcHeight, int dstWidth, int dstHeight, void** handle)
{
    if (handle == nullptr)
        return RK_ERROR_INV_PARAMETER;
    *handle = nullptr;
    for (int side : {srcWidth, srcHeight, dstWidth, dstHeight})
        if (side < 1 || side > kMaxSide)
            return RK_ERROR_INV_PARAMETER;
    try {
        auto state = std::make_unique<ResizeState>();
        state->srcWidth = srcWidth;
        state->srcHeight = srcHeight;
        state->dstWidth = dstWidth;
        state->dstHeight = dstHeight;
        state->taps = MakeTaps(srcWidth, dstWidth);
        *handle = state.release();
    } catch (const std::bad_alloc&) {
        return RK_ERROR_NO_MEMORY;
    }
    return RK_SUCCESS;
}

int RkResizeRow(unsigned char* row, int rowIndex, int bitsPerPixel, int* outWidth, int* count,
                void* handle)
{
    if (row == nullptr || outWidth == nullptr || count == nullptr || handle == nullptr)
        return RK_ERROR_INV_PARAMETER;
    if (bitsPerPixel < 8 || bitsPerPixel > 64 || bitsPerPixel % 8 != 0)
        return RK_ERROR_BITSPERPIXEL;
    auto* state = static_cast<ResizeState*>(handle);
    const int samples = bitsPerPixel / 8;
    Stream* stream = state->StreamFor(samples);
    const int expected = stream ? stream->nextRow : 0;
    if (rowIndex != expected || rowIndex >= state->srcHeight)
        return RK_ERROR_INV_PARAMETER;
    const std::size_t dstSamples = static_cast<std::size_t>(state->dstWidth) * samples;
    const std::size_t srcSamples = static_cast<std::size_t>(state->srcWidth) * samples;
    if (stream == nullptr) {
        try {
            auto fresh = std::make_unique<Stream>();
            fresh->samples = samples;
            fresh->across.assign(dstSamples, 0.0f);
            if (state->dstHeight <= state->srcHeight)
                fresh->accumulated.assign(srcSamples, 0.0f);
            state->streams.push_back(std::move(fresh));
        } catch (const std::bad_alloc&) {
            return RK_ERROR_NO_MEMORY;
        }
        stream = state->streams.back().get();
    }

    // Reductions sum the source rows down first, at the source width, and scale across only
    // once per result row; enlargements scale every row across.
    const std::int64_t src = state->srcHeight, dst = state->dstHeight, y = rowIndex;
    float* across = stream->across.data();
    int yielded = 0;
    if (dst > src) {
        yielded = EnlargedCount(y, src, dst);
        if (yielded > 0) {
            Across(state->taps, row, samples, across, dstSamples);
            for (std::size_t k = 0; k < dstSamples; ++k)
                row[k] = ToByte(across[k]);
        }
    } else {
        // Source row y spans [y * dst, (y + 1) * dst); result row j spans [j * src, (j + 1) *
        // src). A source row completes at most one result row since src >= dst.
        float* acc = stream->accumulated.data();
        const std::int64_t lo = y * dst, hi = (y + 1) * dst;
        const std::int64_t j = stream->nextDstRow;
        const std::int64_t end = (j + 1) * src;
        const std::int64_t firstPart = std::min(hi, end) - lo;
        const float w1 = static_cast<float>(static_cast<double>(firstPart) / src);
        for (std::size_t k = 0; k < srcSamples; ++k)
            acc[k] += w1 * static_cast<float>(row[k]);
        if (hi >= end) {
            Across(state->taps, acc, samples, across, dstSamples);
            const float w2 = static_cast<float>(static_cast<double>(hi - end) / src);
            for (std::size_t k = 0; k < srcSamples; ++k)
                acc[k] = w2 * static_cast<float>(row[k]);
            for (std::size_t k = 0; k < dstSamples; ++k)
                row[k] = ToByte(across[k]);
            yielded = 1;
            stream->nextDstRow = j + 1;
        }
    }
    stream->nextRow = rowIndex + 1;
    *outWidth = state->dstWidth;
    *count = yielded;
    return RK_SUCCESS;
}

int RkStopResize(void* handle)
{
    if (handle == nullptr)
        return RK_ERROR_INV_PARAMETER;
    delete static_cast<ResizeState*>(handle);
    return RK_SUCCESS;
}
