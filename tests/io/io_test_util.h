// io_test_util.h - fixtures and small helpers of the open and save tests.
#pragma once

#include <base/progress.h>
#include <cstdint>
#include <cstring>
#include <dib/TDib.h>
#include <fstream>
#include <iterator>
#include <raster/file_module.h>
#include <string>
#include <vector>

namespace iotest {

using Bytes = std::vector<std::uint8_t>;

inline const std::string kData = DIB_TEST_DATA_DIR;

inline Bytes ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline std::wstring Wide(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

inline std::wstring Tiff(const std::string& name)
{
    return Wide(kData + "/tiff/" + name);
}

inline std::wstring Jpeg(const std::string& name)
{
    return Wide(kData + "/jpeg/" + name);
}

// tifffile's samples of a TIFF fixture (file order, interleaved, little-endian words).
inline Bytes Samples(const std::string& name)
{
    return ReadAll(kData + "/tiff/" + name.substr(0, name.size() - 4) + ".samples");
}

inline std::uint16_t Word(const std::uint8_t* p)
{
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// The pixels of a binary PPM / PGM (maxval 255) made by djpeg.
inline Bytes Pnm(const std::string& path, int& width, int& height, int& channels)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic >> width >> height >> maxval;
    in.get();
    channels = magic == "P6" ? 3 : 1;
    Bytes px(std::size_t(width) * height * channels);
    in.read(reinterpret_cast<char*>(px.data()), std::streamsize(px.size()));
    return px;
}

// The pixel bytes of row y of an image (rows from the top; the row's padding left out).
inline Bytes Row(const TDib& image, int y)
{
    Bytes row(TDib::TamanyLinia(image.GetMidaX(), image.GetBitsPerPixel(), 0));
    image.GetLinia(y, row.data(), row.size());
    return row;
}

// The kernel's file module reads / writes a format (the placeholder reads and writes none).
inline bool KernelReads(int format)
{
    return RkFormatCanRead(format) != 0;
}
inline bool KernelWrites(int format)
{
    return RkFormatCanWrite(format) != 0;
}

// An indicator whose stop question answers yes from the n-th time it is asked (0-based).
class StopAfter : public TIndicadorEstat {
public:
    explicit StopAfter(long n) : n_(n) {}
    int Cancelat() const override { return asked_++ >= n_ ? 1 : 0; }

private:
    long n_;
    mutable long asked_ = 0;
};

} // namespace iotest
