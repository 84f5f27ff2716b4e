// uartdrvtest on the virtual board: its menus, the driver's requests, and a
// session typed line by line with the data seen at the line's far end.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "vboard/state.h"
#include "vboard/testkit.h"
#include "vboard/uart_peer.h"

using namespace vboard::testkit;

namespace {

const std::string kPortMenu =
    " ********Select Uart port: *******\n"
    "         1: uart1\n"
    "          2: uart2\n"
    "  **************************************\n";
const std::string kPinMenu = " ********Select Pin Group for Uart port: *******\n";
const std::string kModeMenu =
    " ********Select Uart work mode: *******\n"
    "        0: RX_TX_POLLING\n"
    "         1: RX_TX_ISR_INDEPENDEN\n"
    "         2: RX_ISR_TX_POLLING\n"
    "  **************************************\n";
const std::string kBaudMenu =
    " ********Select Uart BAUDRATE: *******\n"
    "         1: RS_232_SPEED_115200    \n"
    "          2: RS_232_SPEED_921600    \n"
    "          3: RS_232_SPEED_75    \n"
    "  **************************************\n";
const std::string kOpened = " open uart device OK!\n";
const std::string kMenus = kOpened + kPortMenu + kPinMenu + kModeMenu + kBaudMenu;
const char kWriterStuck[] = "quit: the last write did not finish in 2 s, closing the device\n";

std::vector<std::string> requests(const Board &board)
{
    std::vector<std::string> out;
    for (const std::string &line : board.journal_lines("ioctl /dev/drv_uart2 ")) {
        out.push_back(line.substr(21));
    }
    return out;
}

std::string pattern(size_t n)
{
    std::string p;
    for (size_t i = 0; i < n; ++i) {
        p += static_cast<char>('0' + (i < 10 ? i : i / 10 % 10));
    }
    return p;
}

size_t occurrences(const std::string &text, const std::string &part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

// uartdrvtest with its standard input on a FIFO of the state directory
// (visible on the board), typed into line by line.
class Session {
public:
    explicit Session(Board &board) : board_(board), fifo_(board.dir() + "/typed")
    {
        ::mkfifo(fifo_.c_str(), 0600);
        process_ = board.start({"sh", "-c", "exec " + bin_path("uartdrvtest") + " < " + fifo_});
        keyboard_ = ::open(fifo_.c_str(), O_RDWR);
    }
    ~Session() { ::close(keyboard_); }
    void type(const std::string &text)
    {
        ASSERT_EQ(::write(keyboard_, text.data(), text.size()), (ssize_t)text.size());
    }
    Process &process() { return *process_; }
    std::string sent() const { return vboard::uart_sent(board_.dir(), "drv_uart2"); }

private:
    Board &board_;
    std::string fifo_;
    std::unique_ptr<Process> process_;
    int keyboard_ = -1;
};

} // namespace

// Answers all typed at once, with the requests each path reaches.
TEST(Uartdrvtest, MenuPathsAndTheirRequests)
{
    Board board;
    struct Case {
        std::string input;
        std::string out;
        std::vector<std::string> requests;
    } cases[] = {
        {"", kOpened + kPortMenu + "select uart port INVALID!\n", {}},
        {"3\n", kOpened + kPortMenu + "select uart port INVALID!\n", {}},
        {"2\nx\n4\n",
         kOpened + kPortMenu + kPinMenu + kModeMenu + "select uart mode INVALID!\n",
         {"UART_SET_PORT 2 = 0"}},
        {"\r1\n\n7\r\n3\n4\n", kMenus + "select uart mode INVALID!\n", {"UART_SET_PORT 1 = 0", "UART_SET_MODE 3 = 0"}},
        {"1\n1\n0\n2\nQ\n",
         kMenus + "input char 0x51,send_length=1\n",
         {"UART_SET_PORT 1 = 0", "UART_SET_MODE 0 = 0", "UART_SET_BAUD 20 = 0", "UART_START = 0"}},
        {"2\n1\n2\n3\n",
         kMenus, // the end of input stops the program
         {"UART_SET_PORT 2 = 0", "UART_SET_MODE 2 = 0", "UART_SET_BAUD 0 = 0", "UART_START = 0"}},
    };
    for (const Case &c : cases) {
        size_t before = requests(board).size();
        Result r = board.run({bin_path("uartdrvtest")}, 10000, c.input);
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.out) << "input: " << c.input;
        std::vector<std::string> made = requests(board);
        EXPECT_EQ(std::vector<std::string>(made.begin() + before, made.end()), c.requests) << "input: " << c.input;
    }
}

