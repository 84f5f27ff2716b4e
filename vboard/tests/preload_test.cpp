// Runs with libvboard.so preloaded (LD_PRELOAD, or QEMU_SET_ENV under
// qemu-arm) and VBOARD_STATE pointing at a temporary state directory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/lirc.h>
#include <poll.h>
#include <sys/ioctl.h>
// after sys/ioctl.h, which it needs
#include <mtd/mtd-abi.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <thread>

#include "i2c_request.h"
#include "vboard/journal.h"
#include "vboard/lirc.h"
#include "vboard/state.h"
#include "vboard/temp_dir.h"

using namespace vboard;

namespace {

constexpr size_t kPage = 2048;
constexpr unsigned long kNocptRequest = 0xC0044D14;
const char kBoard[] =
    "nand.size = 4M\nnand.erasesize = 128K\nnand.writesize = 2K\nnand.oobsize = 64\nnand.name = chip\n"
    "partition = part_info 1M\npartition = data rest\nbad_blocks = 31\n";

class Preload : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string text = kBoard, error;
        ASSERT_EQ(prepare_state(dir_, &text, &error), 0) << error;
        ::setenv(kStateEnv, dir_.c_str(), 1);
    }
    void TearDown() override { ::unsetenv(kStateEnv); }
    bool journal_has(const std::string &line)
    {
        std::vector<std::string> lines = read_journal(dir_);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    testkit::TempDir temp_{"vboard-preload"};
    const std::string dir_ = temp_.path();
};

std::string page_of(char c) { return std::string(kPage, c); }

} // namespace

