// A 64-bit checksum of a byte stream, fed in pieces of any size: the same
// bytes give the same value however they were cut. Four independent lanes
// over 32-byte stripes (the rounds of XXH64), so that the engine simulator
// can check a stream at memory speed while it consumes it.
#ifndef COMMON_STREAM_HASH_H
#define COMMON_STREAM_HASH_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace board {

class StreamHash {
public:
    void update(const void *data, size_t n)
    {
        if (n == 0)
            return;
        const auto *p = static_cast<const uint8_t *>(data);
        total_ += n;
        if (held_) {
            const size_t take = n < kStripe - held_ ? n : kStripe - held_;
            std::memcpy(tail_ + held_, p, take);
            held_ += take;
            p += take;
            n -= take;
            if (held_ < kStripe)
                return;
            stripe(tail_);
            held_ = 0;
        }
        for (; n >= kStripe; p += kStripe, n -= kStripe)
            stripe(p);
        std::memcpy(tail_, p, n);
        held_ = n;
    }

    uint64_t value() const
    {
        uint64_t h = rotl(lane_[0], 1) + rotl(lane_[1], 7) + rotl(lane_[2], 12) + rotl(lane_[3], 18);
        h ^= total_ * kP5;
        for (size_t i = 0; i < held_; ++i)
            h = rotl(h ^ (tail_[i] * kP5), 11) * kP1;
        h ^= h >> 33;
        h *= kP2;
        h ^= h >> 29;
        h *= kP3;
        return h ^ (h >> 32);
    }

    uint64_t bytes() const { return total_; }

private:
    static constexpr size_t kStripe = 32;
    static constexpr uint64_t kP1 = 0x9E3779B185EBCA87ULL;
    static constexpr uint64_t kP2 = 0xC2B2AE3D27D4EB4FULL;
    static constexpr uint64_t kP3 = 0x165667B19E3779F9ULL;
    static constexpr uint64_t kP5 = 0x27D4EB2F165667C5ULL;

    static uint64_t rotl(uint64_t v, int r) { return (v << r) | (v >> (64 - r)); }

    // Every target of the board is little-endian.
    static uint64_t load_le64(const uint8_t *p)
    {
        uint64_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }

    void stripe(const uint8_t *p)
    {
        for (int i = 0; i < 4; ++i)
            lane_[i] = rotl(lane_[i] + load_le64(p + 8 * i) * kP2, 31) * kP1;
    }

    uint64_t lane_[4] = {kP1 + kP2, kP2, 0, 0 - kP1};
    uint64_t total_ = 0;
    uint8_t tail_[kStripe] = {};
    size_t held_ = 0;
};

} // namespace board

#endif
