#include "Sha256.h"

#include <cstring>

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

} // namespace

Sha256::Sha256()
    : state{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19}
{
}

void Sha256::compress(const unsigned char* data)
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

void Sha256::Add(const void* bytes, size_t count)
{
    const unsigned char* data = static_cast<const unsigned char*>(bytes);
    totalBytes += count;
    while (count > 0)
    {
        const size_t taken = count < sizeof block - blockUsed ? count : sizeof block - blockUsed;
        std::memcpy(block + blockUsed, data, taken);
        blockUsed += taken;
        data += taken;
        count -= taken;
        if (blockUsed == sizeof block)
        {
            compress(block);
            blockUsed = 0;
        }
    }
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
