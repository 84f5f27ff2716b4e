// IQivPb_Ctrl_GetTSInfo against ffprobe on real streams that ffmpeg makes now:
// packet size, programs, PMT PIDs, elementary PIDs, stream types, first PTS
// and the MPEG audio layer of every file must agree. Also the tsinfo tool.
#include "qivpbctrl_ts.h"
#include "ts_stream_builder.h"
#include "vboard/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kVideo = "-f lavfi -i testsrc=size=160x120:rate=25:duration=1 ";
const std::string kTone = "-f lavfi -i sine=frequency=440:duration=1 ";
const std::string kToneB = "-f lavfi -i sine=frequency=880:duration=1 ";
const std::string kH264 = "-c:v libx264 -preset ultrafast ";
const std::string kM2ts = "-mpegts_m2ts_mode 1 ";
const std::string kTwoPrograms =
    "-map 0 -map 1 -map 2 -map 3 -program program_num=1:st=0:st=1 "
    "-program program_num=2:st=2:st=3 ";

// How a sample is made from another one instead of by ffmpeg.
enum class From { Ffmpeg, Cut, Prefixed, Joined };

struct Sample {
    const char *name;
    size_t packet_size;
    std::string ffmpeg_args; // inputs, codecs and muxer options
    From how = From::Ffmpeg;
    const char *source = nullptr;
    size_t cut_bytes = 0;         // bytes dropped from the start of the source
    const char *second = nullptr; // joined after the source
};

// ffmpeg's M2TS mode allows one program only and carries MPEG audio as stream
// type 6: the 192-byte files with two programs or MPEG audio stream types are
// its 188-byte files with a 4-byte arrival time stamp put before each packet.
const std::vector<Sample> &samples()
{
    static const std::vector<Sample> list = {
        {"mpeg2_mp2.ts", 188, kVideo + kTone + "-c:v mpeg2video -c:a mp2 "},
        {"h264_mp3.ts", 188, kVideo + kTone + kH264 + "-c:a libmp3lame "},
        {"h264_ac3_aac.ts", 188, kVideo + kTone + kToneB + "-map 0 -map 1 -map 2 " + kH264 + "-c:a:0 ac3 -c:a:1 aac "},
        {"mp3_only.ts", 188, kTone + "-c:a libmp3lame "},
        {"two_programs.ts", 188,
         kVideo + kTone + kVideo + kToneB + kTwoPrograms + "-c:v mpeg2video -c:a:0 mp2 " + kH264 +
             "-c:a:1 libmp3lame "},
        {"mpeg2_mp2.m2ts", 192, kVideo + kTone + "-c:v mpeg2video -c:a mp2 " + kM2ts},
        {"h264_ac3.m2ts", 192, kVideo + kTone + kH264 + "-c:a ac3 " + kM2ts},
        {"h264_aac.m2ts", 192, kVideo + kTone + kH264 + "-c:a aac " + kM2ts},
        {"two_programs.m2ts", 192, "", From::Prefixed, "two_programs.ts"},
        {"mp3_only.m2ts", 192, "", From::Prefixed, "mp3_only.ts"},
        {"mpeg2_only.ts", 188, kVideo + "-c:v mpeg2video "},
        // Its program's first PMT lists the video alone, the later ones the audio too.
        {"one_then_two_streams.ts", 188, "", From::Joined, "mpeg2_only.ts", 0, "mpeg2_mp2.ts"},
        {"cut_h264_mp3.ts", 188, "", From::Cut, "h264_mp3.ts", 1000},
        {"cut_h264_ac3.m2ts", 192, "", From::Cut, "h264_ac3.m2ts", 3001},
        {"cut_two_programs.m2ts", 192, "", From::Cut, "two_programs.m2ts", 2002},
    };
    return list;
}

std::string run_output(const std::string &command, int *status = nullptr)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (p == nullptr)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int rc = pclose(p);
    if (status)
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

