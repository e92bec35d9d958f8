// byte_source.h - one way in for every decoder: a file or a memory block behind positioned,
// bounds-checked reads, and a buffered cursor with explicit byte order on top.
//
// Paths, memory blocks and module resources all become a ByteSource, so every reader is driven
// the same way from files, memory, tests and fuzzers. Reads never go past size(): a short read
// is the end of the data, never an overrun.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace core {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    // Total size in bytes.
    virtual std::uint64_t size() const = 0;
    // Reads up to n bytes at offset into dst. Returns the count read (less than n only at the
    // end of the data, 0 at or past it), or -1 on an I/O error.
    virtual std::int64_t readAt(std::uint64_t offset, void* dst, std::size_t n) = 0;
    // The whole block when the source is one block in memory, else null.
    virtual const std::uint8_t* data() const { return nullptr; }

    // True when all n bytes at offset exist and were read into dst.
    bool readExact(std::uint64_t offset, void* dst, std::size_t n);
    // True when [offset, offset + n) lies within the data (no overflow).
    bool contains(std::uint64_t offset, std::uint64_t n) const
    {
        return offset <= size() && n <= size() - offset;
    }

protected:
    ByteSource() = default;
};

// A borrowed memory block; the caller keeps it alive for the source's lifetime.
std::unique_ptr<ByteSource> MemorySource(const void* data, std::size_t size);
// An owned copy of a memory block. Null when memory runs out.
std::unique_ptr<ByteSource> CopiedMemorySource(const void* data, std::size_t size);
// A regular file opened for reading (UTF-8 path). Never blocks on FIFOs or devices: anything
// that is not a regular file is refused. Null on failure, with errno set (EINVAL for null, a
// FIFO or device gives ENXIO or EISDIR for a directory) and the last error text set.
std::unique_ptr<ByteSource> FileSource(const char* utf8Path);
// An open descriptor of a regular file; the source takes ownership (closes it). Null (and the
// descriptor closed) when it is not a regular file.
std::unique_ptr<ByteSource> FileSourceFromFd(int fd);

// A cursor over a source with a read buffer, for parsers that read a few bytes at a time.
// Every read either delivers all its bytes or fails (false) and sets the cursor at the end,
// so a parser checks one flag after a group of reads: ok() stays false after the first failure.
class ByteReader {
public:
    explicit ByteReader(ByteSource& source, std::size_t bufferSize = 64 * 1024);

    std::uint64_t position() const { return pos_; }
    std::uint64_t size() const { return source_.size(); }
    std::uint64_t remaining() const { return pos_ <= size() ? size() - pos_ : 0; }
    bool ok() const { return ok_; }
    // Marks the reader failed (a parser found the data inconsistent).
    void fail() { ok_ = false; }

    // Moves to offset; false (and failed) when offset is past the end.
    bool seek(std::uint64_t offset);
    // Skips n bytes; false (and failed) when fewer remain.
    bool skip(std::uint64_t n);
    bool read(void* dst, std::size_t n);

    std::uint8_t u8();
    std::uint16_t u16be();
    std::uint16_t u16le();
    std::uint32_t u32be();
    std::uint32_t u32le();
    std::uint64_t u64be();
    std::uint64_t u64le();
    std::int16_t i16be() { return static_cast<std::int16_t>(u16be()); }
    std::int32_t i32be() { return static_cast<std::int32_t>(u32be()); }

private:
    bool fill(std::size_t need);

    ByteSource& source_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t bufferStart_ = 0; // source offset of buffer_[0]
    std::size_t bufferLength_ = 0;  // valid bytes in buffer_
    std::uint64_t pos_ = 0;
    bool ok_ = true;
};

} // namespace core
