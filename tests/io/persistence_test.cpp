// Persistence records: the serializer record's byte layout and embedded format by version, the
// stream record's magic and length, round trips, and hostile records.
#include "io_test_util.h"
#include "support/support.h"

#include <base/serializer.h>
#include <cstdio>
#include <dib/internal/dib_access.h>
#include <filesystem>
#include <gtest/gtest.h>

using namespace iotest;
using dib::TDibAccess;

namespace {

std::uint32_t Le32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

void Fill(TDib& image, int w, int h, int bits)
{
    ASSERT_EQ(image.Crear(w, h, bits), 0);
    Bytes row(std::size_t(image.GetBytesPerLinia()));
    for (int y = 0; y < h; ++y) {
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i] = std::uint8_t(i * 7 + y * 13);
        ASSERT_EQ(image.SetLinia(y, row.data(), row.size()), 0);
    }
}

// The image record written by Escriure, after an optional version record.
struct Written {
    Bytes stream;
    std::uint32_t kind = 0, size = 0;
    const std::uint8_t* payload = nullptr;
};

int Write(const TDib& image, const t_VERSIOSER* version, Written& out)
{
    TSerializer s;
    EXPECT_EQ(s.CrearMemoria(), 1);
    if (version) {
        EXPECT_EQ(s.WriteVersion(*version), 0);
    }
    const int r = image.Escriure(&s, version, nullptr);
    EXPECT_EQ(s.Tancar(), 1);
    out.stream = s.GetMemoria();
    // Stream header, then the version record when there is one, then the image record.
    const std::size_t at = 8 + (version ? 12 + 8 : 0);
    if (r == 0 && out.stream.size() >= at + 12) {
        out.kind = Le32(&out.stream[at]);
        out.size = Le32(&out.stream[at + 4]);
        out.payload = &out.stream[at + 12];
    }
    return r;
}

// Reads the image record of a stream back into image.
int Read(const Bytes& stream, TDib& image)
{
    TSerializer s;
    if (s.ObrirMemoria(stream.data(), stream.size()) != 1)
        return -100;
    SER_RECORDHEADER header;
    while (s.ReadHeader(header) == 1) {
        if (header.tipus == SER_KIND_VERSIO) {
            t_VERSIOSER v;
            s.ReadVersion(header, v);
            continue;
        }
        return image.Llegir(&s, header, nullptr);
    }
    return -101;
}

class TmpDirScope {
public:
    explicit TmpDirScope(const std::filesystem::path& dir)
    {
        if (const char* old = std::getenv("TMPDIR"))
            old_ = old, had_ = true;
        setenv("TMPDIR", dir.c_str(), 1);
    }
    ~TmpDirScope()
    {
        if (had_)
            setenv("TMPDIR", old_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }

private:
    std::string old_;
    bool had_ = false;
};

} // namespace

TEST(SerializerRecord, PayloadLayoutAndOwnTiffForOldVersions)
{
    TDib image;
    Fill(image, 5, 3, 48);
    const t_VERSIOSER v1{1, 0};
    Written w;
    ASSERT_EQ(Write(image, &v1, w), 0) << DibGetLastErrorText();
    ASSERT_NE(w.payload, nullptr);
    EXPECT_EQ(w.kind, 6u);
    EXPECT_EQ(Le32(w.payload), 5u);
    EXPECT_EQ(Le32(w.payload + 4), 3u);
    EXPECT_EQ(Le32(w.payload + 8), 48u);
    EXPECT_EQ(w.payload[12] | w.payload[13] << 8, RK_FORMAT_TIFF);
    const std::uint32_t length = Le32(w.payload + 14);
    EXPECT_EQ(length + 18, w.size);
    EXPECT_TRUE((w.payload[18] == 'I' && w.payload[19] == 'I') ||
                (w.payload[18] == 'M' && w.payload[19] == 'M'));
    if (!KernelReads(RK_FORMAT_TIFF))
        GTEST_SKIP() << "reading format 3 back needs the kernel's TIFF reader";
    TDib back;
    ASSERT_EQ(Read(w.stream, back), 0);
    EXPECT_EQ(back.GetMidaX(), 5);
    EXPECT_EQ(TDibAccess::CanalAlpha(back), -1);
}

