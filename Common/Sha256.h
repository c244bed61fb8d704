#ifndef TQ_SHA256_H
#define TQ_SHA256_H

#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256 (FIPS 180-4) of bytes, as 64 lower-case hexadecimal digits: how the uninstaller's two
// phases and the removal tool tell that the definition the tool reads is the very one the user
// confirmed.
class Sha256
{
public:
    Sha256();
    void Add(const void* bytes, size_t count);
    // The digest of everything added; the object is spent afterwards.
    std::string HexDigest();

    static std::string Of(const void* bytes, size_t count);

private:
    void compress(const unsigned char* block);

    uint32_t state[8];
    unsigned char block[64];
    size_t blockUsed = 0;
    uint64_t totalBytes = 0;
};

#endif
