// Little-endian field access for file, flash and wire records.
//
// Records are packed and unpacked byte by byte so that their layout is the
// same on the board (armhf) and on the development host (x86-64), whatever
// the alignment of the buffer.
#ifndef COMMON_LE_BYTES_H
#define COMMON_LE_BYTES_H

#include <cstddef>
#include <cstdint>

namespace le {

inline uint16_t load16(const void *p)
{
    const auto *b = static_cast<const uint8_t *>(p);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

inline uint32_t load32(const void *p)
{
    const auto *b = static_cast<const uint8_t *>(p);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
           (static_cast<uint32_t>(b[3]) << 24);
}

inline uint64_t load64(const void *p)
{
    const auto *b = static_cast<const uint8_t *>(p);
    return static_cast<uint64_t>(load32(b)) | (static_cast<uint64_t>(load32(b + 4)) << 32);
}

inline void store16(void *p, uint16_t v)
{
    auto *b = static_cast<uint8_t *>(p);
    b[0] = static_cast<uint8_t>(v);
    b[1] = static_cast<uint8_t>(v >> 8);
}

inline void store32(void *p, uint32_t v)
{
    auto *b = static_cast<uint8_t *>(p);
    b[0] = static_cast<uint8_t>(v);
    b[1] = static_cast<uint8_t>(v >> 8);
    b[2] = static_cast<uint8_t>(v >> 16);
    b[3] = static_cast<uint8_t>(v >> 24);
}

inline void store64(void *p, uint64_t v)
{
    auto *b = static_cast<uint8_t *>(p);
    store32(b, static_cast<uint32_t>(v));
    store32(b + 4, static_cast<uint32_t>(v >> 32));
}

} // namespace le

#endif
