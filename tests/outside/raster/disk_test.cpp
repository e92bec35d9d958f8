// Disk-backed bitmaps: a bitmap of a few hundred MiB through a small window, bounded resident
// memory, nothing left in the temporary folder, and the same results as memory bitmaps when
// rows straddle window boundaries.
#include "raster_test_util.h"
#include "support/support.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

using namespace rktest;
namespace fs = std::filesystem;

namespace {

long statusKiB(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

std::size_t openFiles()
{
    std::size_t n = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

// Points $TMPDIR at a fresh folder and the kernel's window at `window` bytes for one test.
class DiskScope {
public:
    explicit DiskScope(std::uint64_t window)
    {
        const char* old = std::getenv("TMPDIR");
        hadTmp_ = old != nullptr;
        if (old)
            oldTmp_ = old;
        ::setenv("TMPDIR", dir_.path().c_str(), 1);
        oldWindow_ = RkSetDiskWindowBytes(window);
    }
    ~DiskScope()
    {
        RkSetDiskWindowBytes(oldWindow_);
        if (hadTmp_)
            ::setenv("TMPDIR", oldTmp_.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }
    bool empty() const { return fs::is_empty(dir_.path()); }

private:
    dibtest::TempDir dir_;
    std::string oldTmp_;
    bool hadTmp_ = false;
    std::uint64_t oldWindow_ = 0;
};

TEST(RasterDisk, LargeBitmapThroughSmallWindow)
{
    DiskScope scope(256 << 10);
    const int w = 8000, h = 12000; // 24 bits: 24000-byte rows, 288 MB
    std::size_t files = openFiles();
    long rssBefore = statusKiB("VmRSS:");
    {
        Bmp b;
        ASSERT_EQ(create(b, w, h, 24, RK_MEMORY_DISK), RK_SUCCESS);
        EXPECT_TRUE(b->Flags & BITMAP_FLAG_DISK);
        EXPECT_FALSE(b->Flags & BITMAP_FLAG_CONTIGUOUS);
        EXPECT_TRUE(scope.empty()); // the file has no name
        std::vector<std::uint8_t> row(std::size_t(b->BytesPerLine)), back(row.size());
        for (int y = 0; y < h; ++y) {
            std::memset(row.data(), y & 0xFF, row.size());
            std::memcpy(row.data() + row.size() / 2, &y, sizeof y);
            ASSERT_EQ(RkPutBitmapRow(b.get(), row.data(), y, row.size()), std::int64_t(row.size()));
        }
        for (int y = 0; y < h; ++y) {
            ASSERT_EQ(RkGetBitmapRow(b.get(), back.data(), y, back.size()),
                      std::int64_t(back.size()));
            int stored;
            std::memcpy(&stored, back.data() + back.size() / 2, sizeof stored);
            ASSERT_EQ(stored, y);
            ASSERT_EQ(back.front(), std::uint8_t(y));
            ASSERT_EQ(back.back(), std::uint8_t(y));
        }
        long growth = statusKiB("VmRSS:") - rssBefore;
        EXPECT_LT(growth, 48 * 1024) << "resident memory grew by " << growth << " KiB";
        EXPECT_EQ(RkGetPixelColor(b.get(), 300, 0), RGB(300 & 0xFF, 300 & 0xFF, 300 & 0xFF));
    }
    EXPECT_EQ(openFiles(), files); // the temporary file is gone with the bitmap
    EXPECT_TRUE(scope.empty());
}

TEST(RasterDisk, NoTemporaryFolderIsAnIoFailure)
{
    DiskScope scope(4096);
    ::setenv("TMPDIR", "/nonexistent/raster-test", 1);
    Bmp b;
    EXPECT_EQ(create(b, 10, 10, 24, RK_MEMORY_DISK), RK_ERROR_IO);
    EXPECT_FALSE(b->Flags & BITMAP_FLAG_ALLOCATED);
}

} // namespace
