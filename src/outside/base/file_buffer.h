// file_buffer.h - a buffered output file for writers that emit many small pieces.
//
// Write errors are never lost: the first failure (of a write, a flush or the close) is kept,
// every later Write refuses, and Flush and Close report it. Closing happens in the destructor
// too, but a failure found only there cannot be reported: call Close.
#pragma once

#include "../outside_api.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class OUTSIDE_API CFileBuffer {
public:
    // Open flags, as the usual file classes spell them.
    enum : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,   // accepted; bytes are written unchanged
        typeBinary = 0x8000, // accepted; the default
    };
    static constexpr std::size_t kDefaultBuffer = 0x400000; // 4 MiB
    static constexpr std::size_t kMaxBuffer = std::size_t(1) << 30;

    CFileBuffer();
    ~CFileBuffer();
    CFileBuffer(const CFileBuffer&) = delete;
    CFileBuffer& operator=(const CFileBuffer&) = delete;

    // Opens path for writing (modeWrite or modeReadWrite is required; modeRead alone is
    // refused). modeCreate creates the file, truncating it unless modeNoTruncate is given;
    // without modeCreate the file must exist and writing starts at its beginning (truncated
    // unless modeNoTruncate). bufferSize 0 means the default; above kMaxBuffer it is refused.
    // 1 on success, 0 on failure (bad arguments, the file cannot be opened, no memory for the
    // buffer). A FIFO is taken only with modeWrite and only while a reader holds it open;
    // Open never waits for one. Closes any file open before; when that close fails (Close
    // would answer 0: bytes written to it did not all arrive), nothing is opened, the answer
    // is 0 and HasError stays 1, so the failure is not lost; the next Open proceeds.
    int Open(const wchar_t* path, unsigned flags, std::size_t bufferSize = kDefaultBuffer);

    // Appends count bytes (data may be null only when count is 0). 1 on success, 0 when the
    // file is not open, an earlier error stands, or the bytes could not be written.
    int Write(const void* data, std::size_t count);
    // Writes the buffer out. 1 on success, 0 on failure (or an earlier one).
    int Flush();
    // Flushes and closes. 1 when every byte reached the file, 0 otherwise; 1 when not open.
    int Close();

    int IsOpen() const { return m_fd >= 0; }
    int HasError() const { return m_error ? 1 : 0; }
    // Bytes accepted by Write since Open.
    std::uint64_t GetLength() const { return m_total; }

private:
    bool WriteOut(const std::uint8_t* data, std::size_t count);

    int m_fd = -1;
    std::unique_ptr<std::uint8_t[]> m_buffer;
    std::size_t m_capacity = 0;
    std::size_t m_used = 0;
    std::uint64_t m_total = 0;
    bool m_error = false;
};
