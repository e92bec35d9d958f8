// Tests of the streaming BMP writer: header fields, palettes, rows, padding, abort, refusals,
// write failures, and the files as independent readers see them.
#include "support/support.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <dib/Status.h>
#include <dib/StreamWriters.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::uint32_t(b.at(at)) | std::uint32_t(b.at(at + 1)) << 8 |
           std::uint32_t(b.at(at + 2)) << 16 | std::uint32_t(b.at(at + 3)) << 24;
}

std::uint32_t U16(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::uint32_t(b.at(at)) | std::uint32_t(b.at(at + 1)) << 8;
}

// Palette entry i as blue, green, red, reserved.
std::vector<int> Entry(const std::vector<std::uint8_t>& b, int i)
{
    const std::size_t at = 54 + 4 * std::size_t(i);
    return {b.at(at), b.at(at + 1), b.at(at + 2), b.at(at + 3)};
}

std::vector<int> Grey(int g)
{
    return {g, g, g, 0};
}

class BmpWriter : public ::testing::Test {
protected:
    fs::path File(const std::string& name) const { return dir.path() / name; }
    dibtest::TempDir dir;
};

TEST_F(BmpWriter, HeaderFields)
{
    struct Case {
        int width, height, bits, xDpi, yDpi, topDown;
        std::uint32_t bytesPerLine, offset, xPpm, yPpm;
    };
    const Case cases[] = {
        {10, 3, 1, 300, 72, 0, 4, 62, 11811, 2835}, // ceil(10 / 8) = 2, rounded up to 4
        {100, 50, 8, 0, 1, 0, 100, 1078, 0, 39},    // file size 6078
        {100, 50, 8, 96, 96, 1, 100, 1078, 3780, 3780},
        {33, 7, 4, 96, 96, 1, 20, 118, 3780, 3780}, // ceil(33 / 2) = 17 -> 20
        {1, 1, 8, 54546084, 0, 0, 4, 1078, 2147483622, 0},
    };
    for (const Case& c : cases) {
        const fs::path path = File("h.bmp");
        void* h = L_StartDynamicSaveBMP(c.width, c.height, c.bits, c.xDpi, c.yDpi,
                                        path.wstring().c_str(), 1, c.topDown, 0);
        ASSERT_NE(h, nullptr) << c.width << "x" << c.height;
        ASSERT_EQ(L_EndDynamicSaveBMP(h), DIB_OK);
        EXPECT_EQ(h, nullptr);
        const auto b = ReadAll(path);
        const std::uint32_t image = c.bytesPerLine * std::uint32_t(c.height);
        ASSERT_EQ(b.size(), c.offset + image);
        EXPECT_EQ(b[0], 'B');
        EXPECT_EQ(b[1], 'M');
        const std::uint32_t height = c.topDown ? 0u - std::uint32_t(c.height) : c.height;
        const std::vector<std::uint32_t> fields = {
            U32(b, 2),  U32(b, 6),  U32(b, 10), U32(b, 14), U32(b, 18), U32(b, 22), U16(b, 26),
            U16(b, 28), U32(b, 30), U32(b, 34), U32(b, 38), U32(b, 42), U32(b, 46), U32(b, 50)};
        const std::vector<std::uint32_t> expected = {c.offset + image,
                                                     0,
                                                     c.offset,
                                                     40,
                                                     std::uint32_t(c.width),
                                                     height,
                                                     1,
                                                     std::uint32_t(c.bits),
                                                     0,
                                                     image,
                                                     c.xPpm,
                                                     c.yPpm,
                                                     1u << c.bits,
                                                     0};
        EXPECT_EQ(fields, expected) << c.width << "x" << c.height;
    }
}

