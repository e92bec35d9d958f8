// psd_image.cpp - the image data section: the composite as a 24-bit DIB section.
//
// Contents
//   PlaneReader        one channel plane as a byte stream (raw or PackBits), own read buffer
//   conversions        CMYKToRGB, LabToRGB, XYZToRGB
//   drawing plan       which channels a colour mode draws and how many bytes a row takes
//   row converters     one per colour mode, straight into the DIB section's rows
//   ReadImageData      checks, DIB section, decode
//
// The data is planar: every channel's plane in turn, each row by row from the top; PackBits data
// is preceded by a table of compressed row lengths. Rather than gathering every plane in memory,
// each channel that is drawn gets its own reader positioned at its plane, and the picture is
// made row by row: memory is the DIB section plus one row and one read buffer per channel.
//
// PackBits runs are counted against the plane, not the row: a channel ends when its plane is
// full, so the next channel starts where the previous one's runs stopped. The row-length table
// gives those starts at once for a sound file; when a channel's runs do not end where the table
// says the next begins, the starts are found by walking the runs and the picture is made again.

#include "psd/psd_internal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <core/checked_size.h>
#include <cstring>
#include <dib/PsdTools.h>
#include <optional>
#include <win/gdi.h>

namespace dib::psd {

namespace {
constexpr std::size_t kReadBuffer = 64 * 1024;
}

PlaneReader::PlaneReader(FILE* file, std::uint64_t fileSize, std::uint64_t start,
                         std::uint64_t planeBytes, bool packBits)
    : file_(file), fileSize_(fileSize), filePos_(start), end_(std::min(start, fileSize)),
      left_(planeBytes), packBits_(packBits)
{
    buffer_.resize(kReadBuffer);
}

bool PlaneReader::Fill()
{
    if (eof_ || filePos_ >= fileSize_) {
        eof_ = true;
        end_ = fileSize_;
        return false;
    }
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size(), fileSize_ - filePos_));
    std::size_t got = 0;
    if (SeekTo(file_, filePos_))
        got = fread(buffer_.data(), 1, want, file_);
    if (got == 0) {
        eof_ = true;
        end_ = fileSize_;
        return false;
    }
    bufPos_ = 0;
    bufLen_ = got;
    filePos_ += got;
    return true;
}

bool PlaneReader::Next(unsigned char& byte)
{
    if (bufPos_ == bufLen_ && !Fill())
        return false;
    byte = buffer_[bufPos_++];
    return true;
}

void PlaneReader::Read(unsigned char* out, std::size_t count)
{
    // Bytes past the plane (a caller reading more than it holds) read as 0xFE too.
    const std::size_t inPlane = static_cast<std::size_t>(std::min<std::uint64_t>(count, left_));
    const std::size_t past = count - inPlane;
    left_ -= inPlane;
    std::size_t n = inPlane;

    auto take = [&](std::size_t k) { // k bytes from the read buffer (k <= available)
        if (out) {
            std::memcpy(out, buffer_.data() + bufPos_, k);
            out += k;
        }
        bufPos_ += k;
        n -= k;
    };
    auto missing = [&] { // the file ended: the rest of this request is 0xFE
        if (out) {
            std::memset(out, 0xFE, n + past);
            out += n + past;
        }
        n = 0;
    };

    if (!packBits_) {
        while (n > 0) {
            if (bufPos_ == bufLen_ && !Fill()) {
                missing();
                return;
            }
            take(std::min(n, bufLen_ - bufPos_));
        }
        end_ = filePos_ - (bufLen_ - bufPos_);
    } else {
        while (n > 0) {
            if (run_ == Run::Literal) {
                if (bufPos_ == bufLen_ && !Fill()) {
                    missing();
                    return;
                }
                const std::size_t k = std::min({n, std::size_t(runLeft_), bufLen_ - bufPos_});
                take(k);
                runLeft_ -= std::uint32_t(k);
                if (runLeft_ == 0)
                    run_ = Run::None;
                continue;
            }
            if (run_ == Run::Repeat) {
                const std::size_t k = std::min(n, std::size_t(runLeft_));
                if (out) {
                    std::memset(out, runValue_, k);
                    out += k;
                }
                n -= k;
                runLeft_ -= std::uint32_t(k);
                if (runLeft_ == 0)
                    run_ = Run::None;
                continue;
            }
            unsigned char header;
            if (!Next(header)) {
                missing();
                return;
            }
            const std::uint64_t headerAt = filePos_ - (bufLen_ - bufPos_) - 1;
            if (header < 128) {
                run_ = Run::Literal;
                runLeft_ = header + 1u;
                end_ = std::min(fileSize_, headerAt + 2 + header);
            } else if (header > 128) {
                if (!Next(runValue_)) {
                    missing();
                    return;
                }
                run_ = Run::Repeat;
                runLeft_ = 257u - header;
                end_ = headerAt + 2;
            } else {
                end_ = headerAt + 1; // 128: no operation
            }
        }
        if (left_ == 0) {
            // The plane is full: the rest of a run that passes its end is cut.
            run_ = Run::None;
            runLeft_ = 0;
        }
    }
    if (past > 0 && out)
        std::memset(out, 0xFE, past);
}

