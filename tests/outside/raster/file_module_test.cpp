// Tests of the file module: fixtures written by other programs (tests/data/formats, with the
// pixels their own decoders give), loads with conversion and the per-rows callback, saves and
// round trips through every writer, failure cases.
#include "raster_test_util.h"
#include "support/support.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <raster/file_module.h>
#include <raster/kernel.h>
#include <set>
#include <string>
#include <vector>
#include <win/global_memory.h>

namespace fs = std::filesystem;
using rktest::Bmp;

namespace {

const std::string kDir = std::string(DIB_TEST_DATA_DIR) + "/formats/";

std::vector<std::uint8_t> readAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// Picture row y (top = 0) of a loaded bitmap.
std::vector<std::uint8_t> pictureRow(const _BITMAPHANDLE* b, int y)
{
    std::vector<std::uint8_t> row(std::size_t(b->BytesPerLine));
    const int stored = b->ViewPerspective == RK_TOP_LEFT ? y : b->Height - 1 - y;
    EXPECT_GT(RkGetBitmapRow(b, row.data(), stored, row.size()), 0);
    return row;
}

// Largest difference between a 24-bit RGB-order bitmap and raw RGB rows.
int worstDifference(const _BITMAPHANDLE* b, const std::vector<std::uint8_t>& rgb)
{
    int worst = 0;
    const std::size_t line = std::size_t(b->Width) * 3;
    if (rgb.size() != line * std::size_t(b->Height))
        return 999;
    for (int y = 0; y < b->Height; ++y) {
        const auto row = pictureRow(b, y);
        for (std::size_t i = 0; i < line; ++i)
            worst = std::max(worst, std::abs(int(row[i]) - int(rgb[std::size_t(y) * line + i])));
    }
    return worst;
}

struct Fixture {
    const char* file;
    int format;
    int bits; // reported depth
    int view; // reported view perspective
    int tolerance;
};

const Fixture kFixtures[] = {
    {"bmp1.bmp", RK_FORMAT_BMP, 1, RK_BOTTOM_LEFT, 0},
    {"bmp4.bmp", RK_FORMAT_BMP, 4, RK_BOTTOM_LEFT, 0},
    {"bmp8.bmp", RK_FORMAT_BMP, 8, RK_BOTTOM_LEFT, 0},
    {"bmp16.bmp", RK_FORMAT_BMP, 16, RK_BOTTOM_LEFT, 2},
    {"bmp16_565.bmp", RK_FORMAT_BMP, 16, RK_BOTTOM_LEFT, 2},
    {"bmp24.bmp", RK_FORMAT_BMP, 24, RK_BOTTOM_LEFT, 0},
    {"bmp24_topdown.bmp", RK_FORMAT_BMP, 24, RK_TOP_LEFT, 0},
    {"bmp32.bmp", RK_FORMAT_BMP, 32, RK_BOTTOM_LEFT, 0},
    {"bmp_rle8.bmp", RK_FORMAT_BMP_RLE, 8, RK_BOTTOM_LEFT, 0},
    {"bmp_rle4.bmp", RK_FORMAT_BMP_RLE, 4, RK_BOTTOM_LEFT, 0},
    {"pcx1.pcx", RK_FORMAT_PCX, 1, RK_TOP_LEFT, 0},
    {"pcx4.pcx", RK_FORMAT_PCX, 8, RK_TOP_LEFT, 0}, // ImageMagick writes 8 bits
    {"pcx8.pcx", RK_FORMAT_PCX, 8, RK_TOP_LEFT, 0},
    {"pcx24.pcx", RK_FORMAT_PCX, 24, RK_TOP_LEFT, 0},
    {"tga24.tga", RK_FORMAT_TGA, 24, RK_BOTTOM_LEFT, 0},
    {"tga32_rle.tga", RK_FORMAT_TGA, 32, RK_BOTTOM_LEFT, 0},
    {"tga8_map.tga", RK_FORMAT_TGA, 8, RK_TOP_LEFT, 0},
    {"tga8_grey_rle.tga", RK_FORMAT_TGA, 8, RK_BOTTOM_LEFT, 0},
    {"gif8.gif", RK_FORMAT_GIF, 8, RK_TOP_LEFT, 0},
    {"gif1.gif", RK_FORMAT_GIF, 4, RK_TOP_LEFT, 0}, // 2 colours, a table of 4
    {"gif_interlaced.gif", RK_FORMAT_GIF, 8, RK_TOP_LEFT, 0},
    {"png24.png", RK_FORMAT_PNG, 24, RK_TOP_LEFT, 0},
    {"png32.png", RK_FORMAT_PNG, 32, RK_TOP_LEFT, 0},
    {"png8_grey.png", RK_FORMAT_PNG, 8, RK_TOP_LEFT, 0},
    {"png_grey_alpha.png", RK_FORMAT_PNG, 16, RK_TOP_LEFT, 0},
    {"png1.png", RK_FORMAT_PNG, 1, RK_TOP_LEFT, 0},
    {"png4_pal.png", RK_FORMAT_PNG, 4, RK_TOP_LEFT, 0},
    {"png8_pal_trns.png", RK_FORMAT_PNG, 8, RK_TOP_LEFT, 0},
    {"png48.png", RK_FORMAT_PNG, 24, RK_TOP_LEFT, 1},
    {"png_interlaced.png", RK_FORMAT_PNG, 8, RK_TOP_LEFT, 0}, // ImageMagick chose a palette
    {"png_icc.png", RK_FORMAT_PNG, 24, RK_TOP_LEFT, 0},
};

class Fixtures : public ::testing::TestWithParam<Fixture> {};

TEST_P(Fixtures, InfoAndPixelsMatchTheIndependentDecoder)
{
    const Fixture& fx = GetParam();
    const std::string path = kDir + fx.file;
    _FILEINFO info{};
    ASSERT_EQ(RkFileInfo(path.c_str(), &info, FILEINFO_SIZE), RK_SUCCESS) << fx.file;
    EXPECT_EQ(info.Format, fx.format);
    EXPECT_EQ(info.Width, 13);
    EXPECT_EQ(info.Height, 7);
    EXPECT_EQ(info.BitsPerPixel, fx.bits);
    EXPECT_EQ(info.ViewPerspective, fx.view);
    const std::int64_t fileBytes = info.FileBytes; // a packed field: no reference to it
    EXPECT_EQ(fileBytes, std::int64_t(fs::file_size(path)));

    const auto rgb = readAll(path + ".rgb");
    Bmp b;
    ASSERT_EQ(RkLoadFile(path.c_str(), b.get(), BITMAPHANDLE_SIZE, 24, RK_ORDER_RGB, 0, nullptr),
              RK_SUCCESS);
    EXPECT_EQ(b->ViewPerspective, fx.view);
    EXPECT_LE(worstDifference(b.get(), rgb), fx.tolerance);

    // The same from memory, and at the file's own depth converted afterwards.
    const auto bytes = readAll(path);
    Bmp m;
    ASSERT_EQ(RkLoadMemory(bytes.data(), bytes.size(), m.get(), BITMAPHANDLE_SIZE, 0, RK_ORDER_RGB,
                           nullptr),
              RK_SUCCESS);
    const int own = fx.bits == 16 && fx.format == RK_FORMAT_PNG ? 16 : fx.bits;
    EXPECT_EQ(m->BitsPerPixel, own);
    if (own != 16) { // 5-5-5 loses bits
        ASSERT_EQ(RkColorResBitmap(m.get(), 24, nullptr), RK_SUCCESS);
        if (m->Order != RK_ORDER_RGB) // palette depths convert to the kernel's BGR
            for (int y = 0; y < m->Height; ++y) {
                auto row = pictureRow(m.get(), y);
                for (int x = 0; x < m->Width; ++x)
                    std::swap(row[3 * std::size_t(x)], row[3 * std::size_t(x) + 2]);
                const int stored = m->ViewPerspective == RK_TOP_LEFT ? y : m->Height - 1 - y;
                RkPutBitmapRow(m.get(), row.data(), stored, row.size());
            }
        EXPECT_LE(worstDifference(m.get(), rgb), fx.tolerance);
    }

    const auto alpha = readAll(path + ".a");
    if (!alpha.empty()) {
        Bmp a;
        ASSERT_EQ(
            RkLoadFile(path.c_str(), a.get(), BITMAPHANDLE_SIZE, 32, RK_ORDER_BGR, 0, nullptr),
            RK_SUCCESS);
        int worst = 0;
        for (int y = 0; y < a->Height; ++y) {
            const auto row = pictureRow(a.get(), y);
            for (int x = 0; x < a->Width; ++x)
                worst = std::max(worst, std::abs(int(row[4 * std::size_t(x) + 3]) -
                                                 int(alpha[std::size_t(y * a->Width + x)])));
        }
        EXPECT_EQ(worst, 0) << "alpha of " << fx.file;
    }
}

INSTANTIATE_TEST_SUITE_P(FileModule, Fixtures, ::testing::ValuesIn(kFixtures), [](const auto& p) {
    std::string n = p.param.file;
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return n;
});

TEST(FileModule, ResolutionPaletteAndProfile)
{
    _FILEINFO info{};
    ASSERT_EQ(RkFileInfo((kDir + "bmp24.bmp").c_str(), &info, FILEINFO_SIZE), RK_SUCCESS);
    EXPECT_EQ(info.XResolution, 300);
    EXPECT_EQ(info.YResolution, 150);
    ASSERT_EQ(RkFileInfo((kDir + "png24.png").c_str(), &info, FILEINFO_SIZE), RK_SUCCESS);
    EXPECT_EQ(info.XResolution, 300);

    Bmp b;
    ASSERT_EQ(RkLoadFile((kDir + "png24.png").c_str(), b.get(), BITMAPHANDLE_SIZE, 0, RK_ORDER_BGR,
                         0, nullptr),
              RK_SUCCESS);
    EXPECT_EQ(b->XResolution, 300);
    // A palette file at its own depth keeps its palette.
    ASSERT_EQ(RkLoadFile((kDir + "gif8.gif").c_str(), b.get(), BITMAPHANDLE_SIZE, 0, RK_ORDER_BGR,
                         0, nullptr),
              RK_SUCCESS);
    EXPECT_EQ(b->BitsPerPixel, 8);
    // 40 colours at 4 bits do not fit: the kernel's default palette.
    ASSERT_EQ(RkLoadFile((kDir + "gif8.gif").c_str(), b.get(), BITMAPHANDLE_SIZE, 4, RK_ORDER_BGR,
                         0, nullptr),
              RK_SUCCESS);
    EXPECT_EQ(b->ColorCount, 16);
    // A grey file at a lower depth gets a grey ramp.
    ASSERT_EQ(RkLoadFile((kDir + "png8_grey.png").c_str(), b.get(), BITMAPHANDLE_SIZE, 4,
                         RK_ORDER_BGR, 0, nullptr),
              RK_SUCCESS);
    EXPECT_EQ(RkIsGrayScaleBitmap(b.get()), 1);

    std::uint8_t* icc = nullptr;
    std::uint64_t bytes = 0;
    ASSERT_EQ(RkFileIccProfile((kDir + "png_icc.png").c_str(), &icc, &bytes), RK_SUCCESS);
    EXPECT_EQ(std::vector<std::uint8_t>(icc, icc + bytes), readAll(kDir + "png_icc.png.icc"));
    std::free(icc);
    ASSERT_EQ(RkFileIccProfile((kDir + "png24.png").c_str(), &icc, &bytes), RK_SUCCESS);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(icc, nullptr);
}

// ---- the per-rows callback ---------------------------------------------------------------------

struct Rows {
    std::vector<int> order;
    std::vector<std::vector<std::uint8_t>> rows;
    int stopAt = -1;
};

int collect(_FILEINFO*, _BITMAPHANDLE* b, std::uint8_t* buffer, std::uint32_t flags, int first,
            int count, void* user)
{
    auto* r = static_cast<Rows*>(user);
    if ((flags & 3) == RK_ROWS_NOTICE)
        return 1;
    for (int i = 0; i < count; ++i) {
        if (int(r->order.size()) == r->stopAt)
            return 0;
        r->order.push_back(first + i);
        const std::uint8_t* p = buffer + std::size_t(i) * std::size_t(b->BytesPerLine);
        r->rows.emplace_back(p, p + b->Width * 3);
    }
    return 1;
}

class CallbackLoads : public ::testing::TestWithParam<const char*> {};

TEST_P(CallbackLoads, RowsArriveTopToBottomOnceEach)
{
    const std::string path = kDir + GetParam();
    const auto rgb = readAll(path + ".rgb");
    for (std::uint32_t flags : {8u, 11u}) {
        Rows got;
        Bmp b;
        ASSERT_EQ(RkLoadFileCallback(path.c_str(), b.get(), BITMAPHANDLE_SIZE, 24, RK_ORDER_RGB,
                                     flags, collect, &got, nullptr),
                  RK_SUCCESS);
        ASSERT_EQ(got.order.size(), 7u);
        for (int y = 0; y < 7; ++y) {
            EXPECT_EQ(got.order[std::size_t(y)], y);
            EXPECT_EQ(got.rows[std::size_t(y)],
                      std::vector<std::uint8_t>(rgb.begin() + y * 39, rgb.begin() + (y + 1) * 39))
                << GetParam() << " row " << y << " flags " << flags;
        }
        EXPECT_EQ((b->Flags & BITMAP_FLAG_ALLOCATED) != 0, flags == 11u);
        EXPECT_EQ(b->Width, 13);
        if (flags == 11u) {
            EXPECT_EQ(worstDifference(b.get(), rgb), 0);
        }
    }
}

// Uncompressed and RLE, bottom-up and top-down.
INSTANTIATE_TEST_SUITE_P(FileModule, CallbackLoads,
                         ::testing::Values("bmp24.bmp", "bmp24_topdown.bmp", "bmp_rle8.bmp",
                                           "tga24.tga", "tga8_grey_rle.tga", "png_interlaced.png",
                                           "pcx8.pcx"));

TEST(FileModule, CallbackAnsweringZeroCancelsAndFreesTheBitmap)
{
    for (const char* file : {"bmp24.bmp", "bmp_rle8.bmp", "png24.png"}) {
        Rows got;
        got.stopAt = 3;
        Bmp b;
        EXPECT_EQ(RkLoadFileCallback((kDir + file).c_str(), b.get(), BITMAPHANDLE_SIZE, 24,
                                     RK_ORDER_BGR, 11, collect, &got, nullptr),
                  RK_ERROR_CANCELLED)
            << file;
        EXPECT_EQ(got.order.size(), 3u);
        EXPECT_EQ(b->Flags & BITMAP_FLAG_ALLOCATED, 0u);
    }
}

int stopAtHalf(int percent, void*)
{
    return percent < 50 ? 1 : 0;
}

TEST(FileModule, StatusCallbackCancelsLoadsAndSaves)
{
    Bmp src;
    ASSERT_EQ(RkLoadFile((kDir + "png24.png").c_str(), src.get(), BITMAPHANDLE_SIZE, 0,
                         RK_ORDER_BGR, 0, nullptr),
              RK_SUCCESS);
    dibtest::TempDir dir;
    const std::string out = (dir.path() / "x.bmp").string();
    RkSetStatusCallback(stopAtHalf, nullptr);
    Bmp b;
    const int load = RkLoadFile((kDir + "bmp24.bmp").c_str(), b.get(), BITMAPHANDLE_SIZE, 24,
                                RK_ORDER_BGR, 0, nullptr);
    const int save = RkSaveFile(out.c_str(), src.get(), RK_FORMAT_BMP, 0, 0, 0);
    RkSetStatusCallback(nullptr, nullptr);
    EXPECT_EQ(load, RK_ERROR_CANCELLED);
    EXPECT_EQ(b->Flags & BITMAP_FLAG_ALLOCATED, 0u);
    EXPECT_EQ(save, RK_ERROR_CANCELLED);
    EXPECT_TRUE(fs::is_empty(dir.path())); // neither the file nor its temporary
}

// ---- saves
// -----------------------------------------------------------------------------------------

// A 24-bit picture with an odd width, and the same reduced to a palette depth.
void makePicture(Bmp& b, int bits)
{
    ASSERT_EQ(rktest::create(b, 13, 7, 24), RK_SUCCESS);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x)
            RkPutPixelColor(b.get(), y, x, RGB(x * 19, y * 37, (x * y * 11 + 40) & 255));
    if (bits != 24) {
        ASSERT_EQ(RkColorResBitmap(b.get(), bits, nullptr), RK_SUCCESS);
    }
    b->XResolution = 200;
    b->YResolution = 100;
}