TEST_F(Preload, ProcMtdThroughOpenAndThroughStdio)
{
    const std::string expected =
        "dev:    size   erasesize  name\n"
        "mtd0: 00400000 00020000 \"chip\"\n"
        "mtd1: 00100000 00020000 \"part_info\"\n"
        "mtd2: 00300000 00020000 \"data\"\n";
    FILE *f = std::fopen("/proc/mtd", "rb");
    ASSERT_NE(f, nullptr);
    char buf[512];
    size_t n = std::fread(buf, 1, sizeof buf, f);
    std::fclose(f);
    EXPECT_EQ(std::string(buf, n), expected);

    int fd = ::open("/proc/mtd", O_RDONLY);
    ASSERT_GE(fd, 0);
    ssize_t got = ::read(fd, buf, sizeof buf);
    ::close(fd);
    EXPECT_EQ(std::string(buf, static_cast<size_t>(std::max<ssize_t>(got, 0))), expected);
    EXPECT_EQ(::open("/proc/mtd", O_RDWR), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_TRUE(journal_has("open /proc/mtd O_RDONLY"));
}

TEST_F(Preload, MtdRequestsAndPageRules)
{
    int fd = ::open("/dev/mtd2", O_RDWR);
    ASSERT_GE(fd, 0);
    mtd_info_user info{};
    ASSERT_EQ(::ioctl(fd, MEMGETINFO, &info), 0);
    EXPECT_EQ(info.type, MTD_NANDFLASH);
    EXPECT_EQ(info.size, 3u << 20);
    EXPECT_EQ(info.erasesize, 128u << 10);
    EXPECT_EQ(info.writesize, kPage);
    EXPECT_EQ(info.oobsize, 64u);

    std::string a = page_of('a');
    EXPECT_EQ(::pwrite(fd, a.data(), kPage, kPage), static_cast<ssize_t>(kPage));
    EXPECT_EQ(::pwrite(fd, a.data(), kPage, kPage), -1);
    EXPECT_EQ(errno, EIO);
    std::string back(kPage, '\0');
    EXPECT_EQ(::pread(fd, &back[0], kPage, kPage), static_cast<ssize_t>(kPage));
    EXPECT_EQ(back, a);

    erase_info_user erase = {0, 128 << 10};
    EXPECT_EQ(::ioctl(fd, MEMERASE, &erase), 0);
    EXPECT_EQ(::pread(fd, &back[0], kPage, kPage), static_cast<ssize_t>(kPage));
    EXPECT_EQ(back, page_of('\xff'));
    erase.start = 100;
    EXPECT_EQ(::ioctl(fd, MEMERASE, &erase), -1);
    EXPECT_EQ(errno, EINVAL);

    long long bad = 2 << 20; // whole-NAND block 31 is the last block of mtd2
    bad += 0xe0000;
    EXPECT_EQ(::ioctl(fd, MEMGETBADBLOCK, &bad), 1);
    bad = 0;
    EXPECT_EQ(::ioctl(fd, MEMGETBADBLOCK, &bad), 0);
    EXPECT_EQ(::ioctl(fd, kNocptRequest, 2 * 2 + 1), 0);
    EXPECT_EQ(::ioctl(fd, 0x4d99, nullptr), -1);
    EXPECT_EQ(errno, ENOTTY);
    struct stat st;
    ASSERT_EQ(::fstat(fd, &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(major(st.st_rdev), 90u);
    EXPECT_EQ(minor(st.st_rdev), 4u);
    EXPECT_EQ(::close(fd), 0);

    for (const char *line :
         {"open /dev/mtd2 O_RDWR", "ioctl /dev/mtd2 MEMGETINFO = 0", "violation program mtd2 0x00000800 not erased",
          "erase mtd2 0x00000000 0x00020000", "ioctl /dev/mtd2 MEMERASE 0x00000000 0x00020000 = 0",
          "ioctl /dev/mtd2 MEMERASE 0x00000064 0x00020000 = -1 EINVAL", "ioctl /dev/mtd2 MEMGETBADBLOCK 0x002e0000 = 1",
          "ioctl /dev/mtd2 NOCPT mtd2 1 = 0", "ioctl /dev/mtd2 0x00004d99 = -1 ENOTTY", "close /dev/mtd2"}) {
        EXPECT_TRUE(journal_has(line)) << line;
    }
}

TEST_F(Preload, FilePositionReadOnlyAccessAndMissingDevices)
{
    int fd = ::open("/dev/mtd0", O_RDONLY);
    ASSERT_GE(fd, 0);
    char buf[4096];
    EXPECT_EQ(::lseek(fd, 1000, SEEK_SET), 1000);
    EXPECT_EQ(::read(fd, buf, sizeof buf), static_cast<ssize_t>(kPage - 1000)) << "reads end at the page end";
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), static_cast<off_t>(kPage));
    EXPECT_EQ(::lseek(fd, 0, SEEK_END), 4 << 20);
    EXPECT_EQ(::read(fd, buf, sizeof buf), 0);
    EXPECT_EQ(::write(fd, buf, kPage), -1);
    EXPECT_EQ(errno, EBADF);
    int copy = ::dup(fd);
    ASSERT_GE(copy, 0);
    EXPECT_EQ(::lseek(copy, 0, SEEK_SET), 0);
    EXPECT_EQ(::read(copy, buf, kPage), static_cast<ssize_t>(kPage)) << "a duplicate reaches the same device";
    ::close(copy);
    ::close(fd);

    EXPECT_EQ(::open("/dev/mtd3", O_RDONLY), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(journal_has("open /dev/mtd3 O_RDONLY = -1 ENOENT"));
    EXPECT_EQ(::open("/dev/mtd64x", O_RDONLY), -1) << "not a device path of the board: passed through";
}

TEST_F(Preload, StatAndAccessSeeTheBoardsDevices)
{
    struct stat st;
    ASSERT_EQ(::stat("/dev/mtd2", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(major(st.st_rdev), 90u);
    EXPECT_EQ(minor(st.st_rdev), 4u);
    ASSERT_EQ(::lstat("/proc/mtd", &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(::stat("/dev/mtd3", &st), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(::access("/dev/i2c", R_OK | W_OK), 0);
    EXPECT_EQ(::access("/proc/mtd", W_OK), -1);
    EXPECT_EQ(errno, EACCES);
    ASSERT_EQ(::stat(dir_.c_str(), &st), 0) << "other paths pass through";
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(Preload, DescriptorClosedInsideLibcIsNotMistakenForTheDevice)
{
    int fd = ::open("/dev/mtd1", O_RDONLY);
    ASSERT_GE(fd, 0);
    FILE *stream = ::fdopen(fd, "r");
    ASSERT_NE(stream, nullptr);
    std::fclose(stream); // closes fd without passing through close()
    std::string path = dir_ + "/plain";
    int again = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(again, fd) << "the kernel hands out the lowest free number";
    EXPECT_EQ(::write(again, "abc", 3), 3);
    struct stat st;
    ASSERT_EQ(::fstat(again, &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_size, 3);
    ::close(again);
}

TEST_F(Preload, StdioStreamsOnMtdDevices)
{
    FILE *f = std::fopen("/dev/mtd1", "r+");
    ASSERT_NE(f, nullptr);
    std::string data = page_of('s');
    ASSERT_EQ(std::fwrite(data.data(), 1, kPage, f), kPage);
    ASSERT_EQ(std::fflush(f), 0);
    ASSERT_EQ(std::fseek(f, 0, SEEK_SET), 0);
    std::string back(kPage, '\0');
    EXPECT_EQ(std::fread(&back[0], 1, kPage, f), kPage);
    EXPECT_EQ(back, data);
    EXPECT_EQ(std::fclose(f), 0);
    EXPECT_TRUE(journal_has("program mtd1 block 0 pages 1"));
}

TEST_F(Preload, ConcurrentProgramsFromThreadsAllLand)
{
    constexpr int kThreads = 4, kPagesEach = 16;
    int fd = ::open("/dev/mtd0", O_RDWR);
    ASSERT_GE(fd, 0);
    std::vector<std::thread> threads;
    std::vector<int> ok(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::string data = page_of(static_cast<char>('A' + t));
            for (int p = 0; p < kPagesEach; ++p) {
                off_t at = static_cast<off_t>((t * kPagesEach + p) * kPage);
                ok[t] += ::pwrite(fd, data.data(), kPage, at) == static_cast<ssize_t>(kPage);
            }
        });
    }
    for (std::thread &t : threads) {
        t.join();
    }
    ::close(fd);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(ok[t], kPagesEach);
    }
    long long pages = 0;
    for (const std::string &line : read_journal(dir_)) {
        long long n = 0;
        if (std::sscanf(line.c_str(), "program mtd0 block 0 pages %lld", &n) == 1) {
            pages += n;
        }
    }
    EXPECT_EQ(pages, kThreads * kPagesEach);
}

TEST_F(Preload, UnrelatedCallsPassThrough)
{
    std::string path = dir_ + "/plain";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::write(fd, "hello", 5), 5);
    EXPECT_EQ(::lseek(fd, 1, SEEK_SET), 1);
    char buf[8] = {};
    EXPECT_EQ(::read(fd, buf, 4), 4);
    EXPECT_STREQ(buf, "ello");
    EXPECT_EQ(::pwrite(fd, "J", 1, 0), 1);
    EXPECT_EQ(::pread(fd, buf, 5, 0), 5);
    EXPECT_EQ(std::string(buf, 5), "Jello");
    struct stat st;
    ASSERT_EQ(::fstat(fd, &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_size, 5);
    ::close(fd);

    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    ASSERT_EQ(::write(pipe_fds[1], "abc", 3), 3);
    int pending = 0;
    EXPECT_EQ(::ioctl(pipe_fds[0], FIONREAD, &pending), 0);
    EXPECT_EQ(pending, 3);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);

    EXPECT_EQ(::syscall(SYS_getpid), ::getpid());
    FILE *f = std::fopen(path.c_str(), "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::fread(buf, 1, 5, f), 5u);
    std::fclose(f);

    ::unsetenv(kStateEnv);
    EXPECT_EQ(::open("/dev/mtd0", O_RDONLY), -1) << "without a state directory nothing is emulated";
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(Preload, EmulatedDescriptorsSurviveExec)
{
#if defined(__arm__)
    GTEST_SKIP() << "under qemu-arm the host's sh runs natively, without the device library";
#endif
    int fd = ::open("/dev/mtd1", O_WRONLY);
    ASSERT_GE(fd, 0);
    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(fd, 1);
        ::execlp("sh", "sh", "-c", "printf page-from-a-redirection", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    ::close(fd);
    std::string expected = "page-from-a-redirection";
    fd = ::open("/dev/mtd1", O_RDONLY);
    std::string back(expected.size(), '\0');
    EXPECT_EQ(::read(fd, &back[0], back.size()), static_cast<ssize_t>(back.size()));
    ::close(fd);
    EXPECT_EQ(back, expected);
}

using vboard::test::i2c_setup;
using vboard::test::i2c_write;

TEST_F(Preload, I2cLedControllerAppliesTheChannelsOnUpdate)
{
    int fd = ::open("/dev/i2c", 0x180);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(i2c_setup(fd), 0);
    // LED 0 is registers 0x0F, 0x0E, 0x0D; LED 4 is 0x03, 0x02, 0x01.
    const uint8_t writes[][2] = {{0x0F, 5}, {0x0E, 10}, {0x0D, 4}, {0x03, 0xAA}, {0x02, 0xBB}, {0x01, 0xCC}};
    for (const auto &w : writes) {
        EXPECT_EQ(i2c_write(fd, 0x54, w[0], w[1]), 0);
    }
    std::string leds;
    EXPECT_NE(read_text_file(dir_ + "/leds", &leds), 0) << "nothing shows before the update register";
    EXPECT_EQ(i2c_write(fd, 0x54, 0x16, 1), 0);
    EXPECT_NE(read_text_file(dir_ + "/leds", &leds), 0) << "only a write of 0 applies";
    EXPECT_EQ(i2c_write(fd, 0x54, 0x16, 0), 0);
    ASSERT_EQ(read_text_file(dir_ + "/leds", &leds), 0);
    EXPECT_EQ(leds, "050a04 000000 000000 000000 aabbcc\n");

    EXPECT_EQ(i2c_write(fd, 0x50, 0x0F, 1), -1);
    EXPECT_EQ(errno, ENXIO) << "no device answers at another address";
    EXPECT_EQ(::ioctl(fd, vboard::test::kI2cWrite, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);
    ::close(fd);
    for (const char *line :
         {"open /dev/i2c O_RDONLY|O_EXCL|O_NOCTTY", "ioctl /dev/i2c I2C_SETUP 5 6 = 0",
          "ioctl /dev/i2c I2C_WRITE 0x54 reg 0x0f value 0x05 = 0", "leds 050a04 000000 000000 000000 aabbcc",
          "ioctl /dev/i2c I2C_WRITE 0x50 reg 0x0f value 0x01 = -1 ENXIO"}) {
        EXPECT_TRUE(journal_has(line)) << line;
    }
}

TEST_F(Preload, RebootRequestKillsTheProcessShortlyAfter)
{
    int result[2];
    ASSERT_EQ(::pipe(result), 0);
    auto start = std::chrono::steady_clock::now();
    pid_t child = ::fork();
    if (child == 0) {
        int fd = ::open("/dev/bsp", O_RDWR);
        int rc = fd < 0 ? -2 : ::ioctl(fd, 0x6208);
        ::write(result[1], &rc, sizeof rc);
        ::sleep(10);
        ::_exit(0);
    }
    ::close(result[1]);
    int rc = -3;
    ASSERT_EQ(::read(result[0], &rc, sizeof rc), static_cast<ssize_t>(sizeof rc));
    EXPECT_EQ(rc, 0) << "the request itself succeeds";
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    std::string record;
    ASSERT_EQ(read_text_file(dir_ + "/reboot", &record), 0);
    EXPECT_EQ(record.rfind("requested by ", 0), 0u) << record;
    EXPECT_TRUE(journal_has("ioctl /dev/bsp BSP_REBOOT = 0"));
    std::vector<std::string> lines = read_journal(dir_);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string &l) { return l.rfind("reboot requested by ", 0) == 0; }),
              1);
}

namespace {

// A short NEC-like press: header, 8 bits, stop pulse, the receiver's timeout.
std::vector<uint32_t> short_press()
{
    std::vector<uint32_t> w = {0x01000000 | 9000, 4500};
    for (int bit = 0; bit < 8; ++bit) {
        w.push_back(0x01000000 | 560);
        w.push_back(bit % 3 ? 1690 : 560);
    }
    w.push_back(0x01000000 | 560);
    w.push_back(kIrTimeoutSpace);
    return w;
}

// Reads whatever a non-blocking descriptor holds, until EAGAIN.
std::vector<uint32_t> drain(int fd)
{
    std::vector<uint32_t> words;
    uint32_t buf[64];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) {
        words.insert(words.end(), buf, buf + n / 4);
    }
    EXPECT_EQ(n, -1);
    EXPECT_EQ(errno, EAGAIN);
    return words;
}

} // namespace

TEST_F(Preload, LircReceiverAnswersAsAModeTwoReceiver)
{
    int fd = ::open("/dev/lirc0", O_RDONLY);
    ASSERT_GE(fd, 0);
    uint32_t value = 0;
    EXPECT_EQ(::ioctl(fd, LIRC_GET_FEATURES, &value), 0);
    EXPECT_TRUE(value & LIRC_CAN_REC_MODE2);
    EXPECT_FALSE(value & LIRC_CAN_SEND_MASK);
    EXPECT_EQ(::ioctl(fd, LIRC_GET_REC_MODE, &value), 0);
    EXPECT_EQ(value, static_cast<uint32_t>(LIRC_MODE_MODE2));
    EXPECT_EQ(::ioctl(fd, LIRC_SET_REC_MODE, &value), 0);
    value = LIRC_MODE_SCANCODE;
    EXPECT_EQ(::ioctl(fd, LIRC_SET_REC_MODE, &value), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(::ioctl(fd, LIRC_GET_SEND_MODE, &value), -1);
    EXPECT_EQ(errno, ENOTTY);
    struct stat st;
    ASSERT_EQ(::fstat(fd, &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_TRUE(journal_has("ioctl /dev/lirc0 LIRC_GET_FEATURES = 0"));
    EXPECT_TRUE(journal_has("ioctl /dev/lirc0 LIRC_SET_REC_MODE 8 = -1 EINVAL"));
    ::close(fd);
}

TEST_F(Preload, LircReadsWholeWordsBlockingOrNotAndPollWakes)
{
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<uint32_t> press = short_press();
    Journal feeder;
    journal_bind(&feeder, dir_);
    // Nobody has the receiver open: the words are lost.
    EXPECT_EQ(ir_feed(dir_, press, 100, &feeder).dropped, press.size());

    int fd = ::open("/dev/lirc0", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    uint32_t word;
    EXPECT_EQ(::read(fd, &word, sizeof word), -1);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(::read(fd, &word, 3), -1);
    EXPECT_EQ(errno, EINVAL);

    // The press lasts about 75 ms at speed 2 (most of it the timeout): poll
    // wakes on its first word, long before the last.
    std::thread remote([&] { ir_feed(dir_, press, 2, &feeder); });
    pollfd p = {fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    std::vector<uint32_t> early = drain(fd);
    EXPECT_FALSE(early.empty());
    EXPECT_LT(early.size(), press.size()); // the rest is still on its way
    ASSERT_EQ(::fcntl(fd, F_SETFL, 0), 0); // blocking again: reads wait for data
    std::vector<uint32_t> all = early;
    while (all.size() < press.size()) {
        uint32_t buf[64];
        ssize_t n = ::read(fd, buf, 6 * 4);
        ASSERT_GT(n, 0);
        ASSERT_EQ(n % 4, 0);
        all.insert(all.end(), buf, buf + n / 4);
    }
    remote.join();
    EXPECT_EQ(all, press);
    EXPECT_TRUE(journal_has(format("feed lirc0 words %zu dropped 0", press.size())));
    ::close(fd);
}

TEST_F(Preload, LircOpensInTurnAndSideBySideEachGetTheWords)
{
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<uint32_t> press = short_press();
    Journal feeder;
    journal_bind(&feeder, dir_);
    for (int round = 0; round < 2; ++round) {
        int a = ::open("/dev/lirc0", O_RDONLY | O_NONBLOCK);
        int b = ::open("/dev/lirc0", O_RDONLY | O_NONBLOCK);
        ASSERT_GE(a, 0);
        ASSERT_GE(b, 0);
        EXPECT_EQ(ir_feed(dir_, press, 1000, &feeder).dropped, 0u);
        EXPECT_EQ(drain(a), press);
        EXPECT_EQ(drain(b), press);
        ::close(a);
        ::close(b);
    }
    // Closed receivers are gone: nothing is kept for the next reader.
    EXPECT_EQ(ir_feed(dir_, press, 1000, &feeder).dropped, press.size());
    int c = ::open("/dev/lirc0", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(c, 0);
    EXPECT_TRUE(drain(c).empty());
    ::close(c);
}

// A board file makes MTD requests fail by name, per device, optionally after
// a number of good ones.
TEST_F(Preload, InjectedIoctlFailures)
{
    std::string text = std::string(kBoard) +
                       "fail_ioctl = mtd2 MEMGETINFO EIO after 1\n"
                       "fail_ioctl = mtd1 NOCPT EPERM\n"
                       "fail_ioctl = mtd0 MEMERASE 28\n"
                       "fail_ioctl = mtd0 MEMGETBADBLOCK ENODEV\n";
    std::string error;
    ASSERT_EQ(prepare_state(dir_, &text, &error), 0) << error;
    int data = ::open("/dev/mtd2", O_RDWR), part_info = ::open("/dev/mtd1", O_RDWR),
        whole = ::open("/dev/mtd0", O_RDWR);
    ASSERT_GE(data, 0);
    ASSERT_GE(part_info, 0);
    ASSERT_GE(whole, 0);
    mtd_info_user info{};
    EXPECT_EQ(::ioctl(data, MEMGETINFO, &info), 0) << "the first one still succeeds";
    EXPECT_EQ(info.size, 3u << 20);
    for (int i = 0; i < 2; ++i) {
        info = {};
        EXPECT_EQ(::ioctl(data, MEMGETINFO, &info), -1);
        EXPECT_EQ(errno, EIO);
        EXPECT_EQ(info.size, 0u) << "a failed request fills nothing";
    }
    EXPECT_EQ(::ioctl(part_info, MEMGETINFO, &info), 0) << "other devices answer";
    EXPECT_EQ(info.size, 1u << 20);
    EXPECT_EQ(::ioctl(part_info, kNocptRequest, 3ul), -1);
    EXPECT_EQ(errno, EPERM);
    erase_info_user range = {0, 128 * 1024};
    EXPECT_EQ(::ioctl(whole, MEMERASE, &range), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(::ioctl(data, MEMERASE, &range), 0) << "only on the device named";
    int64_t offset = 0;
    EXPECT_EQ(::ioctl(whole, MEMGETBADBLOCK, &offset), -1);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_EQ(::ioctl(whole, MEMGETINFO, &info), 0);
    ::close(data);
    ::close(part_info);
    ::close(whole);
    for (const char *line : {"ioctl /dev/mtd2 MEMGETINFO = 0", "fault ioctl /dev/mtd2 MEMGETINFO EIO",
                             "ioctl /dev/mtd2 MEMGETINFO = -1 EIO", "fault ioctl /dev/mtd1 NOCPT EPERM",
                             "ioctl /dev/mtd1 NOCPT = -1 EPERM", "ioctl /dev/mtd0 MEMERASE = -1 ENOSPC",
                             "ioctl /dev/mtd0 MEMGETBADBLOCK = -1 ENODEV"}) {
        EXPECT_TRUE(journal_has(line)) << line;
    }
    std::vector<std::string> lines = read_journal(dir_);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "fault ioctl /dev/mtd2 MEMGETINFO EIO"), 2);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string &l) { return l.rfind("erase ", 0) == 0; }),
              1)
        << "the failed erase erased nothing";
}
