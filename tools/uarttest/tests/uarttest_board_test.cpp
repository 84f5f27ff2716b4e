// uarttest on the virtual board: the port's settings seen from the peer end,
// the echo of a 128-byte block, the GPIO toggles, and the console lines.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vboard/state.h"
#include "vboard/testkit.h"
#include "vboard/uart_peer.h"

using namespace vboard::testkit;

namespace {

const char kMenuEnd[] = " **************************************\n";
const char kToggle[] = "ioctl /dev/gpio GPIO_PIN_CONFIG 62 1 ";

long long bytes_read(const Board &board, const std::string &port)
{
    long long sum = 0;
    std::string prefix = "read " + port + " bytes ";
    for (const std::string &line : board.journal_lines(prefix)) {
        sum += std::atoll(line.c_str() + prefix.size());
    }
    return sum;
}

// The program's terminal, opened from the peer end.
int open_terminal(const Board &board, const std::string &port)
{
    std::string pts;
    vboard::read_text_file(vboard::uart_peer_path(board.dir(), port, ".pts"), &pts);
    pts.resize(pts.find('\n') == std::string::npos ? 0 : pts.find('\n'));
    int fd = ::open(pts.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0) << "pseudo-terminal '" << pts << "'";
    return fd;
}

termios peer_settings(const Board &board, const std::string &port)
{
    termios t{};
    int fd = open_terminal(board, port);
    EXPECT_EQ(::tcgetattr(fd, &t), 0);
    ::close(fd);
    return t;
}

// The terminal as the peer end sees it (a pseudo-terminal keeps no parity,
// so the line's frame is checked in what the program applied).
void expect_raw_115200(const Board &board, const std::string &port, const char *frame)
{
    termios t = peer_settings(board, port);
    EXPECT_EQ(cfgetispeed(&t), B115200);
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | CRTSCTS | CLOCAL | CREAD), CS8 | CLOCAL | CREAD);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (BRKINT | ICRNL | INPCK | ISTRIP | IXON), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    std::string line;
    vboard::read_text_file(vboard::uart_peer_path(board.dir(), port, ".line"), &line);
    EXPECT_EQ(line, std::string("115200 ") + frame + " raw clocal cread min 1 time 0\n");
}

// The console without the worker threads' own lines, which come in any order:
// even inside a menu line, whose leading space the program prints at the end
// of the line before.
std::string main_lines(std::string out)
{
    for (const char *worker : {"tty_Send threat", "tty_Receive threat"}) {
        for (size_t at = out.find(worker); at != std::string::npos; at = out.find(worker, at)) {
            size_t end = out.find('\n', at);
            out.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
        }
    }
    return out;
}

const std::string kMainLines =
    "Create thread tty_Send sucessfully!\n"
    "Create thread tty_Receive sucessfully!\n"
    " ********Select output data length: *******\n"
    "              1: output 10 bytes\n"
    "               2: output 100 bytes\n"
    "               3: output 1000 bytes\n"
    "               S: self test!\n"
    "               R: receive self test!\n"
    "               Q: exit program\n"
    "               other: output 1 byte \n"
    "  **************************************\n";

} // namespace

