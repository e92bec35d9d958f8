// The engine's PNG descriptions and iCCP resource, checked against fixtures made by Pillow.
#include <cstdlib>
#include <cstring>
#include <engine/engine.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string Data(const char* name)
{
    return std::string(DIB_TEST_DATA_DIR) + "/" + name;
}

std::vector<unsigned char> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Describe(const std::string& path)
{
    int page = 0;
    int length = int(path.size());
    char* text = talRE_BuildImageInformation(path.c_str(), 0, &page, &length);
    std::string result = text ? std::string(text, std::size_t(length)) : std::string();
    talRE_FreeString(text);
    return result;
}

struct DescriptionCase {
    const char* file;
    const char* body; // everything between <ImageInfo> and </ImageInfo>
};

TEST(Engine, DescribesPngHeaders)
{
    const DescriptionCase cases[] = {
        {"png/rgb8_dpi.png",
         "<width>7</width><height>5</height><ResolutionX>118.11</ResolutionX>"
         "<ResolutionY>59.06</ResolutionY><ResolutionUnits>pixel/cm</ResolutionUnits>"
         "<Inkset NumChannels=\"3\"/><BitsPerComponent>8</BitsPerComponent><Space>RGB</Space>"},
        {"png/rgba8_icc.png", "<width>7</width><height>5</height><Inkset NumChannels=\"4\"/>"
                              "<BitsPerComponent>8</BitsPerComponent><Space>RGB</Space>"
                              "<AlphaChannel>3</AlphaChannel>"},
        {"png/greya8.png", "<width>7</width><height>5</height><Inkset NumChannels=\"2\"/>"
                           "<BitsPerComponent>8</BitsPerComponent><Space>GRAYSCALE</Space>"
                           "<AlphaChannel>1</AlphaChannel>"},
        {"png/grey16.png", "<width>7</width><height>5</height><Inkset NumChannels=\"1\"/>"
                           "<BitsPerComponent>16</BitsPerComponent><Space>GRAYSCALE</Space>"},
        {"png/palette_trns.png", "<width>7</width><height>5</height><Inkset NumChannels=\"4\"/>"
                                 "<BitsPerComponent>8</BitsPerComponent><Space>RGB</Space>"
                                 "<AlphaChannel>3</AlphaChannel>"},
        {"png/bilevel.png", "<width>7</width><height>5</height><Inkset NumChannels=\"1\"/>"
                            "<BitsPerComponent>8</BitsPerComponent><Space>GRAYSCALE</Space>"},
    };
    for (const auto& c : cases) {
        const std::string xml = Describe(Data(c.file));
        const std::string expected = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                                 "<ImageInfo>") +
                                     c.body + "</ImageInfo>\n";
        EXPECT_EQ(xml, expected) << c.file;
    }
}

TEST(Engine, NothingForOtherFilesAndBadArguments)
{
    int page = 0, length = 5;
    EXPECT_EQ(Describe(Data("tiff/rgb8.tif")), "");
    EXPECT_EQ(Describe(Data("jpeg/grey.jpg")), "");
    EXPECT_EQ(Describe(Data("png/missing.png")), "");
    EXPECT_EQ(Describe(DIB_TEST_DATA_DIR), ""); // a folder
    EXPECT_EQ(talRE_BuildImageInformation(nullptr, 0, &page, &length), nullptr);
    EXPECT_EQ(length, 0);
    const std::string png = Data("png/rgb8_dpi.png");
    EXPECT_EQ(talRE_BuildImageInformation(png.c_str(), 1, &page, &length), nullptr);
    page = 1;
    EXPECT_EQ(talRE_BuildImageInformation(png.c_str(), 0, &page, &length), nullptr);
    talRE_FreeString(nullptr);
}

TEST(Engine, IccProfileResource)
{
    const std::string png = Data("png/rgba8_icc.png");
    const std::vector<unsigned char> icc = ReadAll(Data("jpeg/small.icc"));
    ASSERT_EQ(icc.size(), 588u);
    void* none = nullptr;
    ASSERT_EQ(talRE_GetImageResourcePtr(png.c_str(), "iccProfile", 0, &none, 26214400), 588);
    std::vector<unsigned char> buffer(588);
    void* out = buffer.data();
    ASSERT_EQ(talRE_GetImageResourcePtr(png.c_str(), "iccProfile", 0, &out, 588), 588);
    EXPECT_EQ(buffer, icc);
    // A limit below the profile's size: nothing, and nothing copied.
    std::vector<unsigned char> small(100, 0xAB);
    out = small.data();
    EXPECT_EQ(talRE_GetImageResourcePtr(png.c_str(), "iccProfile", 0, &out, 100), 0);
    EXPECT_EQ(small, std::vector<unsigned char>(100, 0xAB));
    // Files without the resource, other resources, bad arguments.
    none = nullptr;
    EXPECT_EQ(talRE_GetImageResourcePtr(Data("png/rgb8_dpi.png").c_str(), "iccProfile", 0, &none,
                                        26214400),
              0);
    EXPECT_EQ(talRE_GetImageResourcePtr(Data("tiff/rgb8_icc.tif").c_str(), "iccProfile", 0, &none,
                                        26214400),
              0);
    EXPECT_EQ(talRE_GetImageResourcePtr(png.c_str(), "xmp", 0, &none, 26214400), 0);
    EXPECT_EQ(talRE_GetImageResourcePtr(png.c_str(), "iccProfile", 1, &none, 26214400), 0);
    EXPECT_EQ(talRE_GetImageResourcePtr(png.c_str(), "iccProfile", 0, nullptr, 26214400), 0);
}

TEST(Engine, DamagedPngGivesNothing)
{
    const std::vector<unsigned char> whole = ReadAll(Data("png/rgba8_icc.png"));
    const std::string path =
        std::string(std::getenv("DIB_TEST_TMP") ? std::getenv("DIB_TEST_TMP") : "/tmp") +
        "/engine_cut.png";
    // Every cut short of the image data, and a CRC broken in the iCCP chunk.
    for (std::size_t cut :
         {std::size_t(0), std::size_t(8), std::size_t(20), std::size_t(40), std::size_t(200)}) {
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(whole.data()), std::streamsize(cut));
        }
        EXPECT_EQ(Describe(path), "") << cut;
        void* none = nullptr;
        EXPECT_EQ(talRE_GetImageResourcePtr(path.c_str(), "iccProfile", 0, &none, 26214400), 0)
            << cut;
    }
    std::vector<unsigned char> broken = whole;
    broken[60] ^= 0xFF; // inside the iCCP chunk's compressed profile
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(broken.data()), std::streamsize(broken.size()));
    }
    void* none = nullptr;
    EXPECT_EQ(talRE_GetImageResourcePtr(path.c_str(), "iccProfile", 0, &none, 26214400), 0);
    std::remove(path.c_str());
}

} // namespace
