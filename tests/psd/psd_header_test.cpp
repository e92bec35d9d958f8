// CPSDTools: file header, colour mode data, layer section, lifecycle and ownership.

#include "psd_test_util.h"

#include <cstring>

using namespace psdtest;

namespace {

Doc Rgb1x1(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    Doc d;
    d.data = {r, g, b};
    return d;
}

struct HeaderCase {
    const char* what;
    int offset; // byte to change (-1: none)
    std::uint8_t value;
    int status;
};

class HeaderCheck : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderCheck, LoadAndLoadHeadersAgree)
{
    const HeaderCase& c = GetParam();
    Bytes bytes = Rgb1x1(1, 2, 3).Build();
    if (c.offset >= 0)
        bytes[std::size_t(c.offset)] = c.value;
    Files files;
    const std::wstring path = files.Write(bytes);
    CPSDTools a, b;
    EXPECT_EQ(a.Load(path.c_str()), c.status) << c.what;
    EXPECT_EQ(b.LoadHeaders(path.c_str()), c.status) << c.what;
    int w, h;
    a.Dimensions(w, h);
    EXPECT_EQ(w, c.status == 0 ? 1 : -1) << "a rejected header leaves the members as they were";
}

INSTANTIATE_TEST_SUITE_P(
    Psd, HeaderCheck,
    ::testing::Values(HeaderCase{"valid", -1, 0, 0}, HeaderCase{"fourth byte T", 3, 'T', -2},
                      HeaderCase{"zero in signature", 1, 0, -2},
                      HeaderCase{"version 2 accepted", 5, 2, 0}, HeaderCase{"version 3", 5, 3, -2},
                      HeaderCase{"version 0", 5, 0, -2}, HeaderCase{"reserved byte", 11, 1, -2},
                      HeaderCase{"reserved byte first", 6, 0x80, -2}),
    [](const auto& info) {
        std::string n = info.param.what;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

TEST(PsdHeader, ShortAndMissingFiles)
{
    Files files;
    Bytes bytes = Rgb1x1(1, 2, 3).Build();
    bytes.resize(25);
    const std::wstring shortPath = files.Write(bytes);
    CPSDTools psd;
    EXPECT_EQ(psd.Load(shortPath.c_str()), -2);
    EXPECT_EQ(psd.LoadHeaders(shortPath.c_str()), -2);
    const std::wstring missing = files.Path("none.psd").wstring();
    EXPECT_EQ(psd.Load(missing.c_str()), -1);
    EXPECT_EQ(psd.LoadHeaders(missing.c_str()), -1);
    EXPECT_EQ(psd.Load(nullptr), -1);
    EXPECT_EQ(CPSDTools::_GetEmbededICC(missing.c_str(), nullptr), 0u);
}

TEST(PsdHeader, ColourModeData)
{
    Files files;
    Doc d = Rgb1x1(1, 2, 3);
    CPSDTools empty;
    ASSERT_EQ(empty.LoadHeaders(files.Write(d.Build()).c_str()), 0);

    d.colourModeData.assign(768, 7);
    CPSDTools full;
    ASSERT_EQ(full.Load(files.Write(d.Build()).c_str()), 0);
    EXPECT_NE(full.Detach(), nullptr);
    DeleteObject(full.Detach());

    // A length running past the end of the file is refused before anything is allocated.
    Bytes bytes = Rgb1x1(1, 2, 3).Build();
    bytes.resize(26);
    Put32(bytes, 0x7FFFFFF0);
    bytes.insert(bytes.end(), 10, 0);
    CPSDTools huge;
    EXPECT_EQ(huge.Load(files.Write(bytes).c_str()), -3);
    // A length of 2^31 reads as negative: an empty section.
    bytes.resize(26);
    Put32(bytes, 0x80000000u);
    CPSDTools negative;
    EXPECT_EQ(negative.LoadHeaders(files.Write(bytes).c_str()), 0);
}

TEST(PsdHeader, LayerSectionIsSkippedOrRunsOut)
{
    Files files;
    Doc d = Rgb1x1(10, 20, 30);
    d.layers.assign(9, 0xAA);
    CPSDTools psd;
    ASSERT_EQ(psd.Load(files.Write(d.Build()).c_str()), 0);
    HBITMAP bitmap = psd.Detach();
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(Read(bitmap).At(0, 0), RGB(10, 20, 30));
    DeleteObject(bitmap);

    // A layer length past the end of the file: the image data finds the end, no bitmap.
    Bytes bytes = Rgb1x1(1, 2, 3).Build();
    bytes.resize(26 + 4 + 4);
    Put32(bytes, 0xFFFFFFF0u);
    bytes.insert(bytes.end(), 20, 1);
    CPSDTools cut;
    EXPECT_EQ(cut.Load(files.Write(bytes).c_str()), 0);
    EXPECT_EQ(cut.Detach(), nullptr);

    // The file ends with the layer section: no image data, no bitmap.
    d.withCompression = false;
    d.data.clear();
    CPSDTools none;
    EXPECT_EQ(none.Load(files.Write(d.Build()).c_str()), 0);
    EXPECT_EQ(none.Detach(), nullptr);
}

TEST(PsdHeader, DetachHandsTheBitmapOver)
{
    Files files;
    const std::wstring path = files.Write(Rgb1x1(1, 2, 3).Build());
    CPSDTools psd;
    ASSERT_EQ(psd.Load(path.c_str()), 0);
    HBITMAP bitmap = psd.Detach();
    ASSERT_NE(bitmap, nullptr);
    psd.DeleteContents();
    EXPECT_EQ(GetObjectType(bitmap), OBJ_BITMAP) << "DeleteContents leaves a detached bitmap";
    EXPECT_EQ(psd.Detach(), nullptr);
    EXPECT_TRUE(DeleteObject(bitmap));

    // A second load without DeleteContents releases the first picture (checked for leaks).
    ASSERT_EQ(psd.Load(path.c_str()), 0);
    ASSERT_EQ(psd.Load(path.c_str()), 0);
}

TEST(PsdHeader, AssignmentCopiesOnlyTheMetadataItNames)
{
    Files files;
    Doc src = Rgb1x1(1, 2, 3);
    Bytes thumb(28 + 5, 0);
    thumb[28] = 'J';
    Bytes display(14, 0);
    display[0] = 0x00;
    display[1] = 0x02;
    Append(src.resources, Block(1036, thumb));
    Append(src.resources, Block(1007, display));
    Append(src.resources, Block(1039, {1, 2, 3, 4}));
    CPSDTools source;
    ASSERT_EQ(source.Load(files.Write(src.Build(), "a.psd").c_str()), 0);
    Bytes names = Block(1006, {2, 'N', '1'});
    ASSERT_TRUE(source.ReadImageResource(names.data(), names.size()));

    Doc dst = Rgb1x1(9, 9, 9);
    dst.width = 2;
    dst.data = {9, 9, 9, 9, 9, 9};
    Append(dst.resources, Block(1039, {7, 7}));
    CPSDTools target;
    ASSERT_EQ(target.Load(files.Write(dst.Build(), "b.psd").c_str()), 0);
    target = source;
    target = target; // self-assignment does nothing

    EXPECT_TRUE(target.ThumbNailIncluded());
    ASSERT_EQ(target.AlphaChannelNames().GetCount(), 1);
    EXPECT_EQ(target.AlphaChannelNames().GetHead().str(), L"N1");
    int w, h;
    target.Dimensions(w, h);
    EXPECT_EQ(w, 2) << "the header is not copied";
    int size = 0;
    const unsigned char* icc = target.ICCProfile(size);
    ASSERT_EQ(size, 2) << "the ICC profile is not copied";
    EXPECT_EQ(icc[0], 7);
    HBITMAP bitmap = target.Detach();
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(Read(bitmap).width, 2) << "the bitmap is not copied";
    DeleteObject(bitmap);
}

TEST(PsdHeader, ImageResourceNameIsNeverSharedByCopyOrMove)
{
    CPSDTools::IMAGE_RESOURCE a;
    const unsigned char name[] = {'a', 'b', 'c'};
    a.SetName(name, 3);
    a.identifier = 1005;
    a.size = 16;

    CPSDTools::IMAGE_RESOURCE copy(a);
    ASSERT_NE(copy.name, nullptr);
    EXPECT_NE(copy.name, a.name);
    EXPECT_EQ(std::memcmp(copy.name, name, 3), 0);
    EXPECT_EQ(copy.identifier, 1005);
    EXPECT_EQ(copy.size, 16);

    CPSDTools::IMAGE_RESOURCE assigned;
    assigned = a;
    EXPECT_NE(assigned.name, a.name);
    EXPECT_EQ(assigned.NameLength(), 3);

    unsigned char* owned = a.name;
    CPSDTools::IMAGE_RESOURCE moved(std::move(a));
    EXPECT_EQ(moved.name, owned);
    EXPECT_EQ(a.name, nullptr); // NOLINT(bugprone-use-after-move): the contract under test
    CPSDTools::IMAGE_RESOURCE target;
    target.SetName(name, 1);
    target = std::move(moved);
    EXPECT_EQ(target.name, owned);
    EXPECT_EQ(moved.name, nullptr); // NOLINT(bugprone-use-after-move)

    target.Reset();
    EXPECT_EQ(target.name, nullptr);
    EXPECT_EQ(target.identifier, 0xFFFF);
    EXPECT_EQ(target.length, -1);
    EXPECT_EQ(target.size, -1);
}

} // namespace