TEST(Uarttest, EchoesA128ByteBlockOnceAndTogglesPin62AsDataComes)
{
    Board board;
    auto p = board.start({bin_path("uarttest")});
    ASSERT_TRUE(p->await_out(kMenuEnd, 10000)) << p->out() << p->err();
    expect_raw_115200(board, "ttyQV1", "8N1");

    std::string out = main_lines(p->out());
    ASSERT_EQ(out.rfind(" TTYQV1 init ok!fd=0x", 0), 0u) << out;
    size_t fd_end = out.find('\n');
    EXPECT_EQ(out.find_first_not_of("0123456789abcdef", 21), fd_end) << out;
    EXPECT_EQ(out.substr(fd_end + 1), kMainLines);
    EXPECT_EQ(board.journal_lines("ioctl /dev/gpio GPIO_PIN_CONFIG 13 0 0 = 0").size(), 1u);

    // Idle: the receive thread sleeps instead of polling.
    long long idle_from = board.cpu_ticks("uarttest");
    ::usleep(300 * 1000);
    EXPECT_LE(board.cpu_ticks("uarttest") - idle_from, 2) << "processor ticks while the line was idle";

    std::string data;
    for (int i = 0; i < 128; ++i) {
        data += static_cast<char>(i * 7 + 3);
    }
    for (int k = 0; k < 8; ++k) {
        ASSERT_EQ(vboard::uart_feed(board.dir(), "ttyQV1", data.substr(k * 16, 16)), 0);
        ASSERT_TRUE(await([&] { return bytes_read(board, "ttyQV1") == (k + 1) * 16; }, 5000)) << "read " << k;
    }
    ASSERT_TRUE(await([&] { return vboard::uart_sent(board.dir(), "ttyQV1") == data; }, 5000));
    ASSERT_TRUE(p->await_out("send start\n", 5000));
    EXPECT_EQ(board.journal_lines("write ttyQV1"), std::vector<std::string>{"write ttyQV1 bytes 128"});

    // The last toggle comes after the block was handed to the sender.
    ASSERT_TRUE(await([&] { return board.journal_lines(kToggle).size() == 8; }, 5000));
    std::vector<std::string> levels;
    for (const std::string &line : board.journal_lines(kToggle)) {
        levels.push_back(line.substr(sizeof kToggle - 1));
    }
    std::vector<std::string> alternating;
    for (int k = 0; k < 8; ++k) {
        alternating.push_back(k % 2 ? "1 = 0" : "0 = 0");
    }
    EXPECT_EQ(levels, alternating);
    EXPECT_NE(p->out().find("[16] low\n[32] high\n[48] low\n[64] high\n[80] low\n[96] high\n[112] low\n"),
              std::string::npos)
        << p->out();

    // 5 bytes at position 0 leave the pin alone; 11 more reach 16 and toggle it.
    ASSERT_EQ(vboard::uart_feed(board.dir(), "ttyQV1", "12345"), 0);
    ASSERT_TRUE(await([&] { return bytes_read(board, "ttyQV1") == 133; }, 5000));
    ASSERT_EQ(vboard::uart_feed(board.dir(), "ttyQV1", "6789abcdefg"), 0);
    ASSERT_TRUE(await([&] { return board.journal_lines(kToggle).size() == 9; }, 5000));
    ASSERT_TRUE(await([&] { return p->out().rfind("[16] low\n") > p->out().find("[0] high\n"); }, 5000));
    std::string all = p->out();
    size_t last_of_block = all.find("[0] high\n");
    ASSERT_NE(last_of_block, std::string::npos) << all;
    EXPECT_EQ(all.find("[5]"), std::string::npos);
    std::vector<std::string> toggles = board.journal_lines(kToggle);
    ASSERT_EQ(toggles.size(), 9u);
    EXPECT_EQ(toggles.back(), std::string(kToggle) + "0 = 0");
    p->kill();
}

// A hung-up port stays readable with nothing to read: the receive thread
// says so once and ends (it used to print the line and spin for ever).
TEST(Uarttest, AHangUpEndsTheReceiveThreadWithOneLine)
{
    Board board;
    auto p = board.start({bin_path("uarttest")});
    ASSERT_TRUE(p->await_out(kMenuEnd, 10000)) << p->out() << p->err();
    int fd = open_terminal(board, "ttyQV1");
    ASSERT_EQ(::ioctl(fd, TIOCVHANGUP), 0);
    ::close(fd);
    ASSERT_TRUE(p->await_out("tty_Receive threat exit\n", 5000)) << p->out().substr(0, 2000);
    long long from = board.cpu_ticks("uarttest");
    ::usleep(300 * 1000);
    EXPECT_LE(board.cpu_ticks("uarttest") - from, 2) << "processor ticks after the hang-up";
    std::string out = p->out();
    size_t null_line = out.find("Get NULL data from uart2\n");
    ASSERT_NE(null_line, std::string::npos) << out;
    EXPECT_EQ(out.find("Get NULL data", null_line + 1), std::string::npos) << "one line";
    EXPECT_EQ(out.find("is invalid"), std::string::npos) << "the descriptor was valid";
    p->kill();
}

TEST(Uarttest, SecondPortIsEvenParityAndSaysSoBeforeApplyingIt)
{
    Board board;
    auto p = board.start({UARTTEST_QV2});
    ASSERT_TRUE(p->await_out(kMenuEnd, 10000)) << p->out() << p->err();
    expect_raw_115200(board, "ttyQV2", "8E1");
    std::string out = main_lines(p->out());
    EXPECT_EQ(out.rfind(" TTYQV2 init ok! set termios\n TTYQV2 init ok!fd=0x", 0), 0u) << out;
    EXPECT_NE(out.find(kMainLines), std::string::npos) << out;
    p->kill();
}

TEST(Uarttest, APortThatCannotBeOpenedEndsTheProgramWithAMessage)
{
    if (::access("/dev/ttyQV1", F_OK) == 0) {
        GTEST_SKIP() << "this host has a /dev/ttyQV1";
    }
    FILE *f = ::popen(("env -u LD_PRELOAD " + bin_path("uarttest") + " 2>&1").c_str(), "r");
    ASSERT_NE(f, nullptr);
    char buf[512];
    std::string out(buf, std::fread(buf, 1, sizeof buf, f));
    int status = ::pclose(f);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(out, "uarttest: can't open '/dev/ttyQV1', No such file or directory\n");
}
