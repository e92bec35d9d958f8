// Save: the own TIFF writer's routes as libtiff reads them back, what a failed save leaves,
// the memory routes, and the kernel route's row-supply callback.
#include "io_test_util.h"
#include "support/fakes.h"
#include "support/support.h"

#include <base/progress.h>
#include <dib/FileInfo.h>
#include <dib/internal/dib_access.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <io/io_internal.h>
#include <tiffio.h>
#include <win/global_memory.h>

using namespace iotest;
using dib::TDibAccess;

namespace {

// A 24-bit image whose pixel (x, y) is blue x, green y, red x + y.
void Pattern(TDib& image, int w, int h)
{
    ASSERT_EQ(image.Crear(w, h, 24), 0);
    for (int y = 0; y < h; ++y) {
        Bytes row(std::size_t(image.GetBytesPerLinia()));
        for (int x = 0; x < w; ++x) {
            row[std::size_t(x * 3)] = std::uint8_t(x);
            row[std::size_t(x * 3 + 1)] = std::uint8_t(y);
            row[std::size_t(x * 3 + 2)] = std::uint8_t(x + y);
        }
        ASSERT_EQ(image.SetLinia(y, row.data(), row.size()), 0);
    }
}

struct TiffTags {
    std::uint16_t compression = 0, photometric = 0, samples = 0;
};

TiffTags ReadTags(const std::string& path)
{
    TiffTags t;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return t;
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &t.compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.photometric);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &t.samples);
    TIFFClose(tif);
    return t;
}

std::size_t FilesIn(const std::filesystem::path& dir)
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir))
        ++n;
    return n;
}

// Points the temporary folder at dir for the object's life.
class TmpDirScope {
public:
    explicit TmpDirScope(const std::filesystem::path& dir)
    {
        if (const char* old = std::getenv("TMPDIR"))
            old_ = old, had_ = true;
        setenv("TMPDIR", dir.c_str(), 1);
    }
    ~TmpDirScope()
    {
        if (had_)
            setenv("TMPDIR", old_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }

private:
    std::string old_;
    bool had_ = false;
};

// Records every position set.
class Positions : public TIndicadorEstat {
public:
    std::vector<double> set;
    long cancelAt = -1; // Cancelat answers 1 from this many-th question on (0-based)
    long asked = 0;
    int SetPosicio(double pos) override
    {
        set.push_back(pos);
        return TIndicadorEstat::SetPosicio(pos);
    }
    int Cancelat() const override
    {
        auto* self = const_cast<Positions*>(this);
        return cancelAt >= 0 && self->asked++ >= cancelAt ? 1 : 0;
    }
};

struct Callbacks : TDib {
    using TDib::__GuardarDinamicProc;
};

} // namespace

