#include "lirc_device.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <vector>

namespace tulka::test {
namespace {

struct pipe_pair {
    int ends[2] = {-1, -1};
    pipe_pair() { EXPECT_EQ(::pipe(ends), 0); }
    ~pipe_pair()
    {
        for (int fd : ends)
            if (fd >= 0)
                ::close(fd);
    }
    int read_end() const { return ends[0]; }
    void write_bytes(std::size_t n)
    {
        const std::vector<char> data(n, 'x');
        ASSERT_EQ(::write(ends[1], data.data(), n), static_cast<ssize_t>(n));
    }
    void close_writer()
    {
        ::close(ends[1]);
        ends[1] = -1;
    }
};

TEST(DrainPending, DropsStaleDataAndStaysBlocking)
{
    pipe_pair feeder;
    feeder.write_bytes(5000);
    EXPECT_EQ(drain_pending(feeder.read_end()), 5000u);
    EXPECT_EQ(::fcntl(feeder.read_end(), F_GETFL) & O_NONBLOCK, 0);
    feeder.write_bytes(8); // what comes later is kept
    char buffer[16];
    EXPECT_EQ(::read(feeder.read_end(), buffer, sizeof buffer), 8);
    EXPECT_EQ(drain_pending(feeder.read_end()), 0u);
}

TEST(DrainPending, EndOfFileEndsTheDrain)
{
    pipe_pair feeder;
    feeder.write_bytes(100);
    feeder.close_writer();
    EXPECT_EQ(drain_pending(feeder.read_end()), 100u);
    EXPECT_EQ(drain_pending(-1), 0u);
}

} // namespace
} // namespace tulka::test