TEST_F(BmpWriter, Palettes)
{
    struct Case {
        const char* name;
        int bits, ascending, greyLevels;
        std::vector<std::pair<int, int>> entries; // index, grey
    };
    const Case cases[] = {
        {"8 ascending", 8, 1, 0, {{0, 0}, {1, 1}, {128, 128}, {255, 255}}},
        {"8 descending", 8, 0, 0, {{0, 255}, {1, 254}, {255, 0}}},
        {"8 ascending 5 levels", 8, 1, 5, {{0, 0}, {1, 63}, {2, 127}, {3, 191}, {4, 255}, {5, 5}}},
        {"8 descending 5 levels", 8, 0, 5, {{0, 255}, {1, 192}, {4, 0}, {5, 250}}},
        {"8 one level", 8, 1, 1, {{0, 0}, {1, 1}, {255, 255}}},
        {"8 one level descending", 8, 0, 1, {{0, 255}, {1, 254}}},
        {"8 negative levels", 8, 1, -4, {{0, 0}, {200, 200}}},
        {"4 ascending", 4, 1, 0, {{0, 0}, {1, 17}, {15, 255}}},
        {"4 descending", 4, 0, 0, {{0, 255}, {15, 0}}},
        {"4 ascending 4 levels", 4, 1, 4, {{0, 0}, {1, 85}, {2, 170}, {3, 255}, {4, 68}}},
        {"1 ascending", 1, 1, 7, {{0, 255}, {1, 0}}},
        {"1 descending", 1, 0, 0, {{0, 255}, {1, 0}}},
    };
    for (const Case& c : cases) {
        const fs::path path = File("p.bmp");
        void* h = L_StartDynamicSaveBMP(8, 2, c.bits, 72, 72, path.wstring().c_str(), c.ascending,
                                        0, c.greyLevels);
        ASSERT_NE(h, nullptr) << c.name;
        ASSERT_EQ(L_AbortDynamicSaveBMP(h), DIB_OK);
        const auto b = ReadAll(path);
        for (const auto& [index, grey] : c.entries)
            EXPECT_EQ(Entry(b, index), Grey(grey)) << c.name << " entry " << index;
    }
}

TEST_F(BmpWriter, RowsInOrderSurplusDroppedAndMissingRowsFilled)
{
    struct Case {
        int bits, width, written;
        std::uint8_t fill;
    };
    // 8 bits fill with 255; 1 and 4 bits with 0 (white in the 1-bit palette).
    for (const Case c : {Case{8, 12, 30, 255}, {1, 70, 30, 0}, {4, 9, 30, 0}, {8, 12, 50, 0}}) {
        const fs::path path = File("rows.bmp");
        void* h =
            L_StartDynamicSaveBMP(c.width, 50, c.bits, 72, 72, path.wstring().c_str(), 1, 1, 0);
        ASSERT_NE(h, nullptr);
        const int bytesPerLine = int(((std::int64_t(c.width) * c.bits + 7) / 8 + 3) / 4 * 4);
        std::vector<unsigned char> row(bytesPerLine);
        for (int r = 0; r < c.written; ++r) {
            for (int i = 0; i < bytesPerLine; ++i)
                row[i] = static_cast<unsigned char>(r * 7 + i + 1);
            ASSERT_EQ(L_DynamicSaveBMProw(row.data(), h), 0) << r;
        }
        if (c.written == 50) {
            EXPECT_EQ(L_DynamicSaveBMProw(row.data(), h), 1); // surplus rows are dropped
            EXPECT_EQ(L_DynamicSaveBMProw(row.data(), h), 1);
        }
        ASSERT_EQ(L_EndDynamicSaveBMP(h), DIB_OK);
        const auto b = ReadAll(path);
        const std::size_t offset = U32(b, 10);
        ASSERT_EQ(b.size(), offset + 50u * bytesPerLine);
        for (int r = 0; r < 50; ++r) {
            for (int i = 0; i < bytesPerLine; ++i) {
                const std::uint8_t expected = r < c.written ? std::uint8_t(r * 7 + i + 1) : c.fill;
                ASSERT_EQ(b[offset + std::size_t(r) * bytesPerLine + i], expected)
                    << c.bits << " bits, row " << r << " byte " << i;
            }
        }
    }
}

