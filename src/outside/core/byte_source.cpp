// byte_source.cpp - memory and file sources, and the buffered cursor.
//
//   MemorySource, CopiedMemorySource   blocks in memory
//   FileSource, FileSourceFromFd       regular files through pread
//   ByteReader                         buffered cursor with big- and little-endian reads
#include "byte_source.h"

#include "last_error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace core {

bool ByteSource::readExact(std::uint64_t offset, void* dst, std::size_t n)
{
    if (!contains(offset, n))
        return false;
    auto* out = static_cast<std::uint8_t*>(dst);
    while (n > 0) {
        const std::int64_t got = readAt(offset, out, n);
        if (got <= 0)
            return false;
        out += got;
        offset += std::uint64_t(got);
        n -= std::size_t(got);
    }
    return true;
}

namespace {

class Memory final : public ByteSource {
public:
    Memory(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint64_t size() const override { return size_; }
    const std::uint8_t* data() const override { return data_; }
    std::int64_t readAt(std::uint64_t offset, void* dst, std::size_t n) override
    {
        if (offset >= size_)
            return 0;
        const std::size_t k = std::min<std::uint64_t>(n, size_ - offset);
        if (k)
            std::memcpy(dst, data_ + offset, k);
        return std::int64_t(k);
    }

protected:
    const std::uint8_t* data_;
    std::size_t size_;
};

class OwnedMemory final : public ByteSource {
public:
    explicit OwnedMemory(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t size() const override { return bytes_.size(); }
    const std::uint8_t* data() const override { return bytes_.data(); }
    std::int64_t readAt(std::uint64_t offset, void* dst, std::size_t n) override
    {
        if (offset >= bytes_.size())
            return 0;
        const std::size_t k = std::min<std::uint64_t>(n, bytes_.size() - offset);
        if (k)
            std::memcpy(dst, bytes_.data() + offset, k);
        return std::int64_t(k);
    }

private:
    std::vector<std::uint8_t> bytes_;
};

class File final : public ByteSource {
public:
    File(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    ~File() override { ::close(fd_); }
    std::uint64_t size() const override { return size_; }
    std::int64_t readAt(std::uint64_t offset, void* dst, std::size_t n) override
    {
        if (offset >= size_)
            return 0;
        n = std::min<std::uint64_t>(n, size_ - offset);
        for (;;) {
            const ssize_t got = ::pread(fd_, dst, n, off_t(offset));
            if (got < 0 && errno == EINTR)
                continue;
            return got < 0 ? -1 : std::int64_t(got);
        }
    }

private:
    int fd_;
    std::uint64_t size_;
};

} // namespace

std::unique_ptr<ByteSource> MemorySource(const void* data, std::size_t size)
{
    if (!data)
        size = 0;
    return std::unique_ptr<ByteSource>(new (std::nothrow)
                                           Memory(static_cast<const std::uint8_t*>(data), size));
}

std::unique_ptr<ByteSource> CopiedMemorySource(const void* data, std::size_t size)
{
    try {
        const auto* p = static_cast<const std::uint8_t*>(data);
        std::vector<std::uint8_t> bytes(p, p + (data ? size : 0));
        return std::make_unique<OwnedMemory>(std::move(bytes));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::unique_ptr<ByteSource> FileSourceFromFd(int fd)
{
    struct stat st {};
    if (fd < 0)
        return nullptr;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        const int e = S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
        ::close(fd);
        errno = e;
        SetLastErrorText("not a regular file");
        return nullptr;
    }
    auto* f = new (std::nothrow) File(fd, std::uint64_t(st.st_size));
    if (!f) {
        ::close(fd);
        errno = ENOMEM;
    }
    return std::unique_ptr<ByteSource>(f);
}

std::unique_ptr<ByteSource> FileSource(const char* utf8Path)
{
    if (!utf8Path) {
        errno = EINVAL;
        return nullptr;
    }
    // O_NONBLOCK: opening a FIFO for reading must not wait for a writer; the type check that
    // follows refuses it.
    const int fd = ::open(utf8Path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        SetLastErrorTextF("cannot open file: %s", std::strerror(errno));
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return FileSourceFromFd(fd);
}

// ---- ByteReader ---------------------------------------------------------------------------

ByteReader::ByteReader(ByteSource& source, std::size_t bufferSize) : source_(source)
{
    try {
        buffer_.resize(std::max<std::size_t>(bufferSize, 64));
    } catch (const std::bad_alloc&) {
        ok_ = false;
    }
}

bool ByteReader::seek(std::uint64_t offset)
{
    if (!ok_ || offset > size()) {
        ok_ = false;
        pos_ = size();
        return false;
    }
    pos_ = offset;
    return true;
}

bool ByteReader::skip(std::uint64_t n)
{
    if (!ok_ || n > remaining()) {
        ok_ = false;
        pos_ = size();
        return false;
    }
    pos_ += n;
    return true;
}

// Makes [pos_, pos_ + need) available in the buffer; need <= buffer size.
bool ByteReader::fill(std::size_t need)
{
    if (pos_ >= bufferStart_ && pos_ - bufferStart_ + need <= bufferLength_)
        return true;
    bufferStart_ = pos_;
    bufferLength_ = 0;
    const std::size_t want = std::min<std::uint64_t>(buffer_.size(), remaining());
    while (bufferLength_ < want) {
        const std::int64_t got = source_.readAt(
            bufferStart_ + bufferLength_, buffer_.data() + bufferLength_, want - bufferLength_);
        if (got <= 0)
            break;
        bufferLength_ += std::size_t(got);
    }
    return bufferLength_ >= need;
}

bool ByteReader::read(void* dst, std::size_t n)
{
    if (!ok_ || n > remaining()) {
        ok_ = false;
        pos_ = size();
        return false;
    }
    if (n == 0)
        return true;
    if (n >= buffer_.size()) {
        // Large reads go straight to the source.
        if (!source_.readExact(pos_, dst, n)) {
            ok_ = false;
            return false;
        }
        pos_ += n;
        return true;
    }
    if (!fill(n)) {
        ok_ = false;
        pos_ = size();
        return false;
    }
    std::memcpy(dst, buffer_.data() + (pos_ - bufferStart_), n);
    pos_ += n;
    return true;
}

std::uint8_t ByteReader::u8()
{
    std::uint8_t b = 0;
    read(&b, 1);
    return b;
}

std::uint16_t ByteReader::u16be()
{
    std::uint8_t b[2] = {};
    read(b, 2);
    return std::uint16_t((b[0] << 8) | b[1]);
}

std::uint16_t ByteReader::u16le()
{
    std::uint8_t b[2] = {};
    read(b, 2);
    return std::uint16_t((b[1] << 8) | b[0]);
}

std::uint32_t ByteReader::u32be()
{
    std::uint8_t b[4] = {};
    read(b, 4);
    return (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) |
           b[3];
}

std::uint32_t ByteReader::u32le()
{
    std::uint8_t b[4] = {};
    read(b, 4);
    return (std::uint32_t(b[3]) << 24) | (std::uint32_t(b[2]) << 16) | (std::uint32_t(b[1]) << 8) |
           b[0];
}

std::uint64_t ByteReader::u64be()
{
    const std::uint64_t hi = u32be();
    return (hi << 32) | u32be();
}

std::uint64_t ByteReader::u64le()
{
    const std::uint64_t lo = u32le();
    return lo | (std::uint64_t(u32le()) << 32);
}

} // namespace core
