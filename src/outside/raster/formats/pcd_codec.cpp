// pcd_codec.cpp - Photo CD image packs, by hand (contract in codecs_b.h).
//
// Contents
//   layout            sectors of the three image packs read here; signature and rotation
//   probe, info       size at the process-wide resolution
//   load              Photo YCC 4:2:0 to BGR, turned as the file says, handed on in bands
//
// An image pack file is a series of 2048-byte sectors. Sector 1 starts with "PCD_IPI"; byte
// 0xE02 (in sector 1) holds the orientation in its low two bits. The three lower resolutions
// are stored uncompressed, each as pairs of rows: luma of row 2k, luma of row 2k + 1, then one
// row of each chroma for both (half the width). The higher resolutions add Huffman-coded
// residuals to an upsampled Base; they are not decoded here.
#include "../../core/last_error.h"
#include "codecs_b.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

namespace {

using rkfmt::PictureShape;
using rkfmt::RowSink;

constexpr std::uint64_t kSector = 2048;
constexpr std::uint64_t kSignatureAt = 2048;
constexpr std::uint64_t kOrientationAt = 0xE02;

struct Pack {
    int width;
    int height;
    std::uint64_t sector;
};
// Base/16, Base/4, Base.
constexpr Pack kPacks[3] = {{192, 128, 4}, {384, 256, 23}, {768, 512, 96}};

std::uint64_t PackBytes(const Pack& p)
{
    // Per pair of rows: two luma rows and two chroma rows of half width.
    return std::uint64_t(p.height / 2) * std::uint64_t(3 * p.width);
}

// The size at a resolution index (0 to 5), landscape: 0 Base/64 (made from Base/16 by averaging
// 2 x 2 blocks), 1 Base/16, 2 Base/4, 3 Base, 4 4Base, 5 16Base.
void StoredSize(int resolution, int& width, int& height)
{
    width = 96 << resolution;
    height = 64 << resolution;
}

int ProbePcd(const std::uint8_t*, std::size_t, std::uint64_t fileSize)
{
    // The signature lies at byte 2048, beyond what a probe sees: every file that can hold the
    // smallest picture is a candidate; info and load check the signature.
    return fileSize >= kPacks[0].sector * kSector + PackBytes(kPacks[0]) ? RK_FORMAT_PCD : 0;
}

// Checks the signature and reads the orientation (0 to 3).
int ReadHeader(core::ByteSource& source, int& orientation)
{
    std::uint8_t signature[7];
    if (!source.readExact(kSignatureAt, signature, sizeof signature) ||
        std::memcmp(signature, "PCD_IPI", sizeof signature) != 0) {
        core::SetLastErrorText("not a Photo CD image pack");
        return RK_ERROR_FILE_FORMAT;
    }
    std::uint8_t flags = 0;
    if (!source.readExact(kOrientationAt, &flags, 1)) {
        core::SetLastErrorText("the Photo CD header is cut short");
        return RK_ERROR_FILE_CORRUPT;
    }
    orientation = flags & 3;
    return RK_SUCCESS;
}

int CurrentResolution()
{
    return std::clamp(RkGetPCDResolution(), 0, 5);
}

int InfoPcd(core::ByteSource& source, _FILEINFO& info)
{
    int orientation = 0;
    if (const int r = ReadHeader(source, orientation); r <= 0)
        return r;
    int width, height;
    StoredSize(CurrentResolution(), width, height);
    if (orientation % 2 == 1)
        std::swap(width, height);
    info.Format = RK_FORMAT_PCD;
    info.Width = width;
    info.Height = height;
    info.BitsPerPixel = 24;
    info.ViewPerspective = RK_TOP_LEFT;
    info.Order = RK_ORDER_BGR;
    info.PageNumber = 1;
    info.PageCount = 1;
    info.ColourModel = RK_COLOUR_MODEL_RGB;
    info.SamplesPerPixel = 3;
    info.DecodedBytes = std::int64_t(width) * height * 3;
    rkfmt::SetCompressionText(info, "Photo YCC");
    return RK_SUCCESS;
}

std::uint8_t Clamp(double v)
{
    const long r = std::lround(v);
    return static_cast<std::uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
}

// Photo YCC to B, G, R for a whole pack: out holds width x height x 3, rows top first.
void Convert(const std::uint8_t* pack, const Pack& p, std::uint8_t* out)
{
    double luma[256], c1[256], c2[256];
    for (int i = 0; i < 256; ++i) {
        luma[i] = 1.3584 * i;
        c1[i] = 2.2179 * (i - 156);
        c2[i] = 1.8215 * (i - 137);
    }
    const std::size_t w = std::size_t(p.width);
    for (int pair = 0; pair < p.height / 2; ++pair) {
        const std::uint8_t* y0 = pack + std::size_t(pair) * 3 * w;
        const std::uint8_t* cb = y0 + 2 * w;
        const std::uint8_t* cr = cb + w / 2;
        for (int half = 0; half < 2; ++half) {
            const std::uint8_t* y = y0 + std::size_t(half) * w;
            std::uint8_t* o = out + (std::size_t(pair) * 2 + std::size_t(half)) * w * 3;
            for (std::size_t x = 0; x < w; ++x) {
                const double l = luma[y[x]], b = c1[cb[x / 2]], r = c2[cr[x / 2]];
                o[3 * x + 0] = Clamp(l + b);
                o[3 * x + 1] = Clamp(l - 0.194 * b - 0.509 * r);
                o[3 * x + 2] = Clamp(l + r);
            }
        }
    }
}

int LoadPcd(core::ByteSource& source, RowSink& sink)
{
    int orientation = 0;
    if (const int r = ReadHeader(source, orientation); r <= 0)
        return r;
    const int resolution = CurrentResolution();
    if (resolution > 3) {
        core::SetLastErrorText("Photo CD resolutions above Base are not decoded");
        return RK_ERROR_PCD_RESOLUTION;
    }
    const Pack& p = kPacks[resolution == 0 ? 0 : resolution - 1];
    const std::uint64_t bytes = PackBytes(p);
    if (!source.contains(p.sector * kSector, bytes)) {
        core::SetLastErrorText("the Photo CD file ends before its picture");
        return RK_ERROR_FILE_CORRUPT;
    }
    const std::size_t pixels = std::size_t(p.width) * std::size_t(p.height);
    std::unique_ptr<std::uint8_t[]> pack(new (std::nothrow) std::uint8_t[bytes]);
    std::unique_ptr<std::uint8_t[]> rgb(new (std::nothrow) std::uint8_t[pixels * 3]);
    if (!pack || !rgb)
        return RK_ERROR_NO_MEMORY;
    if (!source.readExact(p.sector * kSector, pack.get(), bytes)) {
        core::SetLastErrorText("the Photo CD picture cannot be read");
        return RK_ERROR_FILE_CORRUPT;
    }
    Convert(pack.get(), p, rgb.get());
    int w = p.width, h = p.height;
    if (resolution == 0) {
        // Base/64: each pixel the rounded mean of a 2 x 2 block of Base/16.
        const int hw = w / 2, hh = h / 2;
        std::unique_ptr<std::uint8_t[]> half(new (std::nothrow)
                                                 std::uint8_t[std::size_t(hw) * hh * 3]);
        if (!half)
            return RK_ERROR_NO_MEMORY;
        for (int y = 0; y < hh; ++y)
            for (int x = 0; x < hw; ++x)
                for (int c = 0; c < 3; ++c) {
                    const std::size_t a = (std::size_t(2 * y) * w + 2 * x) * 3 + c;
                    const std::size_t b = a + std::size_t(w) * 3;
                    const int sum = rgb[a] + rgb[a + 3] + rgb[b] + rgb[b + 3];
                    half[(std::size_t(y) * hw + x) * 3 + c] = std::uint8_t((sum + 2) / 4);
                }
        rgb = std::move(half);
        w = hw;
        h = hh;
    }

    const bool quarter = orientation % 2 == 1;
    PictureShape shape;
    shape.width = quarter ? h : w;
    shape.height = quarter ? w : h;
    shape.bitsPerPixel = 24;
    shape.order = RK_ORDER_BGR;
    if (const int r = sink.Begin(shape); r <= 0)
        return r;
    if (orientation == 0) {
        const int r = sink.Rows(rgb.get(), h, std::size_t(w) * 3);
        return r <= 0 ? r : RK_SUCCESS;
    }

    // Turned pictures are made a band of output rows at a time from the stored one.
    constexpr int kBand = 32;
    const std::size_t stride = std::size_t(shape.width) * 3;
    std::unique_ptr<std::uint8_t[]> band(new (std::nothrow) std::uint8_t[stride * kBand]);
    if (!band)
        return RK_ERROR_NO_MEMORY;
    for (int first = 0; first < shape.height; first += kBand) {
        const int count = std::min(kBand, shape.height - first);
        for (int i = 0; i < count; ++i) {
            const int oy = first + i;
            std::uint8_t* o = band.get() + std::size_t(i) * stride;
            for (int ox = 0; ox < shape.width; ++ox) {
                int sx, sy;
                if (orientation == 1) { // a quarter counter-clockwise
                    sx = w - 1 - oy;
                    sy = ox;
                } else if (orientation == 3) { // a quarter clockwise
                    sx = oy;
                    sy = h - 1 - ox;
                } else { // half a turn
                    sx = w - 1 - ox;
                    sy = h - 1 - oy;
                }
                std::memcpy(o + 3 * std::size_t(ox), rgb.get() + (std::size_t(sy) * w + sx) * 3, 3);
            }
        }
        if (const int r = sink.Rows(band.get(), count, stride); r <= 0)
            return r;
    }
    return RK_SUCCESS;
}

const int kNoFormats[] = {0};

} // namespace

const rkfmt::Codec kPcdCodec = {"PCD", kNoFormats, kNoFormats, ProbePcd, InfoPcd, LoadPcd, nullptr};
