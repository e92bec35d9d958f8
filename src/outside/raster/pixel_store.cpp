// pixel_store.cpp - pixel storage of the raster kernel.
//
//   MemoryStore  one calloc'ed block (conventional memory)
//   DiskStore    an anonymous temporary file reached through one cached window
//   createStore  chooses, counts allocations for RkFailAllocationsAfter
//
// The disk storage never maps the whole file: a plain shared mapping would count every page
// touched as resident, so a bitmap larger than memory would still fill it. Instead one window
// (RkSetDiskWindowBytes, a few MiB by default) holds a slice of the file; moving to another
// slice writes the window's dirty bytes back with pwrite and loads the next slice with pread;
// transfers of 64 KiB and more go straight to the file. Resident memory is the window whatever
// the bitmap's size; the file's pages live in the page cache, which the kernel reclaims on its
// own.
#include "raster/raster_internal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace rk {
namespace {

std::atomic<long> g_allocationsLeft{-1};
std::atomic<long> g_diskWritesLeft{-1};
constexpr std::uint64_t kDefaultWindow = 4u << 20;
constexpr std::uint64_t kMinimumWindow = 64;
// Transfers at least this long go straight between the caller's buffer and the file: one
// system call each is already cheap, and the window would only add a copy.
constexpr std::size_t kDirectBytes = 64 << 10;
std::atomic<std::uint64_t> g_windowBytes{kDefaultWindow};

// Consumes one unit of a fault-injection budget (negative: unlimited); false when this one
// must fail.
bool allowed(std::atomic<long>& budget)
{
    long left = budget.load();
    while (left >= 0) {
        if (left == 0)
            return false;
        if (budget.compare_exchange_weak(left, left - 1))
            return true;
    }
    return true;
}

class MemoryStore final : public PixelStore {
public:
    MemoryStore(std::uint64_t size, std::uint8_t* bytes) : PixelStore(size), bytes_(bytes) {}
    ~MemoryStore() override { std::free(bytes_); }