TEST(SerializerRecord, FormatAndAlphaFlagByVersion)
{
    if (!KernelWrites(RK_FORMAT_TIFF_PACKBITS) || !KernelWrites(RK_FORMAT_BMP) ||
        !KernelWrites(RK_FORMAT_TIFF_CMYK))
        GTEST_SKIP() << "the kernel's file module does not write BMP and TIFF yet";
    TDib rgba;
    Fill(rgba, 6, 4, 32);
    TDibAccess::CanalAlpha(rgba) = 3;
    TDib rgb;
    Fill(rgb, 6, 4, 24);
    const t_VERSIOSER v2{2, 0}, v3{3, 0}, v4{4, 0};
    struct {
        const TDib* image;
        const t_VERSIOSER* version;
        int stored;
        int alphaAfter;
    } cases[] = {{&rgb, nullptr, 87, -1}, {&rgb, &v2, 6, -1},   {&rgba, &v2, 85, -1},
                 {&rgba, &v4, 0x8057, 3}, {&rgba, &v3, 87, -1}, {&rgba, nullptr, 0x8057, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        Written w;
        ASSERT_EQ(Write(*c.image, c.version, w), 0);
        EXPECT_EQ(w.payload[12] | w.payload[13] << 8, c.stored);
        TDib back;
        ASSERT_EQ(Read(w.stream, back), 0) << DibGetLastErrorText();
        EXPECT_EQ(back.GetMidaX(), 6);
        EXPECT_EQ(back.GetBitsPerPixel(), c.image->GetBitsPerPixel());
        EXPECT_EQ(TDibAccess::CanalAlpha(back), c.alphaAfter);
        if (c.image == &rgb) {
            for (int y = 0; y < 4; ++y)
                EXPECT_EQ(Row(back, y), Row(rgb, y));
        }
    }
}

TEST(SerializerRecord, HostileRecords)
{
    struct Case {
        const char* what;
        Bytes payload;
        int status;
    };
    Bytes header18(18, 0);
    Bytes longer = header18;
    longer[14] = 0xE8; // 1000 bytes announced, none present
    longer[15] = 0x03;
    Bytes junk = header18;
    junk[14] = 8;
    junk.insert(junk.end(), {1, 2, 3, 4, 5, 6, 7, 8});
    Bytes huge = header18;
    huge[14] = huge[15] = huge[16] = huge[17] = 0xFF;
    const Case cases[] = {{"shorter than its header", Bytes(10, 0), DIB_ERR_READ},
                          {"file past the record", longer, DIB_ERR_READ},
                          {"length of 4 GiB", huge, DIB_ERR_READ},
                          {"unrecognised file", junk, DIB_ERR_INVALID}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TSerializer s;
        ASSERT_EQ(s.CrearMemoria(), 1);
        ASSERT_EQ(s.WriteRecord(c.payload.data(), std::uint32_t(c.payload.size()), 6), 0);
        s.Tancar();
        TDib image;
        ASSERT_EQ(image.Crear(2, 2, 8), 0);
        EXPECT_EQ(Read(s.GetMemoria(), image), c.status);
    }
}

TEST(StreamRecord, MagicLengthAndHostileStreams)
{
    dibtest::TempDir dir;
    TmpDirScope scope(dir.path());
    struct Case {
        const char* what;
        Bytes bytes;
        int status;
    };
    const Bytes magic = {0x33, 0xE1, 0x93, 0xAD};
    Bytes shortLength = magic;
    shortLength.insert(shortLength.end(), {1, 0, 0});
    Bytes promised = magic;
    promised.insert(promised.end(), {0xE8, 0x03, 0, 0, 0, 0, 0, 0, 'P', 'C', 'X'});
    Bytes negative = magic;
    negative.insert(negative.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1});
    const Case cases[] = {{"empty", {}, DIB_ERR_READ},
                          {"wrong magic", {0x33, 0xE1, 0x93, 0xAE, 0, 0, 0, 0}, DIB_ERR_BAD_MAGIC},
                          {"length cut short", shortLength, DIB_ERR_READ},
                          {"file shorter than its length", promised, 1},
                          {"negative length", negative, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = (dir.path() / "stream.bin").string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(c.bytes.data()), std::streamsize(c.bytes.size()));
        FILE* f = std::fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        TDib image;
        const int r = image.Llegir(f);
        std::fclose(f);
        std::filesystem::remove(path);
        if (c.status == 1)
            EXPECT_LT(r, DIB_STATUS_KERNEL_BASE + 1) << "the kernel's load failure";
        else
            EXPECT_EQ(r, c.status);
        EXPECT_EQ(std::filesystem::is_empty(dir.path()), true) << "temporary file removed";
    }
    EXPECT_EQ(TDib().Llegir(static_cast<FILE*>(nullptr)), DIB_ERR_INVALID);
}

TEST(StreamRecord, RoundTripThroughPcx)
{
    dibtest::TempDir dir;
    TDib image;
    Fill(image, 6, 4, 24);
    const std::string path = (dir.path() / "record.bin").string();
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const int r = image.Guardar(f);
    std::fclose(f);
    if (!KernelWrites(RK_FORMAT_PCX) || !KernelReads(RK_FORMAT_PCX)) {
        EXPECT_LT(r, 0);
        GTEST_SKIP() << "the kernel's file module does not write PCX yet";
    }
    ASSERT_EQ(r, 0);
    const Bytes bytes = ReadAll(path);
    ASSERT_GT(bytes.size(), 12u);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 4), Bytes({0x33, 0xE1, 0x93, 0xAD}));
    std::uint64_t length = 0;
    for (int i = 7; i >= 0; --i)
        length = length << 8 | bytes[std::size_t(4 + i)];
    EXPECT_EQ(length, bytes.size() - 12);
    EXPECT_EQ(bytes[12], 0x0A) << "a PCX file";
    f = std::fopen(path.c_str(), "rb");
    TDib back;
    ASSERT_EQ(back.Llegir(f), 0);
    std::fclose(f);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(Row(back, y), Row(image, y));
}
