// IQivPb_Ctrl_GetTSInfo on hand-made packets: what ffmpeg does not produce.
#include "qivpbctrl_ts.h"

#include "ts_stream_builder.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace tstest;

constexpr uint16_t kPmtPid = 0x1000;
constexpr uint16_t kVideoPid = 0x100;
constexpr uint16_t kAudioPid = 0x101;
constexpr uint64_t kVideoPts = 0x1ABCDEF01ull; // all 33 bits in use
constexpr uint64_t kAudioPts = 126000;

int32_t analyse(const Bytes &b, IQIV_PB_TS_INFO_T &info, size_t len = SIZE_MAX)
{
    return IQivPb_Ctrl_GetTSInfo(b.data(), static_cast<uint32_t>(std::min(len, b.size())), &info);
}

// PAT, PMT of a video and an MPEG audio stream, one PES each, then filler.
Stream two_stream_program(size_t size, uint8_t frame_second_byte)
{
    Stream s{size, {}};
    s.packet(0, true, pat({kPmtPid}))
        .packet(kPmtPid, true, pmt({{0x02, kVideoPid, {}}, {0x03, kAudioPid, {}}}))
        .packet(kVideoPid, true, pes(kVideoPts, {0x00, 0x00, 0x01, 0xB3}, 0xE0))
        .packet(kAudioPid, true, pes(kAudioPts, {0xFF, frame_second_byte, 0x90, 0x64}))
        .filler(3);
    return s;
}

TEST(TsInfo, ArgumentErrorsLeaveTheRecordUntouched)
{
    const Bytes ts = two_stream_program(188, 0xFB).bytes;
    IQIV_PB_TS_INFO_T info;
    IQIV_PB_TS_INFO_T before;
    std::memset(&before, 0xA5, sizeof before);
    struct Case {
        const uint8_t *buf;
        uint32_t len;
        IQIV_PB_TS_INFO_T *out;
    } cases[] = {{nullptr, 2000, &info}, {ts.data(), 187, &info}, {ts.data(), 0, &info}};
    for (const Case &c : cases) {
        std::memcpy(&info, &before, sizeof info);
        EXPECT_EQ(IQivPb_Ctrl_GetTSInfo(c.buf, c.len, c.out), -3) << c.len;
        EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0) << c.len;
    }
    EXPECT_EQ(IQivPb_Ctrl_GetTSInfo(ts.data(), static_cast<uint32_t>(ts.size()), nullptr), -3);
}

TEST(TsInfo, NoPacketStructureOrNoPatGivesMinusOneAndAZeroedRecord)
{
    const Bytes garbage(2000, 0x47 ^ 0x55);
    Stream no_pat;
    no_pat.filler(6);
    Bytes cut_before_fifth_sync = two_stream_program(188, 0xFB).bytes;
    cut_before_fifth_sync.resize(4 * 188);
    for (const Bytes *b : std::vector<const Bytes *>{&garbage, &no_pat.bytes, &cut_before_fifth_sync}) {
        IQIV_PB_TS_INFO_T info;
        std::memset(&info, 0xA5, sizeof info);
        EXPECT_EQ(analyse(*b, info), -1);
        const IQIV_PB_TS_INFO_T zero{};
        EXPECT_EQ(std::memcmp(&info, &zero, sizeof info), 0);
    }
}

