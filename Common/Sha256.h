#ifndef TQ_SHA256_H
#define TQ_SHA256_H

#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256 (FIPS 180-4) of bytes, as 64 lower-case hexadecimal digits: how the uninstaller's two
// phases and the removal tool tell that the definition the tool reads is the very one the user
// confirmed. Hashing a large definition is a visible part of every run, so on x86-64 processors
// with the SHA instructions those do the work; everywhere else portable code does.
class Sha256
{
public:
    Sha256();
    void Add(const void* bytes, size_t count);
    // The digest of everything added; the object is spent afterwards.
    std::string HexDigest();

    static std::string Of(const void* bytes, size_t count);

    // Whether this process hashes with the processor's SHA instructions.
    static bool UsesProcessorExtensions();
    // A digest computed by the portable code whatever the processor, to compare the two.
    static Sha256 Portable();

private:
    // Compresses count whole 64-byte blocks into state.
    using CompressBlocks = void (*)(uint32_t* state, const unsigned char* blocks, size_t count);
    explicit Sha256(CompressBlocks compression);

    CompressBlocks compressBlocks;
    uint32_t state[8];
    unsigned char block[64];
    size_t blockUsed = 0;
    uint64_t totalBytes = 0;
};

#endif
