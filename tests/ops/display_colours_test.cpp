// TDib::AdaptarPerMostrar: CMYK pixels become the colours the previews show; other images stay.
#include <cstring>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <gtest/gtest.h>
#include <vector>

namespace {

using dib::TDibAccess;

// A 3 x 2 CMYK image (stored bytes C, M, Y, K) whose rows are the given pixels.
void CmykImage(TDib& d, const std::vector<unsigned char>& cmyk, bool disk, int perspective = 1)
{
    ASSERT_EQ(disk ? d.CrearDisc(3, 2, 32) : d.Crear(3, 2, 32), DIB_OK);
    TDibAccess::Bitmap(d).ViewPerspective = perspective;
    for (int row = 0; row < 2; ++row)
        ASSERT_EQ(d.SetLinia(row, cmyk.data() + 12 * row, 12), DIB_OK);
    TDibAccess::EspaiColor(d) = DIB_CS_CMYK;
    TDibAccess::Canals(d) = 4;
    TDibAccess::BitsPerCanal(d) = 8;
}

TEST(AdaptarPerMostrar, CmykBecomesTheColoursOfThePreviews)
{
    const std::vector<unsigned char> cmyk = {
        0,   0,   0,   0,   // white
        255, 0,   0,   0,   // cyan
        0,   0,   0,   255, // black
        10,  20,  30,  40,  // a mix
        0,   255, 255, 0,   // red
        200, 0,   0,   100, // clamped at 0
    };
    std::vector<unsigned char> expected(cmyk);
    TDib::AdaptarPerCarregarCMYK(expected.data(), 6);
    for (bool disk : {false, true})
        for (int perspective : {1, 4}) {
            TDib d;
            CmykImage(d, cmyk, disk, perspective);
            TDibAccess::ResolucioX(d) = 150;
            ASSERT_EQ(d.AdaptarPerMostrar(), DIB_OK);
            EXPECT_EQ(d.GetBitsPerPixel(), 24);
            EXPECT_EQ(TDibAccess::EspaiColor(d), DIB_CS_RGB);
            EXPECT_EQ(TDibAccess::Canals(d), 3u);
            EXPECT_EQ(TDibAccess::CanalAlpha(d), -1);
            EXPECT_EQ(d.GetResolucioX(), 150.0);
            for (int row = 0; row < 2; ++row) {
                unsigned char line[9] = {};
                ASSERT_EQ(d.GetLinia(row, line, 9), DIB_OK);
                for (int x = 0; x < 3; ++x)
                    for (int c = 0; c < 3; ++c)
                        EXPECT_EQ(line[3 * x + c], expected[std::size_t(12 * row + 4 * x + c)])
                            << "disk " << disk << " perspective " << perspective << " row " << row
                            << " pixel " << x << " byte " << c;
            }
        }
}

TEST(AdaptarPerMostrar, SpotChannelsAreLeftOut)
{
    TDib d;
    ASSERT_EQ(d.Crear(2, 1, 48), DIB_OK);
    const unsigned char six[12] = {0, 255, 255, 0, 99, 98, 255, 0, 0, 0, 97, 96};
    ASSERT_EQ(d.SetLinia(0, six, 12), DIB_OK);
    TDibAccess::EspaiColor(d) = DIB_CS_CMYK;
    TDibAccess::Canals(d) = 6;
    ASSERT_EQ(d.AdaptarPerMostrar(), DIB_OK);
    unsigned char line[6] = {};
    ASSERT_EQ(d.GetLinia(0, line, 6), DIB_OK);
    const unsigned char want[6] = {0, 0, 255, 255, 255, 0}; // red, then cyan (blue, green)
    EXPECT_EQ(std::memcmp(line, want, 6), 0);
}

TEST(AdaptarPerMostrar, PhotoshopCompositesKeepTheirColours)
{
    const std::vector<unsigned char> bgrx = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                             13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
    TDib d;
    CmykImage(d, bgrx, false);
    ASSERT_EQ(d.AdaptarPerMostrar(76), DIB_OK);
    unsigned char line[9] = {};
    ASSERT_EQ(d.GetLinia(1, line, 9), DIB_OK);
    const unsigned char want[9] = {13, 14, 15, 17, 18, 19, 21, 22, 23};
    EXPECT_EQ(std::memcmp(line, want, 9), 0);
}

TEST(AdaptarPerMostrar, WhatItLeavesAndWhatItRefuses)
{
    TDib rgb;
    ASSERT_EQ(rgb.Crear(4, 4, 32), DIB_OK);
    TDibAccess::EspaiColor(rgb) = DIB_CS_RGB;
    rgb.SetPixel(1, 1, 0x123456ul);
    EXPECT_EQ(rgb.AdaptarPerMostrar(), DIB_OK);
    EXPECT_EQ(rgb.GetBitsPerPixel(), 32);
    EXPECT_EQ(rgb.GetPixel(1, 1), 0x123456ul);

    TDib spots;
    ASSERT_EQ(spots.Crear(4, 4, 48), DIB_OK); // channels of no known model
    TDibAccess::EspaiColor(spots) = DIB_CS_MULTICHANNEL;
    EXPECT_EQ(spots.AdaptarPerMostrar(), DIB_ERR_UNSUPPORTED);
    EXPECT_EQ(spots.GetBitsPerPixel(), 48);

    TDib cmyk24;
    ASSERT_EQ(cmyk24.Crear(4, 4, 24), DIB_OK);
    TDibAccess::EspaiColor(cmyk24) = DIB_CS_CMYK;
    EXPECT_EQ(cmyk24.AdaptarPerMostrar(), DIB_ERR_UNSUPPORTED);

    TDib empty;
    EXPECT_EQ(empty.AdaptarPerMostrar(), DIB_ERR_INVALID);
}

} // namespace