// Colours of every pixel, the picture the right way up.
std::vector<COLORREF> colours(const _BITMAPHANDLE* b, bool withAlpha = false)
{
    std::vector<COLORREF> out;
    for (int y = 0; y < b->Height; ++y) {
        const int stored = b->ViewPerspective == RK_TOP_LEFT ? y : b->Height - 1 - y;
        for (int x = 0; x < b->Width; ++x) {
            COLORREF c = RkGetPixelColor(b, stored, x);
            if (withAlpha) {
                const auto row = pictureRow(b, y);
                c |= COLORREF(row[4 * std::size_t(x) + 3]) << 24;
            }
            out.push_back(c);
        }
    }
    return out;
}

struct RoundTrip {
    int format;
    int bits;     // of the source bitmap and of the file
    bool alpha;   // the fourth byte survives
    int fileBits; // reported when reading back
};

class RoundTrips : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(RoundTrips, WhatIsWrittenReadsBackTheSame)
{
    const RoundTrip& t = GetParam();
    Bmp src;
    makePicture(src, t.bits == 32 ? 24 : t.bits);
    if (t.bits == 32) {
        ASSERT_EQ(RkColorResBitmap(src.get(), 32, nullptr), RK_SUCCESS);
        for (int y = 0; y < 7; ++y) {
            auto row = pictureRow(src.get(), y);
            for (int x = 0; x < 13; ++x)
                row[4 * std::size_t(x) + 3] = std::uint8_t(x * 20 + y);
            RkPutBitmapRow(src.get(), row.data(), y, row.size());
        }
    }
    dibtest::TempDir dir;
    const std::string path = (dir.path() / "out").string();
    ASSERT_EQ(RkSaveFile(path.c_str(), src.get(), t.format, t.bits, 0, 0), RK_SUCCESS);
    _FILEINFO info{};
    ASSERT_EQ(RkFileInfo(path.c_str(), &info, FILEINFO_SIZE), RK_SUCCESS);
    EXPECT_EQ(info.Format, t.format);
    EXPECT_EQ(info.BitsPerPixel, t.fileBits);
    if (t.format == RK_FORMAT_BMP || t.format == RK_FORMAT_PNG || t.format == RK_FORMAT_BMP_RLE) {
        EXPECT_EQ(info.XResolution, 200);
        EXPECT_EQ(info.YResolution, 100);
    }
    Bmp back;
    ASSERT_EQ(RkLoadFile(path.c_str(), back.get(), BITMAPHANDLE_SIZE, t.alpha ? 32 : 24,
                         RK_ORDER_BGR, 0, nullptr),
              RK_SUCCESS);
    EXPECT_EQ(colours(back.get(), t.alpha), colours(src.get(), t.alpha));

