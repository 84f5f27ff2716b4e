// The checksum the engine reports for the bytes a pull playback read:
// 64-bit FNV-1a, continued over successive pieces.
#ifndef PBENGINE_CHECKSUM_H
#define PBENGINE_CHECKSUM_H

#include <cstddef>
#include <cstdint>

namespace pbsim {

constexpr uint64_t kChecksumStart = 0xcbf29ce484222325ULL;

inline uint64_t checksum(uint64_t h, const uint8_t *p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 0x100000001b3ULL;
    return h;
}

} // namespace pbsim

#endif