// ---- colour conversions -----------------------------------------------------------------------

void CMYKToRGB(double cyan, double magenta, double yellow, double black, int& r, int& g, int& b)
{
    r = static_cast<int>((1.0 - ((1.0 - black) * cyan + black)) * 255.0);
    g = static_cast<int>((1.0 - ((1.0 - black) * magenta + black)) * 255.0);
    b = static_cast<int>((1.0 - ((1.0 - black) * yellow + black)) * 255.0);
}

void XYZToRGB(double X, double Y, double Z, int& r, int& g, int& b)
{
    const double x = X / 100.0;
    const double y = Y / 100.0;
    const double z = Z / 100.0;
    double v[3] = {3.2406 * x - 1.5372 * y - 0.4986 * z, -0.9689 * x + 1.8758 * y + 0.0415 * z,
                   0.0557 * x - 0.204 * y + 1.057 * z};
    for (double& c : v)
        c = c > 0.0031308 ? 1.055 * std::pow(c, 1.0 / 2.4) - 0.055 : 12.92 * c;
    r = static_cast<int>(v[0] * 256.0);
    g = static_cast<int>(v[1] * 256.0);
    b = static_cast<int>(v[2] * 256.0);
}

void LabToRGB(int L, int a, int b, int& r, int& g, int& bl)
{
    const double fy = (L + 16) / 116.0;
    const double fx = a / 500.0 + fy;
    const double fz = fy - b / 200.0;
    auto t = [](double f) {
        const double f3 = f * f * f;
        return f3 > 0.008856 ? f3 : (f - 16.0 / 116.0) / 7.787;
    };
    XYZToRGB(t(fx) * 95.047, t(fy) * 100.0, t(fz) * 108.883, r, g, bl);
}

} // namespace dib::psd

using namespace dib::psd;

namespace {

// ---- drawing plan ---------------------------------------------------------------------------

enum class Draw { Grey, Indexed, RGB, CMYK, CMY, Lab, White };

struct Plan {
    Draw draw = Draw::White;
    int channels = 0;           // planes read, from the first
    std::uint64_t rowBytes = 0; // bytes taken from each plane per row
};

// ---- row converters (one row of the picture into the DIB section's BGR row) -----------------

struct RowContext {
    int width;
    int s; // bytes per sample
    const unsigned char* palette;
};

inline unsigned Sample(const unsigned char* p, int s)
{
    return s == 2 ? Be16(p) : *p;
}

void GreyRow(const RowContext& c, const unsigned char* const* in, unsigned char* dst)
{
    const unsigned char* g = in[0]; // the high byte of a 16-bit sample comes first
    for (int x = 0; x < c.width; ++x, dst += 3, g += c.s)
        dst[0] = dst[1] = dst[2] = *g;
}

void IndexedRow(const RowContext& c, const unsigned char* const* in, unsigned char* dst)
{
    const unsigned char* t = c.palette;
    for (int x = 0; x < c.width; ++x, dst += 3) {
        const unsigned i = in[0][x];
        dst[0] = t[512 + i];
        dst[1] = t[256 + i];
        dst[2] = t[i];
    }
}

template <std::size_t Step>
void Interleave(const unsigned char* __restrict r, const unsigned char* __restrict g,
                const unsigned char* __restrict b, unsigned char* __restrict out, std::size_t n)
{
    for (std::size_t x = 0; x < n; ++x) {
        out[3 * x] = b[x * Step];
        out[3 * x + 1] = g[x * Step];
        out[3 * x + 2] = r[x * Step];
    }
}

void RGBRow(const RowContext& c, const unsigned char* const* in, unsigned char* dst)
{
    // The row buffers are the readers', dst is the DIB section: no aliasing. A 16-bit sample
    // draws by its first (high) byte.
    if (c.s == 1)
        Interleave<1>(in[0], in[1], in[2], dst, std::size_t(c.width));
    else
        Interleave<2>(in[0], in[1], in[2], dst, std::size_t(c.width));
}

template <bool WithBlack>
void CMYKRow(const RowContext& c, const unsigned char* const* in, unsigned char* dst)
{
    const double D = c.s == 2 ? 65536.0 : 256.0;
    for (int x = 0; x < c.width; ++x, dst += 3) {
        const std::size_t o = std::size_t(x) * std::size_t(c.s);
        const double k = WithBlack ? 1.0 - Sample(in[3] + o, c.s) / D : 0.0;
        int r, g, b;
        CMYKToRGB(1.0 - Sample(in[0] + o, c.s) / D, 1.0 - Sample(in[1] + o, c.s) / D,
                  1.0 - Sample(in[2] + o, c.s) / D, k, r, g, b);
        dst[0] = Clamp255(b);
        dst[1] = Clamp255(g);
        dst[2] = Clamp255(r);
    }
}

void LabRow(const RowContext& c, const unsigned char* const* in, unsigned char* dst)
{
    const double D = c.s == 2 ? 65536.0 : 256.0;
    for (int x = 0; x < c.width; ++x, dst += 3) {
        const std::size_t o = std::size_t(x) * std::size_t(c.s);
        const float l = static_cast<float>(Sample(in[0] + o, c.s));
        const float a = static_cast<float>(Sample(in[1] + o, c.s));
        const float bb = static_cast<float>(Sample(in[2] + o, c.s));
        const int L = static_cast<int>(l / (D / 100.0));
        const int A = static_cast<int>(a / (D / 256.0) - 128.0);
        const int B = static_cast<int>(bb / (D / 256.0) - 128.0);
        int r, g, b;
        LabToRGB(L, A, B, r, g, b);
        dst[0] = Clamp255(b);
        dst[1] = Clamp255(g);
        dst[2] = Clamp255(r);
    }
}

using RowFn = void (*)(const RowContext&, const unsigned char* const*, unsigned char*);

RowFn RowFunction(Draw d)
{
    switch (d) {
    case Draw::Grey:
        return GreyRow;
    case Draw::Indexed:
        return IndexedRow;
    case Draw::RGB:
        return RGBRow;
    case Draw::CMYK:
        return CMYKRow<true>;
    case Draw::CMY:
        return CMYKRow<false>;
    case Draw::Lab:
        return LabRow;
    case Draw::White:
        break;
    }
    return nullptr;
}

} // namespace

