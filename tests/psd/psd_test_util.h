// Helpers for the Photoshop reader tests: documents built byte by byte, temporary files and
// pixels of the resulting DIB section.
#pragma once

#include <cstdint>
#include <dib/PsdTools.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <support/support.h>
#include <vector>
#include <win/gdi.h>

namespace psdtest {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& b, unsigned v)
{
    b.push_back(std::uint8_t(v >> 8));
    b.push_back(std::uint8_t(v));
}
inline void Put32(Bytes& b, std::uint32_t v)
{
    Put16(b, v >> 16);
    Put16(b, v & 0xFFFF);
}
inline void Append(Bytes& b, const Bytes& more)
{
    b.insert(b.end(), more.begin(), more.end());
}

// One "8BIM" resource block: Pascal name padded to even, data padded to even.
inline Bytes Block(unsigned id, const Bytes& data, const std::string& name = "",
                   std::uint32_t declaredSize = 0xFFFFFFFF)
{
    Bytes b = {'8', 'B', 'I', 'M'};
    Put16(b, id);
    b.push_back(std::uint8_t(name.size()));
    b.insert(b.end(), name.begin(), name.end());
    if (name.size() % 2 == 0)
        b.push_back(0);
    Put32(b, declaredSize == 0xFFFFFFFF ? std::uint32_t(data.size()) : declaredSize);
    Append(b, data);
    if (data.size() % 2)
        b.push_back(0);
    return b;
}

inline Bytes Resolution(unsigned h, unsigned v)
{
    Bytes d;
    Put16(d, h);
    Put32(d, 1);
    Put16(d, 1);
    Put16(d, v);
    Put32(d, 1);
    Put16(d, 1);
    return d;
}

struct Doc {
    unsigned channels = 3, depth = 8, mode = 3, version = 1;
    std::uint32_t width = 1, height = 1;
    Bytes colourModeData;
    Bytes resources; // blocks, without the section length
    Bytes layers;    // the layer section's content
    bool withCompression = true;
    unsigned compression = 0;
    Bytes data; // after the compression code

    Bytes Build() const
    {
        Bytes b = {'8', 'B', 'P', 'S'};
        Put16(b, version);
        b.insert(b.end(), 6, 0);
        Put16(b, channels);
        Put32(b, height);
        Put32(b, width);
        Put16(b, depth);
        Put16(b, mode);
        Put32(b, std::uint32_t(colourModeData.size()));
        Append(b, colourModeData);
        Put32(b, std::uint32_t(resources.size()));
        Append(b, resources);
        Put32(b, std::uint32_t(layers.size()));
        Append(b, layers);
        if (withCompression)
            Put16(b, compression);
        Append(b, data);
        return b;
    }
};

// PackBits data laid out as a writer lays it: the row table, then each row as literal runs.
inline Bytes PackBitsRows(const std::vector<Bytes>& rows)
{
    Bytes table, body;
    for (const Bytes& row : rows) {
        Bytes enc;
        for (std::size_t i = 0; i < row.size(); i += 128) {
            const std::size_t n = std::min<std::size_t>(128, row.size() - i);
            enc.push_back(std::uint8_t(n - 1));
            enc.insert(enc.end(), row.begin() + std::ptrdiff_t(i),
                       row.begin() + std::ptrdiff_t(i + n));
        }
        Put16(table, unsigned(enc.size()));
        Append(body, enc);
    }
    Append(table, body);
    return table;
}

class Files {
public:
    std::wstring Write(const Bytes& bytes, const std::string& name = "doc.psd")
    {
        const std::filesystem::path p = dir_.path() / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return p.wstring();
    }
    std::filesystem::path Path(const std::string& name) const { return dir_.path() / name; }

private:
    dibtest::TempDir dir_;
};

struct Pixels {
    int width = 0, height = 0;
    LONG xppm = 0, yppm = 0;
    int bitCount = 0;
    bool bottomUp = false;
    const std::uint8_t* bits = nullptr;
    // Red, green, blue of (x, y), y from the top.
    COLORREF At(int x, int y) const
    {
        const std::size_t stride = (std::size_t(width) * 3 + 3) & ~std::size_t(3);
        const std::uint8_t* p = bits + std::size_t(height - 1 - y) * stride + std::size_t(x) * 3;
        return RGB(p[2], p[1], p[0]);
    }
};

inline Pixels Read(HBITMAP bitmap)
{
    Pixels px;
    DIBSECTION ds{};
    if (!bitmap || GetObjectW(bitmap, sizeof ds, &ds) != int(sizeof ds))
        return px;
    px.width = ds.dsBm.bmWidth;
    px.height = ds.dsBm.bmHeight;
    px.bitCount = ds.dsBm.bmBitsPixel;
    px.xppm = ds.dsBmih.biXPelsPerMeter;
    px.yppm = ds.dsBmih.biYPelsPerMeter;
    px.bottomUp = ds.dsBmih.biHeight > 0;
    px.bits = static_cast<const std::uint8_t*>(ds.dsBm.bmBits);
    return px;
}

} // namespace psdtest