    bool onDisk() const override { return false; }
    std::uint8_t* block() override { return bytes_; }
    int read(std::uint64_t offset, void* dst, std::size_t n) override
    {
        std::memcpy(dst, bytes_ + offset, n);
        return RK_SUCCESS;
    }
    int write(std::uint64_t offset, const void* src, std::size_t n) override
    {
        std::memmove(bytes_ + offset, src, n);
        return RK_SUCCESS;
    }
    int fill(std::uint64_t offset, std::uint8_t value, std::uint64_t n) override
    {
        std::memset(bytes_ + offset, value, n);
        return RK_SUCCESS;
    }

private:
    std::uint8_t* bytes_;
};

// Whole-buffer pread/pwrite, retrying short transfers and interrupted calls.
bool preadAll(int fd, std::uint8_t* dst, std::size_t n, std::uint64_t offset)
{
    while (n > 0) {
        ssize_t got = ::pread(fd, dst, n, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        dst += got;
        n -= std::size_t(got);
        offset += std::uint64_t(got);
    }
    return true;
}

bool pwriteAll(int fd, const std::uint8_t* src, std::size_t n, std::uint64_t offset)
{
    if (!allowed(g_diskWritesLeft)) {
        errno = ENOSPC;
        return false;
    }
    while (n > 0) {
        ssize_t put = ::pwrite(fd, src, n, off_t(offset));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        src += put;
        n -= std::size_t(put);
        offset += std::uint64_t(put);
    }
    return true;
}

// An unnamed file in $TMPDIR (or /tmp): O_TMPFILE where the file system has it, otherwise a
// named file unlinked at once. Either way no name survives the process, even a crash.
int openAnonymousFile()
{
    const char* dir = std::getenv("TMPDIR");
    std::string folder = (dir && *dir) ? dir : "/tmp";
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    std::string pattern = folder + "/rkdisk-XXXXXX";
    fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(pattern.c_str());
    return fd;
}

class DiskStore final : public PixelStore {
public:
    DiskStore(std::uint64_t size, int fd, std::uint64_t window, std::uint8_t* buffer)
        : PixelStore(size), fd_(fd), window_(window), buffer_(buffer)
    {
    }
    ~DiskStore() override
    {
        std::free(buffer_);
        ::close(fd_);
    }

    bool onDisk() const override { return true; }

    int read(std::uint64_t offset, void* dst, std::size_t n) override
    {
        std::lock_guard lock(mutex_);
        if (n >= kDirectBytes) {
            if (int rc = flushOverlap(offset, n); rc <= 0)
                return rc;
            // Never-written parts of the file are holes and read as zeros.
            return preadAll(fd_, static_cast<std::uint8_t*>(dst), n, offset) ? RK_SUCCESS
                                                                             : RK_ERROR_IO;
        }
        auto* out = static_cast<std::uint8_t*>(dst);
        while (n > 0) {
            std::size_t at = 0, len = 0;
            if (int rc = load(offset, n, at, len); rc <= 0)
                return rc;
            std::memcpy(out, buffer_ + at, len);
            out += len;
            offset += len;
            n -= len;
        }
        return RK_SUCCESS;
    }

    int write(std::uint64_t offset, const void* src, std::size_t n) override
    {
        std::lock_guard lock(mutex_);
        if (n >= kDirectBytes) {
            if (int rc = flushOverlap(offset, n); rc <= 0)
                return rc;
            if (overlaps(offset, n))
                valid_ = false; // the window's copy is about to be stale
            if (!pwriteAll(fd_, static_cast<const std::uint8_t*>(src), n, offset))
                return RK_ERROR_IO;
            written_ = std::max(written_, offset + n);
            return RK_SUCCESS;
        }
        auto* in = static_cast<const std::uint8_t*>(src);
        while (n > 0) {
            std::size_t at = 0, len = 0;
            if (int rc = load(offset, n, at, len); rc <= 0)
                return rc;
            std::memmove(buffer_ + at, in, len);
            markDirty(at, len);
            in += len;
            offset += len;
            n -= len;
        }
        return RK_SUCCESS;
    }

    int fill(std::uint64_t offset, std::uint8_t value, std::uint64_t n) override
    {
        std::lock_guard lock(mutex_);
        while (n > 0) {
            std::size_t at = 0, len = 0;
            if (int rc = load(offset, n, at, len); rc <= 0)
                return rc;
            std::memset(buffer_ + at, value, len);
            markDirty(at, len);
            offset += len;
            n -= len;
        }
        return RK_SUCCESS;
    }

private:
    // Brings the window holding offset into the buffer; at/len give the part of [offset,
    // offset + n) that it covers.
    int load(std::uint64_t offset, std::uint64_t n, std::size_t& at, std::size_t& len)
    {
        std::uint64_t base = offset - offset % window_;
        if (!valid_ || base != base_) {
            if (int rc = flush(); rc <= 0)
                return rc;
            valid_ = false;
            std::uint64_t span = std::min(window_, size() - base);
            // Bytes never written are zero (the file was created sparse): only the written
            // part needs reading.
            std::uint64_t fromFile = base < written_ ? std::min(span, written_ - base) : 0;
            if (fromFile > 0 && !preadAll(fd_, buffer_, std::size_t(fromFile), base))
                return RK_ERROR_IO;
            std::memset(buffer_ + fromFile, 0, std::size_t(span - fromFile));
            base_ = base;
            span_ = span;
            valid_ = true;
        }
        at = std::size_t(offset - base_);
        len = std::size_t(std::min<std::uint64_t>(n, span_ - at));
        return RK_SUCCESS;
    }

    bool overlaps(std::uint64_t offset, std::uint64_t n) const
    {
        return valid_ && offset < base_ + span_ && base_ < offset + n;
    }

    // Large transfers bypass the window; its unwritten changes in their range go first.
    int flushOverlap(std::uint64_t offset, std::uint64_t n)
    {
        return overlaps(offset, n) ? flush() : RK_SUCCESS;
    }

    void markDirty(std::size_t at, std::size_t len)
    {
        if (dirtyEnd_ == 0) {
            dirtyBegin_ = at;
            dirtyEnd_ = at + len;
        } else {
            dirtyBegin_ = std::min(dirtyBegin_, at);
            dirtyEnd_ = std::max(dirtyEnd_, at + len);
        }
    }

    int flush()
    {
        if (!valid_ || dirtyEnd_ == 0)
            return RK_SUCCESS;
        if (!pwriteAll(fd_, buffer_ + dirtyBegin_, dirtyEnd_ - dirtyBegin_, base_ + dirtyBegin_))
            return RK_ERROR_IO;
        written_ = std::max(written_, base_ + dirtyEnd_);
        dirtyBegin_ = dirtyEnd_ = 0;
        return RK_SUCCESS;
    }

    int fd_;
    std::uint64_t window_;
    std::uint8_t* buffer_;
    std::mutex mutex_;
    bool valid_ = false;
    std::uint64_t base_ = 0;
    std::uint64_t span_ = 0;
    std::size_t dirtyBegin_ = 0;
    std::size_t dirtyEnd_ = 0;
    std::uint64_t written_ = 0; // file bytes at and above this offset were never written
};

int createDiskStore(std::uint64_t size, std::unique_ptr<PixelStore>& out)
{
    if (size > std::uint64_t(INT64_MAX))
        return RK_ERROR_TOO_LARGE;
    std::uint64_t window = std::min(g_windowBytes.load(), size);
    auto* buffer = static_cast<std::uint8_t*>(std::malloc(std::size_t(window)));
    if (!buffer)
        return RK_ERROR_NO_MEMORY;
    int fd = openAnonymousFile();
    if (fd < 0) {
        std::free(buffer);
        return RK_ERROR_IO;
    }
    int rc;
    do {
        rc = ::ftruncate(fd, off_t(size));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int err = errno;
        ::close(fd);
        std::free(buffer);
        return (err == EFBIG || err == EINVAL) ? RK_ERROR_TOO_LARGE : RK_ERROR_IO;
    }
    out.reset(new (std::nothrow) DiskStore(size, fd, window, buffer));
    if (!out) {
        ::close(fd);
        std::free(buffer);
        return RK_ERROR_NO_MEMORY;
    }
    return RK_SUCCESS;
}

std::uint64_t physicalMemory()
{
    long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return UINT64_MAX;
    return std::uint64_t(pages) * std::uint64_t(pageSize);
}

} // namespace

int createStore(bool disk, std::uint64_t size, std::unique_ptr<PixelStore>& out)
{
    out.reset();
    if (size == 0)
        return RK_ERROR_INV_PARAMETER;
    if (!allowed(g_allocationsLeft))
        return RK_ERROR_NO_MEMORY;
    if (disk)
        return createDiskStore(size, out);
    if (size > std::uint64_t(PTRDIFF_MAX))
        return RK_ERROR_TOO_LARGE;
    // More than the machine's memory could only be promised by overcommit and paid for by the
    // out-of-memory killer: such bitmaps belong on disk.
    if (size > physicalMemory())
        return RK_ERROR_NO_MEMORY;
    auto* bytes = static_cast<std::uint8_t*>(std::calloc(1, std::size_t(size)));
    if (!bytes)
        return RK_ERROR_NO_MEMORY;
    out.reset(new (std::nothrow) MemoryStore(size, bytes));
    if (!out) {
        std::free(bytes);
        return RK_ERROR_NO_MEMORY;
    }
    return RK_SUCCESS;
}

} // namespace rk

void RkFailAllocationsAfter(long n)
{
    rk::g_allocationsLeft.store(n < 0 ? -1 : n);
}

void RkFailDiskWritesAfter(long n)
{
    rk::g_diskWritesLeft.store(n < 0 ? -1 : n);
}

std::uint64_t RkSetDiskWindowBytes(std::uint64_t bytes)
{
    if (bytes == 0)
        bytes = rk::kDefaultWindow;
    bytes = std::max(bytes, rk::kMinimumWindow);
    return rk::g_windowBytes.exchange(bytes);
}
