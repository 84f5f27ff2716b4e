// The lirc class with a FIFO standing in for the receiver and its shell
// commands recorded, the event loop pumped from the test thread: the order
// of the lircd commands around a learn, and how the end of the receiver's
// data before and after a complete press is handled.
#include "lirc.h"
#include "log.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace tulka;
using namespace tulka::test;
using namespace std::chrono_literals;

constexpr uint32_t sample_ms = 50;
const std::string stop = "killall lircd";
const std::string start = lircd_control::start_command();

ir_signal two_presses()
{
    const ir_signal press = nec_frame(0x04, 0x08);
    return ir_signal{S(500000)} + press + ir_signal{timeout_space, S(300000)} + press + ir_signal{timeout_space};
}

class Lirc : public ::testing::Test {
protected:
    void SetUp() override
    {
        log_flags = 0;
        ASSERT_EQ(mkfifo(m_device.c_str(), 0600), 0);
        // Holds the FIFO open so that the daemon's blocking open returns.
        m_keeper = open(m_device.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(m_keeper, 0);
        ir = std::make_shared<lirc>(io, m_learned.dir(), m_device, sample_ms, commands.runner());
    }

    void TearDown() override
    {
        for (int fd : {m_keeper, m_writer})
            if (fd >= 0)
                close(fd);
    }

    void learn(const std::string &key)
    {
        ir->learn(
            key, [this](bool learned) { result = learned; }, [this] { ++activities; });
        m_writer = open(m_device.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(m_writer, 0);
        // From now on the writer alone keeps the data coming.
        close(m_keeper);
        m_keeper = -1;
    }

    void feed(const ir_signal &words)
    {
        const auto bytes = static_cast<ssize_t>(words.size() * sizeof(lirc_value));
        ASSERT_EQ(write(m_writer, words.data(), static_cast<size_t>(bytes)), bytes);
    }

    // The receiver's data ends: its reads report the end of the file.
    void end_of_data()
    {
        close(m_writer);
        m_writer = -1;
    }

    void pump_for(std::chrono::milliseconds span)
    {
        if (io.stopped())
            io.restart();
        io.run_for(span);
    }

    bool pump_until(const std::function<bool()> &done)
    {
        const auto end = std::chrono::steady_clock::now() + 2s;
        while (!done() && std::chrono::steady_clock::now() < end)
            pump_for(5ms);
        return done();
    }

    // The lircd commands so far, without the run directory's mkdir.
    std::vector<std::string> lircd_commands() const
    {
        std::vector<std::string> lines;
        std::copy_if(commands.lines.begin(), commands.lines.end(), std::back_inserter(lines),
                     [](const std::string &line) { return line == stop || line == start; });
        return lines;
    }

    temp_dir m_dir;
    temp_dir m_learned;
    std::string m_device = m_dir.dir() + "lirc0";
    int m_keeper = -1;
    int m_writer = -1;
    boost::asio::io_context io;
    recorded_commands commands;
    std::shared_ptr<lirc> ir;
    std::optional<bool> result;
    int activities = 0;
};

TEST_F(Lirc, LearnStopsLircdAndACompleteCaptureIsInstalledBeforeLircdStarts)
{
    using list = std::vector<std::string>;
    EXPECT_EQ(lircd_commands(), list({stop, start}));
    learn("KEY_POWER");
    EXPECT_EQ(lircd_commands(), list({stop, start, stop}));
    feed(two_presses());
    ASSERT_TRUE(pump_until([&] { return result.has_value(); }));
    EXPECT_TRUE(*result);
    EXPECT_EQ(activities, 1);
    const std::string path = m_learned.dir() + "KEY_POWER.conf";
    EXPECT_TRUE(exists(path));
    std::vector<std::string> after_learn(commands.lines.end() - 3, commands.lines.end());
    EXPECT_EQ(after_learn,
              list({"cp " + path + " /etc/lirc/lircd.conf.d/", "cat /etc/lirc/lircd.conf.d/KEY_POWER.conf", start}));
    // Destroying it stops lircd.
    ir.reset();
    EXPECT_EQ(commands.lines.back(), stop);
}

TEST_F(Lirc, EndOfDataBeforeACompletePressEndsTheCaptureWithoutAResult)
{
    learn("KEY_POWER");
    testing::internal::CaptureStderr();
    feed(ir_signal{S(500000)} + nec_frame(0x04, 0x08));
    end_of_data();
    pump_for(3 * std::chrono::milliseconds(sample_ms));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(result.has_value());
    EXPECT_NE(err.find("lirc: error: End of file\n"), std::string::npos) << err;
    // lircd stays stopped until the next learn or a cancel.
    EXPECT_EQ(lircd_commands().back(), stop);
    ir->cancel();
    EXPECT_EQ(lircd_commands().back(), start);
}

TEST_F(Lirc, EndOfDataWhileSamplingStillReportsWhatWasCaptured)
{
    learn("KEY_1");
    feed(two_presses());
    end_of_data();
    ASSERT_TRUE(pump_until([&] { return result.has_value(); }));
    EXPECT_TRUE(*result);
    EXPECT_TRUE(exists(m_learned.dir() + "KEY_1.conf"));
}

TEST_F(Lirc, ReplacedLearnNeverReports)
{
    std::optional<bool> replaced;
    ir->learn(
        "KEY_2", [&](bool learned) { replaced = learned; }, [] {});
    learn("KEY_1");
    feed(two_presses());
    ASSERT_TRUE(pump_until([&] { return result.has_value(); }));
    pump_for(3 * std::chrono::milliseconds(sample_ms));
    EXPECT_FALSE(replaced.has_value());
    EXPECT_FALSE(exists(m_learned.dir() + "KEY_2.conf"));
}

} // namespace
