#include "log_sink.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace tulka::test {
namespace {

std::string contents(std::FILE *file)
{
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    return text;
}

TEST(StdioLog, FlagsGateInfoAndDebugButNeverErrors)
{
    std::FILE *out = std::tmpfile(), *err = std::tmpfile();
    ASSERT_TRUE(out && err);
    std::int32_t flags = 3;
    const log_sink log = stdio_log(
        flags, [] { return std::string("      1234 "); }, out, err);
    log.info("signal detected...");
    log.debug("lirc: read ", 12, " data from /dev/lirc0");
    log.error("lirc: error: ", "gone");
    flags = 4; // the daemon's flags word is read on every line
    log.info("not shown");
    log.debug("const gap: ", 129290u);
    flags = 0;
    log.error("m_callback call ");
    EXPECT_EQ(contents(out), "      1234 signal detected...\n      1234 const gap: 129290\n");
    EXPECT_EQ(contents(err), "      1234 lirc: error: gone\n      1234 m_callback call \n");
    std::fclose(out);
    std::fclose(err);
}

} // namespace
} // namespace tulka::test
