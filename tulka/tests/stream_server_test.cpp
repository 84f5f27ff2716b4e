// stream_server and the daemon's handlers over a real socket in a temporary
// directory, with the event loop pumped from the test thread.
#include "handlers.h"
#include "log.h"
#include "stream_server.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <regex>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using namespace tulka;
using namespace std::chrono_literals;

const message cancel_reply = {8, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0};

class StreamServer : public ::testing::Test {
protected:
    void SetUp() override { server = std::make_shared<stream_server>(io); }

    void TearDown() override
    {
        for (int fd : m_clients)
            close(fd);
        server->stop();
        server.reset();
        io.poll();
    }

    void start(stream_server::message_handler handler) { server->start(std::move(handler), m_path); }

    void start_recording()
    {
        start([this](message m) { received.push_back(std::move(m)); });
    }

    void pump()
    {
        if (io.stopped())
            io.restart();
        io.run_for(2ms);
    }

    bool pump_until(const std::function<bool()> &done, std::chrono::milliseconds limit = 3s)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            pump();
        }
        return true;
    }

    int connect_client()
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        m_path.copy(address.sun_path, sizeof address.sun_path - 1);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        m_clients.push_back(fd);
        return fd;
    }

    void close_client(int fd)
    {
        close(fd);
        m_clients.erase(std::find(m_clients.begin(), m_clients.end(), fd));
    }

    static void write_bytes(int fd, const message &bytes)
    {
        ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }

    // Up to `count` bytes, fewer when the peer closes or time runs out.
    message read_bytes(int fd, size_t count, std::chrono::milliseconds limit = 3s)
    {
        message bytes;
        pump_until(
            [&] {
                uint8_t chunk[65536];
                const size_t want = std::min(sizeof chunk, count - bytes.size());
                const ssize_t n = recv(fd, chunk, want, MSG_DONTWAIT);
                if (n > 0)
                    bytes.insert(bytes.end(), chunk, chunk + n);
                return bytes.size() == count || n == 0 || (n < 0 && errno != EAGAIN);
            },
            limit);
        return bytes;
    }

    bool peer_closed(int fd)
    {
        return pump_until([&] {
            uint8_t byte;
            const ssize_t n = recv(fd, &byte, 1, MSG_DONTWAIT);
            return n == 0 || (n < 0 && errno != EAGAIN);
        });
    }

    boost::asio::io_context io;
    std::shared_ptr<stream_server> server;
    std::vector<message> received;

private:
    vboard::testkit::TempDir m_dir{"tulka_test"};
    std::string m_path = m_dir.file("socket");
    std::vector<int> m_clients;
};

message concat_frames(std::initializer_list<message> payloads)
{
    message bytes;
    for (const message &p : payloads) {
        const message f = frame(p);
        bytes.insert(bytes.end(), f.begin(), f.end());
    }
    return bytes;
}

TEST_F(StreamServer, ReceivesWholeMessagesInOrderWhateverTheirSplit)
{
    start_recording();
    const int fd = connect_client();
    const message a = {1, 0, 0, 0, 116, 0, 0, 0, 0xaa};
    const message b = {2, 0, 0, 0};
    const message bytes = concat_frames({a, {}, b});
    write_bytes(fd, message(bytes.begin(), bytes.begin() + 3));
    pump();
    write_bytes(fd, message(bytes.begin() + 3, bytes.begin() + 10));
    pump();
    write_bytes(fd, message(bytes.begin() + 10, bytes.end()));
    ASSERT_TRUE(pump_until([&] { return received.size() == 3; }));
    EXPECT_EQ(received[0], a);
    EXPECT_TRUE(received[1].empty());
    EXPECT_EQ(received[2], b);
}

TEST_F(StreamServer, QueuedMessagesGoToTheNextClientInOrder)
{
    start_recording();
    server->send({1});
    server->send({2, 2});
    const int first = connect_client();
    EXPECT_EQ(read_bytes(first, 11), concat_frames({{1}, {2, 2}}));
    close_client(first);
    // Whether the server has noticed the close or fails writing to it, these
    // must reach the next client whole.
    server->send({3});
    server->send({4, 4, 4});
    const int second = connect_client();
    EXPECT_EQ(read_bytes(second, 12), concat_frames({{3}, {4, 4, 4}}));
}

TEST_F(StreamServer, MessageCutByADisconnectIsResentWhole)
{
    start_recording();
    message big(1 << 20);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>(i * 7);
    server->send(big);
    server->send({7});
    const int first = connect_client();
    EXPECT_EQ(read_bytes(first, 100).size(), 100u);
    close_client(first);
    const int second = connect_client();
    EXPECT_EQ(read_bytes(second, 4 + big.size() + 5), concat_frames({big, {7}}));
}

TEST_F(StreamServer, HugeLengthDropsTheConnectionAndServingGoesOn)
{
    start_recording();
    testing::internal::CaptureStderr();
    const int fd = connect_client();
    write_bytes(fd, {0xff, 0xff, 0xff, 0xff, 1, 0, 0, 0});
    EXPECT_TRUE(peer_closed(fd));
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(
        std::regex_search(errors,
                          std::regex("^[ 0-9]{10} error: message length 4294967295 exceeds the limit of 65536\n")))
        << errors;
    EXPECT_TRUE(received.empty());

    const int next = connect_client();
    write_bytes(next, frame({5, 0, 0, 0}));
    ASSERT_TRUE(pump_until([&] { return received.size() == 1; }));
    // The largest length allowed is still read.
    write_bytes(next, frame(message(max_message_length, 1)));
    ASSERT_TRUE(pump_until([&] { return received.size() == 2; }));
    EXPECT_EQ(received[1].size(), max_message_length);
}

