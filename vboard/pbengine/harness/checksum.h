// The checksum the engine reports for bytes a pull playback read or a
// request left in memory: the stream hash that push playbacks and pbpush
// report too, so one file has one checksum however it travelled.
#ifndef PBENGINE_CHECKSUM_H
#define PBENGINE_CHECKSUM_H

#include <cstddef>
#include <cstdint>

#include "common/stream_hash.h"

namespace pbsim {

using Checksum = board::StreamHash;

inline uint64_t checksum_of(const void *data, size_t n)
{
    Checksum sum;
    sum.update(data, n);
    return sum.value();
}

} // namespace pbsim

#endif
