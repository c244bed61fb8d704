#ifndef TQ_FILESTREAM_H
#define TQ_FILESTREAM_H

#include <cstdio>

// An open stream, closed when it goes, so that no early return leaks it or its descriptor.
class FileStream
{
public:
    explicit FileStream(FILE* owned = nullptr) : file(owned) {}
    ~FileStream()
    {
        if (file != nullptr)
            (void)std::fclose(file);
    }
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;
    FileStream(FileStream&& other) noexcept : file(other.file) { other.file = nullptr; }
    FileStream& operator=(FileStream&& other) noexcept
    {
        if (this != &other)
        {
            FileStream old(file);
            file = other.file;
            other.file = nullptr;
        }
        return *this;
    }

    FILE* Get() const { return file; }
    bool IsOpen() const { return file != nullptr; }

private:
    FILE* file;
};

#endif