    // The memory save gives the file's bytes.
    HGLOBAL block = nullptr;
    std::uint64_t bytes = 0;
    ASSERT_EQ(RkSaveMemory(src.get(), t.format, t.bits, 0, &block, &bytes), RK_SUCCESS);
    const auto file = readAll(path);
    ASSERT_EQ(bytes, file.size());
    const auto* p = static_cast<const std::uint8_t*>(GlobalLock(block));
    EXPECT_EQ(std::vector<std::uint8_t>(p, p + bytes), file);
    GlobalUnlock(block);
    GlobalFree(block);
}

INSTANTIATE_TEST_SUITE_P(
    FileModule, RoundTrips,
    ::testing::Values(
        RoundTrip{RK_FORMAT_BMP, 1, false, 1}, RoundTrip{RK_FORMAT_BMP, 4, false, 4},
        RoundTrip{RK_FORMAT_BMP, 8, false, 8}, RoundTrip{RK_FORMAT_BMP, 16, false, 16},
        RoundTrip{RK_FORMAT_BMP, 24, false, 24}, RoundTrip{RK_FORMAT_BMP, 32, true, 32},
        RoundTrip{RK_FORMAT_BMP_RLE, 4, false, 4}, RoundTrip{RK_FORMAT_BMP_RLE, 8, false, 8},
        RoundTrip{RK_FORMAT_PCX, 1, false, 1}, RoundTrip{RK_FORMAT_PCX, 4, false, 4},
        RoundTrip{RK_FORMAT_PCX, 8, false, 8}, RoundTrip{RK_FORMAT_PCX, 24, false, 24},
        RoundTrip{RK_FORMAT_TGA, 8, false, 8}, RoundTrip{RK_FORMAT_TGA, 16, false, 16},
        RoundTrip{RK_FORMAT_TGA, 24, false, 24}, RoundTrip{RK_FORMAT_TGA, 32, true, 32},
        RoundTrip{RK_FORMAT_GIF, 1, false, 1}, RoundTrip{RK_FORMAT_GIF, 4, false, 4},
        RoundTrip{RK_FORMAT_GIF, 8, false, 8}, RoundTrip{RK_FORMAT_PNG, 1, false, 1},
        RoundTrip{RK_FORMAT_PNG, 4, false, 4}, RoundTrip{RK_FORMAT_PNG, 8, false, 8},
        RoundTrip{RK_FORMAT_PNG, 24, false, 24}, RoundTrip{RK_FORMAT_PNG, 32, true, 32}));

