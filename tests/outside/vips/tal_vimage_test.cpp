// Tests of TalVImage: symbol geometry and pixels, parameters, failures, write and copy2mem.
#include "support/zbar_decode.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vips/tal_vimage.h>

namespace {

// The pixels of one row as '#' (dark) and '.' (light).
std::string RowText(const TalVImage& image, int y)
{
    std::string s;
    for (int x = 0; x < image.width(); ++x)
        s += image.pixel(x, y) == 0 ? '#' : '.';
    return s;
}

dibtest::GreyPicture Picture(const TalVImage& image)
{
    dibtest::GreyPicture p;
    p.width = image.width();
    p.height = image.height();
    p.pixels.resize(std::size_t(p.width) * p.height);
    EXPECT_EQ(image.copy2mem(reinterpret_cast<char*>(p.pixels.data()), p.pixels.size()),
              std::int64_t(p.pixels.size()));
    return p;
}

TEST(TalVImage, QrIsOnePixelPerModuleWithoutQuietZone)
{
    const TalVImage qr = TalVImage::talQR("Hello", 0, 0);
    ASSERT_EQ(qr.LastError(), TalVError::None) << qr.ErrorText();
    ASSERT_EQ(qr.width(), 21); // version 1
    ASSERT_EQ(qr.height(), 21);
    // Finder patterns touch three corners; the fourth corner's area holds data.
    for (const auto& [x, y] : {std::pair{0, 0}, {20, 0}, {0, 20}})
        EXPECT_EQ(qr.pixel(x, y), 0) << x << "," << y;
    EXPECT_EQ(RowText(qr, 0).substr(0, 8), "#######.");
    EXPECT_EQ(RowText(qr, 1).substr(0, 8), "#.....#.");
    EXPECT_EQ(RowText(qr, 2).substr(0, 8), "#.###.#.");
    // Timing pattern on row 6 between the finders.
    EXPECT_EQ(RowText(qr, 6).substr(6, 9), "#.#.#.#.#");
    for (int y = 0; y < qr.height(); ++y)
        for (int x = 0; x < qr.width(); ++x)
            ASSERT_TRUE(qr.pixel(x, y) == 0 || qr.pixel(x, y) == 255);
}

TEST(TalVImage, QrParameters)
{
    struct Case {
        int level, version, size;
    };
    // 22 alphanumerics: version 1 holds 25 at L and 20 at M; version 2 holds 20 at H, 3 holds 35.
    const char* text = "HELLO WORLD ABCDEFGHIJ";
    for (const Case c : {Case{0, 0, 25}, {2, 0, 25}, {1, 0, 21}, {4, 0, 29}, {0, 5, 37}}) {
        const TalVImage qr = TalVImage::talQR(text, c.level, c.version);
        ASSERT_EQ(qr.LastError(), TalVError::None) << qr.ErrorText();
        EXPECT_EQ(qr.width(), c.size) << c.level << " " << c.version;
        EXPECT_EQ(qr.height(), c.size);
    }
}

TEST(TalVImage, Code128StartPatternAndHeight)
{
    const TalVImage bars = TalVImage::talCode128("ABC", 0, 0, 0);
    ASSERT_EQ(bars.LastError(), TalVError::None) << bars.ErrorText();
    // Start B, 'A', 'B', 'C', check character: 11 modules each, stop 13.
    EXPECT_EQ(bars.width(), 5 * 11 + 13);
    EXPECT_EQ(bars.height(), 50);
    const std::string row = RowText(bars, 0);
    EXPECT_EQ(row.substr(0, 11), "##.#..#....");             // start code B
    EXPECT_EQ(row.substr(row.size() - 13), "##...###.#.##"); // stop
    for (int y = 1; y < bars.height(); ++y)
        ASSERT_EQ(RowText(bars, y), row) << y;

    const TalVImage low = TalVImage::talCode128("ABC", 10, 0, 0);
    EXPECT_EQ(low.height(), 10);
    EXPECT_EQ(RowText(low, 9), row);
}

// Text beyond ASCII is carried as UTF-8 bytes (readers need not guess between Latin-1, Shift
// JIS and UTF-8).
TEST(TalVImage, QrHoldsUtf8Bytes)
{
    for (const char* text : {"Gr\xc3\xbc\xc3\x9f"
                             "e",
                             "\xe6\x97\xa5\xe6\x9c\xac", "plain"}) {
        const TalVImage qr = TalVImage::talQR(text, 0, 0);
        ASSERT_EQ(qr.LastError(), TalVError::None) << qr.ErrorText();
        const auto found = dibtest::Decode(dibtest::ScaleWithBorder(Picture(qr), 4, 40), true);
        ASSERT_EQ(found.size(), 1u) << text;
        EXPECT_EQ(found[0].text, text);
    }
}

TEST(TalVImage, Refusals)
{
    struct Case {
        const char* name;
        TalVImage image;
        TalVError error;
    };
    const std::string tooLongForQr(7100, '7'); // version 40-M holds 5596 digits
    const std::string tooLongForCode128(200, 'a');
    const Case cases[] = {
        {"null QR text", TalVImage::talQR(nullptr, 0, 0), TalVError::InvalidInput},
        {"invalid UTF-8", TalVImage::talQR("a\xff", 0, 0), TalVError::InvalidInput},
        {"QR over capacity", TalVImage::talQR(tooLongForQr.c_str(), 0, 0), TalVError::InvalidInput},
        {"QR level 5", TalVImage::talQR("x", 5, 0), TalVError::InvalidOption},
        {"QR level -1", TalVImage::talQR("x", -1, 0), TalVError::InvalidOption},
        {"QR version 41", TalVImage::talQR("x", 0, 41), TalVError::InvalidOption},
        {"QR version too small", TalVImage::talQR(tooLongForCode128.c_str(), 0, 1),
         TalVError::InvalidInput},
        {"euro sign", TalVImage::talCode128("5 \xe2\x82\xac", 0, 0, 0), TalVError::InvalidInput},
        {"Code 128 too long", TalVImage::talCode128(tooLongForCode128.c_str(), 0, 0, 0),
         TalVError::InvalidInput},
        {"bar height", TalVImage::talCode128("x", 1001, 0, 0), TalVError::InvalidOption},
        {"negative bar height", TalVImage::talCode128("x", -1, 0, 0), TalVError::InvalidOption},
        {"reserved", TalVImage::talCode128("x", 0, 1, 0), TalVError::InvalidOption},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.image.LastError(), c.error) << c.name;
        EXPECT_EQ(c.image.width(), 0) << c.name;
        EXPECT_EQ(c.image.height(), 0) << c.name;
        EXPECT_GT(std::strlen(c.image.ErrorText()), 0u) << c.name;
        EXPECT_EQ(c.image.copy2mem(nullptr, 0), 0) << c.name;
    }
}

