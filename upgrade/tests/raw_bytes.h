// Images and flash blocks written byte by byte in the tests, without the
// program's own record code, so that a layout mistake cannot hide in both.
#ifndef UPGRADE_TESTS_RAW_BYTES_H
#define UPGRADE_TESTS_RAW_BYTES_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace raw {

struct Bytes {
    std::vector<uint8_t> b;

    explicit Bytes(size_t n = 0, uint8_t fill = 0) : b(n, fill) {}
    void grow(size_t n)
    {
        if (b.size() < n)
            b.resize(n, 0);
    }
    void u32(size_t at, uint32_t v)
    {
        grow(at + 4);
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
    void words(size_t at, int n, uint32_t v)
    {
        for (int i = 0; i < n; ++i)
            u32(at + 4 * i, v);
    }
    void text(size_t at, const std::string &s)
    {
        grow(at + s.size());
        std::memcpy(b.data() + at, s.data(), s.size());
    }
    uint32_t get32(size_t at) const
    {
        return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
    }
};

// A 32-byte PIT record: name, id, flags, offset, size.
inline void pit_record(Bytes &img, size_t at, const std::string &name, uint32_t id, uint32_t flags, uint32_t offset,
                       uint32_t size)
{
    img.grow(at + 32);
    std::memset(img.b.data() + at, 0, 16);
    img.text(at, name);
    img.u32(at + 16, id);
    img.u32(at + 20, flags);
    img.u32(at + 24, offset);
    img.u32(at + 28, size);
}

// A BIT record as it stands in the image: id, image offset, length, partition offset, spare.
inline void bit_record(Bytes &img, size_t at, uint32_t id, uint32_t image_offset, uint32_t length, uint32_t part_offset)
{
    img.u32(at, id);
    img.u32(at + 4, image_offset);
    img.u32(at + 8, length);
    img.u32(at + 12, part_offset);
    img.u32(at + 16, 0);
}

} // namespace raw

#endif
