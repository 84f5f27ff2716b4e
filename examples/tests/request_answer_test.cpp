// request_answer's two ends as two processes over the real queues, in a
// private IPC namespace with its own key file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "ipc_sandbox.h"

namespace {

class RequestAnswerExample : public ipctest::PrivateIpcTest {};

TEST_F(RequestAnswerExample, ThePlayerAnswersTheAppsRequestAndNoQueueStays)
{
    const pid_t player = ipctest::spawn([] {
        execl(EXAMPLE_PATH, EXAMPLE_PATH, "player", static_cast<char *>(nullptr));
        return 127;
    });
    FILE *app = popen(EXAMPLE_PATH " app 'volume up'", "r");
    ASSERT_NE(app, nullptr);
    std::string out;
    char buf[256];
    while (fgets(buf, sizeof buf, app))
        out += buf;
    EXPECT_EQ(pclose(app), 0) << out;
    EXPECT_NE(out.find("request_answer: the player answered \"VOLUME UP\"\n"), std::string::npos) << out;
    EXPECT_EQ(ipctest::wait_exit(player), 0);
}

} // namespace