// Both packet sizes, both MPEG audio frame headers the parser tells apart, and
// one it does not know (the data word then keeps the ES_info byte: none here).
TEST(TsInfo, ListsStreamsWithFirstPtsAndMpegLayer)
{
    struct Case {
        size_t size;
        uint8_t frame_byte;
        uint32_t data;
    } cases[] = {{188, 0xFB, 3}, {188, 0xFD, 1}, {192, 0xFB, 3}, {192, 0xFD, 1}, {188, 0xF3, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " " << std::hex << int(c.frame_byte));
        IQIV_PB_TS_INFO_T info;
        ASSERT_EQ(analyse(two_stream_program(c.size, c.frame_byte).bytes, info), 0);
        EXPECT_EQ(info.ui2_pkt_size, c.size);
        ASSERT_EQ(info.ui1_prog_num, 1);
        const IQIV_PB_TS_PROGRAM_INFO_T &prog = info.at_program[0];
        EXPECT_EQ(prog.b_parsed, 1);
        EXPECT_EQ(prog.ui2_pmt_pid, kPmtPid);
        ASSERT_EQ(prog.ui1_stream_num, 2);
        EXPECT_EQ(prog.at_stream[0].ui2_pid, kVideoPid);
        EXPECT_EQ(prog.at_stream[0].ui2_stream_type, 2);
        EXPECT_EQ(prog.at_stream[0].ui8_pts, kVideoPts);
        EXPECT_EQ(prog.at_stream[0].ui4_data, 0u);
        EXPECT_EQ(prog.at_stream[1].ui2_pid, kAudioPid);
        EXPECT_EQ(prog.at_stream[1].ui8_pts, kAudioPts);
        EXPECT_EQ(prog.at_stream[1].ui4_data, c.data);
        EXPECT_EQ(prog.at_stream[2].ui2_pid, 0);
    }
}

TEST(TsInfo, ProgramCountFollowsPatSectionLengthWithinSixteen)
{
    struct Case {
        int section_length;
        int programs;
    } cases[] = {{13, 1}, {81, 16}, {5, 0}, {521, 16}, {1033, 16}};
    const std::vector<uint16_t> pids{0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28,
                                     0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F, 0x30, 0x31};
    for (const Case &c : cases) {
        Stream s;
        s.packet(0, true, pat(pids, c.section_length)).filler(5);
        IQIV_PB_TS_INFO_T info;
        ASSERT_EQ(analyse(s.bytes, info), 0);
        ASSERT_EQ(info.ui1_prog_num, c.programs) << c.section_length;
        for (int k = 0; k < c.programs; ++k)
            EXPECT_EQ(info.at_program[k].ui2_pmt_pid, pids[k]);
    }
}

// A program listed with one stream is read again at its next PMT; one with two is not.
TEST(TsInfo, SingleStreamProgramIsReadAgain)
{
    Stream s;
    s.packet(0, true, pat({0x30, 0x31}))
        .packet(0x30, true, pmt({{0x1B, 0x200, {}}}))
        .packet(0x31, true, pmt({{0x1B, 0x300, {}}, {0x0F, 0x301, {}}}))
        .packet(0x30, true, pmt({{0x1B, 0x200, {}}, {0x81, 0x201, {0x6A, 0x01, 0x00}}}))
        .packet(0x31, true, pmt({{0x1B, 0x300, {}}, {0x0F, 0x301, {}}, {0x81, 0x302, {}}}))
        .filler(4);
    IQIV_PB_TS_INFO_T info;
    ASSERT_EQ(analyse(s.bytes, info), 0);
    const IQIV_PB_TS_PROGRAM_INFO_T &first = info.at_program[0];
    ASSERT_EQ(first.ui1_stream_num, 2);
    EXPECT_EQ(first.at_stream[1].ui2_pid, 0x201);
    EXPECT_EQ(first.at_stream[1].ui2_stream_type, 0x81);
    EXPECT_EQ(first.at_stream[1].ui4_data, 0x6Au); // first ES_info byte
    EXPECT_EQ(first.at_stream[1].ui8_pts, IQIV_PB_TS_NO_PTS);
    EXPECT_EQ(info.at_program[1].ui1_stream_num, 2);
}

// The scan keeps to the packet grid after a PMT packet with an adaptation field,
// so the program's next PMT packet is still found.
TEST(TsInfo, PmtScanStaysOnThePacketGridAfterAnAdaptationField)
{
    Stream s;
    s.packet(0, true, pat({kPmtPid}))
        .packet(kPmtPid, true, pmt({{0x02, kVideoPid, {}}}), 7)
        .packet(kPmtPid, true, pmt({{0x02, kVideoPid, {}}, {0x04, kAudioPid, {}}}))
        .packet(kAudioPid, true, pes(kAudioPts, {0xFF, 0xFB, 0x90, 0x64}), 20)
        .filler(3);
    IQIV_PB_TS_INFO_T info;
    ASSERT_EQ(analyse(s.bytes, info), 0);
    ASSERT_EQ(info.at_program[0].ui1_stream_num, 2);
    EXPECT_EQ(info.at_program[0].at_stream[1].ui8_pts, kAudioPts);
    EXPECT_EQ(info.at_program[0].at_stream[1].ui4_data, 3u);
}

