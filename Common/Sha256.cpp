#include "Sha256.h"

#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace
{

const uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

uint32_t rotateRight(uint32_t value, int count)
{
    return (value >> count) | (value << (32 - count));
}

void CompressOneBlock(uint32_t* state, const unsigned char* data)
{
    uint32_t schedule[64];
    for (int index = 0; index < 16; ++index)
        schedule[index] = static_cast<uint32_t>(data[index * 4]) << 24 | static_cast<uint32_t>(data[index * 4 + 1]) << 16 |
                          static_cast<uint32_t>(data[index * 4 + 2]) << 8 | static_cast<uint32_t>(data[index * 4 + 3]);
    for (int index = 16; index < 64; ++index)
    {
        const uint32_t early = schedule[index - 15], late = schedule[index - 2];
        const uint32_t sigma0 = rotateRight(early, 7) ^ rotateRight(early, 18) ^ (early >> 3);
        const uint32_t sigma1 = rotateRight(late, 17) ^ rotateRight(late, 19) ^ (late >> 10);
        schedule[index] = schedule[index - 16] + sigma0 + schedule[index - 7] + sigma1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4], f = state[5], g = state[6],
             h = state[7];
    for (int index = 0; index < 64; ++index)
    {
        const uint32_t sum1 = rotateRight(e, 6) ^ rotateRight(e, 11) ^ rotateRight(e, 25);
        const uint32_t choice = (e & f) ^ (~e & g);
        const uint32_t first = h + sum1 + choice + kRoundConstants[index] + schedule[index];
        const uint32_t sum0 = rotateRight(a, 2) ^ rotateRight(a, 13) ^ rotateRight(a, 22);
        const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        const uint32_t second = sum0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + first;
        d = c;
        c = b;
        b = a;
        a = first + second;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

void CompressPortably(uint32_t* state, const unsigned char* blocks, size_t count)
{
    for (; count > 0; --count, blocks += 64)
        CompressOneBlock(state, blocks);
}

#if defined(__x86_64__)

// The same compression with the processor's SHA instructions, which keep the state as the two
// halves ABEF and CDGH and do two rounds per instruction. Built for those instructions alone, so
// the rest of the program keeps the build's flags and runs on any x86-64 processor.
__attribute__((target("sha,sse4.1"))) void CompressWithShaExtensions(uint32_t* state, const unsigned char* blocks,
                                                                     size_t count)
{
    // Message words are big-endian; this shuffle turns each 32-bit lane around.
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    const __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(dcba, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, dcba, 0xF0);
    for (; count > 0; --count, blocks += 64)
    {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        // words[i % 4] holds the schedule's words 4i to 4i + 3 while rounds 4i to 4i + 3 run.
        __m128i words[4];
        for (int index = 0; index < 4; ++index)
            words[index] = _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * index)), byteSwap);
#pragma GCC unroll 16
        for (int quad = 0; quad < 16; ++quad)
        {
            if (quad >= 4)
            {
                __m128i& oldest = words[quad % 4];
                const __m128i newest = words[(quad + 3) % 4];
                oldest = _mm_sha256msg1_epu32(oldest, words[(quad + 1) % 4]);
                oldest = _mm_add_epi32(oldest, _mm_alignr_epi8(newest, words[(quad + 2) % 4], 4));
                oldest = _mm_sha256msg2_epu32(oldest, newest);
            }
            __m128i input = _mm_add_epi32(
                words[quad % 4], _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRoundConstants + 4 * quad)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, input);
            input = _mm_shuffle_epi32(input, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, input);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

#endif

using BlockCompression = void (*)(uint32_t* state, const unsigned char* blocks, size_t count);

// Decided once per process: the processor does not change under it.
BlockCompression FastestCompression()
{
#if defined(__x86_64__)
    // Asked of the processor itself: clang 14's __builtin_cpu_supports does not know "sha".
    static const bool hasShaExtensions = []
    {
        unsigned int eax, ebx, ecx, edx;
        const bool hasSse41 = __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_SSE4_1);
        return hasSse41 && __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & bit_SHA);
    }();
    if (hasShaExtensions)
        return CompressWithShaExtensions;
#endif
    return CompressPortably;
}

} // namespace

Sha256::Sha256() : Sha256(FastestCompression())
{
}

Sha256::Sha256(CompressBlocks compression)
    : compressBlocks(compression),
      state{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19}
{
}

bool Sha256::UsesProcessorExtensions()
{
    return FastestCompression() != CompressPortably;
}

Sha256 Sha256::Portable()
{
    return Sha256(CompressPortably);
}

// Bytes that complete a partly filled block go through the block buffer; whole blocks beyond
// that are compressed in place, all in one call, and only the tail is copied.
void Sha256::Add(const void* bytes, size_t count)
{
    if (count == 0)
        return;
    const unsigned char* data = static_cast<const unsigned char*>(bytes);
    totalBytes += count;
    if (blockUsed > 0)
    {
        const size_t taken = count < sizeof block - blockUsed ? count : sizeof block - blockUsed;
        std::memcpy(block + blockUsed, data, taken);
        blockUsed += taken;
        data += taken;
        count -= taken;
        if (blockUsed < sizeof block)
            return;
        compressBlocks(state, block, 1);
        blockUsed = 0;
    }
    const size_t wholeBlocks = count / sizeof block;
    if (wholeBlocks > 0)
        compressBlocks(state, data, wholeBlocks);
    data += wholeBlocks * sizeof block;
    count -= wholeBlocks * sizeof block;
    std::memcpy(block, data, count);
    blockUsed = count;
}

std::string Sha256::HexDigest()
{
    const uint64_t bits = totalBytes * 8;
    const unsigned char one = 0x80, zero = 0;
    Add(&one, 1);
    while (blockUsed != 56)
        Add(&zero, 1);
    unsigned char length[8];
    for (int index = 0; index < 8; ++index)
        length[index] = static_cast<unsigned char>(bits >> (56 - 8 * index));
    Add(length, sizeof length);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const uint32_t word : state)
        for (int shift = 28; shift >= 0; shift -= 4)
            hex += digits[(word >> shift) & 0xF];
    return hex;
}

std::string Sha256::Of(const void* bytes, size_t count)
{
    Sha256 digest;
    digest.Add(bytes, count);
    return digest.HexDigest();
}
