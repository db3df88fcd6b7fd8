#pragma once

#include <cerrno>
#include <cstddef>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A file descriptor closed when it goes out of scope.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd)
        : m_fd(fd)
    { }
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    { }
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

// Writes all of `size` bytes at `data` to `fd`, however many calls it takes:
// 0, or the system's error (EIO where the system wrote nothing and said none).
inline int writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : EIO;
        data += written;
        size -= std::size_t(written);
    }
    return 0;
}

// Opens `path` to be written from its start, or after its end when
// `appending`; made when missing. What it holds goes, but an empty file is
// left untruncated: ext4 takes the truncation of a file to zero for a file
// being replaced, and makes its close wait till all that was then written
// to it has its place on the disk.
inline Fd openForWriting(const char* path, bool appending)
{
    Fd fd(::open(path, O_WRONLY | O_CREAT | O_CLOEXEC | (appending ? O_APPEND : 0), 0666));
    struct stat status { };
    if (!appending && fd.valid() && ::fstat(fd.get(), &status) == 0 && status.st_size > 0
        && ::ftruncate(fd.get(), 0) != 0)
        fd.reset();
    return fd;
}