// The PTS finder passes over PES packets that carry no PTS.
TEST(TsInfo, FirstPtsSkipsPesWithoutOne)
{
    Stream s;
    s.packet(0, true, pat({kPmtPid}))
        .packet(kPmtPid, true, pmt({{0x06, kAudioPid, {}}, {0x02, kVideoPid, {}}}))
        .packet(kAudioPid, true, pes(0, {}, 0xBE, 0))
        .packet(kAudioPid, true, pes(0x1234, {}, 0xBD, 2))
        .packet(kVideoPid, true, pes(0, {}, 0xE0, 0))
        .packet(kVideoPid, true, pes(0, {}, 0xBF, 2))
        .filler(3);
    IQIV_PB_TS_INFO_T info;
    ASSERT_EQ(analyse(s.bytes, info), 0);
    EXPECT_EQ(info.at_program[0].at_stream[0].ui8_pts, 0x1234u);
    EXPECT_EQ(info.at_program[0].at_stream[1].ui8_pts, IQIV_PB_TS_NO_PTS);
}

// Cut at every length up to a few packets past the PAT: only -3, -1 or a
// result that the full buffer's result extends.
TEST(TsInfo, EveryCutIsSafeAndConsistent)
{
    for (size_t size : {188u, 192u}) {
        Stream s{size, {}};
        s.filler(1);
        s.bytes.erase(s.bytes.begin(), s.bytes.begin() + 100); // start mid-packet
        s.packet(0, true, pat({kPmtPid, 0x1001}))
            .packet(kPmtPid, true,
                    pmt({{0x02, kVideoPid, {0x0A, 0x04, 0x65, 0x6E, 0x67, 0x00}}, {0x03, kAudioPid, {}}}))
            .packet(kVideoPid, true, pes(kVideoPts, {}, 0xE0))
            .packet(0x1001, true, pmt({{0x81, 0x300, {}}}))
            .packet(kAudioPid, true, pes(kAudioPts, {0xFF, 0xFB, 0x90, 0x64}))
            .filler(5);
        IQIV_PB_TS_INFO_T full;
        ASSERT_EQ(analyse(s.bytes, full), 0);
        ASSERT_EQ(full.at_program[0].ui1_stream_num, 2);
        for (size_t len = 0; len <= s.bytes.size(); ++len) {
            SCOPED_TRACE(testing::Message() << size << " cut at " << len);
            IQIV_PB_TS_INFO_T info;
            const Bytes cut(s.bytes.begin(), s.bytes.begin() + len);
            const int32_t rc = IQivPb_Ctrl_GetTSInfo(cut.empty() ? nullptr : cut.data(), static_cast<uint32_t>(len),
                                                     &info);
            ASSERT_TRUE(rc == 0 || rc == -1 || rc == -3) << rc;
            if (rc != 0)
                continue;
            ASSERT_EQ(info.ui2_pkt_size, size);
            ASSERT_LE(info.ui1_prog_num, full.ui1_prog_num);
            for (int k = 0; k < info.ui1_prog_num; ++k) {
                const IQIV_PB_TS_PROGRAM_INFO_T &p = info.at_program[k];
                const IQIV_PB_TS_PROGRAM_INFO_T &f = full.at_program[k];
                ASSERT_EQ(p.ui2_pmt_pid, f.ui2_pmt_pid);
                ASSERT_LE(p.ui1_stream_num, f.ui1_stream_num);
                for (int i = 0; i < p.ui1_stream_num; ++i) {
                    EXPECT_EQ(p.at_stream[i].ui2_pid, f.at_stream[i].ui2_pid);
                    EXPECT_EQ(p.at_stream[i].ui2_stream_type, f.at_stream[i].ui2_stream_type);
                    EXPECT_TRUE(p.at_stream[i].ui8_pts == f.at_stream[i].ui8_pts ||
                                p.at_stream[i].ui8_pts == IQIV_PB_TS_NO_PTS);
                    EXPECT_TRUE(p.at_stream[i].ui4_data == f.at_stream[i].ui4_data || p.at_stream[i].ui4_data == 0);
                }
            }
        }
    }
}

} // namespace
