// Record serializer: layout, round trips through memory and files, damaged streams.
#include "base/progress.h"
#include "base/serializer.h"
#include "support/support.h"
#include "win/files.h"

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::uint8_t> Bytes(const std::string& s)
{
    return {s.begin(), s.end()};
}

// A stream with a version record and two records (kinds 6 and 9).
std::vector<std::uint8_t> SampleStream()
{
    TSerializer s;
    EXPECT_EQ(s.CrearMemoria(), 1);
    t_VERSIOSER v;
    v.versio = 4;
    EXPECT_EQ(s.WriteVersion(v), 0);
    const auto a = Bytes("payload of an image");
    EXPECT_EQ(s.WriteRecord(a.data(), static_cast<std::uint32_t>(a.size()), 6), 0);
    EXPECT_EQ(s.WriteRecord(nullptr, 0, 9), 0);
    EXPECT_EQ(s.Tancar(), 1);
    return s.GetMemoria();
}

TEST(Serializer, ByteLayoutIsFixed)
{
    const std::vector<std::uint8_t> m = SampleStream();
    const std::uint8_t expectStart[] = {
        'D', 'I', 'B', 'S', 1,  0, 0, 0,              // stream header
        0,   0,   0,   0,   8,  0, 0, 0, 0, 0, 0, 0,  // version record header
        4,   0,   0,   0,   0,  0, 0, 0,              // version 4
        6,   0,   0,   0,   19, 0, 0, 0, 0, 0, 0, 0}; // kind 6, 19 bytes
    ASSERT_GE(m.size(), sizeof expectStart);
    EXPECT_EQ(std::memcmp(m.data(), expectStart, sizeof expectStart), 0);
    EXPECT_EQ(m.size(), 8u + 12 + 8 + 12 + 19 + 12);
}

void ReadSample(TSerializer& s)
{
    SER_RECORDHEADER h;
    ASSERT_EQ(s.ReadHeader(h), 1);
    EXPECT_EQ(h.tipus, SER_KIND_VERSIO);
    t_VERSIOSER v;
    ASSERT_EQ(s.ReadVersion(h, v), 1);
    EXPECT_EQ(v.versio, 4u);
    ASSERT_NE(s.GetVersio(), nullptr);
    EXPECT_EQ(s.GetVersio()->versio, 4u);

    ASSERT_EQ(s.ReadHeader(h), 1);
    EXPECT_EQ(h.tipus, 6u);
    ASSERT_EQ(h.mida, 19u);
    char small[4];
    EXPECT_EQ(s.ReadRecord(small, sizeof small, nullptr), 0); // too long: stays pending
    std::vector<char> buf(h.mida);
    TIndicadorEstat ie;
    ASSERT_EQ(s.ReadRecord(buf.data(), 0xFFFFFFFF, &ie), 1);
    EXPECT_EQ(std::string(buf.begin(), buf.end()), "payload of an image");
    EXPECT_EQ(ie.GetPosicio(), 1.0);

    ASSERT_EQ(s.ReadHeader(h), 1);
    EXPECT_EQ(h.tipus, 9u);
    EXPECT_EQ(h.mida, 0u);
    EXPECT_EQ(s.ReadRecord(nullptr, 0, nullptr), 1);
    EXPECT_EQ(s.ReadHeader(h), 0); // clean end
}

TEST(Serializer, MemoryRoundTrip)
{
    const std::vector<std::uint8_t> m = SampleStream();
    TSerializer s;
    ASSERT_EQ(s.ObrirMemoria(m.data(), m.size()), 1);
    ReadSample(s);
}

TEST(Serializer, FileRoundTripAndSkipping)
{
    dibtest::TempDir dir;
    const std::wstring path = Utf8ToWide((dir.path() / "flux é.ser").string());
    const std::vector<std::uint8_t> m = SampleStream();
    {
        TSerializer w;
        ASSERT_EQ(w.ObrirFitxer(path.c_str(), 1), 1);
        t_VERSIOSER v;
        v.versio = 4;
        ASSERT_EQ(w.WriteVersion(v), 0);
        const auto a = Bytes("payload of an image");
        ASSERT_EQ(w.WriteRecord(a.data(), 19, 6), 0);
        ASSERT_EQ(w.WriteRecord(nullptr, 0, 9), 0);
        ASSERT_EQ(w.Tancar(), 1);
    }
    TSerializer r;
    ASSERT_EQ(r.ObrirFitxer(path.c_str(), 0), 1);
    ReadSample(r);

    // Headers alone: pending payloads are skipped.
    ASSERT_EQ(r.ObrirFitxer(path.c_str(), 0), 1);
    SER_RECORDHEADER h;
    int kinds = 0;
    while (r.ReadHeader(h) == 1)
        kinds = kinds * 10 + static_cast<int>(h.tipus);
    EXPECT_EQ(kinds, 69);
}

TEST(Serializer, EveryTruncationFailsCleanly)
{
    const std::vector<std::uint8_t> m = SampleStream();
    for (std::size_t cut = 0; cut < m.size(); ++cut) {
        TSerializer s;
        if (s.ObrirMemoria(m.data(), cut) == 0) {
            EXPECT_LT(cut, 8u);
            continue;
        }
        int records = 0, last = 0;
        SER_RECORDHEADER h;
        std::vector<std::uint8_t> buf;
        while ((last = s.ReadHeader(h)) == 1) {
            buf.resize(h.mida);
            if (s.ReadRecord(buf.data(), h.mida, nullptr) != 1)
                break;
            ++records;
        }
        EXPECT_LT(records, 3) << cut;
        // A cut between records is a clean end; anywhere else the stream is corrupt.
        const bool boundary = cut == 8 || cut == 28 || cut == 59;
        EXPECT_EQ(last, boundary ? 0 : -7) << cut;
    }
}

