// Hand-made transport-stream packets for the parser's tests.
#ifndef PBCTRL_TS_STREAM_BUILDER_H
#define PBCTRL_TS_STREAM_BUILDER_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tstest {

using Bytes = std::vector<uint8_t>;

struct EsEntry {
    uint8_t type;
    uint16_t pid;
    Bytes es_info;
};

// A section of PSI: pointer field, table id, 12-bit length, the body and a dummy CRC.
inline Bytes section(uint8_t table_id, const Bytes &body, int length_override = -1)
{
    const int len = length_override >= 0 ? length_override : static_cast<int>(body.size()) + 4;
    Bytes s{0x00, table_id, static_cast<uint8_t>(0xB0 | (len >> 8)), static_cast<uint8_t>(len)};
    s.insert(s.end(), body.begin(), body.end());
    s.insert(s.end(), {0xDE, 0xAD, 0xBE, 0xEF});
    return s;
}

inline Bytes pat(const std::vector<uint16_t> &pmt_pids, int length_override = -1)
{
    Bytes body{0x00, 0x01, 0xC1, 0x00, 0x00};
    uint16_t program = 1;
    for (uint16_t pid : pmt_pids) {
        body.insert(body.end(), {static_cast<uint8_t>(program >> 8), static_cast<uint8_t>(program),
                                 static_cast<uint8_t>(0xE0 | (pid >> 8)), static_cast<uint8_t>(pid)});
        ++program;
    }
    return section(0x00, body, length_override);
}

inline Bytes pmt(const std::vector<EsEntry> &streams)
{
    Bytes body{0x00, 0x01, 0xC1, 0x00, 0x00, 0xE1, 0x00, 0xF0, 0x00};
    for (const EsEntry &e : streams) {
        const size_t n = e.es_info.size();
        body.insert(body.end(), {e.type, static_cast<uint8_t>(0xE0 | (e.pid >> 8)), static_cast<uint8_t>(e.pid),
                                 static_cast<uint8_t>(0xF0 | (n >> 8)), static_cast<uint8_t>(n)});
        body.insert(body.end(), e.es_info.begin(), e.es_info.end());
    }
    return section(0x02, body);
}

// A PES header with a PTS (or none when pts_flags is 0), then the data.
inline Bytes pes(uint64_t pts, const Bytes &data, uint8_t stream_id = 0xC0, uint8_t pts_flags = 2)
{
    Bytes p{0x00,
            0x00,
            0x01,
            stream_id,
            0x00,
            0x00,
            0x80,
            static_cast<uint8_t>(pts_flags << 6),
            static_cast<uint8_t>(pts_flags ? 5 : 0)};
    if (pts_flags)
        p.insert(p.end(), {static_cast<uint8_t>(0x21 | ((pts >> 29) & 0x0E)), static_cast<uint8_t>(pts >> 22),
                           static_cast<uint8_t>(0x01 | ((pts >> 14) & 0xFE)), static_cast<uint8_t>(pts >> 7),
                           static_cast<uint8_t>(0x01 | ((pts << 1) & 0xFE))});
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

// Packets of 188 bytes, or 192 with a 4-byte prefix before each sync byte.
struct Stream {
    size_t size = 188;
    Bytes bytes;

    // af_len < 0: no adaptation field.
    Stream &packet(uint16_t pid, bool start, const Bytes &payload, int af_len = -1)
    {
        if (size == 192)
            bytes.insert(bytes.end(), {0x00, 0x12, 0x34, 0x56});
        const uint8_t control = af_len < 0 ? 0x10 : 0x30;
        Bytes p{0x47, static_cast<uint8_t>((start ? 0x40 : 0) | (pid >> 8)), static_cast<uint8_t>(pid), control};
        if (af_len >= 0) {
            p.push_back(static_cast<uint8_t>(af_len));
            p.insert(p.end(), static_cast<size_t>(af_len), 0xFF);
        }
        p.insert(p.end(), payload.begin(), payload.end());
        p.resize(188, 0xFF);
        bytes.insert(bytes.end(), p.begin(), p.end());
        return *this;
    }

    Stream &filler(int count)
    {
        for (int i = 0; i < count; ++i)
            packet(0x1FFF, false, {});
        return *this;
    }
};

} // namespace tstest

#endif
