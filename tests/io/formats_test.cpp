// The format table: its order and names, and that every number it marks as written is written
// by Salvar and, where it is marked as read, opened again by Obrir.
#include "io_test_util.h"
#include "support/support.h"

#include <dib/FileInfo.h>
#include <dib/Formats.h>
#include <gtest/gtest.h>
#include <set>
#include <vector>

using namespace iotest;

namespace {

std::vector<DibFormat> AllFormats()
{
    const int n = DibGetFormats(nullptr, 0);
    std::vector<DibFormat> v(std::size_t(n > 0 ? n : 0));
    EXPECT_EQ(DibGetFormats(v.data(), n), n);
    return v;
}

const DibFormat* Find(const std::vector<DibFormat>& v, int format)
{
    for (const DibFormat& f : v)
        if (f.format == format)
            return &f;
    return nullptr;
}

TEST(Formats, AscendingNamedAndCountedAlike)
{
    const auto v = AllFormats();
    ASSERT_GT(v.size(), 25u);
    for (std::size_t i = 0; i < v.size(); ++i) {
        ASSERT_NE(v[i].name, nullptr) << v[i].format;
        EXPECT_GT(std::string(v[i].name).size(), 2u) << v[i].format;
        if (i > 0) {
            EXPECT_LT(v[i - 1].format, v[i].format);
        }
    }
    DibFormat two[2] = {};
    EXPECT_EQ(DibGetFormats(two, 2), int(v.size()));
    EXPECT_EQ(two[1].format, v[1].format);
    EXPECT_EQ(DibGetFormats(two, -4), int(v.size()));
}

TEST(Formats, RoutesOfTheNamedNumbers)
{
    const auto v = AllFormats();
    struct Case {
        int format;
        const char* name;
        int reads, writes, keepsInks;
    } cases[] = {{75, "PNG", 1, 1, 0},
                 {17, "TIFF LZW", 1, 1, 1},
                 {86, "TIFF CMYK LZW", 1, 1, 1},
                 {10, "JPEG", 1, 1, 0},
                 {98, "JPEG", 1, 0, 0},
                 {140, "TIFF", 1, 1, 1},
                 {76, "PSD", 1, 0, 0},
                 {6, "BMP", 1, 1, 0},
                 {2, "GIF", 1, 1, 0},
                 {22, "TIFF JPEG 4:2:0", 1, 0, 0}};
    for (const Case& c : cases) {
        const DibFormat* f = Find(v, c.format);
        ASSERT_NE(f, nullptr) << c.format;
        EXPECT_STREQ(f->name, c.name);
        EXPECT_EQ(f->reads, c.reads) << c.format;
        EXPECT_EQ(f->writes, c.writes) << c.format;
        EXPECT_EQ(f->keepsInks, c.keepsInks) << c.format;
    }
}

TEST(Formats, EveryWrittenNumberSavesAndReadsBack)
{
    dibtest::TempDir dir;
    TDib image;
    ASSERT_EQ(image.Crear(9, 5, 24), 0);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x)
            image.SetPixel(x, y, static_cast<unsigned long>(0x102030 * (x + 1) + y));
    int written = 0;
    for (const DibFormat& f : AllFormats()) {
        if (!f.writes)
            continue;
        const std::wstring path = Wide((dir.path() / ("f" + std::to_string(f.format))).string());
        ASSERT_EQ(image.Salvar(path.c_str(), f.format), 0) << f.format << " " << f.name;
        ++written;
        if (!f.reads)
            continue;
        TDib back;
        EXPECT_EQ(back.Obrir(path.c_str()), 0) << f.format << " " << f.name;
        EXPECT_EQ(back.GetMidaX(), 9) << f.format;
        EXPECT_EQ(back.GetMidaY(), 5) << f.format;
    }
    EXPECT_GT(written, 15);
}

} // namespace