int CPSDTools::ReadImageData(FILE* file)
{
    std::uint64_t fileSize;
    if (!FileSize(file, fileSize) || Tell(file) >= fileSize)
        return 0;
    unsigned char code[2];
    if (!ReadExact(file, code, 2))
        return 0; // the file ends inside the compression code: no image data
    const unsigned compression = Be16(code);
    if (compression == 2)
        return -10;
    if (compression == 3)
        return -11;
    if (compression > 1)
        return -12;
    const bool packBits = compression == 1;

    // Only depths 8 and 16 can be drawn; nothing is read for any other.
    const int depth = m_header.depth;
    if (depth != 8 && depth != 16)
        return depth == 1 ? -7 : -8;
    const int s = depth / 8;
    const int width = m_header.width;
    const int height = m_header.height;
    if (width <= 0 || height <= 0)
        return -9;
    const int channels = m_header.channels;
    if (channels < 1)
        return 0;

    const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height); // < 2^62
    const std::uint64_t planeBytes = pixels * std::uint64_t(s);
    const std::uint64_t dataStart = Tell(file);
    const std::uint64_t left = fileSize - std::min(fileSize, dataStart);
    const int mode = m_header.mode;

    Plan plan;
    auto colour = [&](Draw d, int n) {
        plan.draw = d;
        plan.channels = n;
        plan.rowBytes = std::uint64_t(width) * std::uint64_t(s);
    };
    switch (mode) {
    case 1:
    case 8:
        colour(Draw::Grey, 1);
        break;
    case 2:
        colour(Draw::Indexed, 1);
        // The index stream takes one byte per pixel whatever the depth.
        plan.rowBytes = std::uint64_t(width);
        break;
    case 3:
        if (channels >= 3)
            colour(Draw::RGB, 3);
        break;
    case 4:
        if (channels >= 4)
            colour(Draw::CMYK, 4);
        break;
    case 9:
        if (channels >= 3)
            colour(Draw::Lab, 3);
        break;
    case 7:
        if (channels == 4)
            colour(Draw::CMYK, 4);
        else if (channels >= 3)
            colour(Draw::CMY, 3);
        break;
    default:
        break;
    }

    // Indexed colours need the 768-byte table. Resource 1046 is optional (writers other than
    // the one that defined it never write it): without it all 256 entries are defined; with it
    // the count must be at least 1.
    if (mode == 2 && !(m_colourModeData.data && m_colourModeData.length == 768 &&
                       (!m_colourCountRead || m_colourCount >= 1)))
        plan.draw = Draw::White;

    std::vector<std::uint64_t> starts;
    if (!packBits) {
        // Raw data: the planes follow each other. A mode must be read in raw form, RGB and Lab
        // need exactly 3 channels, CMYK exactly 4, and every plane read must be in the file.
        const bool rawMode = mode == 1 || mode == 8 || mode == 2 ||
                             ((mode == 3 || mode == 9) && channels == 3) ||
                             (mode == 4 && channels == 4);
        if (!rawMode)
            return 0;
        const int stored = (mode == 1 || mode == 8 || mode == 2) ? channels : plan.channels;
        const std::optional<std::uint64_t> need =
            core::CheckedMul(planeBytes, std::uint64_t(stored));
        if (!need || *need > left)
            return 0;
        for (int c = 0; c < plan.channels; ++c)
            starts.push_back(dataStart + std::uint64_t(c) * planeBytes);
    } else {
        // PackBits: the row-length table and, for every channel, the fewest bytes that can
        // encode its plane (2 bytes per 128) must be in the file before anything is made.
        const std::uint64_t tableBytes = std::uint64_t(channels) * std::uint64_t(height) * 2;
        const std::uint64_t leastPerPlane = 2 * (planeBytes / 128 + (planeBytes % 128 != 0));
        const std::optional<std::uint64_t> least =
            core::CheckedMul(leastPerPlane, std::uint64_t(channels));
        if (!least || tableBytes > left || *least > left - tableBytes)
            return -6;
        if (plan.draw != Draw::White) {
            // Where each channel would start by the table; checked against the runs below.
            PlaneReader table(file, fileSize, dataStart, tableBytes, false);
            starts.push_back(dataStart + tableBytes);
            unsigned char entry[2];
            for (int c = 0; c + 1 < plan.channels; ++c) {
                std::uint64_t sum = 0;
                for (int y = 0; y < height; ++y) {
                    table.Read(entry, 2);
                    sum += Be16(entry);
                }
                starts.push_back(starts.back() + sum);
            }
        }
    }
    // Resolution: integer dots per inch to pixels per metre; 3780 (96 dpi) without resource 1005.
    LONG xppm = 3780;
    LONG yppm = 3780;
    if (m_resolutionRead) {
        xppm = static_cast<LONG>(std::int64_t(m_resolution.hRes) * 10000 / 254);
        yppm = static_cast<LONG>(std::int64_t(m_resolution.vRes) * 10000 / 254);
    }

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biXPelsPerMeter = xppm;
    info.bmiHeader.biYPelsPerMeter = yppm;
    // A DIB section does not depend on a device context; none is made (the screen's surface
    // would cost more memory than a row buffer).
    void* bitsPtr = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bitsPtr, nullptr, 0);
    if (!bitmap || !bitsPtr) {
        if (bitmap)
            DeleteObject(bitmap);
        return -9;
    }
    SetBitmap(bitmap);
    auto* bits = static_cast<unsigned char*>(bitsPtr);
    const std::size_t stride = (std::size_t(width) * 3 + 3) & ~std::size_t(3);

    const RowFn convert = RowFunction(plan.draw);
    if (!convert) {
        std::memset(bits, 0xFF, stride * std::size_t(height)); // white
        return 0;
    }

    const RowContext context{width, s, m_colourModeData.data};
    std::vector<std::vector<unsigned char>> rows(std::size_t(plan.channels));
    for (auto& r : rows)
        r.resize(static_cast<std::size_t>(plan.rowBytes));
    std::array<const unsigned char*, 4> in{};
    for (int c = 0; c < plan.channels; ++c)
        in[std::size_t(c)] = rows[std::size_t(c)].data();

    // Makes the picture from the planes at starts; true when every channel's runs ended where
    // the next channel was taken to start.
    auto render = [&]() {
        std::vector<PlaneReader> readers;
        readers.reserve(std::size_t(plan.channels));
        for (int c = 0; c < plan.channels; ++c)
            readers.emplace_back(file, fileSize, starts[std::size_t(c)], planeBytes, packBits);
        for (int y = 0; y < height; ++y) {
            for (int c = 0; c < plan.channels; ++c)
                readers[std::size_t(c)].Read(rows[std::size_t(c)].data(),
                                             static_cast<std::size_t>(plan.rowBytes));
            convert(context, in.data(), bits + std::size_t(height - 1 - y) * stride);
        }
        for (int c = 1; c < plan.channels; ++c)
            if (readers[std::size_t(c - 1)].End() != starts[std::size_t(c)])
                return false;
        return true;
    };
    if (render() || !packBits)
        return 0;

    // The table did not match the runs: find each start by walking the previous channel.
    for (int c = 1; c < plan.channels; ++c) {
        PlaneReader walk(file, fileSize, starts[std::size_t(c - 1)], planeBytes, true);
        for (std::uint64_t done = 0; done < planeBytes;) {
            const std::uint64_t k = std::min<std::uint64_t>(planeBytes - done, 1u << 20);
            walk.Read(nullptr, static_cast<std::size_t>(k));
            done += k;
        }
        starts[std::size_t(c)] = walk.End();
    }
    render();
    return 0;
}
