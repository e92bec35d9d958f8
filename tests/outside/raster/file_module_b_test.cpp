// The JPEG, generic TIFF and Photo CD codecs behind the file module's dispatch: recognition by
// content, loads with conversion and the per-rows callback, saves through every route.
#include "raster_test_util.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <raster/file_module.h>
#include <raster/kernel.h>
#include <string>
#include <support/support.h>
#include <vector>
#include <win/global_memory.h>

using rktest::Bmp;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string DataPath(const std::string& relative)
{
    return std::string(DIB_TEST_DATA_DIR) + "/" + relative;
}

Bytes ReadData(const std::string& relative)
{
    std::ifstream f(DataPath(relative), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

// Picture row y of a bitmap, whatever its view perspective.
Bytes PictureRow(const _BITMAPHANDLE* b, int y)
{
    Bytes row(std::size_t(b->BytesPerLine));
    const int stored = b->ViewPerspective == RK_TOP_LEFT ? y : b->Height - 1 - y;
    EXPECT_GT(RkGetBitmapRow(b, row.data(), stored, row.size()), 0);
    return row;
}

// The 37 x 29 fixture pattern, B, G, R.
Bytes PatternRow(int y)
{
    const Bytes rgb = ReadData("formats_b/pattern.rgb");
    Bytes row(rgb.begin() + y * 111, rgb.begin() + (y + 1) * 111);
    for (std::size_t i = 0; i < row.size(); i += 3)
        std::swap(row[i], row[i + 2]);
    return row;
}

struct PcdResolution {
    int saved = RkGetPCDResolution();
    explicit PcdResolution(int r) { RkSetPCDResolution(r); }
    ~PcdResolution() { RkSetPCDResolution(saved); }
};

TEST(FileModuleB, InformationByContent)
{
    PcdResolution setting(2);
    struct Case {
        const char* file;
        int format, width, height, bits;
    } cases[] = {
        {"jpeg/rgb420.jpg", RK_FORMAT_JPEG_411, 37, 29, 24},
        {"formats_b/rgb422.jpg", RK_FORMAT_JPEG_422, 37, 29, 24},
        {"jpeg/grey.jpg", RK_FORMAT_JPEG, 37, 29, 8},
        {"formats_b/tiled.tif", RK_FORMAT_TIFF_LZW, 37, 29, 24},
        {"formats_b/g4.tif", RK_FORMAT_TIFF_CCITT, 37, 29, 1},
        {"formats_b/cmyk.tif", RK_FORMAT_TIFF_CMYK, 37, 29, 32},
        {"formats_b/synthetic.pcd", RK_FORMAT_PCD, 384, 256, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        _FILEINFO info{};
        ASSERT_EQ(RkFileInfo(DataPath(c.file).c_str(), &info, FILEINFO_SIZE), RK_SUCCESS);
        EXPECT_EQ(info.Format, c.format);
        EXPECT_EQ(info.Width, c.width);
        EXPECT_EQ(info.Height, c.height);
        EXPECT_EQ(info.BitsPerPixel, c.bits);
        EXPECT_EQ(RkFormatCanRead(c.format), 1);
    }
    // Long enough to be an image pack, but without its signature: not a Photo CD.
    Bytes noise(100000, 0x5A);
    _FILEINFO info{};
    EXPECT_EQ(RkFileInfoMemory(noise.data(), noise.size(), &info, FILEINFO_SIZE),
              RK_ERROR_FILE_FORMAT);
}

TEST(FileModuleB, LoadsThroughTheDispatch)
{
    struct Case {
        const char* file;
        int bits;
    } cases[] = {{"formats_b/tiled.tif", 0},
                 {"formats_b/bottom-up.tif", 24},
                 {"formats_b/separate.tif", 24},
                 {"formats_b/big.tif", 0},
                 {"formats_b/rgb16.tif", 24}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Bmp b;
        ASSERT_EQ(RkLoadFile(DataPath(c.file).c_str(), b.get(), BITMAPHANDLE_SIZE, c.bits,
                             RK_ORDER_BGR, 0, nullptr),
                  RK_SUCCESS);
        ASSERT_EQ(b->BitsPerPixel, 24);
        for (int y = 0; y < 29; ++y) {
            const Bytes row = PictureRow(b.get(), y);
            const Bytes want = PatternRow(y);
            for (std::size_t i = 0; i < want.size(); ++i)
                ASSERT_NEAR(row[i], want[i], 1) << y << ":" << i;
        }
    }
}

TEST(FileModuleB, JpegRowsReachTheCallbackInOrder)
{
    struct Seen {
        int next = 0;
        bool inOrder = true;
        int stopAt = -1;
    };
    auto callback = [](_FILEINFO*, _BITMAPHANDLE*, std::uint8_t*, std::uint32_t flags, int first,
                       int rows, void* user) -> int {
        auto* s = static_cast<Seen*>(user);
        if ((flags & 3) == RK_ROWS_NOTICE)
            return 1;
        s->inOrder = s->inOrder && first == s->next;
        s->next = first + rows;
        return s->stopAt >= 0 && s->next >= s->stopAt ? 0 : 1;
    };
    for (const char* file : {"jpeg/progressive.jpg", "formats_b/ycbcr-jpeg.tif"}) {
        SCOPED_TRACE(file);
        Seen seen;
        Bmp b;
        ASSERT_EQ(RkLoadFileCallback(DataPath(file).c_str(), b.get(), BITMAPHANDLE_SIZE, 24,
                                     RK_ORDER_BGR, RK_LOAD_CALLBACK, callback, &seen, nullptr),
                  RK_SUCCESS);
        EXPECT_TRUE(seen.inOrder);
        EXPECT_EQ(seen.next, 29);
        Seen stopped;
        stopped.stopAt = 1;
        Bmp c;
        EXPECT_EQ(RkLoadFileCallback(DataPath(file).c_str(), c.get(), BITMAPHANDLE_SIZE, 24,
                                     RK_ORDER_BGR,
                                     RK_LOAD_ALLOCATE | RK_LOAD_STORE | RK_LOAD_CALLBACK, callback,
                                     &stopped, nullptr),
                  RK_ERROR_CANCELLED);
    }
}

TEST(FileModuleB, PhotoCdFollowsTheResolutionSetting)
{
    const std::string path = DataPath("formats_b/synthetic.pcd");
    for (int r = 0; r <= 4; ++r) {
        SCOPED_TRACE(r);
        PcdResolution setting(r);
        Bmp b;
        const int result =
            RkLoadFile(path.c_str(), b.get(), BITMAPHANDLE_SIZE, 0, RK_ORDER_BGR, 0, nullptr);
        if (r == 4) {
            EXPECT_EQ(result, RK_ERROR_PCD_RESOLUTION);
            continue;
        }
        ASSERT_EQ(result, RK_SUCCESS);
        EXPECT_EQ(b->Width, 96 << r);
        EXPECT_EQ(b->Height, 64 << r);
        EXPECT_EQ(b->BitsPerPixel, 24);
    }
}

TEST(FileModuleB, SavesAndReadsBackEveryRoute)
{
    Bmp source;
    ASSERT_EQ(RkLoadFile(DataPath("formats_b/tiled.tif").c_str(), source.get(), BITMAPHANDLE_SIZE,
                         24, RK_ORDER_BGR, 0, nullptr),
              RK_SUCCESS);
    dibtest::TempDir dir;
    struct Case {
        int format, bits, tolerance;
    } cases[] = {
        {RK_FORMAT_TIFF, 0, 0},
        {RK_FORMAT_TIFF_LZW, 0, 0},
        {RK_FORMAT_TIFF_PACKBITS, 0, 0},
        {RK_FORMAT_TIFF_DEFLATE, 0, 0},
        {RK_FORMAT_JPEG, 0, 6},
        {RK_FORMAT_JPEG_411, 0, -1}, // chroma halved: the colours of the pattern move
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        const std::string path = (dir.path() / ("out" + std::to_string(c.format))).string();
        ASSERT_EQ(RkSaveFile(path.c_str(), source.get(), c.format, c.bits, 2, 0), RK_SUCCESS);
        _FILEINFO info{};
        ASSERT_EQ(RkFileInfo(path.c_str(), &info, FILEINFO_SIZE), RK_SUCCESS);
        EXPECT_EQ(info.Format, c.format);
        Bmp back;
        ASSERT_EQ(
            RkLoadFile(path.c_str(), back.get(), BITMAPHANDLE_SIZE, 24, RK_ORDER_BGR, 0, nullptr),
            RK_SUCCESS);
        int worst = 0;
        for (int y = 0; y < 29; ++y) {
            const Bytes a = PictureRow(source.get(), y), b = PictureRow(back.get(), y);
            for (int i = 0; i < 111; ++i)
                worst = std::max(worst, std::abs(int(a[std::size_t(i)]) - int(b[std::size_t(i)])));
        }
        if (c.tolerance >= 0) {
            EXPECT_LE(worst, c.tolerance);
        }
    }

    HGLOBAL memory = nullptr;
    std::uint64_t bytes = 0;
    ASSERT_EQ(RkSaveMemory(source.get(), RK_FORMAT_TIFF_PACKBITS, 0, 0, &memory, &bytes),
              RK_SUCCESS);
    ASSERT_NE(memory, nullptr);
    const void* data = GlobalLock(memory);
    Bmp back;
    EXPECT_EQ(RkLoadMemory(data, bytes, back.get(), BITMAPHANDLE_SIZE, 0, RK_ORDER_BGR, nullptr),
              RK_SUCCESS);
    EXPECT_EQ(PictureRow(back.get(), 7), PictureRow(source.get(), 7));
    GlobalUnlock(memory);
    GlobalFree(memory);
}

} // namespace
