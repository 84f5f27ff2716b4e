// IQivPb_Ctrl_GetTSInfo: programs and elementary streams of the start of an
// MPEG-2 transport stream, read locally in one pass with no allocation.
//
// Every header field is read relative to a packet's sync byte. In a 192-byte
// M2TS packet the 4-byte arrival time stamp comes before the sync byte, so
// "bytes 5-6 of the packet" are the two bytes after the sync byte: reading at
// the sync byte finds the PID whether or not the buffer starts with the
// prefix of its first packet (the ffmpeg-made M2TS files of the tests start
// with it, the cut ones do not).
//
// The PMT scan stays on the packet grid when a PMT packet carries an
// adaptation field: moving on by the field's length as well would put every
// later packet step off the grid, so the scan would miss the next PMT packets
// and start the MPEG audio search in the middle of a packet.
#include "qivpbctrl_ts.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

static_assert(sizeof(IQIV_PB_TS_STREAM_INFO_T) == 40, "stream record is 40 bytes");
static_assert(offsetof(IQIV_PB_TS_STREAM_INFO_T, ui4_data) == 4, "data word at 4");
static_assert(offsetof(IQIV_PB_TS_STREAM_INFO_T, ui8_pts) == 8, "PTS at 8");
static_assert(sizeof(IQIV_PB_TS_PROGRAM_INFO_T) == 328, "program record is 328 bytes");
static_assert(offsetof(IQIV_PB_TS_PROGRAM_INFO_T, ui2_pmt_pid) == 2, "PMT PID at 2");
static_assert(offsetof(IQIV_PB_TS_PROGRAM_INFO_T, ui1_stream_num) == 4, "stream count at 4");
static_assert(offsetof(IQIV_PB_TS_PROGRAM_INFO_T, at_stream) == 8, "streams at 8");
static_assert(sizeof(IQIV_PB_TS_INFO_T) == 5256, "output record is 5,256 bytes");
static_assert(offsetof(IQIV_PB_TS_INFO_T, ui1_prog_num) == 4, "program count at 4");
static_assert(offsetof(IQIV_PB_TS_INFO_T, at_program) == 8, "programs at 8");

namespace {

constexpr uint8_t kSync = 0x47;
constexpr size_t kTsPacket = 188;
constexpr size_t kM2tsPacket = 192;
constexpr int kPacketSyncRun = 5; // sync bytes in a row that prove a packet size
constexpr int kPtsSyncRun = 3;
constexpr uint16_t kPatPid = 0;
constexpr int kPatFixedBytes = 9; // section bytes after section_length that are no program entry
constexpr int kPatEntryBytes = 4;
constexpr int kPmtEntryBytes = 5;
constexpr int kPmtFirstEntry = 17;
constexpr int kRereadStreamLimit = 7;
constexpr uint64_t kNoPts = IQIV_PB_TS_NO_PTS;

constexpr int32_t kOk = 0;
constexpr int32_t kFail = -1;
constexpr int32_t kInvalidArgument = -3;

// One buffer and the bounds every read is checked against.
struct Span {
    const uint8_t *data;
    size_t len;

