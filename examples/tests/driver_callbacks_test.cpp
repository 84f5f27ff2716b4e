// driver_callbacks on the virtual board: notifications raised from the host
// with `vboard cba-raise` reach its main thread, and it stops the agent.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "vboard/testkit.h"

using namespace vboard::testkit;

namespace {

TEST(DriverCallbacksExample, RaisedCallbacksArePrintedAndTheAgentStops)
{
    Board board;
    auto app = board.start({EXAMPLE_PATH, "3"});
    ASSERT_TRUE(app->await_out(" notify 0x", 10000)) << app->err();
    std::smatch m;
    const std::string out = app->out();
    ASSERT_TRUE(std::regex_search(out, m, std::regex("pid (\\d+) notify (0x[0-9a-f]+)\n"))) << out;
    const std::string pid = m[1], fct = m[2];
    ASSERT_TRUE(await([&] { return board.cba_raise({pid, "wake"}).status == 0; }, 5000)) << "no agent waiting";

    EXPECT_EQ(board.cba_raise({pid, fct, "7", "hello", "2"}).status, 0);
    EXPECT_EQ(board.cba_raise({pid, fct, "8", "world"}).status, 0);
    ASSERT_TRUE(app->wait(10000)) << app->out() << app->err();
    EXPECT_EQ(app->status(), 0) << app->err();
    const std::string printed = app->out();
    const std::string hello = "driver_callbacks: tag 7 info \"hello\"\n";
    const size_t first = printed.find(hello);
    ASSERT_NE(first, std::string::npos) << printed;
    EXPECT_NE(printed.find(hello, first + 1), std::string::npos) << printed;
    EXPECT_NE(printed.find("driver_callbacks: tag 8 info \"world\"\n"), std::string::npos) << printed;
    EXPECT_EQ(board.journal_lines("close /dev/cbagent").size(), 1u);
}

} // namespace