TEST(Salvar, TiffFamilyThroughTheOwnWriter)
{
    dibtest::TempDir dir;
    TDib image;
    Pattern(image, 9, 6);
    struct {
        int format;
        std::uint16_t compression, photometric, samples;
    } cases[] = {{RK_FORMAT_TIFF, 1, PHOTOMETRIC_RGB, 3},
                 {RK_FORMAT_TIFF_LZW, 5, PHOTOMETRIC_RGB, 3},
                 {RK_FORMAT_TIFF_DEFLATE, 32946, PHOTOMETRIC_RGB, 3},
                 {RK_FORMAT_TIFF_PACKBITS, 32773, PHOTOMETRIC_RGB, 3},
                 {RK_FORMAT_TIFF_CMYK_PACKBITS, 32773, PHOTOMETRIC_SEPARATED, 4},
                 {RK_FORMAT_TIFF_CMYK_LZW, 5, PHOTOMETRIC_SEPARATED, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        const std::string path = (dir.path() / ("f" + std::to_string(c.format) + ".tif")).string();
        // bitsPerPixel and quality do not matter on this route.
        ASSERT_EQ(image.Salvar(Wide(path).c_str(), c.format, 1, 99), 0) << DibGetLastErrorText();
        const TiffTags t = ReadTags(path);
        EXPECT_EQ(t.compression, c.compression);
        EXPECT_EQ(t.photometric, c.photometric);
        EXPECT_EQ(t.samples, c.samples);
        if (c.samples == 3) {
            TDib back;
            ASSERT_EQ(back.Obrir(Wide(path).c_str()), 0);
            for (int y = 0; y < 6; ++y)
                ASSERT_EQ(Row(back, y), Row(image, y));
        }
    }
    EXPECT_EQ(FilesIn(dir.path()), std::size(cases)) << "no file left beside them";
}

// Spot channels beside the process colours travel through Obrir and Salvar unchanged: the
// file is written with one 8-bit sample per channel, and the original's samples (tifffile's)
// come back, whatever the CMYK flag of the format number.
TEST(Salvar, SpotChannelsSurviveOpenAndSave)
{
    dibtest::TempDir dir;
    TDib image;
    ASSERT_EQ(image.Obrir(Tiff("cmyk_spots.tif").c_str()), 0) << DibGetLastErrorText();
    ASSERT_EQ(image.GetBitsPerPixel(), 48);
    const Bytes original = Samples("cmyk_spots.tif");
    for (int format : {RK_FORMAT_TIFF_LZW, RK_FORMAT_TIFF_CMYK_LZW, RK_FORMAT_TIFF}) {
        SCOPED_TRACE(format);
        const std::string path = (dir.path() / ("s" + std::to_string(format) + ".tif")).string();
        ASSERT_EQ(image.Salvar(Wide(path).c_str(), format), 0) << DibGetLastErrorText();
        const TiffTags t = ReadTags(path);
        EXPECT_EQ(t.photometric, PHOTOMETRIC_SEPARATED);
        EXPECT_EQ(t.samples, 6);
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        std::uint32_t w = 0, h = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
        Bytes samples;
        Bytes line(std::size_t(TIFFScanlineSize(tif)));
        for (std::uint32_t y = 0; y < h; ++y) {
            ASSERT_EQ(TIFFReadScanline(tif, line.data(), y, 0), 1);
            samples.insert(samples.end(), line.begin(), line.end());
        }
        TIFFClose(tif);
        EXPECT_EQ(samples, original);
    }
}

TEST(Salvar, FailedSaveLeavesNoFileAndKeepsAnOldOne)
{
    dibtest::TempDir dir;
    TDib image;
    Pattern(image, 9, 30);
    const std::string path = (dir.path() / "out.tif").string();
    dibtest::FakeProgress cancel(3);
    EXPECT_EQ(image.Salvar(Wide(path).c_str(), RK_FORMAT_TIFF_LZW, 0, 0, &cancel), DIB_ERR_FAILED);
    EXPECT_EQ(FilesIn(dir.path()), 0u);

    std::ofstream(path) << "older file";
    dibtest::FakeProgress again(3);
    EXPECT_EQ(image.Salvar(Wide(path).c_str(), RK_FORMAT_TIFF_LZW, 0, 0, &again), DIB_ERR_FAILED);
    EXPECT_EQ(ReadAll(path), Bytes({'o', 'l', 'd', 'e', 'r', ' ', 'f', 'i', 'l', 'e'}));
    EXPECT_EQ(FilesIn(dir.path()), 1u);
    // An empty image cannot be written.
    EXPECT_LT(TDib().Salvar(Wide(path).c_str(), RK_FORMAT_TIFF), 0);
    EXPECT_EQ(FilesIn(dir.path()), 1u);
}

TEST(Salvar, KernelFormatWithProgress)
{
    if (!KernelWrites(RK_FORMAT_BMP) || !KernelReads(RK_FORMAT_BMP))
        GTEST_SKIP() << "the kernel's file module does not write BMP yet";
    dibtest::TempDir dir;
    TDib image;
    Pattern(image, 9, 25);
    const std::string path = (dir.path() / "out.bmp").string();
    Positions progress;
    ASSERT_EQ(image.Salvar(Wide(path).c_str(), RK_FORMAT_BMP, 24, 0, &progress), 0);
    EXPECT_EQ(progress.set.size(), 3u) << "rows 0, 10 and 20";
    TDib back;
    ASSERT_EQ(back.Obrir(Wide(path).c_str()), 0);
    EXPECT_EQ(Row(back, 24), Row(image, 24));
    Positions stop;
    stop.cancelAt = 0;
    EXPECT_EQ(image.Salvar(Wide(path + "2").c_str(), RK_FORMAT_BMP, 24, 0, &stop), DIB_ERR_FAILED);
    EXPECT_FALSE(std::filesystem::exists(path + "2"));
}

TEST(GuardarDinamicProc, RowsProgressAndCancel)
{
    TDib image;
    Pattern(image, 5, 25);
    const int stride = image.GetBytesPerLinia();
    Bytes buffer(std::size_t(stride) * 25);
    Positions progress;
    progress.SetRang(10.0, 20.0);
    dib::io::SaveContext context{&progress, 10.0, 10.0, 25.0, &image, 0};
    _BITMAPHANDLE record = TDibAccess::Bitmap(image);
    // Two calls: rows 0 to 14, then 15 to 24.
    ASSERT_EQ(Callbacks::__GuardarDinamicProc(&record, buffer.data(), 0, 15, &context), 1);
    ASSERT_EQ(
        Callbacks::__GuardarDinamicProc(&record, buffer.data() + 15 * stride, 15, 10, &context), 1);
    EXPECT_EQ(context.supplied, 25u);
    for (int y = 0; y < 25; ++y)
        ASSERT_EQ(Bytes(buffer.begin() + y * stride, buffer.begin() + y * stride + 15),
                  Row(image, y));
    EXPECT_EQ(progress.set, (std::vector<double>{10.0, 14.0, 18.0}));
    // A stop asked on the first row ends the save.
    Positions stop;
    stop.cancelAt = 0;
    context.progress = &stop;
    EXPECT_EQ(Callbacks::__GuardarDinamicProc(&record, buffer.data(), 0, 1, &context), 0);
}

TEST(SalvarMem, OwnTiffRoutes)
{
    dibtest::TempDir dir;
    TDib image;
    Pattern(image, 9, 6);
    for (int format : {RK_FORMAT_TIFF, RK_FORMAT_TIFF_DEFLATE}) {
        void* memory = reinterpret_cast<void*>(1);
        std::int32_t size = -1;
        ASSERT_EQ(image.SalvarMem(memory, size, format, 0, 0), 0);
        ASSERT_NE(memory, nullptr);
        ASSERT_EQ(std::int64_t(GlobalSize(memory)), std::int64_t(size));
        const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(memory));
        const std::string path = (dir.path() / "m.tif").string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes), std::streamsize(size));
        EXPECT_EQ(ReadTags(path).compression, format == RK_FORMAT_TIFF ? 1 : 32946);
        TDib back;
        ASSERT_EQ(back.ObrirMem(bytes, size, 0, RK_FORMAT_TIFF_DEFLATE), 0);
        EXPECT_EQ(Row(back, 5), Row(image, 5));
        GlobalUnlock(memory);
        GlobalFree(memory);
    }
    void* memory = reinterpret_cast<void*>(1);
    std::int32_t size = -1;
    EXPECT_LT(TDib().SalvarMem(memory, size, RK_FORMAT_TIFF, 0, 0), 0);
    EXPECT_EQ(memory, nullptr);
    EXPECT_EQ(size, 0);
}