    bool has(size_t pos, size_t count) const { return pos <= len && count <= len - pos; }
};

uint16_t pid_of(const uint8_t *pkt) { return static_cast<uint16_t>(((pkt[1] & 0x1F) << 8) | pkt[2]); }
bool unit_start(const uint8_t *pkt) { return (pkt[1] & 0x40) != 0; }
int adaptation_control(const uint8_t *pkt) { return (pkt[3] >> 4) & 3; }
bool has_adaptation(const uint8_t *pkt) { return (pkt[3] & 0x20) != 0; }
unsigned bits12(const uint8_t *p) { return ((p[0] & 0x0Fu) << 8) | p[1]; }
uint16_t bits13(const uint8_t *p) { return static_cast<uint16_t>(((p[0] & 0x1F) << 8) | p[1]); }

// First position with `run` sync bytes `size` apart, all inside the buffer.
bool find_sync_run(Span buf, size_t size, int run, size_t &pos)
{
    const size_t span = size * static_cast<size_t>(run - 1);
    for (size_t b = 0; buf.has(b, span + 1); ++b) {
        int k = 0;
        while (k < run && buf.data[b + size * static_cast<size_t>(k)] == kSync)
            ++k;
        if (k == run) {
            pos = b;
            return true;
        }
    }
    return false;
}

// Offset of a table's start in a packet: past the adaptation field when there is one.
size_t table_offset(const uint8_t *pkt) { return has_adaptation(pkt) ? pkt[4] + 1u : 0u; }

// Offset of a packet's payload, or 0 when it carries none; needs byte 4 inside the buffer.
size_t payload_offset(const uint8_t *pkt)
{
    switch (adaptation_control(pkt)) {
    case 1:
        return 4;
    case 3:
        return 4u + pkt[4] + 1u;
    default:
        return 0;
    }
}

bool skipped_stream_id(uint8_t id)
{
    static const uint8_t kNoPtsIds[] = {0xBC, 0xBE, 0xBF, 0xF0, 0xF1, 0xF2, 0xF8, 0xFF};
    return std::memchr(kNoPtsIds, id, sizeof kNoPtsIds) != nullptr;
}

uint64_t pes_pts(const uint8_t *pes)
{
    return (static_cast<uint64_t>((pes[9] >> 1) & 7) << 30) +
           (static_cast<uint64_t>(((pes[10] << 8) | pes[11]) >> 1) << 15) +
           static_cast<uint64_t>(((pes[12] << 8) | pes[13]) >> 1);
}

// First PTS of `pid` in the buffer, or all ones.
uint64_t find_first_pts(const uint8_t *data, size_t len, uint16_t pid, size_t size)
{
    constexpr size_t kPesPtsEnd = 14;
    if (data == nullptr || len <= kPtsSyncRun * size || (size != kTsPacket && size != kM2tsPacket))
        return kNoPts;
    const Span buf{data, len};
    size_t pos = 0;
    if (!find_sync_run(buf, size, kPtsSyncRun, pos))
        return kNoPts;
    for (; buf.has(pos, 5); pos += size) {
        const uint8_t *pkt = data + pos;
        if (pid_of(pkt) != pid || !unit_start(pkt))
            continue;
        const size_t payload = payload_offset(pkt);
        if (payload == 0 || payload + kPesPtsEnd > kTsPacket || !buf.has(pos + payload, kPesPtsEnd))
            continue;
        const uint8_t *pes = pkt + payload;
        if (skipped_stream_id(pes[3]) || (pes[7] >> 6) < 2)
            continue;
        return pes_pts(pes);
    }
    return kNoPts;
}

// What the PMT scan remembers of the last MPEG audio stream it listed.
struct MpegAudio {
    IQIV_PB_TS_STREAM_INFO_T *stream = nullptr;
    uint16_t pid = 0;
};

struct Scan {
    Span buf;
    size_t pkt_size;
    IQIV_PB_TS_INFO_T *info;
    MpegAudio audio;
};

bool pid_listed(const IQIV_PB_TS_PROGRAM_INFO_T &prog, uint16_t pid)
{
    for (int i = 0; i < prog.ui1_stream_num; ++i)
        if (prog.at_stream[i].ui2_pid == pid)
            return true;
    return false;
}

void store_stream(Scan &scan, IQIV_PB_TS_PROGRAM_INFO_T &prog, const uint8_t *entry, unsigned es_len)
{
    IQIV_PB_TS_STREAM_INFO_T &st = prog.at_stream[prog.ui1_stream_num];
    st.ui2_stream_type = entry[0];
    st.ui2_pid = bits13(entry + 1);
    if (es_len != 0) {
        st.ui4_data = entry[5];
        printf("\n<GetTsInfo>Find Dolby Audio Stream,ui4_data:%d\n", static_cast<int>(st.ui4_data));
    }
    st.ui8_pts = find_first_pts(scan.buf.data, scan.buf.len, st.ui2_pid, scan.pkt_size);
    if (st.ui2_stream_type == 3 || st.ui2_stream_type == 4) {
        printf("\n<GetTsInfo>Find MPEG Audio Stream");
        scan.audio.stream = &st;
        scan.audio.pid = st.ui2_pid;
    }
    ++prog.ui1_stream_num;
}

// Reads the PMT in the packet at `pos` into program `prog`.
void read_pmt(Scan &scan, IQIV_PB_TS_PROGRAM_INFO_T &prog, size_t pos)
{
    const Span &buf = scan.buf;
    const size_t p3 = pos + table_offset(buf.data + pos);
    if (!buf.has(p3, kPmtFirstEntry))
        return;
    const unsigned info_len = bits12(buf.data + p3 + 15);
    const unsigned section_len = bits12(buf.data + p3 + 6);
    if (info_len >= section_len)
        return;
    const bool reread = prog.b_parsed != 0;
    unsigned t = info_len + kPmtFirstEntry;
    for (int i = 0; i < IQIV_PB_TS_MAX_STREAMS && t < section_len; ++i) {
        if (!buf.has(p3 + t, kPmtEntryBytes))
            break;
        const uint8_t *entry = buf.data + p3 + t;
        const uint16_t pid = bits13(entry + 1);
        const unsigned es_len = bits12(entry + 3);
        if (es_len != 0 && !buf.has(p3 + t + kPmtEntryBytes, 1))
            break;
        if (!reread) {
            printf("<GetTsInfo>buffer old(PmtId:%x, pid:%x)\n", prog.ui2_pmt_pid, pid);
            store_stream(scan, prog, entry, es_len);
        } else if (!pid_listed(prog, pid)) {
            if (pid == 0 || prog.ui1_stream_num >= kRereadStreamLimit)
                break;
            printf("<GetTsInfo>buffer new (PmtId:%x, StreamId:%x pid:%x)\n", prog.ui2_pmt_pid, prog.ui1_stream_num,
                   pid);
            printf("<GetTsInfo>buffer new %x\n", pid);
            store_stream(scan, prog, entry, es_len);
        }
        t += kPmtEntryBytes + es_len;
    }
    prog.b_parsed = 1;
}

bool every_program_settled(const IQIV_PB_TS_INFO_T &info)
{
    for (int k = 0; k < info.ui1_prog_num; ++k) {
        const IQIV_PB_TS_PROGRAM_INFO_T &prog = info.at_program[k];
        if (!prog.b_parsed || prog.ui1_stream_num == 1)
            return false;
    }
    return true;
}

// Walks every packet of the buffer's grid for PMTs; returns where it stopped.
size_t scan_pmts(Scan &scan, size_t first_sync)
{
    IQIV_PB_TS_INFO_T &info = *scan.info;
    size_t pos = first_sync % scan.pkt_size;
    for (; scan.buf.has(pos, 5); pos += scan.pkt_size) {
        const uint8_t *pkt = scan.buf.data + pos;
        if (!unit_start(pkt))
            continue;
        for (int k = 0; k < info.ui1_prog_num; ++k) {
            IQIV_PB_TS_PROGRAM_INFO_T &prog = info.at_program[k];
            if (pid_of(pkt) == prog.ui2_pmt_pid && (!prog.b_parsed || prog.ui1_stream_num == 1))
                read_pmt(scan, prog, pos);
        }
        if (every_program_settled(info))
            return pos + scan.pkt_size;
    }
    return pos;
}

// Reads the PAT in the first packet of PID 0 that starts a section.
bool read_pat(Span buf, size_t first_sync, size_t pkt_size, IQIV_PB_TS_INFO_T &info)
{
    size_t pos = first_sync;
    while (buf.has(pos, 5) && !(unit_start(buf.data + pos) && pid_of(buf.data + pos) == kPatPid))
        pos += pkt_size;
    if (!buf.has(pos, 5))
        return false;
    const size_t q = pos + table_offset(buf.data + pos);
    if (!buf.has(q, 8))
        return true; // a PAT whose section is cut off lists no program
    const int entries = (static_cast<int>(bits12(buf.data + q + 6)) - kPatFixedBytes) / kPatEntryBytes;
    const int count = entries < 0 ? 0 : entries > IQIV_PB_TS_MAX_PROGRAMS ? IQIV_PB_TS_MAX_PROGRAMS : entries;
    int k = 0;
    for (; k < count && buf.has(q + 15 + kPatEntryBytes * k, 2); ++k)
        info.at_program[k].ui2_pmt_pid = bits13(buf.data + q + 15 + kPatEntryBytes * k);
    info.ui1_prog_num = static_cast<uint8_t>(k);
    return true;
}

// Where the first audio frame of the remembered MPEG audio stream starts in the packet, or 0.
size_t audio_frame_offset(const uint8_t *pkt)
{
    size_t payload = payload_offset(pkt);
    if (payload == 0 || payload + 4 > kTsPacket)
        return 0;
    const uint8_t *p = pkt + payload;
    if (unit_start(pkt) && payload + 9 <= kTsPacket && p[0] == 0 && p[1] == 0 && p[2] == 1)
        payload += 9u + p[8];
    return payload + 4 <= kTsPacket ? payload : 0;
}

// Sets the MPEG audio stream's data word from the first frame header found at or after `pos`.
void find_mpeg_layer(const Scan &scan, size_t pos)
{
    const Span &buf = scan.buf;
    for (; pos + scan.pkt_size < buf.len; pos += scan.pkt_size) {
        const uint8_t *pkt = buf.data + pos;
        if (pid_of(pkt) != scan.audio.pid)
            continue;
        const size_t frame = audio_frame_offset(pkt);
        if (frame == 0)
            continue;
        const uint8_t *w = pkt + frame;
        printf("\n InfoTsf:Audio Codec Sync Word:[%x,%x,%x,%x]\n", w[0], w[1], w[2], w[3]);
        if (w[0] == 0xFF && w[1] == 0xFB) {
            scan.audio.stream->ui4_data = IQIV_PB_TS_MPEG_LAYER_3;
            return;
        }
        if (w[0] == 0xFF && w[1] == 0xFD) {
            scan.audio.stream->ui4_data = IQIV_PB_TS_MPEG_LAYER_2;
            return;
        }
    }
}

} // namespace

