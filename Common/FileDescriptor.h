#ifndef TQ_FILEDESCRIPTOR_H
#define TQ_FILEDESCRIPTOR_H

#include <unistd.h>

// An open file descriptor, closed when it goes, so that no early return of the walk leaks one.
class FileDescriptor
{
public:
    explicit FileDescriptor(int owned = -1) : fd(owned) {}
    ~FileDescriptor()
    {
        if (fd >= 0)
            close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : fd(other.fd) { other.fd = -1; }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other)
        {
            FileDescriptor old(fd);
            fd = other.fd;
            other.fd = -1;
        }
        return *this;
    }

    int Get() const { return fd; }
    bool IsOpen() const { return fd >= 0; }
    // Hands the descriptor to an owner that closes it itself (a directory stream, say).
    int Release()
    {
        const int owned = fd;
        fd = -1;
        return owned;
    }

private:
    int fd;
};

#endif