TEST_F(BmpWriter, AbortKeepsWhatWasWritten)
{
    const fs::path path = File("abort.bmp");
    void* h = L_StartDynamicSaveBMP(16, 10, 8, 72, 72, path.wstring().c_str(), 1, 0, 0);
    ASSERT_NE(h, nullptr);
    std::vector<unsigned char> row(16, 0x5A);
    for (int r = 0; r < 3; ++r)
        ASSERT_EQ(L_DynamicSaveBMProw(row.data(), h), 0);
    EXPECT_EQ(L_AbortDynamicSaveBMP(h), DIB_OK);
    EXPECT_EQ(h, nullptr);
    const auto b = ReadAll(path);
    ASSERT_EQ(b.size(), 1078u + 3 * 16);
    EXPECT_EQ(U32(b, 22), 10u); // the header still states the full height
    EXPECT_EQ(b.back(), 0x5A);
}

TEST_F(BmpWriter, RefusedArgumentsCreateNoFile)
{
    struct Case {
        const char* name;
        int width, height, bits, xDpi, yDpi;
    };
    const Case cases[] = {
        {"2 bits", 8, 8, 2, 72, 72},
        {"24 bits", 8, 8, 24, 72, 72},
        {"0 bits", 8, 8, 0, 72, 72},
        {"width 0", 0, 8, 8, 72, 72},
        {"negative width", -8, 8, 8, 72, 72},
        {"height 0", 8, 0, 8, 72, 72},
        {"negative height", 8, -8, 8, 72, 72},
        {"line beyond 32 bits", INT_MAX, 2, 8, 72, 72},
        {"file beyond 4 GiB", 65536, 65536, 8, 72, 72},
        {"negative dpi", 8, 8, 8, -1, 72},
        {"dpi beyond the field", 8, 8, 8, 72, 54546085},
    };
    for (const Case& c : cases) {
        const fs::path path = File("refused.bmp");
        void* h = L_StartDynamicSaveBMP(c.width, c.height, c.bits, c.xDpi, c.yDpi,
                                        path.wstring().c_str(), 1, 0, 0);
        EXPECT_EQ(h, nullptr) << c.name;
        EXPECT_FALSE(fs::exists(path)) << c.name;
    }
    // The largest file: 65536 x 65535 bytes + 1078 stays below 4 GiB.
    void* largest =
        L_StartDynamicSaveBMP(65536, 65535, 8, 72, 72, File("l.bmp").wstring().c_str(), 1, 0, 0);
    ASSERT_NE(largest, nullptr);
    EXPECT_EQ(L_AbortDynamicSaveBMP(largest), DIB_OK);
    EXPECT_EQ(ReadAll(File("l.bmp")).size(), 1078u);

    EXPECT_EQ(L_StartDynamicSaveBMP(8, 8, 8, 72, 72, nullptr, 1, 0, 0), nullptr);
    EXPECT_EQ(L_StartDynamicSaveBMP(8, 8, 8, 72, 72, L"", 1, 0, 0), nullptr);
    const fs::path missing = File("no/such/folder.bmp");
    EXPECT_EQ(L_StartDynamicSaveBMP(8, 8, 8, 72, 72, missing.wstring().c_str(), 1, 0, 0), nullptr);

    void* none = nullptr;
    unsigned char row[4] = {};
    EXPECT_EQ(L_DynamicSaveBMProw(row, nullptr), DIB_ERR_INVALID);
    EXPECT_EQ(L_EndDynamicSaveBMP(none), DIB_ERR_INVALID);
    EXPECT_EQ(L_AbortDynamicSaveBMP(none), DIB_ERR_INVALID);
    void* h = L_StartDynamicSaveBMP(4, 1, 8, 72, 72, File("n.bmp").wstring().c_str(), 1, 0, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(L_DynamicSaveBMProw(nullptr, h), DIB_ERR_INVALID);
    EXPECT_EQ(L_EndDynamicSaveBMP(h), DIB_OK);
}

// A full disk: rows that no longer fit the buffer, and the close, report the failure.
TEST_F(BmpWriter, WriteFailuresAreReported)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    void* h = L_StartDynamicSaveBMP(4, 4, 8, 72, 72, L"/dev/full", 1, 0, 0);
    ASSERT_NE(h, nullptr); // the header waits in the buffer
    EXPECT_EQ(L_EndDynamicSaveBMP(h), DIB_ERR_FAILED);
    EXPECT_EQ(h, nullptr);

    h = L_StartDynamicSaveBMP(4, 4, 8, 72, 72, L"/dev/full", 1, 0, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(L_AbortDynamicSaveBMP(h), DIB_ERR_FAILED);
    EXPECT_EQ(h, nullptr);

    // 1 MiB rows: the fifth no longer fits the 4 MiB buffer and reaches the disk.
    const int width = 1 << 20;
    h = L_StartDynamicSaveBMP(width, 8, 8, 72, 72, L"/dev/full", 1, 0, 0);
    ASSERT_NE(h, nullptr);
    std::vector<unsigned char> row(width, 1);
    int status = 0, written = 0;
    while (written < 8 && (status = L_DynamicSaveBMProw(row.data(), h)) == 0)
        ++written;
    EXPECT_EQ(status, DIB_ERR_FAILED);
    EXPECT_LT(written, 8);
    EXPECT_EQ(L_EndDynamicSaveBMP(h), DIB_ERR_FAILED);
}

// Files of every depth and row order, read back by PIL and ImageMagick where present. The
// pixel at (x, y) holds palette index (3x + 5y) mod colours; the checker works out the grey
// of that index from the palette rule itself.
TEST_F(BmpWriter, IndependentReadersAgree)
{
    struct Case {
        int width, height, bits, ascending, topDown, greyLevels;
    };
    const Case cases[] = {{37, 11, 1, 1, 1, 0}, {37, 11, 1, 0, 0, 0}, {21, 5, 4, 1, 0, 0},
                          {21, 5, 4, 0, 1, 6},  {13, 9, 8, 1, 1, 0},  {13, 9, 8, 0, 0, 40}};
    std::string files;
    for (const Case& c : cases) {
        const std::string name = "w" + std::to_string(c.width) + "_h" + std::to_string(c.height) +
                                 "_b" + std::to_string(c.bits) + "_a" +
                                 std::to_string(c.ascending) + "_t" + std::to_string(c.topDown) +
                                 "_g" + std::to_string(c.greyLevels) + ".bmp";
        const fs::path path = File(name);
        void* h = L_StartDynamicSaveBMP(c.width, c.height, c.bits, 72, 72, path.wstring().c_str(),
                                        c.ascending, c.topDown, c.greyLevels);
        ASSERT_NE(h, nullptr);
        const int colours = 1 << c.bits;
        const int bytesPerLine = ((c.width * c.bits + 7) / 8 + 3) / 4 * 4;
        for (int i = 0; i < c.height; ++i) {
            const int y = c.topDown ? i : c.height - 1 - i;
            std::vector<unsigned char> row(bytesPerLine, 0);
            for (int x = 0; x < c.width; ++x) {
                const int index = (3 * x + 5 * y) % colours;
                const int bit = x * c.bits;
                row[bit / 8] |= static_cast<unsigned char>(index << (8 - c.bits - bit % 8));
            }
            ASSERT_EQ(L_DynamicSaveBMProw(row.data(), h), 0);
        }
        ASSERT_EQ(L_EndDynamicSaveBMP(h), DIB_OK);
        files += " '" + path.string() + "'";
    }
    const bool pil = std::system("/usr/bin/python3 -c 'import PIL' 2>/dev/null") == 0;
    const bool identify = std::system("identify -version >/dev/null 2>&1") == 0;
    if (!pil && !identify)
        GTEST_SKIP() << "neither PIL nor ImageMagick's identify is installed";
    const std::string command = "/usr/bin/python3 '" DIB_BMP_CHECKER "'" + files;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

} // namespace
