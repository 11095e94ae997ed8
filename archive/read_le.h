// Little-endian integers at byte offsets of a record buffer.
#pragma once
#include <cstdint>
#include <cstring>

inline uint32_t ReadU32(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t ReadU64(const unsigned char* p) { return ReadU32(p) | (static_cast<uint64_t>(ReadU32(p + 4)) << 32); }

inline void WriteU32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

inline void WriteU64(unsigned char* p, uint64_t v)
{
    WriteU32(p, static_cast<uint32_t>(v));
    WriteU32(p + 4, static_cast<uint32_t>(v >> 32));
}
