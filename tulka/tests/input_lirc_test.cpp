// input_lirc against a stand-in for lircd's socket in a temporary
// directory, with the event loop pumped from the test thread.
#include "input_lirc.h"
#include "log.h"
#include "test_support.h"
#include "tulka/protocol.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using namespace tulka;
using namespace std::chrono_literals;

constexpr auto limit = 3s;

class InputLirc : public ::testing::Test {
protected:
    void SetUp() override
    {
        log_flags = 0;
        listen_lircd();
        input = std::make_shared<input_lirc>(io, 100, m_path);
        input->start([this](KeyInfo_t key) { keys.push_back(key); });
    }

    void TearDown() override
    {
        for (int fd : m_peers)
            close(fd);
        if (m_listener >= 0)
            close(m_listener);
    }

    void listen_lircd()
    {
        m_listener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ASSERT_GE(m_listener, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        m_path.copy(address.sun_path, sizeof address.sun_path - 1);
        ASSERT_EQ(bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ASSERT_EQ(listen(m_listener, 4), 0);
    }

    // lircd goes away: its socket refuses connections.
    void stop_lircd()
    {
        close(m_listener);
        m_listener = -1;
        unlink(m_path.c_str());
    }

    bool pump_until(const std::function<bool()> &done, std::chrono::milliseconds span = limit)
    {
        const auto end = std::chrono::steady_clock::now() + span;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            pump_for(5ms);
        }
        return true;
    }

    void pump_for(std::chrono::milliseconds span)
    {
        if (io.stopped())
            io.restart();
        io.run_for(span);
    }

    // The next connection input_lirc makes.
    int accept_input()
    {
        int fd = -1;
        pump_until([&] { return (fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; });
        if (fd >= 0)
            m_peers.push_back(fd);
        return fd;
    }

    void send_text(int fd, const std::string &text)
    {
        ASSERT_EQ(send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
    }

    bool closed_by_input(int fd)
    {
        return pump_until([&] {
            char byte;
            return recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
        });
    }

    void expect_key(size_t at, uint16_t code, int32_t value, const std::string &remote)
    {
        ASSERT_GT(keys.size(), at);
        EXPECT_EQ(keys[at].type, KEY_EVENT_TYPE);
        EXPECT_EQ(keys[at].code, code);
        EXPECT_EQ(keys[at].value, value);
        EXPECT_EQ(keys[at].remote, remote);
    }

    tulka::test::temp_dir m_dir;
    std::string m_path = m_dir.dir() + "lircd";
    int m_listener = -1;
    std::vector<int> m_peers;
    boost::asio::io_context io;
    std::vector<KeyInfo_t> keys;
    std::shared_ptr<input_lirc> input;
};

TEST_F(InputLirc, LinesBecomeKeysAndPacketsAndShortLinesAreIgnored)
{
    const int lircd = accept_input();
    ASSERT_GE(lircd, 0);
    send_text(lircd,
              "BEGIN\nSIGHUP\nEND\n00 KEY_POWER\n0000000000000074 00 KEY_POWER learned_KEY_POWER\n"
              "0000000000000074 00 KEY_POWER_EVUP learned_KEY_POWER\n");
    ASSERT_TRUE(pump_until([&] { return keys.size() == 2; }));
    expect_key(0, 116, KEY_VALUE_PRESS, "learned_KEY_POWER");
    expect_key(1, 116, KEY_VALUE_RELEASE, "learned_KEY_POWER");
}

TEST_F(InputLirc, OverlongLineDropsTheConnectionAndANewOneIsMade)
{
    const int first = accept_input();
    ASSERT_GE(first, 0);
    send_text(first, std::string(300, '0'));
    EXPECT_TRUE(closed_by_input(first));
    const int second = accept_input();
    ASSERT_GE(second, 0);
    send_text(second, "0000000000000074 00 KEY_POWER r\n");
    ASSERT_TRUE(pump_until([&] { return keys.size() == 1; }));
    expect_key(0, 116, KEY_VALUE_PRESS, "r");
}

TEST_F(InputLirc, PartOfALineFromALostConnectionIsNotJoinedToTheNext)
{
    const int first = accept_input();
    ASSERT_GE(first, 0);
    send_text(first, "0000000000000074 00 KEY_");
    pump_for(50ms);
    close(first);
    const int second = accept_input();
    ASSERT_GE(second, 0);
    send_text(second, "POWER joined\n0000000000000001 00 FOO fresh\n");
    ASSERT_TRUE(pump_until([&] { return !keys.empty(); }));
    pump_for(50ms);
    ASSERT_EQ(keys.size(), 1u);
    expect_key(0, 0, KEY_VALUE_RELEASE, "fresh");
}

TEST_F(InputLirc, ReconnectsOnceLircdIsBack)
{
    const int first = accept_input();
    ASSERT_GE(first, 0);
    stop_lircd();
    close(first);
    // Retries go on while nothing listens.
    pump_for(300ms);
    listen_lircd();
    const auto back = std::chrono::steady_clock::now();
    const int second = accept_input();
    ASSERT_GE(second, 0);
    EXPECT_LE(std::chrono::steady_clock::now() - back, 1500ms);
    send_text(second, "0000000000000073 00 KEY_VOLUMEUP again\n");
    ASSERT_TRUE(pump_until([&] { return keys.size() == 1; }));
    expect_key(0, 115, KEY_VALUE_PRESS, "again");
}

TEST_F(InputLirc, NoRepeatsAfterItIsGone)
{
    const int lircd = accept_input();
    ASSERT_GE(lircd, 0);
    send_text(lircd, "0000000000000074 00 KEY_POWER r\n");
    ASSERT_TRUE(pump_until([&] { return keys.size() == 1; }));
    // The first repeat is due 300 ms after the press.
    ASSERT_TRUE(pump_until([&] { return keys.size() == 2; }, 1s));
    expect_key(1, 116, KEY_VALUE_REPEAT, "repeat");
    input.reset();
    pump_for(250ms);
    EXPECT_EQ(keys.size(), 2u);
    EXPECT_TRUE(closed_by_input(lircd));
}

} // namespace