TEST(FileModule, SaveDepthFollowsTheFormat)
{
    Bmp src;
    makePicture(src, 24);
    HGLOBAL block = nullptr;
    std::uint64_t bytes = 0;
    _FILEINFO info{};
    // Depth 0: the bitmap's, or the nearest the format writes.
    const std::pair<int, int> cases[] = {
        {RK_FORMAT_BMP, 24}, {RK_FORMAT_GIF, 8}, {RK_FORMAT_BMP_RLE, 8}, {RK_FORMAT_PNG, 24}};
    for (auto [format, bits] : cases) {
        ASSERT_EQ(RkSaveMemory(src.get(), format, 0, 0, &block, &bytes), RK_SUCCESS);
        const auto* p = GlobalLock(block);
        EXPECT_EQ(RkFileInfoMemory(p, bytes, &info, FILEINFO_SIZE), RK_SUCCESS);
        EXPECT_EQ(info.BitsPerPixel, bits) << format;
        GlobalUnlock(block);
        GlobalFree(block);
    }
    EXPECT_EQ(RkSaveMemory(src.get(), 9999, 0, 0, &block, &bytes), RK_ERROR_FORMAT_UNSUPPORTED);
    EXPECT_EQ(block, nullptr);
}

struct Supply {
    const _BITMAPHANDLE* from;
    std::vector<int> asked;
    int stopAt = -1;
};