TEST_F(StreamServer, SecondClientWaitsUntilTheFirstIsGone)
{
    start_recording();
    const int first = connect_client();
    write_bytes(first, frame({1}));
    ASSERT_TRUE(pump_until([&] { return received.size() == 1; }));
    const int second = connect_client();
    write_bytes(second, frame({2}));
    write_bytes(first, frame({3}));
    ASSERT_TRUE(pump_until([&] { return received.size() == 2; }));
    EXPECT_EQ(received[1], message{3});
    close_client(first);
    ASSERT_TRUE(pump_until([&] { return received.size() == 3; }));
    EXPECT_EQ(received[2], message{2});
}

TEST_F(StreamServer, ClientLeavingMidMessageIsDroppedAndTheNextServed)
{
    start_recording();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int first = connect_client();
    write_bytes(first, {8, 0, 0, 0, 1, 0, 0});
    pump();
    close_client(first);
    const int second = connect_client();
    write_bytes(second, frame({6}));
    ASSERT_TRUE(pump_until([&] { return received.size() == 1; }));
    EXPECT_EQ(received[0], message{6});
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "socket client connected\nsocket client disconnected\nsocket client connected\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "read fail\n");
}

TEST_F(StreamServer, StartFailsNamingTheStep)
{
    try {
        server->start([](message) {}, "/nonexistent-dir/socket");
        FAIL() << "bind into a missing directory succeeded";
    } catch (const boost::system::system_error &e) {
        EXPECT_EQ(std::string(e.what()).rfind("bind", 0), 0u) << e.what();
    }
}

// The daemon's message and key handlers on a server with a real lirc whose
// shell commands are only recorded: lircd of the host is never touched.
class Handlers : public StreamServer {
protected:
    void SetUp() override
    {
        StreamServer::SetUp();
        ir = std::make_shared<lirc>(io, learned.dir(), "/nonexistent/lirc0", 3000, commands.runner());
        log_flags = 3;
        start([this](message m) { handle_client_message(*ir, server, m); });
    }

    // Sends a cancel and expects its reply to be the next thing the client
    // gets, so nothing was sent for what came before.
    void expect_only_cancel_reply(int fd)
    {
        write_bytes(fd, frame(pack_learn_cancel()));
        EXPECT_EQ(read_bytes(fd, cancel_reply.size()), cancel_reply);
    }

    tulka::test::temp_dir learned;
    tulka::test::recorded_commands commands;
    std::shared_ptr<lirc> ir;
};

std::string stamped(const std::string &text) { return "[ 0-9]{10} " + text + "\n"; }

TEST_F(Handlers, BadRequestsLeaveTheConnectionUp)
{
    const int fd = connect_client();
    testing::internal::CaptureStderr();
    write_bytes(fd, frame({}));
    write_bytes(fd, frame({1, 0, 0, 0}));
    write_bytes(fd, frame({1, 0, 0, 0, 116, 0, 0}));
    write_bytes(fd, frame({7, 0, 0, 0}));
    write_bytes(fd, frame({0xff, 0xff, 0xff, 0xff, 1}));
    write_bytes(fd, frame(pack_clear_learned()));
    // Extra bytes after the type are ignored.
    write_bytes(fd, frame({2, 0, 0, 0, 9, 9, 9}));
    EXPECT_EQ(read_bytes(fd, cancel_reply.size()), cancel_reply);
    expect_only_cancel_reply(fd);
    const std::string not_enough = stamped("exception: Not enough data in message to read");
    const std::string err = testing::internal::GetCapturedStderr();
    // lircd restarted at construction and for each of the two cancels.
    const std::string stop = "killall lircd";
    const std::string start = lircd_control::start_command();
    std::vector<std::string> restarts = commands.lines;
    restarts.erase(std::remove(restarts.begin(), restarts.end(), "mkdir -p /var/run/lirc"), restarts.end());
    EXPECT_EQ(restarts, std::vector<std::string>({stop, start, stop, start, stop, start}));
    EXPECT_TRUE(
        std::regex_match(err, std::regex(not_enough + not_enough + not_enough + stamped("error: unknown tulka msg 7") +
                                         stamped("error: unknown tulka msg -1"))))
        << err;
}

TEST_F(Handlers, KeyEventsAreForwardedAndOtherEventsDropped)
{
    const int fd = connect_client();
    testing::internal::CaptureStdout();
    KeyInfo_t other;
    other.type = 0;
    forward_key(*server, other);
    KeyInfo_t press;
    press.code = 116;
    press.value = KEY_VALUE_PRESS;
    press.remote = "learned_KEY_POWER";
    forward_key(*server, press);
    message expected = {44, 0, 0, 0, 4, 0, 0, 0, 116, 0, 0, 0, 1, 0, 0, 0};
    expected.insert(expected.end(), press.remote.begin(), press.remote.end());
    expected.resize(48, 0);
    EXPECT_EQ(read_bytes(fd, 48), expected);
    expect_only_cancel_reply(fd);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(std::regex_search(out, std::regex(stamped("key: 116 value: press remote name: learned_KEY_POWER"))))
        << out;
}

} // namespace
