// push_file against the engine simulator, with two small slices so that it
// has to wait for event 12 again and again.
#include "engine_harness.h"

#include "common/stream_hash.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

TEST(PushFileExample, EveryByteOfTheFileReachesTheEngine)
{
    pbharness::Engine engine;
    ASSERT_TRUE(engine.start());
    ASSERT_EQ(engine.ok("push slices 2 4096"), "");
    ASSERT_EQ(engine.ok("push delay 1"), "");

    std::string data(100000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 + i / 251);
    char path[] = "/tmp/push_file_test.XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    close(fd);

    const int status = std::system((std::string(EXAMPLE_PATH) + " " + path + " >/dev/null").c_str());
    unlink(path);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    board::StreamHash hash;
    hash.update(data.data(), data.size());
    char want[64];
    std::snprintf(want, sizeof want, "%zu %016llx", data.size(), static_cast<unsigned long long>(hash.value()));
    EXPECT_EQ(engine.ok("push stat 1").substr(0, std::string(want).size()), want);
}

} // namespace