TEST(Serializer, HostileHeadersAreRefused)
{
    std::vector<std::uint8_t> m = SampleStream();
    struct Case {
        std::size_t offset;
        std::uint8_t value;
    } cases[] = {
        {0, 'X'},   // magic
        {4, 2},     // stream format version
        {6, 1},     // flags
        {16, 1},    // reserved field of a record header
        {12, 0xFF}, // payload length beyond the end
        {15, 0xFF},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> bad = m;
        bad[c.offset] = c.value;
        TSerializer s;
        if (s.ObrirMemoria(bad.data(), bad.size()) == 0) {
            EXPECT_LT(c.offset, 8u);
            continue;
        }
        SER_RECORDHEADER h;
        EXPECT_EQ(s.ReadHeader(h), -7) << c.offset;
        EXPECT_EQ(h.mida, 0u);
        EXPECT_EQ(s.ReadHeader(h), -7); // stays failed
    }
}

TEST(Serializer, MisuseIsRefused)
{
    TSerializer s;
    SER_RECORDHEADER h;
    char b[4];
    EXPECT_EQ(s.WriteRecord(b, 4, 1), -3); // not open
    EXPECT_EQ(s.ReadHeader(h), -7);
    EXPECT_EQ(s.ReadRecord(b, 4, nullptr), 0);
    EXPECT_EQ(s.ObrirMemoria(nullptr, 100), 0);
    EXPECT_EQ(s.ObrirFitxer(nullptr, 0), 0);
    EXPECT_EQ(s.ObrirFitxer(L"/nonexistent/x", 0), 0);
    ASSERT_EQ(s.CrearMemoria(), 1);
    EXPECT_EQ(s.WriteRecord(nullptr, 4, 1), -3);
    EXPECT_EQ(s.ReadHeader(h), -7); // a write stream does not read
    // A payload read with no header pending.
    const std::vector<std::uint8_t> m = SampleStream();
    ASSERT_EQ(s.ObrirMemoria(m.data(), m.size()), 1);
    EXPECT_EQ(s.ReadRecord(b, 4, nullptr), 0);
    EXPECT_EQ(s.WriteRecord(b, 4, 1), -3); // a read stream does not write
}

TEST(Serializer, WriteErrorsAreReported)
{
    TSerializer s;
    ASSERT_EQ(s.ObrirFitxer(L"/dev/full", 1), 1); // the header sits in the stdio buffer
    std::vector<std::uint8_t> big(1 << 20, 7);
    int r = 0;
    for (int i = 0; i < 4 && r == 0; ++i)
        r = s.WriteRecord(big.data(), static_cast<std::uint32_t>(big.size()), 6);
    EXPECT_EQ(r, -8);
    EXPECT_EQ(s.WriteRecord(big.data(), 1, 6), -8);
    EXPECT_EQ(s.Tancar(), 0);
}

TEST(Serializer, CancelWhileReadingAPayload)
{
    TSerializer w;
    ASSERT_EQ(w.CrearMemoria(), 1);
    std::vector<std::uint8_t> big(3u << 20, 1);
    ASSERT_EQ(w.WriteRecord(big.data(), static_cast<std::uint32_t>(big.size()), 6), 0);
    TSerializer r;
    ASSERT_EQ(r.ObrirMemoria(w.GetMemoria().data(), w.GetMemoria().size()), 1);
    SER_RECORDHEADER h;
    ASSERT_EQ(r.ReadHeader(h), 1);
    TIndicadorEstat ie;
    ie.Aturar();
    EXPECT_EQ(r.ReadRecord(big.data(), h.mida, &ie), 0);
    EXPECT_EQ(r.ReadHeader(h), -7);
}

// Re-opening, in any of the three ways, a stream whose bytes could not be written reports that
// failure instead of dropping it; once reported, the next open proceeds.
TEST(Serializer, ReopeningReportsTheFailedClose)
{
    const std::vector<std::uint8_t> m = SampleStream();
    for (int way = 0; way < 3; ++way) {
        TSerializer s;
        ASSERT_EQ(s.ObrirFitxer(L"/dev/full", 1), 1); // the header waits in the stdio buffer
        const int r = way == 0   ? s.ObrirFitxer(L"/dev/null", 1)
                      : way == 1 ? s.ObrirMemoria(m.data(), m.size())
                                 : s.CrearMemoria();
        EXPECT_EQ(r, 0) << way;
        EXPECT_EQ(s.EsObert(), 0) << way;
        EXPECT_EQ(s.CrearMemoria(), 1) << way;
        EXPECT_EQ(s.Tancar(), 1) << way;
    }
}

// Neither mode waits on a FIFO that no peer holds open; a FIFO with a reader takes a stream.
TEST(Serializer, FifoIsNeverWaitedOn)
{
    dibtest::TempDir dir;
    const std::string fifo = (dir.path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::wstring path = Utf8ToWide(fifo);
    TSerializer s;
    EXPECT_EQ(s.ObrirFitxer(path.c_str(), 0), 0);
    EXPECT_EQ(s.ObrirFitxer(path.c_str(), 1), 0);

    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(s.ObrirFitxer(path.c_str(), 0), 0); // not a regular file
    ASSERT_EQ(s.ObrirFitxer(path.c_str(), 1), 1);
    EXPECT_EQ(s.WriteRecord("abc", 3, 6), 0);
    EXPECT_EQ(s.Tancar(), 1);
    char buf[64];
    EXPECT_EQ(::read(reader, buf, sizeof buf), 8 + 12 + 3);
    ::close(reader);
}

} // namespace