TEST(Uartdrvtest, TypedSessionSendsEachPatternInOneWriteAndEndsAtQuit)
{
    Board board;
    Session s(board);
    s.type("2\n1\n1\n1\n");
    ASSERT_TRUE(await([&] { return requests(board).size() == 4; }, 10000)) << s.process().out();
    EXPECT_EQ(requests(board), (std::vector<std::string>{"UART_SET_PORT 2 = 0", "UART_SET_MODE 1 = 0",
                                                         "UART_SET_BAUD 16 = 0", "UART_START = 0"}));
    EXPECT_EQ(vboard::uart_settings(board.dir(), "drv_uart2"), "port 2\nmode 1\nbaud 16\nstarted 1\n");

    std::string expected_sent;
    for (const char *command : {"1", "2", "3"}) {
        size_t n = std::string(command) == "1" ? 10 : std::string(command) == "2" ? 100 : 1000;
        expected_sent += pattern(n);
        s.type(std::string(command) + "\n");
        ASSERT_TRUE(await([&] { return s.sent() == expected_sent; }, 5000)) << command << ": " << s.sent();
        ASSERT_TRUE(s.process().await_out("Write data to uart ok!count=" + std::to_string(n) + ",\n", 5000));
    }
    EXPECT_EQ(pattern(100).substr(10, 20), "11111111112222222222");

    ASSERT_EQ(vboard::uart_feed(board.dir(), "drv_uart2", "hello"), 0);
    ASSERT_TRUE(s.process().await_out("(5):hello\n", 5000)) << s.process().out();

    size_t writes = 0;
    for (const char *letter : {"q", "u", "i"}) {
        expected_sent += letter;
        s.type(std::string(letter) + "\n");
        ++writes;
        ASSERT_TRUE(await([&] { return s.sent() == expected_sent; }, 5000)) << letter;
        ASSERT_TRUE(
            await([&] { return occurrences(s.process().out(), "Write data to uart ok!count=1,\n") == writes; }, 5000));
    }
    s.type("t\n");
    ASSERT_TRUE(s.process().wait(5000));
    EXPECT_EQ(s.process().status(), 0);
    EXPECT_EQ(board.journal_lines("write drv_uart2"),
              (std::vector<std::string>{"write drv_uart2 bytes 10", "write drv_uart2 bytes 100",
                                        "write drv_uart2 bytes 1000", "write drv_uart2 bytes 1",
                                        "write drv_uart2 bytes 1", "write drv_uart2 bytes 1"}));
    std::string out = s.process().out();
    for (const char *line : {"input char 0x31,send_length=10\n", "input char 0x32,send_length=100\n",
                             "input char 0x33,send_length=1000\n", "input char 0x74,send_length=1\n"}) {
        EXPECT_NE(out.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(out.find("Write data to uart ok!count=1,\n", out.find("input char 0x74")), std::string::npos)
        << "the t of quit is not sent";
}

// Typed faster than the writer runs: the letters go out together, and
// nothing typed before the quit is lost.
TEST(Uartdrvtest, QuitTypedAtOnceStillSendsWhatCameBefore)
{
    Board board;
    Result r = board.run({bin_path("uartdrvtest")}, 10000, "1\n1\n0\n1\nq\nu\ni\nt\nnot read\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(vboard::uart_sent(board.dir(), "drv_uart2"), "qui");
    EXPECT_EQ(r.out.find("input char 0x6e"), std::string::npos) << "nothing is read after the t";
}

// A driver in polling mode answers a read at once with nothing: the reader
// pauses before it asks again instead of keeping a processor busy.
TEST(Uartdrvtest, ReaderOfAPollingDriverDoesNotSpin)
{
    Board board;
    Session s(board);
    s.type("1\n1\n0\n1\n");
    ASSERT_TRUE(await([&] { return requests(board).size() == 4; }, 10000)) << s.process().out();
    long long from = board.cpu_ticks("uartdrvtest");
    ::usleep(300 * 1000);
    EXPECT_LE(board.cpu_ticks("uartdrvtest") - from, 3) << "processor ticks while nothing came";
    ASSERT_EQ(vboard::uart_feed(board.dir(), "drv_uart2", "hello"), 0);
    ASSERT_TRUE(s.process().await_out("(5):hello\n", 5000)) << s.process().out();
    s.type("Q\n");
    ASSERT_TRUE(s.process().wait(5000));
}

// A writer stuck in the driver (its far end takes nothing: a FIFO without a
// reader) holds the quit up for a bounded time only.
TEST(Uartdrvtest, QuitGivesUpOnAStuckWriter)
{
    Board board;
    std::string tx = vboard::uart_peer_path(board.dir(), "drv_uart2", ".tx");
    ::mkdir(tx.substr(0, tx.rfind('/')).c_str(), 0755);
    ASSERT_EQ(::mkfifo(tx.c_str(), 0600), 0);
    Result r = board.run({bin_path("uartdrvtest")}, 10000, "1\n1\n1\n1\n3\nQ\n");
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(kWriterStuck), std::string::npos) << r.out;
}
