// file_buffer.cpp - CFileBuffer on a POSIX descriptor.
#include "base/file_buffer.h"

#include "win/files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

CFileBuffer::CFileBuffer() = default;

CFileBuffer::~CFileBuffer()
{
    Close();
}

int CFileBuffer::Open(const wchar_t* path, unsigned flags, std::size_t bufferSize)
{
    // The failure of the file still open is reported here, never dropped; m_error keeps it
    // visible through HasError until an Open succeeds.
    if (!Close())
        return 0;
    m_error = false;
    m_total = 0;
    if (!path || !*path || !(flags & (modeWrite | modeReadWrite)))
        return 0;
    if (bufferSize == 0)
        bufferSize = kDefaultBuffer;
    if (bufferSize > kMaxBuffer)
        return 0;
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[bufferSize]);
    if (!buffer)
        return 0;
    int oflags = O_CLOEXEC | ((flags & modeReadWrite) ? O_RDWR : O_WRONLY);
    if (flags & modeCreate)
        oflags |= O_CREAT;
    if (!(flags & modeNoTruncate))
        oflags |= O_TRUNC;
    std::string utf8;
    try {
        if (!PathToUtf8(path, utf8))
            return 0;
    } catch (const std::exception&) {
        return 0;
    }
    // O_NONBLOCK keeps a FIFO from holding the open until a reader comes; writes then block
    // as usual. A FIFO opened read-write never waits at open, but with no other reader the
    // writer would wait forever once the pipe is full: refused.
    const int fd = ::open(utf8.c_str(), oflags | O_NONBLOCK, 0666);
    if (fd < 0)
        return 0;
    struct stat st {};
    const int fl = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || (S_ISFIFO(st.st_mode) && (oflags & O_RDWR)) || fl < 0 ||
        ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return 0;
    }
    m_fd = fd;
    m_buffer = std::move(buffer);
    m_capacity = bufferSize;
    m_used = 0;
    return 1;
}

bool CFileBuffer::WriteOut(const std::uint8_t* data, std::size_t count)
{
    while (count > 0) {
        const ssize_t n = ::write(m_fd, data, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_error = true;
            return false;
        }
        data += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

int CFileBuffer::Write(const void* data, std::size_t count)
{
    if (m_fd < 0 || m_error || (!data && count > 0))
        return 0;
    if (count == 0)
        return 1;
    const auto* p = static_cast<const std::uint8_t*>(data);
    const std::size_t accepted = count;
    if (count > m_capacity - m_used) {
        if (!Flush())
            return 0;
        // A piece at least as large as the buffer goes straight to the file.
        if (count >= m_capacity) {
            if (!WriteOut(p, count))
                return 0;
            m_total += accepted;
            return 1;
        }
    }
    std::memcpy(m_buffer.get() + m_used, p, count);
    m_used += count;
    m_total += accepted;
    return 1;
}

int CFileBuffer::Flush()
{
    if (m_fd < 0 || m_error)
        return 0;
    if (m_used > 0) {
        const bool ok = WriteOut(m_buffer.get(), m_used);
        m_used = 0;
        if (!ok)
            return 0;
    }
    return 1;
}

int CFileBuffer::Close()
{
    if (m_fd < 0)
        return 1;
    bool ok = Flush() != 0;
    // close() may report a deferred write error (NFS, quota); a failure counts.
    if (::close(m_fd) != 0)
        ok = false;
    m_fd = -1;
    m_buffer.reset();
    m_capacity = m_used = 0;
    if (!ok)
        m_error = true;
    return ok ? 1 : 0;
}