TEST(SalvarMem, JpegThroughGdiplusLeavesNoTemporaryFile)
{
    dibtest::TempDir dir;
    TmpDirScope scope(dir.path());
    TDib image;
    Pattern(image, 16, 8);
    void* memory = nullptr;
    std::int32_t size = 0;
    const int r = image.SalvarMem(memory, size, RK_FORMAT_JPEG_GDIPLUS, 0, 0);
    EXPECT_EQ(FilesIn(dir.path()), 0u) << "temporary files removed";
    if (!KernelWrites(RK_FORMAT_PNG) || !KernelReads(RK_FORMAT_PNG)) {
        EXPECT_LT(r, 0) << "no PNG writer: the route fails, it does not answer an empty success";
        EXPECT_EQ(memory, nullptr);
        GTEST_SKIP() << "the kernel's file module does not write PNG yet";
    }
    ASSERT_EQ(r, 0);
    ASSERT_GT(size, 4);
    const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(memory));
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xD8);
    EXPECT_EQ(bytes[size - 2], 0xFF);
    EXPECT_EQ(bytes[size - 1], 0xD9);
    CFILEINFO info;
    const std::string path = (dir.path() / "back.jpg").string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes), std::streamsize(size));
    ASSERT_EQ(TDibAccess::InfoJPEG(Wide(path).c_str(), info), 1);
    EXPECT_EQ(info.Width, 16);
    EXPECT_EQ(info.Height, 8);
    GlobalUnlock(memory);
    GlobalFree(memory);
}