TEST(TalVImage, WriteAndCopyToMemory)
{
    const TalVImage symbol = TalVImage::talQR("copy", 0, 0);
    ASSERT_EQ(symbol.width(), 21);

    TalVImage readOnly("QRbuffer", "r");
    EXPECT_EQ(readOnly.write(symbol), -1);
    EXPECT_EQ(readOnly.LastError(), TalVError::InvalidOption);
    EXPECT_EQ(readOnly.width(), 0);

    TalVImage buffer("QRbuffer", "t");
    EXPECT_EQ(buffer.write(TalVImage()), -1);
    EXPECT_EQ(buffer.LastError(), TalVError::Failed);
    ASSERT_EQ(buffer.write(symbol), 0);
    EXPECT_EQ(buffer.LastError(), TalVError::None);
    EXPECT_EQ(buffer.width(), 21);

    ASSERT_EQ(buffer.copy2mem(nullptr, 0), 21 * 21);
    std::vector<char> bytes(21 * 21 + 3, 'z');
    // Too small: nothing copied.
    EXPECT_EQ(buffer.copy2mem(bytes.data(), 21 * 21 - 1), -1);
    EXPECT_EQ(bytes[0], 'z');
    // Larger than needed: exactly the pixels, the rest untouched.
    EXPECT_EQ(buffer.copy2mem(bytes.data(), bytes.size()), 21 * 21);
    EXPECT_EQ(bytes[21 * 21], 'z');
    for (int i = 0; i < 21 * 21; ++i)
        ASSERT_EQ(static_cast<unsigned char>(bytes[i]), symbol.pixel(i % 21, i / 21));
}

} // namespace