extern "C" int32_t IQivPb_Ctrl_GetTSInfo(const uint8_t *pu1_buf, uint32_t ui4_len, IQIV_PB_TS_INFO_T *pt_info)
{
    if (pu1_buf == nullptr || pt_info == nullptr || ui4_len < kTsPacket)
        return kInvalidArgument;
    printf("<GetTsInfo>buffer len is: %d\n", static_cast<int>(ui4_len));
    std::memset(pt_info, 0, sizeof *pt_info);

    const Span buf{pu1_buf, ui4_len};
    size_t first_sync = 0;
    size_t pkt_size = kTsPacket;
    if (!find_sync_run(buf, kTsPacket, kPacketSyncRun, first_sync)) {
        pkt_size = kM2tsPacket;
        if (!find_sync_run(buf, kM2tsPacket, kPacketSyncRun, first_sync))
            return kFail;
    }
    pt_info->ui2_pkt_size = static_cast<uint16_t>(pkt_size);
    if (!read_pat(buf, first_sync, pkt_size, *pt_info)) {
        std::memset(pt_info, 0, sizeof *pt_info);
        return kFail;
    }

    Scan scan{buf, pkt_size, pt_info, {}};
    size_t pos = scan_pmts(scan, first_sync);
    const bool need_layer = scan.audio.stream != nullptr;
    printf("\n<GetTsInfo>Paser MPGE layer crupos:%d, buflen:%d, fgNeedToAnalyseMpegLayer:%d \n", static_cast<int>(pos),
           static_cast<int>(ui4_len), need_layer ? 1 : 0);
    if (!need_layer)
        return kOk;
    if (pos + pkt_size >= buf.len)
        pos = first_sync;
    find_mpeg_layer(scan, pos);
    return kOk;
}
