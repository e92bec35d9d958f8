// Tests of TDib::CrearCode: symbols decoded back with zbar, the image's layout and facts, and
// failures that leave the image untouched.
#include "support/zbar_decode.h"

#include <cstring>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <gtest/gtest.h>
#include <raster/kernel.h>
#include <string>
#include <vips/tal_vimage.h>
#include <zint.h>

namespace {

using dib::TDibAccess;

// The image as grey bytes: 0 where the pixel is black, 255 where white.
dibtest::GreyPicture Picture(const TDib& image)
{
    dibtest::GreyPicture p;
    p.width = image.GetMidaX();
    p.height = image.GetMidaY();
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            p.pixels.push_back(image.GetPixel(x, y) == 0xFFFFFF ? 255 : 0);
    return p;
}

std::vector<dibtest::Decoded> DecodeImage(const TDib& image)
{
    return dibtest::Decode(dibtest::ScaleWithBorder(Picture(image), 4, 40));
}

std::string Utf8(const char8_t* s)
{
    return std::string(reinterpret_cast<const char*>(s));
}

// Type 0 is QR; any other type Code 128.
TEST(CrearCode, RoundTrips)
{
    std::wstring url = L"https://example.org/labels?id=";
    while (url.size() < 2300) // version 40 at level M holds 2331 bytes
        url += L"0123456789abcdefghij";
    struct Case {
        int type;
        const wchar_t* text;
        std::string utf8;
    };
    const Case cases[] = {
        {0, L"Hello, world", "Hello, world"},
        {0, L"Gr\u00fc\u00dfe \u00e0 Paris \u00a7 \u00bd", Utf8(u8"Grüße à Paris § ½")},
        {0, L"\u65e5\u672c\u8a9e\u306e\u30e9\u30d9\u30eb \u4e2d\u6587",
         Utf8(u8"日本語のラベル 中文")},
        {0, L"\U0001F4E6 parcel \U0001F69A", Utf8(u8"📦 parcel 🚚")},
        {0, url.c_str(), std::string(url.begin(), url.end())},
        {1, L"SHIP-0042/b x", "SHIP-0042/b x"},
        {2, L"SHIP-0042/b x", "SHIP-0042/b x"},
        {-7, L"~!@#$%^&*()_+ 0123", "~!@#$%^&*()_+ 0123"},
    };
    for (const Case& c : cases) {
        TDib image;
        ASSERT_EQ(image.CrearCode(c.type, c.text), DIB_OK) << c.utf8.substr(0, 40);
        const auto found = DecodeImage(image);
        ASSERT_EQ(found.size(), 1u) << c.utf8.substr(0, 40);
        EXPECT_EQ(found[0].type, c.type == 0 ? dibtest::kQrCode : dibtest::kCode128);
        EXPECT_EQ(found[0].text, c.utf8);
        if (c.type != 0) {
            EXPECT_EQ(image.GetMidaY(), 50 + 4);
        }
    }
}

TEST(CrearCode, SymbolInsideTwoPixelWhiteMarginAndFacts)
{
    const TalVImage symbol = TalVImage::talQR("Hello", 0, 0);
    ASSERT_EQ(symbol.width(), 21);
    TDib image;
    ASSERT_EQ(image.CrearCode(0, L"Hello"), DIB_OK);
    ASSERT_EQ(image.GetMidaX(), 25);
    ASSERT_EQ(image.GetMidaY(), 25);
    EXPECT_EQ(image.GetBitsPerPixel(), 1);
    for (int y = 0; y < 25; ++y) {
        for (int x = 0; x < 25; ++x) {
            const bool margin = x < 2 || y < 2 || x >= 23 || y >= 23;
            const unsigned long expected =
                margin || symbol.pixel(x - 2, y - 2) == 255 ? 0xFFFFFF : 0;
            ASSERT_EQ(image.GetPixel(x, y), expected) << x << "," << y;
        }
    }
    tagRGBQUAD palette[2] = {};
    ASSERT_EQ(image.GetPaleta(palette, nullptr), 2);
    EXPECT_EQ(palette[0].rgbRed + palette[0].rgbGreen + palette[0].rgbBlue, 0);
    EXPECT_EQ(palette[1].rgbRed + palette[1].rgbGreen + palette[1].rgbBlue, 3 * 255);

    EXPECT_EQ(TDibAccess::Bitmap(image).XResolution, 72);
    EXPECT_EQ(TDibAccess::Bitmap(image).YResolution, 72);
    EXPECT_EQ(TDibAccess::ResolucioX(image), 72.0);
    EXPECT_EQ(TDibAccess::ResolucioY(image), 72.0);
    EXPECT_EQ(TDibAccess::EspaiColor(image), DIB_CS_RGB);
    EXPECT_EQ(TDibAccess::Canals(image), 3u);
    EXPECT_EQ(TDibAccess::BitsPerCanal(image), 8u);
    EXPECT_EQ(TDibAccess::CanalAlpha(image), -1);
}

// zbar does not give Latin-1 Code 128 back reliably: compare the bars with zint's own drawing of
// the same characters passed as Latin-1 bytes, which checks the way from wchar_t to the symbol.
TEST(CrearCode, Code128Latin1MatchesZintBars)
{
    TDib image;
    ASSERT_EQ(image.CrearCode(1, L"Gr\u00f6\u00dfe \u00bd \u00e9t\u00e9"), DIB_OK);

    zint_symbol* s = ZBarcode_Create();
    s->symbology = BARCODE_CODE128;
    s->scale = 0.5f;
    s->show_hrt = 0;
    s->output_options = OUT_BUFFER_INTERMEDIATE;
    s->input_mode = DATA_MODE;
    const char latin1[] = "Gr\xf6\xdf"
                          "e \xbd \xe9t\xe9";
    ASSERT_LT(ZBarcode_Encode_and_Buffer(s, reinterpret_cast<const unsigned char*>(latin1),
                                         int(std::strlen(latin1)), 0),
              ZINT_ERROR)
        << s->errtxt;
    ASSERT_EQ(image.GetMidaX(), s->bitmap_width + 4);
    std::string expected, actual;
    for (int x = 0; x < s->bitmap_width; ++x) {
        expected += s->bitmap[x] == '1' ? '#' : '.';
        actual += image.GetPixel(x + 2, 2) == 0 ? '#' : '.';
    }
    ZBarcode_Delete(s);
    EXPECT_EQ(actual, expected);
}

TEST(CrearCode, FailuresLeaveTheImageUnchanged)
{
    const std::wstring overQr(5000, L'A');     // version 40-M holds 3391 alphanumerics
    const std::wstring overCode128(200, L'a'); // beyond the symbology's length
    const wchar_t surrogate[] = {L'a', wchar_t(0xD800), 0};
    const wchar_t beyond[] = {wchar_t(0x110000), 0};
    const wchar_t negative[] = {L'a', wchar_t(-5), 0};
    struct Case {
        const char* name;
        int type;
        const wchar_t* text;
    };
    const Case cases[] = {
        {"null text", 0, nullptr},
        {"empty QR", 0, L""},
        {"empty Code 128", 1, L""},
        {"euro in Code 128", 1, L"5 \u20ac"},
        {"CJK in Code 128", 1, L"\u65e5\u672c"},
        {"QR over capacity", 0, overQr.c_str()},
        {"Code 128 too long", 1, overCode128.c_str()},
        {"surrogate", 0, surrogate},
        {"above U+10FFFF", 0, beyond},
        {"negative wchar_t", 1, negative},
    };
    for (const Case& c : cases) {
        TDib image;
        ASSERT_EQ(image.Crear(7, 5, 24), DIB_OK);
        image.SetPixel(3, 2, 0x123456ul);
        TDibAccess::ResolucioX(image) = 300.0;
        TDibAccess::EspaiColor(image) = DIB_CS_CMYK;
        EXPECT_EQ(image.CrearCode(c.type, c.text), DIB_ERR_INVALID) << c.name;
        EXPECT_EQ(image.GetMidaX(), 7) << c.name;
        EXPECT_EQ(image.GetMidaY(), 5) << c.name;
        EXPECT_EQ(image.GetBitsPerPixel(), 24) << c.name;
        EXPECT_EQ(image.GetPixel(3, 2), 0x123456ul) << c.name;
        EXPECT_EQ(TDibAccess::ResolucioX(image), 300.0) << c.name;
        EXPECT_EQ(TDibAccess::EspaiColor(image), DIB_CS_CMYK) << c.name;
    }
}

TEST(CrearCode, FailedCreationIsReported)
{
    TDib image;
    ASSERT_EQ(image.CrearCode(0, L"first"), DIB_OK);
    const int width = image.GetMidaX();
    RkFailAllocationsAfter(0);
    const int status = image.CrearCode(0, L"a much longer second text, a bigger symbol");
    RkFailAllocationsAfter(-1);
    EXPECT_EQ(status, DIB_STATUS_KERNEL_BASE + RK_ERROR_NO_MEMORY);
    EXPECT_EQ(image.GetMidaX(), width);
    ASSERT_EQ(DecodeImage(image).size(), 1u);
    EXPECT_EQ(DecodeImage(image)[0].text, "first");
}

} // namespace