std::vector<uint8_t> read_file(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using vboard::testkit::TempDir;

void write_file(const fs::path &path, const std::vector<uint8_t> &data)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

::testing::AssertionResult make_sample(const fs::path &dir, const Sample &s)
{
    constexpr size_t kTsPacket = 188;
    const fs::path out = dir / s.name;
    if (s.how == From::Ffmpeg) {
        const std::string cmd = "ffmpeg -nostdin -v error -y " + s.ffmpeg_args + "-f mpegts '" + out.string() + "'";
        if (std::system(cmd.c_str()) != 0)
            return ::testing::AssertionFailure() << "failed: " << cmd;
        return ::testing::AssertionSuccess();
    }
    std::vector<uint8_t> source = read_file(dir / s.source);
    if (source.size() <= s.cut_bytes)
        return ::testing::AssertionFailure() << s.source << " is missing or too short";
    if (s.how == From::Joined) {
        const std::vector<uint8_t> second = read_file(dir / s.second);
        source.insert(source.end(), second.begin(), second.end());
        write_file(out, source);
        return ::testing::AssertionSuccess();
    }
    if (s.how == From::Cut) {
        write_file(out, std::vector<uint8_t>(source.begin() + static_cast<long>(s.cut_bytes), source.end()));
        return ::testing::AssertionSuccess();
    }
    std::vector<uint8_t> prefixed;
    for (size_t pos = 0; pos + kTsPacket <= source.size(); pos += kTsPacket) {
        const uint32_t stamp = static_cast<uint32_t>(pos * 3); // rising, as a 27 MHz arrival clock would
        prefixed.insert(prefixed.end(), {static_cast<uint8_t>((stamp >> 24) & 0x3F), static_cast<uint8_t>(stamp >> 16),
                                         static_cast<uint8_t>(stamp >> 8), static_cast<uint8_t>(stamp)});
        prefixed.insert(prefixed.end(), source.begin() + static_cast<long>(pos),
                        source.begin() + static_cast<long>(pos + kTsPacket));
    }
    write_file(out, prefixed);
    return ::testing::AssertionSuccess();
}

// ffprobe's flat output as key -> value, quotes removed.
std::map<std::string, std::string> probe(const fs::path &file)
{
    std::map<std::string, std::string> kv;
    std::istringstream out(
        run_output("ffprobe -v error -show_programs -show_streams -of flat '" + file.string() + "' 2>/dev/null"));
    for (std::string line; std::getline(out, line);) {
        const size_t eq = line.find('=');
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"')
            value = value.substr(1, value.size() - 2);
        kv[line.substr(0, eq)] = value;
    }
    return kv;
}

// (PID, stream type, first PTS) of one stream.
using StreamKey = std::tuple<unsigned, unsigned, uint64_t>;

// ffprobe's codec_tag is the stream type, but for AC-3 (which ffmpeg writes as type 0x81).
unsigned stream_type_of(const std::string &codec_name, const std::string &codec_tag)
{
    const unsigned tag = static_cast<unsigned>(std::stoul(codec_tag, nullptr, 16));
    return tag > 0xFF && codec_name == "ac3" ? 0x81 : tag;
}

struct Counts {
    int programs = 0;
    int streams = 0;
};

// Compares one file; returns what was compared.
Counts compare_with_ffprobe(const fs::path &file, size_t packet_size)
{
    Counts counts;
    const std::vector<uint8_t> data = read_file(file);
    IQIV_PB_TS_INFO_T info;
    EXPECT_EQ(IQivPb_Ctrl_GetTSInfo(data.data(), static_cast<uint32_t>(data.size()), &info), 0);
    EXPECT_EQ(info.ui2_pkt_size, packet_size);
    const auto kv = probe(file);

    std::map<unsigned, std::set<StreamKey>> ours;
    std::map<unsigned, std::set<StreamKey>> theirs;
    std::map<unsigned, std::string> codec_by_pid;
    for (int k = 0; k < info.ui1_prog_num; ++k) {
        const IQIV_PB_TS_PROGRAM_INFO_T &prog = info.at_program[k];
        EXPECT_EQ(prog.b_parsed, 1);
        auto &set = ours[prog.ui2_pmt_pid];
        for (int i = 0; i < prog.ui1_stream_num; ++i)
            set.emplace(prog.at_stream[i].ui2_pid, prog.at_stream[i].ui2_stream_type, prog.at_stream[i].ui8_pts);
    }
    for (int k = 0; kv.count("programs.program." + std::to_string(k) + ".pmt_pid"); ++k) {
        const std::string pre = "programs.program." + std::to_string(k) + ".";
        auto &set = theirs[static_cast<unsigned>(std::stoul(kv.at(pre + "pmt_pid")))];
        for (int i = 0; kv.count(pre + "streams.stream." + std::to_string(i) + ".id"); ++i) {
            const std::string s = pre + "streams.stream." + std::to_string(i) + ".";
            const unsigned pid = static_cast<unsigned>(std::stoul(kv.at(s + "id"), nullptr, 16));
            const std::string codec = kv.at(s + "codec_name");
            codec_by_pid[pid] = codec;
            set.emplace(pid, stream_type_of(codec, kv.at(s + "codec_tag")), std::stoull(kv.at(s + "start_pts")));
            ++counts.streams;
        }
        ++counts.programs;
    }
    EXPECT_EQ(ours, theirs);

    // The layer code lands on the last MPEG audio stream the PMTs list, and says what ffprobe decodes.
    int layer_marked = 0;
    bool has_mpeg_audio = false;
    for (int k = 0; k < info.ui1_prog_num; ++k)
        for (int i = 0; i < info.at_program[k].ui1_stream_num; ++i) {
            const IQIV_PB_TS_STREAM_INFO_T &st = info.at_program[k].at_stream[i];
            const std::string &codec = codec_by_pid[st.ui2_pid];
            // Only the MPEG audio stream types are searched for a frame header.
            if ((codec == "mp2" || codec == "mp3") && (st.ui2_stream_type == 3 || st.ui2_stream_type == 4))
                has_mpeg_audio = true;
            if (st.ui4_data == IQIV_PB_TS_MPEG_LAYER_3 || st.ui4_data == IQIV_PB_TS_MPEG_LAYER_2) {
                ++layer_marked;
                EXPECT_EQ(codec, st.ui4_data == IQIV_PB_TS_MPEG_LAYER_3 ? "mp3" : "mp2") << st.ui2_pid;
            }
        }
    EXPECT_EQ(layer_marked, has_mpeg_audio ? 1 : 0);
    return counts;
}

TEST(TsInfoFfprobe, AgreesWithFfprobeOnRealStreams)
{
    TempDir dir("tsinfo");
    ASSERT_FALSE(dir.path().empty());
    int programs = 0;
    int streams = 0;
    for (const Sample &s : samples()) {
        SCOPED_TRACE(s.name);
        ASSERT_TRUE(make_sample(dir.path(), s));
        const Counts c = compare_with_ffprobe(dir.file(s.name), s.packet_size);
        EXPECT_GT(c.streams, 0);
        printf("%-24s %7ju bytes  %3d-byte packets  %d program(s)  %d stream(s)\n", s.name,
               static_cast<uintmax_t>(fs::file_size(dir.file(s.name))), static_cast<int>(s.packet_size), c.programs,
               c.streams);
        programs += c.programs;
        streams += c.streams;
    }
    printf("%zu files, %d programs, %d streams checked against ffprobe\n", samples().size(), programs, streams);
}

// ASan, and qemu-arm for the armhf build, reserve more address space than
// such a limit leaves.
#if defined(__SANITIZE_ADDRESS__) || defined(__arm__)
constexpr const char *kAddressSpaceLimit = "";
#else
constexpr const char *kAddressSpaceLimit = "ulimit -v 1048576; ";
#endif

TEST(TsInfoTool, ShowsWhatTheParserFindsWithClearExitStatuses)
{
    TempDir dir("tsinfo");
    ASSERT_FALSE(dir.path().empty());
    const Sample &ts = samples()[0];
    ASSERT_TRUE(make_sample(dir.path(), ts));
    const std::string file = "'" + dir.file(ts.name) + "'";
    const std::string tool = TSINFO_PATH;
    std::ofstream(dir.file("text.txt")) << std::string(4000, 'x');
    write_file(dir.file("pat_only.ts"), tstest::Stream().packet(0, true, tstest::pat({0x1000})).filler(20).bytes);

    int status = -1;
    const std::string json = run_output(tool + " --json " + file, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(json.rfind("{\"packet_size\":188,\"programs\":[{\"pmt_pid\":4096,\"parsed\":true,\"streams\":[", 0), 0u)
        << json;
    const std::string text = run_output(tool + " -n 100000 " + file, &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(text.find("program 0: PMT PID 0x1000, PMT read, 2 streams"), std::string::npos) << text;
    EXPECT_EQ(text.find("<GetTsInfo>"), std::string::npos); // the parser's lines only with -v
    EXPECT_NE(run_output(tool + " -v " + file).find("<GetTsInfo>buffer len is: "), std::string::npos);

    struct Case {
        std::string args;
        int status;
    } cases[] = {{"'" + dir.file("text.txt") + "'", 1},
                 {"'" + dir.file("missing.ts") + "'", 1},
                 {"-n 100 " + file, 1},
                 {"'" + dir.file("pat_only.ts") + "'", 1},
                 {"", 2},
                 {"-n 0 " + file, 2},
                 {"--bogus " + file, 2},
                 {file + " " + file, 2}};
    for (const Case &c : cases) {
        run_output(tool + " " + c.args + " 2>/dev/null", &status);
        EXPECT_EQ(status, c.status) << c.args;
    }
    // A count far beyond the file asks for no more memory than the file
    // needs.
    run_output(std::string(kAddressSpaceLimit) + tool + " -n 4000000000 " + file + " >/dev/null", &status);
    EXPECT_EQ(status, 0);
}

} // namespace
