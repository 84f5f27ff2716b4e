// The board as a whole: `vboard run` and friends through the test kit.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "vboard/testkit.h"

using namespace vboard::testkit;

namespace {

const char kSmallBoard[] =
    "nand.size = 4M\nnand.erasesize = 128K\nnand.writesize = 2K\nnand.oobsize = 64\nnand.name = chip\n"
    "partition = part_info 1M\npartition = data rest\n";

bool exists(const std::string &path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

size_t count(const std::vector<std::string> &lines, const std::string &line)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

} // namespace

TEST(Board, TrueIsQuickAndStatusesPassThrough)
{
    Board board;
    auto start = std::chrono::steady_clock::now();
    Result r = board.run({"true"});
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(r.status, 0) << r.err;
    std::printf("vboard run -- true: %lld ms\n", static_cast<long long>(ms.count()));
    EXPECT_EQ(board.run({"sh", "-c", "exit 7"}).status, 7);
    EXPECT_EQ(board.run({"sh", "-c", "kill -TERM $$"}).status, 128 + SIGTERM);
    Result missing = board.run({"/no/such/program"});
    EXPECT_EQ(missing.status, 127);
    EXPECT_NE(missing.err.find("cannot run /no/such/program"), std::string::npos) << missing.err;
    EXPECT_EQ(board.run({"sh", "-c", "echo out; echo err >&2"}).out, "out\n");
}

TEST(Board, ShellSeesProcMtdAndDdWorksPageByPage)
{
    Board board(kSmallBoard);
    Result r = board.run({"cat", "/proc/mtd"});
    EXPECT_EQ(r.out,
              "dev:    size   erasesize  name\n"
              "mtd0: 00400000 00020000 \"chip\"\n"
              "mtd1: 00100000 00020000 \"part_info\"\n"
              "mtd2: 00300000 00020000 \"data\"\n");
    r = board.run({"sh", "-c", "[ -c /dev/mtd2 ] && echo char; [ -e /dev/mtd3 ] || echo none; ls -l /dev/mtd2"});
    EXPECT_EQ(r.out.substr(0, 13), "char\nnone\ncrw") << r.out;
    EXPECT_EQ(r.err, "");
    r = board.run({"sh", "-c",
                   "head -c 4096 /dev/urandom > /tmp/two_pages && "
                   "dd if=/tmp/two_pages of=/dev/mtd2 bs=2048 2>/dev/null && "
                   "dd if=/dev/mtd2 bs=2048 count=2 2>/dev/null | cmp - /tmp/two_pages && echo same"});
    EXPECT_EQ(r.out, "same\n") << r.err;
    std::vector<std::string> journal = board.journal();
    EXPECT_EQ(count(journal, "program mtd2 block 0 pages 2"), 1u);
    EXPECT_EQ(count(journal, "read mtd2 block 0 pages 2"), 1u);

    r = board.run({"sh", "-c", "printf again | dd of=/dev/mtd2 bs=2048 2>&1"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("Input/output error"), std::string::npos) << r.out;
    EXPECT_EQ(board.journal_lines("violation").size(), 1u);
    EXPECT_EQ(board.journal_lines("violation")[0], "violation program mtd2 0x00000000 not erased");
}

TEST(Board, FilesWrittenOnTheBoardStayOffTheHost)
{
    Board board;
    std::string mounts_before = read_file("/proc/self/mountinfo");
    std::string host_pid = std::to_string(::getpid());
    Result r = board.run({"sh", "-c",
                          "echo board > /etc/vboard-probe && echo tmp > /tmp/vboard-isolation-probe && "
                          "kill -0 " +
                              host_pid + " 2>/dev/null || echo host-pid-hidden; ps -e | wc -l"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(exists("/etc/vboard-probe"));
    EXPECT_FALSE(exists("/tmp/vboard-isolation-probe"));
    EXPECT_EQ(read_file("/proc/self/mountinfo"), mounts_before) << "no mount of the board shows on the host";
    std::ifstream written(board.written_path("/etc/vboard-probe"));
    std::string text;
    std::getline(written, text);
    EXPECT_EQ(text, "board");
    EXPECT_NE(r.out.find("host-pid-hidden"), std::string::npos) << r.out;
    int processes = std::atoi(r.out.substr(r.out.find('\n') + 1).c_str());
    EXPECT_LT(processes, 8) << "only the board's own processes are visible";
    EXPECT_NE(board.run({"cat", "/tmp/vboard-isolation-probe"}).status, 0) << "/tmp is fresh on every boot";
    EXPECT_EQ(board.run({"cat", "/etc/vboard-probe"}).out, "board\n") << "the root keeps its files across boots";
}

TEST(Board, KillallOnTheBoardCannotReachHostProcesses)
{
    Board board;
    std::string sleeper = board.work() + "/vbprobe_sleep";
    std::filesystem::copy_file("/bin/sleep", sleeper);
    pid_t host = ::fork();
    if (host == 0) {
        ::execl(sleeper.c_str(), "vbprobe_sleep", "30", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ASSERT_TRUE(await([&] { return exists("/proc/" + std::to_string(host) + "/exe"); }, 2000));
    Result r = board.run({"killall", "vbprobe_sleep"});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(::kill(host, 0), 0) << "the host process survives";
    ::kill(host, SIGKILL);
    ::waitpid(host, nullptr, 0);
}

TEST(Board, NandKeepsItsContentsAcrossBootsAndCanBeSeeded)
{
    Board board(kSmallBoard);
    board.seed_nand(0x100000, "seeded");
    Result r = board.run({"sh", "-c", "head -c 6 /dev/mtd2; printf x | dd of=/dev/mtd2 seek=1 bs=2048 2>/dev/null"});
    EXPECT_EQ(r.out, "seeded");
    EXPECT_EQ(board.read_nand(0x100800, 2), "x\xff");
    r = board.run({"sh", "-c", "dd if=/dev/mtd0 bs=1 skip=$((0x100800)) count=1 2>/dev/null"});
    EXPECT_EQ(r.out, "x");
    EXPECT_EQ(board.journal_lines("boot ").size(), 2u);
}

TEST(Board, PowerCutKillsTheBoardAndKeepsTheFlashAsItWas)
{
    Board board(std::string(kSmallBoard) + "power_cut_after = 3\n");
    Result r = board.run({"sh", "-c",
                          "head -c 10240 /dev/zero | tr '\\0' P > /tmp/five && "
                          "dd if=/tmp/five of=/dev/mtd0 bs=2048 2>/dev/null; echo survived"});
    EXPECT_EQ(r.status, 128 + SIGKILL);
    EXPECT_EQ(r.out, "") << "the shell died with the board";
    EXPECT_EQ(board.journal_lines("powercut"), (std::vector<std::string>{"powercut after 3 flash operations"}));
    EXPECT_TRUE(board.read_nand(2 * 2048, 2048) == std::string(2048, 'P'));
    EXPECT_TRUE(board.read_nand(3 * 2048, 2048) == std::string(2048, '\xff'));
    board.set_board_text(kSmallBoard);
    r = board.run({"sh", "-c", "dd if=/dev/mtd0 bs=2048 skip=2 count=1 2>/dev/null | head -c 3"});
    EXPECT_EQ(r.out, "PPP");
}

TEST(Board, ExecJoinsARunningBoardAndHostPathsReachIt)
{
    Board board;
    auto daemon = board.start({"sh", "-c", "echo up > /tmp/flag; exec sleep 30"});
    std::string flag = board.host_path("/tmp/flag");
    ASSERT_FALSE(flag.empty());
    ASSERT_TRUE(await([&] { return exists(flag); }, 5000));
    Result r = board.exec({"sh", "-c", "cat /tmp/flag; head -1 /proc/mtd"});
    EXPECT_EQ(r.out, "up\ndev:    size   erasesize  name\n") << r.err;
    EXPECT_FALSE(exists("/tmp/flag") && board.host_path("/tmp/flag") == "/tmp/flag");
    EXPECT_EQ(daemon->signal(SIGTERM), 0);
    ASSERT_TRUE(daemon->wait(5000));
    EXPECT_EQ(daemon->status(), 128 + SIGTERM);
    EXPECT_EQ(board.board_pid(0), -1);
}

// A killed runner leaves its board winding down for a moment; the next run
// on the same state must wait for it, not fail, while a live board is refused.
TEST(Board, NextRunAfterAKilledRunnerSucceedsAndALiveBoardIsRefused)
{
    Board board;
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        auto busy = board.start({"sh", "-c", "sleep 30 & sleep 30 & echo up > /tmp/flag; wait"});
        ASSERT_TRUE(await([&] { return exists(board.host_path("/tmp/flag")); }, 5000));
        busy->kill();
        Result next = board.run({"true"});
        EXPECT_EQ(next.status, 0) << next.err;
    }
    auto live = board.start({"sleep", "30"});
    ASSERT_GT(board.board_pid(5000), 0);
    Result refused = board.run({"true"});
    EXPECT_EQ(refused.status, 125);
    EXPECT_NE(refused.err.find("a board is already running on"), std::string::npos) << refused.err;
}

TEST(Board, TimeoutKillsTheWholeBoard)
{
    Board board;
    Result r = board.run({"sh", "-c", "sleep 30 & echo $! > /tmp/pid; wait"}, 300);
    EXPECT_TRUE(r.timed_out);
    EXPECT_TRUE(await([&] { return board.board_pid(0) < 0; }, 2000));
}

TEST(Board, RebootRequestResetsTheBoardSoonAfter)
{
    Board board;
    auto start = std::chrono::steady_clock::now();
    Result r = board.run({"sh", "-c", std::string(VBOARD_DEVCTL) + " reboot; echo asked; sleep 5; echo not-reset"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "reboot = 0\nasked\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    std::vector<std::string> journal = board.journal();
    ASSERT_GE(journal.size(), 2u);
    EXPECT_EQ(journal.back(), "reset");
    EXPECT_EQ(count(journal, "reboot requested by vboard_devctl"), 1u);
}

TEST(Board, LedsAndTheStateReport)
{
    Board board(kSmallBoard);
    std::string devctl = VBOARD_DEVCTL;
    Result r = board.run(
        {"sh", "-c",
         devctl + " i2c-setup && " + devctl + " i2c-write 0x54 0x0c 0x11 && " + devctl +
             " i2c-write 0x54 0x0b 0x22 && " + devctl + " i2c-write 0x54 0x0a 0x33 && " + devctl +
             " i2c-write 0x54 0x16 0 && head -c 4096 /dev/zero | dd of=/dev/mtd2 bs=2048 2>/dev/null && " + devctl +
             " erase /dev/mtd2 0x20000 0x20000"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::array<Rgb, 5> leds = board.leds();
    EXPECT_EQ(leds[1].red, 0x11);
    EXPECT_EQ(leds[1].green, 0x22);
    EXPECT_EQ(leds[1].blue, 0x33);
    EXPECT_EQ(leds[0].red + leds[2].red + leds[3].red + leds[4].red, 0);

    std::string out_path = board.work() + "/state.out";
    std::string command = bin_path("vboard") + " state " + board.dir() + " > " + out_path;
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::string report = read_file(out_path);
    for (const char *line :
         {"  mtd2   0x00100000 0x00300000 data\n", "  block     8 (mtd2 data): 0 erases, 2 pages\n",
          "  block     9 (mtd2 data): 1 erase, 0 pages\n", "LEDs (0-4, RRGGBB): 000000 112233 000000 000000 000000\n",
          "reboot: none requested\n", "violations and faults: 0\n", "layout from: board file\n"}) {
        EXPECT_NE(report.find(line), std::string::npos) << line << "in:\n" << report;
    }
}

namespace {

// A NEC frame: 9 ms header pulse, 4.5 ms space, 32 bits (address, its
// inverse, command, its inverse), the stop pulse; then the receiver's timeout.
std::vector<uint32_t> nec_press(uint8_t address, uint8_t command)
{
    const uint32_t kPulse = 0x01000000;
    std::vector<uint32_t> w = {kPulse | 9000, 4500};
    uint32_t bits = address | (uint8_t(~address) << 8) | (command << 16) | (uint32_t(uint8_t(~command)) << 24);
    for (int i = 0; i < 32; ++i) {
        w.push_back(kPulse | 560);
        w.push_back((bits >> i) & 1 ? 1690 : 560);
    }
    w.push_back(kPulse | 560);
    w.push_back(0x00FFFFFF);
    return w;
}

struct LircReads {
    std::vector<long> read_ms; // when each read returned
    std::vector<uint32_t> words;
};

LircReads parse_lirc_read(const std::string &out)
{
    LircReads r;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        long ms = 0, n = 0;
        unsigned word = 0;
        if (std::sscanf(line.c_str(), "word 0x%x", &word) == 1) {
            r.words.push_back(word);
        } else if (std::sscanf(line.c_str(), "%ld %ld", &ms, &n) == 2) {
            r.read_ms.push_back(ms);
        }
    }
    return r;
}

} // namespace

TEST(Board, IrSendDeliversTwoPressesOverTimeAndReadsBackExactly)
{
    Board board;
    std::vector<uint32_t> capture = {20000}; // the silence before the first press
    for (int press = 0; press < 2; ++press) {
        std::vector<uint32_t> frame = nec_press(0x04, 0x08);
        capture.insert(capture.end(), frame.begin(), frame.end());
    }
    ASSERT_EQ(capture.size(), 137u);
    auto reader = board.start({VBOARD_DEVCTL, "lirc-read", std::to_string(capture.size())});
    ASSERT_TRUE(reader->await_out("open\n", 5000)) << reader->err();
    auto start = std::chrono::steady_clock::now();
    Result sent = board.ir_send(capture, 1);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(sent.err, "");
    // 20 ms, two frames of about 68 ms and two timeouts of 125 ms.
    EXPECT_GE(ms, 400);
    ASSERT_TRUE(reader->wait(5000));
    EXPECT_EQ(reader->status(), 0) << reader->out();
    LircReads reads = parse_lirc_read(reader->out());
    EXPECT_EQ(reads.words, capture);
    // The words came in many reads spread over the capture's time, not at once.
    ASSERT_GT(reads.read_ms.size(), 20u);
    EXPECT_GE(reads.read_ms.back() - reads.read_ms.front(), 300);
    EXPECT_EQ(board.journal_lines("feed lirc0"), std::vector<std::string>{"feed lirc0 words 137 dropped 0"});
    EXPECT_EQ(board.journal_lines("open /dev/lirc0"), std::vector<std::string>{"open /dev/lirc0 O_RDONLY"});
    long read_words = 0;
    for (const std::string &line : board.journal_lines("read lirc0 words ")) {
        read_words += std::atol(line.c_str() + std::strlen("read lirc0 words "));
    }
    EXPECT_EQ(read_words, 137);
}

TEST(Board, IrSendCompressesTimeDropsWordsNobodyReadsAndRejectsBadFiles)
{
    Board board;
    auto idle = board.start({"sleep", "30"});
    ASSERT_GT(board.board_pid(), 0);
    std::vector<uint32_t> presses;
    for (int i = 0; i < 4; ++i) {
        std::vector<uint32_t> frame = nec_press(0x10, 0x20);
        presses.insert(presses.end(), frame.begin(), frame.end());
    }
    auto start = std::chrono::steady_clock::now();
    auto remote = board.start_ir_send(presses, 20);
    ASSERT_TRUE(remote->wait(5000));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(remote->status(), 0);
    // 4 x (68 + 125) ms = 772 ms in real time, a twentieth of it here; the
    // upper bound leaves room for starting the sender on a loaded machine.
    EXPECT_GE(ms, 38);
    EXPECT_LT(ms, 700);
    EXPECT_NE(remote->err().find("272 of 272 words dropped"), std::string::npos) << remote->err();
    EXPECT_EQ(board.journal_lines("feed lirc0"), std::vector<std::string>{"feed lirc0 words 272 dropped 272"});

    Result sent = board.ir_send("pulse 9000\nspace 4500 # header\npulse x\n");
    EXPECT_EQ(sent.status, 125);
    EXPECT_NE(sent.err.find("line 3:"), std::string::npos) << sent.err;
    idle->kill();
}

TEST(Board, LircDescriptorOfAShellRedirectionKeepsWholeWords)
{
    Board board;
    auto dd = board.start({"sh", "-c",
                           "dd bs=4 count=3 </dev/lirc0 2>/dev/null | od -An -tx4; "
                           "dd bs=3 count=1 </dev/lirc0 2>&1 >/dev/null | head -1"});
    ASSERT_TRUE(await([&] { return !board.journal_lines("open /dev/lirc0").empty(); }, 5000));
    EXPECT_EQ(board.ir_send("pulse 9000\nspace 4500\npulse 560\n", 10).status, 0);
    ASSERT_TRUE(dd->wait(5000));
    EXPECT_EQ(dd->out(),
              " 01002328 00001194 01000230\n"
              "dd: error reading 'standard input': Invalid argument\n");
}

namespace {

// Output and exit status of a host command.
std::pair<std::string, int> host_run(const std::string &command)
{
    std::string out;
    FILE *p = ::popen(command.c_str(), "r");
    char buf[4096];
    for (size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) {
        out.append(buf, n);
    }
    int status = p ? ::pclose(p) : -1;
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

} // namespace

TEST(Board, RunnerAnswersHelpAndVersionOnStandardOutput)
{
    for (const char *option : {"-h", "--help"}) {
        auto r = host_run(bin_path("vboard") + " " + option + " 2>/dev/null");
        EXPECT_EQ(r.second, 0) << option;
        EXPECT_EQ(r.first.rfind("usage: vboard run ", 0), 0u) << option << ": " << r.first;
    }
    auto version = host_run(bin_path("vboard") + " --version 2>/dev/null");
    EXPECT_EQ(version.second, 0);
    EXPECT_TRUE(std::regex_match(version.first, std::regex("vboard [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.first;
}

// The runner seeds a fresh board from files beside its board file, and the
// default board from vboard's data directory; a bad seed fails the boot.
TEST(Board, RunnerSeedsFreshBoards)
{
    Board scratch;
    std::string dir = scratch.work();
    std::ofstream(dir + "/hello.bin") << "hello";
    std::ofstream(dir + "/seeded.board") << kSmallBoard << "seed = data+2K hello.bin\n";
    std::ofstream(dir + "/broken.board") << kSmallBoard << "seed = data missing.bin\n";
    std::string vboard = bin_path("vboard");
    auto r = host_run(vboard + " run --board " + dir + "/seeded.board --state " + dir +
                      "/s1 -- sh -c "
                      "'dd if=/dev/mtd2 bs=2048 skip=1 count=1 2>/dev/null | head -c 5' 2>&1");
    EXPECT_EQ(r.second, 0) << r.first;
    EXPECT_EQ(r.first, "hello");
    r = host_run(vboard + " run --state " + dir + "/s2 -- sh -c 'head -c 8 /dev/mtd2 | od -An -tx1' 2>&1");
    EXPECT_EQ(r.second, 0) << r.first;
    EXPECT_EQ(r.first, " dc ea 30 85 dc ea 30 85\n") << "the default board starts with its PIT in part_info";
    r = host_run(vboard + " run --board " + dir + "/broken.board --state " + dir + "/s3 -- true 2>&1");
    EXPECT_EQ(r.second, 125);
    EXPECT_NE(r.first.find("line 8: cannot read seed " + dir + "/missing.bin"), std::string::npos) << r.first;
    EXPECT_FALSE(exists(dir + "/s3/nand.img"));
}
