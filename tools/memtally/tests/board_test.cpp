// memtally on the virtual board: dumps of a given table whose rows the test
// works out itself, the full-screen display through a pseudo-terminal, and
// the default board's generated table.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "frame.h"
#include "settings.h"
#include "vboard/testkit.h"

using namespace vboard::testkit;
using namespace memtally;

namespace {

using Runs = std::vector<std::pair<uint32_t, int>>;

const char kBoardText[] =
    "nand.size = 4M\nnand.erasesize = 128K\nnand.writesize = 2K\nnand.oobsize = 64\n"
    "partition = data rest\nmem_tally.file = mem_tally.bin\nkallsyms.file = kallsyms\n";
const char kKallsyms[] =
    "c0008000 T stext\nc0008100 t $a\nc0008100 T alloc_one\nc0009000 T alloc_two\n"
    "bf000000 t $a\t[vdec]\nbf000000 t vdec_alloc\t[vdec]\n";
// The kallsyms entry of a key (the highest one not above it, '$' names
// aside), for the keys the tables use.
std::pair<const char *, const char *> symbol_of(uint32_t key)
{
    if (key >= 0xC0009000 && key < 0xFE000000) {
        return {"alloc_two", ""};
    }
    if (key >= 0xC0008100 && key < 0xC0009000) {
        return {"alloc_one", ""};
    }
    if (key >= 0xC0008000 && key < 0xC0008100) {
        return {"stext", ""};
    }
    if (key >= 0xBF000000 && key < 0xC0008000) {
        return {"vdec_alloc", "[vdec]"};
    }
    return {nullptr, nullptr};
}
// A block device of /dev (the board's /dev is the host's) whose numbers
// no other one has, as `ls -l /dev` names it; without one, numbers that no
// device has and no name.
struct BlockDevice {
    std::string name;
    uint32_t word = 0xFE000000 | 0xFF << 16;
};
BlockDevice unique_block_device()
{
    std::map<uint32_t, std::vector<std::string>> nodes;
    for (const auto &entry : std::filesystem::directory_iterator("/dev")) {
        struct stat st;
        if (::lstat(entry.path().c_str(), &st) == 0 && S_ISBLK(st.st_mode) && major(st.st_rdev) < 256 &&
            minor(st.st_rdev) < 64) {
            nodes[0xFE000000 | major(st.st_rdev) << 16 | minor(st.st_rdev) << 10].push_back(entry.path().filename());
        }
    }
    for (const auto &node : nodes) {
        if (node.second.size() == 1) {
            return BlockDevice{node.second[0], node.first};
        }
    }
    return BlockDevice{};
}

// The table the test expects: pages and runs counted per key in order of
// first appearance, merged and sorted as the monitor shows them.
OwnerTable expected_table(const Runs &runs, uint64_t first_page, uint64_t end_page, bool merge_files)
{
    OwnerTable t;
    t.count = 0;
    uint64_t page = 0;
    uint32_t previous = 0xFFFFFFFE;
    for (const auto &run : runs) {
        for (int i = 0; i < run.second; ++i, ++page) {
            uint32_t key = run.first;
            if (page < first_page || page >= end_page) {
                continue;
            }
            if (merge_files && (key >> 24 == 0xFF || key >> 24 == 0xFE) && key != 0xFFFFFFFF) {
                key &= 0xFF000000;
            }
            auto e = std::find_if(t.entries, t.entries + t.count, [&](const Owner &o) { return o.key == key; });
            if (e == t.entries + t.count && t.count == kMaxOwners) {
                previous = run.first;
                continue;
            }
            if (e == t.entries + t.count) {
                *e = Owner{key, 0, 0};
                ++t.count;
            }
            e->pages += 1;
            e->frag += run.first != previous;
            previous = run.first;
        }
    }
    for (int i = 0; i < t.count; ++i) {
        for (int j = i + 1; j < t.count; ++j) {
            if (t.entries[i].pages < t.entries[j].pages) {
                std::swap(t.entries[i], t.entries[j]);
            }
        }
    }
    return t;
}

std::string expected_dump(const OwnerTable &t, int thread_mode, int file_mode, long total, int first, int last,
                          bool symbols = true, const std::string &device_name = "")
{
    std::string out;
    for (int offset = first; offset < t.count && offset <= last; offset += kWindowRows) {
        RowText rows[kWindowRows];
        for (int r = 0; r < kWindowRows && offset + r < t.count; ++r) {
            uint32_t key = t.entries[offset + r].key;
            auto symbol = symbol_of(key);
            if (symbol.first && symbols) {
                std::snprintf(rows[r].symbol, kTextBytes, "%s", symbol.first);
                std::snprintf(rows[r].module, kTextBytes, "%s", symbol.second);
            }
            if (key >> 24 == 0xFF && key != 0xFFFFFFFF) {
                std::snprintf(rows[r].symbol, kTextBytes, "[FILE CACHE]");
                if (file_mode == 2) {
                    std::snprintf(rows[r].module, kTextBytes, "(%u,%u,%u)", key >> 16 & 0xFF, key >> 10 & 0x3F,
                                  key & 0x3FF);
                }
            } else if (key >> 24 == 0xFE) {
                std::snprintf(rows[r].symbol, kTextBytes, "[DEVICE BUFFER]");
                if (file_mode == 2) {
                    std::snprintf(rows[r].module, kTextBytes, "(%u,%u)", key >> 16 & 0xFF, key >> 10 & 0x3F);
                } else if (file_mode == 1) {
                    std::snprintf(rows[r].module, kTextBytes, "%s", device_name.c_str());
                }
            }
        }
        Window w{&t, offset, rows};
        out += render_frame(w, thread_mode, total) + "\n";
    }
    return out;
}

std::string words_bytes(const Runs &runs)
{
    std::string bytes;
    for (const auto &run : runs) {
        for (int i = 0; i < run.second; ++i) {
            for (int b = 0; b < 4; ++b) {
                bytes += static_cast<char>(run.first >> (8 * b));
            }
        }
    }
    return bytes;
}

long page_count(const Runs &runs)
{
    long n = 0;
    for (const auto &run : runs) {
        n += run.second;
    }
    return n;
}

class GivenTable : public ::testing::Test {
protected:
    GivenTable() : board_(kBoardText) {}
    void give(const Runs &runs)
    {
        std::ofstream(board_.dir() + "/mem_tally.bin", std::ios::binary) << words_bytes(runs);
        std::ofstream(board_.dir() + "/kallsyms") << kKallsyms;
    }
    Result memtally(std::vector<std::string> args)
    {
        args.insert(args.begin(), bin_path("memtally"));
        return board_.run(args, 20000);
    }
    Board board_;
};

// Two tasks that do not exist on the board (names stay empty), kernel and
// module call sites, free and non-buddy pages, two cached files, a block
// device, filler owners to make a second page, and equal counts.
Runs sample_runs(uint32_t device = unique_block_device().word)
{
    Runs runs = {{0xFFFFFFFF, 40}, {30001, 10},     {0, 30},         {0xC0008104, 12}, {30001, 5},
                 {0xFF080401, 1},  {0xFF080402, 1}, {device, 6},     {0xBF000010, 9},  {30002, 8},
                 {0xC0000001, 1},  {0xC0000002, 2}, {0xC0000003, 2}, {0xC0000004, 3},  {0, 2}};
    for (uint32_t k = 0; k < 12; ++k) {
        runs.push_back({0xC0009010 + (k == 0 ? 0 : 0x10000 * k), 13 + static_cast<int>(k) % 5});
    }
    return runs;
}

TEST_F(GivenTable, DumpFramesInBothViewsAndFileModes)
{
    Runs runs = sample_runs();
    give(runs);
    long total = page_count(runs);
    struct Case {
        std::vector<std::string> args;
        int thread_mode, file_mode;
        uint64_t first_page, end_page;
        int first_row, last_row;
    } cases[] = {
        {{"-d"}, 1, 0, 0, UINT64_MAX, 0, 0x7FFFFFFE},
        {{"-d=1", "-t0", "-file=2", "-sa=160K", "-ea=1M", "-dsidx=2"}, 0, 2, 40, 256, 1, 0x7FFFFFFE},
        {{"d=1", "-t=0", "-dsidx=21", "-deidx=21"}, 0, 0, 0, UINT64_MAX, 20, 20},
        {{"-d1", "-deidx=0"}, 1, 0, 0, UINT64_MAX, 0, -1},
        {{"-d1", "-ea=0"}, 1, 0, 0, 0, 0, 0x7FFFFFFE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
        Result r = memtally(c.args);
        ASSERT_EQ(r.status, 0) << r.err;
        OwnerTable t = expected_table(runs, c.first_page, c.end_page, c.file_mode == 0);
        EXPECT_EQ(r.out, expected_dump(t, c.thread_mode, c.file_mode, total, c.first_row, c.last_row));
    }
}

TEST_F(GivenTable, OverflowingOwnersAndMissingKernelFiles)
{
    Runs runs;
    for (uint32_t k = 0; k < 1040; ++k) {
        runs.push_back({0xC0100000 + 4 * k, 1 + static_cast<int>(k % 3)});
    }
    give(runs);
    Result r = memtally({"-d=2", "-dsidx=1015"});
    ASSERT_EQ(r.status, 0) << r.err;
    OwnerTable t = expected_table(runs, 0, UINT64_MAX, true);
    ASSERT_EQ(t.count, kMaxOwners);
    std::string once = expected_dump(t, 1, 0, page_count(runs), 1014, 0x7FFFFFFE);
    EXPECT_EQ(r.out, once + once);

    board_.set_board_text(std::string(kBoardText) + "kallsyms.file = /nonexistent\n");
    r = memtally({"-d"});
    EXPECT_EQ(r.out, expected_dump(t, 1, 0, page_count(runs), 0, 0x7FFFFFFE, false));
    board_.set_board_text(std::string(kBoardText) + "mem_tally.file = /nonexistent\n");
    r = memtally({"-d"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, ""); // no table, no dump page
    r = memtally({"--help", "-d"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string(kUsageText) + "\n");
}

// A console on a pseudo-terminal: output is collected until it holds what
// a test waits for.
class Console {
public:
    explicit Console(const std::vector<std::string> &argv)
    {
        pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            termios t{}; // lines end in "\n" alone, as in a dump
            ::tcgetattr(STDIN_FILENO, &t);
            t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
            ::tcsetattr(STDIN_FILENO, TCSANOW, &t);
            std::vector<char *> args;
            for (const std::string &a : argv) {
                args.push_back(const_cast<char *>(a.c_str()));
            }
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
    }
    ~Console()
    {
        if (pid_ > 0 && !ended_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(slave_);
        ::close(master_);
    }
    // Waits until `text` appears `times` times in the output after `from`.
    bool await(const std::string &text, size_t from = 0, int times = 1, int timeout_ms = 15000)
    {
        return vboard::testkit::await(
            [&] {
                pump();
                size_t at = from;
                for (int n = 0; n < times; ++n, ++at) {
                    if ((at = out_.find(text, at)) == std::string::npos) {
                        return false;
                    }
                }
                return true;
            },
            timeout_ms);
    }
    void key(char c) { ASSERT_EQ(::write(master_, &c, 1), 1); }
    void signal(int sig) { ASSERT_EQ(::kill(pid_, sig), 0); }
    tcflag_t local_modes() const
    {
        termios t{};
        ::tcgetattr(slave_, &t);
        return t.c_lflag;
    }
    int wait_status()
    {
        int status = -1;
        vboard::testkit::await(
            [&] {
                pump();
                return ::waitpid(pid_, &status, WNOHANG) == pid_;
            },
            15000);
        ended_ = true;
        return status;
    }
    const std::string &out() const { return out_; }
    // The last complete frame: from the last cursor home on.
    std::string last_frame()
    {
        size_t end = out_.rfind("'F': File");
        size_t home = out_.rfind("\033[0;0H", end);
        return end == std::string::npos || home == std::string::npos ? "" : out_.substr(home, end + 9 - home);
    }

private:
    void pump()
    {
        char buf[65536];
        pollfd p{master_, POLLIN, 0};
        while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            out_.append(buf, static_cast<size_t>(n));
        }
    }
    pid_t pid_ = -1;
    int master_ = -1, slave_ = -1;
    bool ended_ = false;
    std::string out_;
};

constexpr tcflag_t kKeyModes = ISIG | ICANON | ECHO | ECHONL;
constexpr tcflag_t kNewTerminalModes = ISIG | ICANON | ECHO; // of kKeyModes

TEST_F(GivenTable, FullScreenKeysOnAPseudoTerminal)
{
    BlockDevice device = unique_block_device();
    Runs runs = sample_runs(device.word);
    give(runs);
    long total = page_count(runs);
    OwnerTable merged = expected_table(runs, 0, UINT64_MAX, true);
    OwnerTable unmerged = expected_table(runs, 0, UINT64_MAX, false);
    auto frame = [&](const OwnerTable &t, int thread_mode, int file_mode, int offset) {
        std::string dump = expected_dump(t, thread_mode, file_mode, total, offset, offset, true, device.name);
        return dump.substr(0, dump.size() - 1);
    };
    Console console({bin_path("vboard"), "run", "--state", board_.dir(), "--", bin_path("memtally")});
    ASSERT_TRUE(console.await(frame(merged, 1, 0, 0))) << console.out();
    EXPECT_EQ(console.out().substr(0, 25), std::string(25, '\n'));
    EXPECT_EQ(console.local_modes() & kKeyModes, 0u);

    // Each key is followed by a frame at once; the marker key 'x' does nothing.
    const struct {
        char key;
        const OwnerTable &table;
        int thread_mode, file_mode, offset;
        bool clears;
    } steps[] = {
        {'p', merged, 1, 0, 0, false},  {'N', merged, 1, 0, 20, false}, {'n', merged, 1, 0, 20, false},
        {'T', merged, 0, 0, 20, true},  {'P', merged, 0, 0, 0, false},  {'F', unmerged, 0, 1, 0, true},
        {'f', unmerged, 0, 2, 0, true}, {'F', merged, 0, 0, 0, true},   {'t', merged, 1, 0, 0, true},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(std::string(1, s.key));
        size_t from = console.out().size();
        console.key(s.key);
        std::string expected = frame(s.table, s.thread_mode, s.file_mode, s.offset);
        std::string clear;
        for (int i = 0; i < 25; ++i) {
            clear += std::string(79, ' ') + "\n";
        }
        ASSERT_TRUE(console.await((s.clears ? clear : "") + expected, from)) << console.out().substr(from);
    }
    console.key(3); // the interrupt character quits, the terminal is restored
    EXPECT_EQ(WEXITSTATUS(console.wait_status()), 0);
    EXPECT_EQ(console.local_modes() & kKeyModes, kNewTerminalModes);
}

TEST_F(GivenTable, EndingSignalsPutTheTerminalBack)
{
    give(sample_runs());
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(sig);
        Console console({bin_path("vboard"), "run", "--state", board_.dir(), "--", bin_path("memtally")});
        ASSERT_TRUE(console.await("'F': File"));
        console.signal(sig); // vboard passes it on
        EXPECT_EQ(WEXITSTATUS(console.wait_status()), 128 + sig);
        EXPECT_EQ(console.local_modes() & kKeyModes, kNewTerminalModes);
    }
}

// With /tmp read-only the device list cannot be made afresh: an old one
// left there names nothing, and no row loses its label.
TEST_F(GivenTable, OldDeviceListUnderAReadOnlyTmp)
{
    BlockDevice device = unique_block_device();
    Runs runs = sample_runs(device.word);
    give(runs);
    std::string old_line = "brw-rw---- 1 root disk " + std::to_string(device.word >> 16 & 0xFF) + ", " +
                           std::to_string(device.word >> 10 & 0x3F) + " Jan  1 00:00 old_name\n";
    Result r = board_.run({"sh", "-c",
                           "printf '" + old_line + "' > /tmp/memtally_dev.txt && mount -o remount,ro /tmp && " +
                               bin_path("memtally") + " -d -file=1"},
                          20000);
    ASSERT_EQ(r.status, 0) << r.err;
    OwnerTable t = expected_table(runs, 0, UINT64_MAX, false);
    EXPECT_EQ(r.out, expected_dump(t, 1, 1, page_count(runs), 0, 0x7FFFFFFE));
}

TEST_F(GivenTable, QuitsOnQAndStopsReadingKeysWhenInputEnds)
{
    give(sample_runs());
    {
        Console console({bin_path("vboard"), "run", "--state", board_.dir(), "--", bin_path("memtally")});
        ASSERT_TRUE(console.await("'F': File"));
        console.key('q');
        EXPECT_EQ(WEXITSTATUS(console.wait_status()), 0);
        EXPECT_EQ(console.local_modes() & kKeyModes, kNewTerminalModes);
    }
    // Input "N" then its end: the second page stays and frames keep coming
    // once a second.
    auto p = board_.start({"sh", "-c", "printf N | " + bin_path("memtally")});
    ASSERT_TRUE(p->await_out("\033[0;0H", 15000));
    ASSERT_TRUE(await([&] { return p->out().find("  21 ") != std::string::npos; }, 15000));
    size_t frames_then = 0;
    ASSERT_TRUE(await(
        [&] {
            std::string out = p->out();
            size_t n = 0;
            for (size_t at = 0; (at = out.find("\033[0;0H", at)) != std::string::npos; ++at) {
                ++n;
            }
            if (frames_then == 0) {
                frames_then = n;
            }
            return n >= frames_then + 2;
        },
        15000));
    EXPECT_TRUE(p->running());
    std::string out = p->out();
    EXPECT_EQ(out.find("   1 0x", out.find("  21 ")), std::string::npos) << "the first page came back";
    p->kill();
}

TEST(DefaultBoard, GeneratedTableHangsTogether)
{
    Board board;
    Result r = board.run({bin_path("memtally"), "-d=1", "-deidx=40", "-file=2"}, 20000);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Total memory: 524288K"), std::string::npos);
    EXPECT_NE(r.out.find("(memtally)(memtally)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[NON-BUDDY-SYSTEM"), std::string::npos);
    EXPECT_NE(r.out.find("[FREE PAGES]"), std::string::npos);
    // Every kernel row carries a symbol: its word lies inside the served kallsyms.
    std::istringstream lines(r.out);
    std::string line;
    int kernel_rows = 0;
    while (std::getline(lines, line)) {
        if (line.size() > 17 && line.compare(5, 3, "0xC") == 0) {
            ++kernel_rows;
            EXPECT_NE(line.substr(26, 17), std::string(17, ' ')) << line;
        }
    }
    EXPECT_GT(kernel_rows, 10);
}

} // namespace
