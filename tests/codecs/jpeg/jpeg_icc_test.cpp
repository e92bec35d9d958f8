// ICC profiles in APP2 markers: joined from files PIL and ImageMagick wrote, split by the
// writer and read back by PIL and ImageMagick.
#include <codec/jpeg_support.h>
#include <codecs/jpeg/jpeg_icc.h>
#include <codecs/jpeg/jpeg_reader.h>
#include <core/byte_source.h>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <support/support.h>
#include <sys/wait.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes ReadFile(const std::string& name)
{
    std::ifstream in(std::string(DIB_JPEG_DATA_DIR) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct Segment {
    std::size_t offset, length; // length includes the two marker bytes
    int marker;
};

// Every marker segment before the scan.
std::vector<Segment> Segments(const Bytes& data)
{
    std::vector<Segment> out;
    std::size_t i = 2;
    while (i + 4 <= data.size() && data[i] == 0xFF) {
        const std::size_t length = (std::size_t(data[i + 2]) << 8 | data[i + 3]) + 2;
        out.push_back({i, length, data[i + 1]});
        if (data[i + 1] == 0xDA)
            break;
        i += length;
    }
    return out;
}

std::vector<Segment> IccSegments(const Bytes& data)
{
    std::vector<Segment> out;
    for (const Segment& s : Segments(data))
        if (s.marker == 0xE2 && std::memcmp(&data[s.offset + 4], "ICC_PROFILE", 12) == 0)
            out.push_back(s);
    return out;
}

// The profile as jpeg::EmbeddedIcc joins it; empty when it fails.
Bytes Embedded(const Bytes& file, bool* ok = nullptr)
{
    auto source = core::MemorySource(file.data(), file.size());
    unsigned char* profile = reinterpret_cast<unsigned char*>(1);
    unsigned int length = 7;
    const bool read = jpeg::EmbeddedIcc(*source, &profile, &length);
    if (ok)
        *ok = read;
    if (!read) {
        EXPECT_EQ(profile, nullptr);
        EXPECT_EQ(length, 0u);
        return {};
    }
    Bytes out(profile, profile + length);
    std::free(profile);
    return out;
}

TEST(JpegIcc, JoinsProfilesOtherToolsWrote)
{
    const Bytes big = ReadFile("big.icc");
    const Bytes small = ReadFile("small.icc");
    ASSERT_EQ(big.size(), 70000u);
    const Bytes split = ReadFile("icc-split.jpg");
    const std::vector<Segment> app2 = IccSegments(split);
    ASSERT_EQ(app2.size(), 2u);
    ASSERT_EQ(app2[0].offset + app2[0].length, app2[1].offset);
    const std::size_t end = app2[1].offset + app2[1].length;
    auto part = [&](std::size_t from, std::size_t to) {
        return Bytes(split.begin() + long(from), split.begin() + long(to));
    };
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& p : parts)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const Bytes head = part(0, app2[0].offset);
    const Bytes first = part(app2[0].offset, app2[1].offset);
    const Bytes second = part(app2[1].offset, end);
    const Bytes tail = part(end, split.size());
    Bytes duplicate = second;
    duplicate[16] = 1; // sequence number 1 twice
    Bytes countMismatch = second;
    countMismatch[17] = 3;
    Bytes outOfRange = second;
    outOfRange[16] = 3;
    Bytes zero = second;
    zero[16] = 0;
    Bytes notIcc = first;
    notIcc[4] = 'X'; // an APP2 of another kind: ignored, so sequence 1 goes missing

    struct Case {
        const char* what;
        Bytes file;
        const Bytes* expected; // null: no profile
    };
    const Case cases[] = {
        {"split by PIL", split, &big},
        {"markers in reverse order", join({head, second, first, tail}), &big},
        {"written by ImageMagick", ReadFile("icc-im.jpg"), &small},
        {"no profile", ReadFile("rgb420.jpg"), nullptr},
        {"duplicate sequence number", join({head, first, duplicate, tail}), nullptr},
        {"marker counts differ", join({head, first, countMismatch, tail}), nullptr},
        {"sequence number above the count", join({head, first, outOfRange, tail}), nullptr},
        {"sequence number 0", join({head, first, zero, tail}), nullptr},
        {"second marker missing", join({head, first, tail}), nullptr},
        {"first marker not an ICC one", join({head, notIcc, second, tail}), nullptr},
        {"cut inside the first marker", part(0, app2[0].offset + 30000), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool ok = false;
        const Bytes got = Embedded(c.file, &ok);
        EXPECT_EQ(ok, c.expected != nullptr);
        if (c.expected) {
            EXPECT_TRUE(got == *c.expected) << got.size() << " bytes";
        }
    }
}

// A marker list built by hand, as libjpeg keeps it.
struct MarkerList {
    std::vector<Bytes> data;
    std::vector<jpeg_marker_struct> markers;
    jpeg_decompress_struct cinfo{};

    void Add(Bytes d) { data.push_back(std::move(d)); }
    j_decompress_ptr Build(const std::vector<int>& codes)
    {
        markers.resize(data.size());
        for (std::size_t i = 0; i < data.size(); ++i) {
            markers[i].next = i + 1 < data.size() ? &markers[i + 1] : nullptr;
            markers[i].marker = std::uint8_t(codes[i]);
            markers[i].original_length = unsigned(data[i].size());
            markers[i].data_length = unsigned(data[i].size());
            markers[i].data = data[i].data();
        }
        cinfo.marker_list = markers.empty() ? nullptr : &markers[0];
        return &cinfo;
    }
};

Bytes IccData(int sequence, int count, Bytes payload)
{
    Bytes d(reinterpret_cast<const unsigned char*>("ICC_PROFILE"),
            reinterpret_cast<const unsigned char*>("ICC_PROFILE") + 12);
    d.push_back(std::uint8_t(sequence));
    d.push_back(std::uint8_t(count));
    d.insert(d.end(), payload.begin(), payload.end());
    return d;
}

TEST(JpegIcc, JoinRules)
{
    struct Case {
        const char* what;
        std::vector<std::pair<int, Bytes>> markers; // code, data
        Bytes expected;                             // empty: fails
    };
    const int app2 = JPEG_APP0 + 2;
    const Case cases[] = {
        {"one marker", {{app2, IccData(1, 1, {1, 2, 3})}}, {1, 2, 3}},
        {"three out of order",
         {{app2, IccData(3, 3, {7})}, {app2, IccData(1, 3, {1, 2})}, {app2, IccData(2, 3, {4})}},
         {1, 2, 4, 7}},
        {"other markers ignored",
         {{JPEG_APP0 + 1, IccData(2, 2, {9})},
          {app2, Bytes{'I', 'C', 'C'}},
          {app2, IccData(1, 1, {5})}},
         {5}},
        {"empty total", {{app2, IccData(1, 1, {})}}, {}},
        {"an empty piece is fine", {{app2, IccData(1, 2, {})}, {app2, IccData(2, 2, {6})}}, {6}},
        {"count 0", {{app2, IccData(1, 0, {1})}}, {}},
        {"13 bytes",
         {{app2, Bytes{'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 1}}},
         {}},
        {"no markers", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MarkerList list;
        std::vector<int> codes;
        for (const auto& [code, data] : c.markers) {
            list.Add(data);
            codes.push_back(code);
        }
        JOCTET* profile = reinterpret_cast<JOCTET*>(1);
        unsigned int length = 9;
        const bool ok = _readICCJPEG(list.Build(codes), &profile, &length);
        EXPECT_EQ(ok, !c.expected.empty());
        if (ok) {
            EXPECT_EQ(Bytes(profile, profile + length), c.expected);
            std::free(profile);
        } else {
            EXPECT_EQ(profile, nullptr);
            EXPECT_EQ(length, 0u);
        }
    }
    EXPECT_FALSE(_readICCJPEG(nullptr, nullptr, nullptr));
}

// ---- writing ------------------------------------------------------------------------------------

struct Compressed {
    unsigned char* data = nullptr;
    unsigned long size = 0;
    ~Compressed() { std::free(data); }
};

// Compresses a 16 x 8 grey image with profile written after the start. The frame holds no
// object with a destructor: libjpeg may jump out of it.
bool CompressWithProfile(Compressed& out, const unsigned char* profile, unsigned length)
{
    codec::JpegErrors errors;
    jpeg_compress_struct cinfo;
    cinfo.err = codec::InitJpegErrors(errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out.data, &out.size);
    cinfo.image_width = 16;
    cinfo.image_height = 8;
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    _writeICCJPEG(&cinfo, profile, length);
    unsigned char row[16];
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x)
            row[x] = static_cast<unsigned char>(x * 16 + y);
        JSAMPROW rows[1] = {row};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

TEST(JpegIcc, WriterSplitsAndOthersReadItBack)
{
    Bytes profile(70000);
    for (std::size_t i = 0; i < profile.size(); ++i)
        profile[i] = static_cast<unsigned char>((i * 7919) >> 3);
    Compressed c;
    ASSERT_TRUE(CompressWithProfile(c, profile.data(), unsigned(profile.size())));
    const Bytes file(c.data, c.data + c.size);

    const std::vector<Segment> app2 = IccSegments(file);
    ASSERT_EQ(app2.size(), 2u);
    EXPECT_EQ(app2[0].length - 18, 65519u);
    EXPECT_EQ(app2[1].length - 18, 4481u);
    EXPECT_EQ(file[app2[0].offset + 16], 1); // sequence numbers
    EXPECT_EQ(file[app2[1].offset + 16], 2);
    EXPECT_EQ(file[app2[0].offset + 17], 2); // count
    EXPECT_EQ(file[app2[1].offset + 17], 2);
    EXPECT_TRUE(Embedded(file) == profile);

    // Independent readers (PIL, ImageMagick) get the same bytes.
    dibtest::TempDir dir;
    const std::string jpg = (dir.path() / "icc.jpg").string();
    const std::string icc = (dir.path() / "icc.icc").string();
    std::ofstream(jpg, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), long(file.size()));
    std::ofstream(icc, std::ios::binary)
        .write(reinterpret_cast<const char*>(profile.data()), long(profile.size()));
    const std::string command =
        std::string(DIB_PYTHON3) + " '" DIB_ICC_CHECKER "' '" + jpg + "' '" + icc + "'";
    const int status = std::system(command.c_str());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "neither PIL nor ImageMagick is installed";
    EXPECT_EQ(status, 0) << command;
}

TEST(JpegIcc, WriterEdgeCases)
{
    struct Case {
        std::size_t length;
        std::size_t markers;
    };
    const Case cases[] = {
        {0, 0}, {1, 1}, {65519, 1}, {65520, 2}, {255u * 65519u, 255}, {255u * 65519u + 1, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.length);
        Bytes profile(k.length, 0x5A);
        Compressed c;
        ASSERT_TRUE(CompressWithProfile(c, profile.data(), unsigned(k.length)));
        const Bytes file(c.data, c.data + c.size);
        EXPECT_EQ(IccSegments(file).size(), k.markers);
        if (k.markers > 0) {
            EXPECT_EQ(Embedded(file).size(), k.length);
        }
    }
}

} // namespace
