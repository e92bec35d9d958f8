// The lowest layer: checked sizes, pixel packing and palette mapping, byte sources and the
// buffered reader, the per-thread error text.
#include <cerrno>
#include <core/byte_source.h>
#include <core/checked_size.h>
#include <core/last_error.h>
#include <core/pixels.h>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

TEST(CheckedSize, LineRuleAndOverflow)
{
    EXPECT_EQ(core::CheckedLineSize(10, 1, 4), 4u);
    EXPECT_EQ(core::CheckedLineSize(3, 12, 0), 4u);
    EXPECT_EQ(core::CheckedLineSize(7, 2, 0), 2u);
    EXPECT_EQ(core::CheckedLineSize(5, 24, 4), 16u);
    EXPECT_EQ(core::CheckedLineSize(INT64_MAX, 64, 0), std::nullopt);
    EXPECT_EQ(core::CheckedLineSize(-1, 8, 0), std::nullopt);
    EXPECT_EQ(core::CheckedLineSize(10, 0, 0), std::nullopt);
    EXPECT_EQ(core::CheckedImageSize(1u << 31, 1u << 31, 48), std::nullopt);
    EXPECT_EQ(core::CheckedImageSize(20000, 20000, 24), 1200000000u);
    EXPECT_EQ(core::CheckedMul(UINT64_MAX, 2), std::nullopt);
    EXPECT_EQ(core::CheckedAdd(UINT64_MAX, 1), std::nullopt);
}

TEST(Pixels, EveryDepthRoundTripsWithoutTouchingNeighbours)
{
    for (int bits : {1, 2, 4, 8, 16, 24, 32, 48}) {
        const std::uint64_t mask = bits == 64 ? ~0ull : (1ull << bits) - 1;
        std::vector<std::uint8_t> row(64, 0xA5);
        const std::vector<std::uint8_t> before = row;
        // Write pixel 3, read back, check pixels 2 and 4 are as before.
        const std::uint64_t left = core::ReadPixel(row.data(), 2, bits);
        const std::uint64_t right = core::ReadPixel(row.data(), 4, bits);
        const std::uint64_t value = 0x0123456789ABCDEFull & mask;
        core::WritePixel(row.data(), 3, bits, value);
        EXPECT_EQ(core::ReadPixel(row.data(), 3, bits), value) << bits;
        EXPECT_EQ(core::ReadPixel(row.data(), 2, bits), left) << bits;
        EXPECT_EQ(core::ReadPixel(row.data(), 4, bits), right) << bits;
    }
    // Packed depths are most significant bit first; whole bytes little-endian.
    std::uint8_t row[4] = {};
    core::WritePixel(row, 0, 1, 1);
    EXPECT_EQ(row[0], 0x80);
    core::WritePixel(row, 1, 4, 0xF);
    EXPECT_EQ(row[0], 0x8F);
    core::WritePixel(row, 1, 16, 0x1234);
    EXPECT_EQ(row[2], 0x34);
    EXPECT_EQ(row[3], 0x12);
}

TEST(Pixels, NearestPaletteEntryTakesTheLowestIndexOnTies)
{
    // blue, green, red, reserved
    const std::uint8_t palette[] = {0, 0, 0, 0, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0};
    EXPECT_EQ(core::NearestPaletteIndex(palette, 4, 250, 0, 0), 2); // red; entry 3 ties
    EXPECT_EQ(core::NearestPaletteIndex(palette, 4, 200, 200, 200), 1);
    EXPECT_EQ(core::NearestPaletteIndex(palette, 4, 10, 10, 10), 0);
    EXPECT_EQ(core::NearestPaletteIndex(nullptr, 4, 1, 2, 3), 0);
    EXPECT_EQ(core::NearestPaletteIndex(palette, 0, 1, 2, 3), 0);
}

std::vector<std::uint8_t> Bytes(std::size_t n)
{
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = std::uint8_t(i * 7 + 3);
    return v;
}

