// The labelled description and the format names (texts of the French string table).
#include "info_test_util.h"

#include <dib/FileInfo.h>
#include <dib/TDib.h>
#include <gtest/gtest.h>
#include <info/format_name.h>

using infotest::Data;

namespace {

TEST(FormatName, StringTableNames)
{
    const std::pair<int, const wchar_t*> cases[] = {
        {1, L"ZSoft® Paintbrush"},
        {2, L"GIF"},
        {3, L"TIFF Compressé (LZW)"},
        {85, L"TIFF Compressé (LZW)"},
        {4, L"Targa"},
        {5, L"Image de LeadTools®"},
        {6, L"Windows BMP"},
        {10, L"JPEG YUV 4:4:4"},
        {11, L"TIFF JPEG YUV 4:4:4"},
        {17, L"TIFF"},
        {86, L"TIFF"},
        {21, L"JPEG YUV 4:1:1"},
        {22, L"TIFF JPEG YUV 4:1:1"},
        {23, L"JPEG YUV 4:2:2"},
        {24, L"TIFF JPEG YUV 4:2:2"},
        {57, L"Kodak PhotoCD®"},
        {76, L"Adobe® Photoshop"},
        {84, L"Windows BMP compressé (RLE)"},
        {98, L"JPEG"},
        {393, L"JPEG"},
        {189, L"TIFF"},
        {396, L"TIFF"},
        {0, L"Inconnue (n° 0)"},
        {75, L"Inconnue (n° 75)"},
        {-7, L"Inconnue (n° -7)"},
    };
    for (const auto& [format, name] : cases)
        EXPECT_STREQ(dib::FormatName(format).GetString(), name) << format;
}

TEST(GetInfoFitxer, LabelledDescription)
{
    const std::pair<const char*, const wchar_t*> cases[] = {
        {"tiff/grey8.tif", L"TIFF Compressé (LZW)\r\n"
                           L"Espace colorimétrique: Échelle de gris\r\n"
                           L"Dimension: 7 x 5 pxl\r\n"
                           L"Bits par Pixel: 8 (1 x 8)\r\n"
                           L"DPI: 300.00 x 300.00 dpi"},
        {"tiff/palette8.tif", L"TIFF Compressé (LZW)\r\n"
                              L"Espace colorimétrique: RGB\r\n"
                              L"Indexed: Yes\r\n"
                              L"Dimension: 7 x 5 pxl\r\n"
                              L"Bits par Pixel: 24 (3 x 8)\r\n"
                              L"DPI: 0.00 x 0.00 dpi"},
        {"tiff/rgba8_unassoc.tif", L"TIFF Compressé (LZW)\r\n"
                                   L"Espace colorimétrique: RGB\r\n"
                                   L"Dimension: 7 x 5 pxl\r\n"
                                   L"Bits par Pixel: 32 (4 x 8)\r\n"
                                   L"DPI: 1.00 x 1.00 dpi\r\n"
                                   L"Transparency channel: 4"},
        {"tiff/bilevel_minisblack.tif", L"TIFF Compressé (LZW)\r\n"
                                        L"Espace colorimétrique: Monochrome\r\n"
                                        L"Dimension: 7 x 5 pxl\r\n"
                                        L"Bits par Pixel: 1 (1 x 1)\r\n"
                                        L"DPI: 1.00 x 1.00 dpi"},
        {"tiff/lab8.tif", L"TIFF Compressé (LZW)\r\n"
                          L"Espace colorimétrique: Lab\r\n"
                          L"Dimension: 7 x 5 pxl\r\n"
                          L"Bits par Pixel: 24 (3 x 8)\r\n"
                          L"DPI: 1.00 x 1.00 dpi"},
    };
    for (const auto& [file, expected] : cases) {
        // The uncompressed TIFF number 3 is what both the kernel and the TIFF inspector give.
        CString text = L"unchanged";
        ASSERT_EQ(TDib::GetInfoFitxer(Data(file).c_str(), text), 0) << file;
        EXPECT_STREQ(text.GetString(), expected) << file;
    }
}

TEST(GetInfoFitxer, LabelledLinesAndFailures)
{
    CInfoFitxerDIB info;
    ASSERT_EQ(TDib::GetInfoFitxer(Data("tiff/cmyk8.tif").c_str(), info), 0);
    EXPECT_STREQ(info.m_nomFormat.GetString(), L"TIFF Compressé (LZW)");
    ASSERT_EQ(info.m_etiquetes.GetCount(), 4);
    ASSERT_EQ(info.m_valors.GetCount(), 4);
    EXPECT_STREQ(info.m_etiquetes.Get(0), L"Espace colorimétrique");
    EXPECT_STREQ(info.m_valors.Get(0), L"CMYK");
    EXPECT_STREQ(info.m_etiquetes.Get(2), L"Bits par Pixel");
    EXPECT_STREQ(info.m_valors.Get(2), L"32 (4 x 8)");
    EXPECT_EQ(info.m_info.ColorSpace, DIB_CS_CMYK);

    CInfoFitxerDIB failed;
    EXPECT_EQ(TDib::GetInfoFitxer(Data("tiff/missing.tif").c_str(), failed), -3010);
    EXPECT_EQ(failed.m_etiquetes.GetCount(), 0);
    EXPECT_EQ(TDib::GetInfoFitxer(Data("tiff/tiled_cmyk.tif").c_str(), failed), -5);
    EXPECT_EQ(failed.m_etiquetes.GetCount(), 0);
    CString text = L"unchanged";
    EXPECT_EQ(TDib::GetInfoFitxer(Data("tiff/missing.tif").c_str(), text), -3010);
    EXPECT_STREQ(text.GetString(), L"unchanged");
}

} // namespace