int supply(_BITMAPHANDLE* b, std::uint8_t* buffer, int first, int rows, void* user)
{
    auto* s = static_cast<Supply*>(user);
    for (int i = 0; i < rows; ++i) {
        if (int(s->asked.size()) == s->stopAt)
            return 0;
        s->asked.push_back(first + i);
        const int stored =
            s->from->ViewPerspective == RK_TOP_LEFT ? first + i : b->Height - 1 - first - i;
        RkGetBitmapRow(s->from, buffer + std::size_t(i) * std::size_t(b->BytesPerLine), stored,
                       std::uint64_t(b->BytesPerLine));
    }
    return 1;
}

TEST(FileModule, RowSupplySaveWritesWhatTheCallbackGives)
{
    Bmp src;
    makePicture(src, 24);
    dibtest::TempDir dir;
    const std::string path = (dir.path() / "cb.png").string();
    // The record only describes the rows: no storage needed.
    Bmp shape;
    ASSERT_EQ(RkInitBitmap(shape.get(), BITMAPHANDLE_SIZE, 13, 7, 24), RK_SUCCESS);
    shape->Order = RK_ORDER_BGR;
    Supply s{src.get(), {}, -1};
    ASSERT_EQ(RkSaveFileCallback(path.c_str(), shape.get(), RK_FORMAT_PNG, 0, 0, 0, supply, &s),
              RK_SUCCESS);
    EXPECT_EQ(s.asked.size(), 7u);
    Bmp back;
    ASSERT_EQ(RkLoadFile(path.c_str(), back.get(), BITMAPHANDLE_SIZE, 24, RK_ORDER_BGR, 0, nullptr),
              RK_SUCCESS);
    EXPECT_EQ(colours(back.get()), colours(src.get()));

    // Cancelled: the earlier file stays as it was and nothing else is left.
    const auto before = readAll(path);
    Supply stop{src.get(), {}, 2};
    EXPECT_EQ(RkSaveFileCallback(path.c_str(), shape.get(), RK_FORMAT_BMP, 0, 0, 0, supply, &stop),
              RK_ERROR_CANCELLED);
    EXPECT_EQ(readAll(path), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    // A record whose stride disagrees with its geometry is refused before any row.
    shape->BytesPerLine = 8;
    Supply none{src.get(), {}, -1};
    EXPECT_EQ(RkSaveFileCallback(path.c_str(), shape.get(), RK_FORMAT_BMP, 0, 0, 0, supply, &none),
              RK_ERROR_INV_PARAMETER);
    EXPECT_TRUE(none.asked.empty());
}

TEST(FileModule, SaveIntoAMissingFolderFails)
{
    Bmp src;
    makePicture(src, 24);
    EXPECT_EQ(RkSaveFile("/nonexistent-folder/x.bmp", src.get(), RK_FORMAT_BMP, 0, 0, 0),
              RK_ERROR_FILE_WRITE);
}

// ---- bad input ---------------------------------------------------------------------------------

TEST(FileModule, TruncatedAndDamagedFilesFailCleanly)
{
    for (const Fixture& fx : kFixtures) {
        const auto bytes = readAll(kDir + fx.file);
        // Every prefix shorter than the file fails (or, for formats whose end carries no
        // pixels, succeeds) without crashing; none leaves a bitmap behind on failure.
        for (std::size_t n = 0; n < bytes.size(); n += 1 + n / 16) {
            Bmp b;
            const int r =
                RkLoadMemory(bytes.data(), n, b.get(), BITMAPHANDLE_SIZE, 0, RK_ORDER_BGR, nullptr);
            if (r <= 0) {
                EXPECT_EQ(b->Flags & BITMAP_FLAG_ALLOCATED, 0u) << fx.file << " at " << n;
            }
            _FILEINFO info{};
            RkFileInfoMemory(bytes.data(), n, &info, FILEINFO_SIZE);
        }
        // Flipped bytes in the headers.
        for (std::size_t at = 0; at < std::min<std::size_t>(bytes.size(), 80); ++at) {
            auto damaged = bytes;
            damaged[at] ^= 0xA5;
            Bmp b;
            RkLoadMemory(damaged.data(), damaged.size(), b.get(), BITMAPHANDLE_SIZE, 0,
                         RK_ORDER_BGR, nullptr);
        }
    }
}

TEST(FileModule, UnknownAndHostileInput)
{
    Bmp b;
    const char text[] = "This is a plain text file, not a picture.\n";
    EXPECT_EQ(RkLoadMemory(text, sizeof text, b.get(), BITMAPHANDLE_SIZE, 0, RK_ORDER_BGR, nullptr),
              RK_ERROR_FILE_FORMAT);
    EXPECT_EQ(RkLoadMemory(text, 0, b.get(), BITMAPHANDLE_SIZE, 0, RK_ORDER_BGR, nullptr),
              RK_ERROR_FILE_FORMAT);
    EXPECT_EQ(RkLoadFile("/nonexistent/file.bmp", b.get(), BITMAPHANDLE_SIZE, 0, RK_ORDER_BGR, 0,
                         nullptr),
              RK_ERROR_FILE_OPEN);

    // Headers that claim far more pixels than the data can hold are refused before anything
    // is allocated for them.
    auto bmp = readAll(kDir + "bmp24.bmp");
    const std::int32_t huge = 0x7FFFFFF0;
    std::memcpy(&bmp[18], &huge, 4);
    EXPECT_EQ(
        RkLoadMemory(bmp.data(), bmp.size(), b.get(), BITMAPHANDLE_SIZE, 0, RK_ORDER_BGR, nullptr),
        RK_ERROR_FILE_CORRUPT);
    auto rle = readAll(kDir + "bmp_rle8.bmp");
    std::memcpy(&rle[18], &huge, 4);
    std::memcpy(&rle[22], &huge, 4);
    EXPECT_EQ(
        RkLoadMemory(rle.data(), rle.size(), b.get(), BITMAPHANDLE_SIZE, 0, RK_ORDER_BGR, nullptr),
        RK_ERROR_FILE_CORRUPT);
    auto pcx = readAll(kDir + "pcx24.pcx");
    pcx[8] = pcx[9] = pcx[10] = pcx[11] = 0xFF;
    pcx[66] = pcx[67] = 0xFF;
    EXPECT_EQ(
        RkLoadMemory(pcx.data(), pcx.size(), b.get(), BITMAPHANDLE_SIZE, 0, RK_ORDER_BGR, nullptr),
        RK_ERROR_FILE_CORRUPT);
    auto gif = readAll(kDir + "gif8.gif");
    EXPECT_LE(RkLoadMemory(gif.data(), 20, b.get(), BITMAPHANDLE_SIZE, 0, RK_ORDER_BGR, nullptr),
              0);
    EXPECT_EQ(b->Flags & BITMAP_FLAG_ALLOCATED, 0u);

    _FILEINFO info{};
    EXPECT_EQ(RkFileInfo((kDir + "bmp24.bmp").c_str(), &info, 100), RK_ERROR_STRUCT_SIZE);
    EXPECT_EQ(RkLoadFile((kDir + "bmp24.bmp").c_str(), b.get(), BITMAPHANDLE_SIZE, 7, RK_ORDER_BGR,
                         0, nullptr),
              RK_ERROR_BITSPERPIXEL);
}

TEST(FileModule, LoadingIntoAnAllocatedRecordReplacesIt)
{
    Bmp b;
    ASSERT_EQ(rktest::create(b, 100, 100, 8), RK_SUCCESS);
    ASSERT_EQ(RkLoadFile((kDir + "bmp24.bmp").c_str(), b.get(), BITMAPHANDLE_SIZE, 0, RK_ORDER_BGR,
                         0, nullptr),
              RK_SUCCESS);
    EXPECT_EQ(b->Width, 13);
    EXPECT_EQ(b->BitsPerPixel, 24);
}

// ---- names, capabilities, external readers ----------------------------------------------------

TEST(FileModule, FormatTable)
{
    EXPECT_STREQ(RkFormatName(RK_FORMAT_PNG), "PNG");
    EXPECT_EQ(RkFormatName(12345), nullptr);
    for (int f : {RK_FORMAT_BMP, RK_FORMAT_BMP_RLE, RK_FORMAT_PCX, RK_FORMAT_TGA, RK_FORMAT_GIF,
                  RK_FORMAT_PNG}) {
        EXPECT_EQ(RkFormatCanRead(f), 1) << f;
        EXPECT_EQ(RkFormatCanWrite(f), 1) << f;
    }
    EXPECT_EQ(RkFormatCanWrite(12345), 0);
    EXPECT_STREQ(RkStatusText(RK_ERROR_FILE_CORRUPT), "the file is damaged or truncated");
}

TEST(FileModule, FormatTableEnumeratesEveryNamedNumberOnce)
{
    std::set<int> seen;
    int i = 0;
    for (; RkFormatAt(i) != 0; ++i) {
        EXPECT_NE(RkFormatName(RkFormatAt(i)), nullptr) << RkFormatAt(i);
        EXPECT_TRUE(seen.insert(RkFormatAt(i)).second) << RkFormatAt(i);
    }
    EXPECT_GT(i, 20);
    EXPECT_EQ(RkFormatAt(-1), 0);
    EXPECT_EQ(seen.count(RK_FORMAT_PNG), 1u);
    EXPECT_EQ(seen.count(RK_FORMAT_TIFF_CMYK_OTHER), 1u);
}

int fakeProbe(const std::uint8_t* head, std::size_t n)
{
    return n >= 4 && std::memcmp(head, "FAKE", 4) == 0;
}
int fakeInfo(const void*, std::uint64_t, _FILEINFO* info)
{
    info->Width = 3;
    info->Height = 2;
    info->BitsPerPixel = 24;
    return RK_SUCCESS;
}
int fakeLoad(const void*, std::uint64_t, _BITMAPHANDLE* b)
{
    const int r =
        RkCreateBitmap(b, BITMAPHANDLE_SIZE, 0x201, 3, 2, 24, RK_ORDER_BGR, nullptr, RK_TOP_LEFT);
    if (r > 0)
        RkFillBitmap(b, RGB(10, 20, 30));
    return r;
}

TEST(FileModule, ExternalReaderIsDispatchedByContent)
{
    static const RkExternalReader reader{9001, fakeProbe, fakeInfo, fakeLoad};
    ASSERT_EQ(RkRegisterExternalReader(&reader), RK_SUCCESS);
    const char data[] = "FAKE and some bytes";
    _FILEINFO info{};
    ASSERT_EQ(RkFileInfoMemory(data, sizeof data, &info, FILEINFO_SIZE), RK_SUCCESS);
    EXPECT_EQ(info.Format, 9001);
    EXPECT_EQ(RkFormatCanRead(9001), 1);
    Bmp b;
    ASSERT_EQ(RkLoadMemory(data, sizeof data, b.get(), BITMAPHANDLE_SIZE, 8, RK_ORDER_BGR, nullptr),
              RK_SUCCESS);
    EXPECT_EQ(b->BitsPerPixel, 8);
    EXPECT_EQ(RkGetPixelColor(b.get(), 1, 2) & 0xFFFFFF, RkGetPixelColor(b.get(), 0, 0) & 0xFFFFFF);
}

} // namespace