TEST(ByteSource, MemoryAndFileReadTheSameAndNeverPastTheEnd)
{
    const auto data = Bytes(1000);
    char path[] = "/tmp/dib-core-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_EQ(write(fd, data.data(), data.size()), ssize_t(data.size()));
    close(fd);
    auto memory = core::MemorySource(data.data(), data.size());
    auto copied = core::CopiedMemorySource(data.data(), data.size());
    auto file = core::FileSource(path);
    unlink(path);
    for (core::ByteSource* s : {memory.get(), copied.get(), file.get()}) {
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->size(), 1000u);
        std::uint8_t buf[16];
        EXPECT_TRUE(s->readExact(990, buf, 10));
        EXPECT_EQ(buf[9], data[999]);
        EXPECT_FALSE(s->readExact(991, buf, 10));
        EXPECT_FALSE(s->readExact(UINT64_MAX - 2, buf, 8)); // no wrap-around
        EXPECT_EQ(s->readAt(995, buf, 16), 5);
        EXPECT_EQ(s->readAt(5000, buf, 16), 0);
        EXPECT_FALSE(s->contains(1, UINT64_MAX));
    }
    EXPECT_NE(memory->data(), nullptr);
    EXPECT_EQ(file->data(), nullptr);
}

TEST(ByteSource, FilesThatAreNotRegularAreRefusedWithoutWaiting)
{
    char dir[] = "/tmp/dib-core-dir-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string fifo = std::string(dir) + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    core::ClearLastErrorText();
    EXPECT_EQ(core::FileSource(fifo.c_str()), nullptr); // would block without O_NONBLOCK
    EXPECT_STRNE(core::GetLastErrorText(), "");
    EXPECT_EQ(core::FileSource(dir), nullptr);
    EXPECT_EQ(core::FileSource((std::string(dir) + "/missing").c_str()), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(core::FileSource(nullptr), nullptr);
    unlink(fifo.c_str());
    rmdir(dir);
}

TEST(ByteReader, ReadsBothByteOrdersAcrossBufferBoundaries)
{
    const std::uint8_t data[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0,
                                 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    auto src = core::MemorySource(data, sizeof data);
    core::ByteReader r(*src, 3); // tiny buffer (rounded up to 64) still reads across refills
    EXPECT_EQ(r.u16be(), 0x1234);
    EXPECT_EQ(r.u16le(), 0x7856);
    EXPECT_EQ(r.u32be(), 0x9ABCDEF0u);
    EXPECT_EQ(r.u32le(), 0x04030201u);
    EXPECT_TRUE(r.ok());
    EXPECT_TRUE(r.seek(0));
    EXPECT_EQ(r.u64be(), 0x123456789ABCDEF0ull);
    EXPECT_EQ(r.u64le(), 0x0807060504030201ull);
    EXPECT_EQ(r.remaining(), 0u);
    // Past the end: the read fails, the reader stays failed, values are zero.
    EXPECT_EQ(r.u8(), 0);
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(r.seek(0));
}

TEST(ByteReader, LargeReadsAndSkipsAreBoundsChecked)
{
    const auto data = Bytes(300000);
    auto src = core::MemorySource(data.data(), data.size());
    core::ByteReader r(*src);
    std::vector<std::uint8_t> out(200000);
    EXPECT_TRUE(r.skip(50000));
    EXPECT_TRUE(r.read(out.data(), out.size()));
    EXPECT_EQ(out[0], data[50000]);
    EXPECT_EQ(out.back(), data[249999]);
    EXPECT_EQ(r.u8(), data[250000]);
    EXPECT_FALSE(r.skip(UINT64_MAX));
    EXPECT_FALSE(r.ok());
}

TEST(LastError, EachThreadHasItsOwnText)
{
    core::SetLastErrorText("main thread");
    std::string other;
    std::thread t([&] {
        EXPECT_STREQ(core::GetLastErrorText(), "");
        core::SetLastErrorTextF("worker %d", 7);
        other = core::GetLastErrorText();
    });
    t.join();
    EXPECT_EQ(other, "worker 7");
    EXPECT_STREQ(core::GetLastErrorText(), "main thread");
    const std::string longText(5000, 'x');
    core::SetLastErrorText(longText.c_str());
    EXPECT_EQ(std::string(core::GetLastErrorText()).size(), 1023u);
    core::SetLastErrorText(nullptr);
    EXPECT_STREQ(core::GetLastErrorText(), "");
}

} // namespace
