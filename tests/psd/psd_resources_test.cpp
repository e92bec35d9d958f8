// Image resources: the file form, the buffer form and the ICC scan, on blocks built byte by byte.

#include "psd_test_util.h"

#include <chrono>

using namespace psdtest;

namespace {

Doc WithResources(const Bytes& blocks)
{
    Doc d;
    d.resources = blocks;
    d.data = {1, 2, 3};
    return d;
}

Bytes Angle(std::int32_t a)
{
    Bytes b;
    Put32(b, std::uint32_t(a));
    return b;
}

class Probe : public CPSDTools {
public:
    using CPSDTools::seof;
    using CPSDTools::sread;
};

TEST(PsdResources, EmptySectionLeavesDefaults)
{
    Files files;
    CPSDTools psd;
    ASSERT_EQ(psd.Load(files.Write(WithResources({}).Build()).c_str()), 0);
    EXPECT_EQ(psd.GlobalAngle(), 30);
    double x, y;
    psd.DPI(x, y);
    EXPECT_EQ(x, -1);
    EXPECT_EQ(y, -1);
}

// Each case puts one block before a global-angle block: the angle is read only when the first
// block's name padding and data size were walked exactly.
struct WalkCase {
    const char* what;
    Bytes first;
};

class BlockWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(BlockWalk, NextBlockIsFound)
{
    Bytes blocks = GetParam().first;
    Append(blocks, Block(1037, Angle(120)));
    Files files;
    CPSDTools file;
    ASSERT_EQ(file.LoadHeaders(files.Write(WithResources(blocks).Build()).c_str()), 0);
    EXPECT_EQ(file.GlobalAngle(), 120) << GetParam().what;
    CPSDTools memory;
    EXPECT_TRUE(memory.ReadImageResource(blocks.data(), blocks.size()));
    EXPECT_EQ(memory.GlobalAngle(), 120) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(Psd, BlockWalk,
                         ::testing::Values(WalkCase{"name3", Block(2000, {1, 2}, "abc")},
                                           WalkCase{"name0", Block(2000, {1, 2}, "")},
                                           WalkCase{"name4", Block(2000, {1, 2}, "abcd")},
                                           WalkCase{"size5", Block(2000, {1, 2, 3, 4, 5})},
                                           WalkCase{"size0", Block(2000, {})},
                                           WalkCase{"copyright5", Block(1034, {1, 0, 0, 0, 0})},
                                           WalkCase{"short1005", Block(1005, {0, 1})},
                                           WalkCase{"garbage4", Bytes{'x', 'y', 'z', 'w'}}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(PsdResources, InterpretedValues)
{
    Bytes thumb(28 + 3, 0);
    thumb[3] = 1; // format
    Bytes blocks = Block(1005, Resolution(300, 72));
    Append(blocks, Block(1034, {1, 0}));
    Append(blocks, Block(1033, thumb));
    Files files;
    CPSDTools psd;
    ASSERT_EQ(psd.Load(files.Write(WithResources(blocks).Build()).c_str()), 0);
    double x, y;
    psd.DPI(x, y);
    EXPECT_EQ(x, 300);
    EXPECT_EQ(y, 72);
    EXPECT_TRUE(psd.IsCopyright());
    EXPECT_TRUE(psd.ThumbNailIncluded());
    HBITMAP bitmap = psd.Detach();
    EXPECT_EQ(Read(bitmap).xppm, 11811);
    EXPECT_EQ(Read(bitmap).yppm, 2834);
    DeleteObject(bitmap);

    CPSDTools off;
    ASSERT_EQ(off.LoadHeaders(files.Write(WithResources(Block(1034, {0, 0})).Build()).c_str()), 0);
    EXPECT_FALSE(off.IsCopyright());
}

TEST(PsdResources, DisplayInfoFileFormKeepsFirstBufferFormListsAll)
{
    Bytes records;
    for (unsigned space : {2u, 3u}) {
        Put16(records, space);
        for (int i = 0; i < 4; ++i)
            Put16(records, 0x1000u * unsigned(i));
        Put16(records, 100);
        records.push_back(5); // kind: non-zero reads as 1
        records.push_back(0);
    }
    const Bytes blocks = Block(1007, records);
    Files files;
    CPSDTools file;
    ASSERT_EQ(file.LoadHeaders(files.Write(WithResources(blocks).Build()).c_str()), 0);
    EXPECT_EQ(file.DisplayInfoList().GetCount(), 0);

    CPSDTools memory;
    Bytes copy = blocks;
    ASSERT_TRUE(memory.ReadImageResource(copy.data(), copy.size()));
    ASSERT_EQ(memory.DisplayInfoList().GetCount(), 2);
    POSITION pos = memory.DisplayInfoList().GetHeadPosition();
    const auto& first = memory.DisplayInfoList().GetNext(pos);
    const auto& second = memory.DisplayInfoList().GetNext(pos);
    EXPECT_EQ(first.colourSpace, 2);
    EXPECT_EQ(second.colourSpace, 3);
    EXPECT_EQ(second.colour[3], 0x3000);
    EXPECT_EQ(second.opacity, 100);
    EXPECT_EQ(second.kind, 1);
}

TEST(PsdResources, BufferFormAlphaNames)
{
    Bytes names = {5, 'A', 'l', 'p', 'h', 'a', 4, 'S', 'p', 'o', 't'};
    names.push_back(200);
    names.insert(names.end(), 200, 'n');
    names.push_back(1);
    names.push_back(0); // a name whose first byte is 0 is not added
    Bytes blocks = Block(1006, names);
    Append(blocks, Block(1006, {3, 'X', 'Y', 'Z', 0, 9, 9})); // a 0 length ends the names
    CPSDTools psd;
    ASSERT_TRUE(psd.ReadImageResource(blocks.data(), blocks.size()));
    const auto& list = psd.AlphaChannelNames();
    ASSERT_EQ(list.GetCount(), 4);
    POSITION pos = list.GetHeadPosition();
    EXPECT_EQ(list.GetNext(pos).str(), L"Alpha");
    EXPECT_EQ(list.GetNext(pos).str(), L"Spot");
    EXPECT_EQ(list.GetNext(pos).GetLength(), 200);
    EXPECT_EQ(list.GetNext(pos).str(), L"XYZ");
    // Reading more adds to the list.
    ASSERT_TRUE(psd.ReadImageResource(blocks.data(), blocks.size()));
    EXPECT_EQ(list.GetCount(), 8);
}

TEST(PsdResources, BufferFormBoundaries)
{
    CPSDTools psd;
    EXPECT_TRUE(psd.ReadImageResource(nullptr, 0));
    Bytes block = Block(1037, Angle(45));
    // Every cut of a block ends the walk (false) without reading past the buffer.
    for (std::size_t cut = 1; cut < block.size(); ++cut) {
        CPSDTools part;
        Bytes bytes(block.begin(), block.begin() + std::ptrdiff_t(cut));
        EXPECT_EQ(part.ReadImageResource(bytes.data(), bytes.size()), cut >= 12) << cut;
        EXPECT_EQ(part.GlobalAngle(), 30) << "a field past the buffer is not read";
    }
    // A data size of 2^31 - 1 (odd) and one past the buffer neither hang nor read out of it.
    Bytes huge = Block(1037, Angle(45), "", 0x7FFFFFFF);
    EXPECT_TRUE(psd.ReadImageResource(huge.data(), huge.size()));
    Bytes big = Block(1037, Angle(45), "", 0x00FFFFFF);
    EXPECT_TRUE(psd.ReadImageResource(big.data(), big.size()));
}

TEST(PsdResources, SreadCopiesWholeElements)
{
    Probe p;
    unsigned char src[7] = {1, 2, 3, 4, 5, 6, 7};
    unsigned char* cursor = src;
    unsigned long remaining = 7;
    int consumed = 0;
    unsigned char out[8] = {};
    EXPECT_EQ(p.sread(out, 2, 3, &cursor, remaining, consumed), 3);
    EXPECT_EQ(remaining, 1u);
    EXPECT_EQ(consumed, 6);
    EXPECT_EQ(out[5], 6);
    EXPECT_EQ(p.sread(out, 2, 1, &cursor, remaining, consumed), 0);
    EXPECT_EQ(cursor, src + 6);
    EXPECT_EQ(p.seof(remaining), 0);
    EXPECT_EQ(p.sread(out, 1, 5, &cursor, remaining, consumed), 1);
    EXPECT_NE(p.seof(remaining), 0);
}

TEST(PsdResources, SectionErrorsAndHostileWalks)
{
    Files files;
    // The section's declared length runs past the end of the file.
    Bytes bytes = WithResources({}).Build();
    bytes.resize(30);
    Put32(bytes, 1000);
    Append(bytes, Block(1037, Angle(5)));
    CPSDTools cut;
    EXPECT_EQ(cut.LoadHeaders(files.Write(bytes).c_str()), -4);
    EXPECT_EQ(cut.Load(files.Write(bytes).c_str()), -4);

    // A walk that never meets "8BIM" again walks 4 bytes at a time to the end of the file.
    bytes.resize(30);
    Put32(bytes, 0x7FFFFFF0);
    bytes.insert(bytes.end(), 1 << 20, 'q');
    const auto start = std::chrono::steady_clock::now();
    CPSDTools walk;
    EXPECT_EQ(walk.LoadHeaders(files.Write(bytes).c_str()), -4);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));

    // Block data sizes of 2^31 - 1, 2^32 - 2 and 2^31 - 16 neither hang nor allocate.
    for (std::uint32_t size : {0x7FFFFFFFu, 0xFFFFFFFEu, 0x7FFFFFF0u}) {
        Bytes blocks = Block(1039, {1, 2}, "", size);
        Append(blocks, Block(1037, Angle(5)));
        CPSDTools psd;
        const std::wstring path = files.Write(WithResources(blocks).Build());
        psd.Load(path.c_str());
        EXPECT_EQ(CPSDTools::_GetEmbededICC(path.c_str(), nullptr),
                  size == 0x7FFFFFF0u ? 0x7FFFFFF0u : 0u);
        std::vector<unsigned char> small(16);
        EXPECT_EQ(CPSDTools::_GetEmbededICC(path.c_str(), small.data()), 0u)
            << "a profile the file cannot hold is not read";
    }
}

TEST(PsdResources, EmbeddedProfile)
{
    Files files;
    const Bytes profile = {'p', 'r', 'o', 'f', '!'}; // odd: one pad byte comes with it
    Bytes blocks = Block(1037, Angle(1));
    Append(blocks, Block(1039, profile, "icc"));
    const std::wstring path = files.Write(WithResources(blocks).Build());
    EXPECT_EQ(CPSDTools::_GetEmbededICC(path.c_str(), nullptr), 6u);
    unsigned char buffer[6] = {};
    EXPECT_EQ(CPSDTools::_GetEmbededICC(path.c_str(), buffer), 6u);
    EXPECT_EQ(std::string(buffer, buffer + 5), "prof!");

    CPSDTools psd;
    ASSERT_EQ(psd.LoadHeaders(path.c_str()), 0);
    int size = 0;
    ASSERT_NE(psd.ICCProfile(size), nullptr);
    EXPECT_EQ(size, 6);

    const std::wstring plain = files.Write(WithResources(Block(1037, Angle(1))).Build(), "p.psd");
    EXPECT_EQ(CPSDTools::_GetEmbededICC(plain.c_str(), nullptr), 0u);
    const std::wstring tiff = files.Write({'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0}, "t.tif");
    EXPECT_EQ(CPSDTools::_GetEmbededICC(tiff.c_str(), nullptr), 0u);
}

} // namespace
