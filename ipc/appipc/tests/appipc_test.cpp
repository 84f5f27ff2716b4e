// libappipc between real processes: an application (the test) and a player
// (a forked peer), each with the library's own state, over real queues in a
// private IPC namespace.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/msg.h>

#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "appipc.h"
#include "ipc_sandbox.h"
#include "ipcq/queues.h"

using ::testing::HasSubstr;
using ipctest::check;

namespace {

constexpr size_t kTextSize = 524;

class AppIpc : public ipctest::PrivateIpcTest {};

AppIpcMsg record(int32_t type, uint8_t seed, long first_word)
{
    AppIpcMsg msg{};
    msg.mtype = first_word;
    msg.type = type;
    for (size_t i = 0; i < APP_IPC_DATA_SIZE; ++i) {
        msg.data[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return msg;
}

bool same_payload(const AppIpcMsg &a, const AppIpcMsg &b)
{
    return a.type == b.type && memcmp(a.data, b.data, APP_IPC_DATA_SIZE) == 0;
}

TEST_F(AppIpc, EveryChannelCarriesBothDirectionsWhole)
{
    for (int32_t channel = 0; channel < APP_IPC_CHANNELS; ++channel) {
        SCOPED_TRACE(channel);
        const AppIpcMsg to_player = record(7 + channel, static_cast<uint8_t>(channel), 0x1111);
        const AppIpcMsg to_app = record(-1 - channel, static_cast<uint8_t>(0x80 + channel), 0x2222);
        pid_t player = ipctest::spawn([&] {
            AppIpcMsg got{};
            got.mtype = 0x5A5A;
            bool ok = check(init_ipc_message_queue(channel) == 0, "player init") &&
                      check(bdp_recv_ipc_msg(&got, channel) == 0, "player receive") &&
                      check(same_payload(got, to_player), "player got type and data") &&
                      check(got.mtype == 0x5A5A, "player's first word left alone") &&
                      check(bdp_send_ipc_msg(&to_app, channel) == 0, "player send");
            return ok ? 0 : 1;
        });
        ASSERT_EQ(init_ipc_message_queue(channel), 0);
        ASSERT_EQ(app_send_ipc_msg(&to_player, channel), 0);
        AppIpcMsg got{};
        got.mtype = 0x3333;
        EXPECT_EQ(app_recv_ipc_msg(&got, channel), 0);
        EXPECT_TRUE(same_payload(got, to_app));
        EXPECT_EQ(got.mtype, 0x3333);
        EXPECT_EQ(ipctest::wait_exit(player), 0);
        EXPECT_EQ(uninit_ipc_message_queue(channel), 0);
    }
}

// The layout the player program reads and writes on the queue itself.
TEST_F(AppIpc, QueueMessageIsTypeOneWithTypeDataAndZeroTail)
{
    ASSERT_EQ(init_ipc_message_queue(0), 0);
    const AppIpcMsg sent = record(0x01020304, 9, 0);
    ASSERT_EQ(app_send_ipc_msg(&sent, 0), 0);

    struct {
        long mtype;
        uint8_t text[600];
    } raw{};
    ASSERT_EQ(msgrcv(ipcq::find_queue(0x80), &raw, sizeof raw.text, 0, IPC_NOWAIT), static_cast<ssize_t>(kTextSize));
    EXPECT_EQ(raw.mtype, 1);
    const uint8_t type_le[4] = {0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(memcmp(raw.text, type_le, 4), 0);
    EXPECT_EQ(memcmp(raw.text + 4, sent.data, APP_IPC_DATA_SIZE), 0);
    const uint8_t zeros[8] = {};
    EXPECT_EQ(memcmp(raw.text + 516, zeros, 8), 0);

    // A player's message in that layout reaches the application.
    raw.text[0] = 0xFE; // type -2
    raw.text[1] = raw.text[2] = raw.text[3] = 0xFF;
    ASSERT_EQ(msgsnd(ipcq::find_queue(0x40), &raw, kTextSize, 0), 0);
    AppIpcMsg got{};
    ASSERT_EQ(app_recv_ipc_msg(&got, 0), 0);
    EXPECT_EQ(got.type, -2);
    EXPECT_EQ(memcmp(got.data, sent.data, APP_IPC_DATA_SIZE), 0);
    uninit_ipc_message_queue(0);
}

TEST_F(AppIpc, ThousandsFromSeveralThreadsArriveEachOnce)
{
    constexpr int kThreads = 4;
    constexpr int kPerThread = 1000;
    constexpr int32_t kChannel = 1;
    pid_t player = ipctest::spawn([&] {
        ipctest::QuietStdout quiet;
        if (!check(init_ipc_message_queue(kChannel) == 0, "player init")) {
            return 1;
        }
        std::set<std::pair<int32_t, int32_t>> seen;
        for (int i = 0; i < kThreads * kPerThread; ++i) {
            AppIpcMsg got{};
            int32_t seq = 0;
            if (!check(bdp_recv_ipc_msg(&got, kChannel) == 0, "player receive")) {
                return 1;
            }
            memcpy(&seq, got.data, sizeof seq);
            bool whole = got.data[APP_IPC_DATA_SIZE - 1] == static_cast<uint8_t>(got.type);
            if (!check(whole && seen.emplace(got.type, seq).second, "whole and first arrival")) {
                return 1;
            }
        }
        return check(seen.size() == size_t{kThreads * kPerThread}, "all arrived") ? 0 : 1;
    });
    ASSERT_EQ(init_ipc_message_queue(kChannel), 0);
    {
        ipctest::QuietStdout quiet; // a full queue logs every refused send
        std::vector<std::thread> senders;
        for (int32_t t = 0; t < kThreads; ++t) {
            senders.emplace_back([t] {
                AppIpcMsg msg{};
                msg.type = t;
                msg.data[APP_IPC_DATA_SIZE - 1] = static_cast<uint8_t>(t);
                for (int32_t seq = 0; seq < kPerThread; ++seq) {
                    memcpy(msg.data, &seq, sizeof seq);
                    while (app_send_ipc_msg(&msg, kChannel) != 0) {
                        std::this_thread::yield(); // full: the caller retries
                    }
                }
            });
        }
        for (auto &sender : senders) {
            sender.join();
        }
    }
    EXPECT_EQ(ipctest::wait_exit(player), 0);
    uninit_ipc_message_queue(kChannel);
}

TEST_F(AppIpc, SendOnFullQueueFailsAtOnceAndDropsTheMessage)
{
    ASSERT_EQ(init_ipc_message_queue(0), 0);
    const AppIpcMsg msg = record(1, 1, 0);
    size_t accepted = 0;
    std::string out;
    while (out.empty()) {
        out = ipctest::output_of([&] { accepted += app_send_ipc_msg(&msg, 0) == 0; });
    }
    ipcq::QueueState state{};
    ASSERT_EQ(ipcq::queue_state(ipcq::find_queue(0x80), &state), 0);
    EXPECT_EQ(accepted, state.capacity / kTextSize);
    EXPECT_EQ(state.messages, accepted);
    const std::string error = "\\[QIV APP_IPC Error\\]";
    EXPECT_THAT(out, ::testing::MatchesRegex("^" + error + "\\[queue_send_msg\\]\\[[0-9]+\\]msg queue send failed\n" +
                                             error + "\\[queue_send_msg\\]\\[[0-9]+\\]msg queue is full!\n" + error +
                                             "\\[app_send_ipc_msg\\]\\[[0-9]+\\]app send message to bdp failed!\n$"));
    EXPECT_EQ(app_send_ipc_msg(&msg, 0), -1);
    uninit_ipc_message_queue(0);
}

TEST_F(AppIpc, TooBigMessageFailsAndStays)
{
    ASSERT_EQ(init_ipc_message_queue(2), 0);
    struct {
        long mtype;
        uint8_t text[kTextSize + 1];
    } big{1, {}};
    ASSERT_EQ(msgsnd(ipcq::find_queue(0x84), &big, sizeof big.text, 0), 0);
    AppIpcMsg got = record(55, 3, 0);
    std::string out = ipctest::output_of([&] { EXPECT_EQ(bdp_recv_ipc_msg(&got, 2), -1); });
    EXPECT_THAT(out, HasSubstr("]current msg is too big!\n"));
    EXPECT_EQ(got.type, 0);
    ipcq::QueueState state{};
    ASSERT_EQ(ipcq::queue_state(ipcq::find_queue(0x84), &state), 0);
    EXPECT_EQ(state.messages, 1u);
    uninit_ipc_message_queue(2);
}

// No message may go to, or come from, a queue the channel does not own.
TEST_F(AppIpc, UnknownOrUnopenedChannelTouchesNothing)
{
    // In a fresh namespace this is identifier 0, the one an unopened channel holds.
    const int other = msgget(IPC_PRIVATE, 0600);
    ASSERT_GE(other, 0);
    EXPECT_EQ(uninit_ipc_message_queue(0), 0);
    EXPECT_EQ(ipcq::remove_queue(other), 0) << "uninit removed a queue it never opened";

    struct Case {
        int32_t channel;
        const char *error;
    };
    const Case cases[] = {{3, "unknown channel 3"}, {-1, "unknown channel -1"}, {0, "channel 0 is not initialised"}};
    using Op = int32_t (*)(AppIpcMsg *, int32_t);
    const Op ops[] = {
        [](AppIpcMsg *m, int32_t c) { return app_send_ipc_msg(m, c); },
        [](AppIpcMsg *m, int32_t c) { return bdp_send_ipc_msg(m, c); },
        app_recv_ipc_msg,
        bdp_recv_ipc_msg,
    };
    for (const Case &c : cases) {
        for (Op op : ops) {
            AppIpcMsg msg = record(4, 4, 4);
            const AppIpcMsg before = msg;
            std::string out = ipctest::output_of([&] { EXPECT_EQ(op(&msg, c.channel), -1); });
            EXPECT_THAT(out, HasSubstr(c.error));
            EXPECT_EQ(memcmp(&msg, &before, sizeof msg), 0);
        }
    }
    EXPECT_EQ(init_ipc_message_queue(3), -1);
    EXPECT_EQ(uninit_ipc_message_queue(3), 0);
    EXPECT_EQ(ipctest::queue_count(), 0);
}

TEST_F(AppIpc, InitTwiceOpensTheSameQueues)
{
    std::string first = ipctest::output_of([] { EXPECT_EQ(init_ipc_message_queue(1), 0); });
    std::string second = ipctest::output_of([] { EXPECT_EQ(init_ipc_message_queue(1), 0); });
    const std::string p = "[QIV APP_IPC][init_ipc_message_queue]";
    const std::string expected = p + "Enter!\n" + p + "create bdp msg queue finished! bdp msg_id = " +
                                 std::to_string(ipcq::find_queue(0x82)) + "\n" + p +
                                 "create app msg queue finished! app msg_id = " +
                                 std::to_string(ipcq::find_queue(0x42)) + "\n" + p + "Leave!\n";
    EXPECT_EQ(first, expected);
    EXPECT_EQ(second, expected);
    EXPECT_EQ(ipctest::queue_count(), 2);
    uninit_ipc_message_queue(1);
}

TEST_F(AppIpc, UninitInOneProcessEndsTheOthersBlockedReceive)
{
    ASSERT_EQ(init_ipc_message_queue(0), 0);
    pid_t app = ipctest::spawn([] {
        AppIpcMsg got{};
        got.type = 99;
        bool ok = check(init_ipc_message_queue(0) == 0, "app init") &&
                  check(app_recv_ipc_msg(&got, 0) == -1, "receive fails") && check(got.type == 0, "type 0");
        return ok ? 0 : 1;
    });
    ASSERT_TRUE(ipctest::wait_blocked_in_receive(app));
    EXPECT_EQ(uninit_ipc_message_queue(0), 0);
    EXPECT_EQ(ipctest::wait_exit(app), 0);
}

TEST_F(AppIpc, NullRecordsWarn)
{
    struct Case {
        int32_t (*op)(AppIpcMsg *, int32_t);
        const char *warning;
    };
    const Case cases[] = {
        {[](AppIpcMsg *m, int32_t c) { return app_send_ipc_msg(m, c); },
         "^app_send_ipc_msg:[0-9]+ Warning: \\(pSendMsg!=NULL\\) failed\\. \n$"},
        {[](AppIpcMsg *m, int32_t c) { return bdp_send_ipc_msg(m, c); },
         "^bdp_send_ipc_msg:[0-9]+ Warning: \\(pSendMsg!=NULL\\) failed\\. \n$"},
        {app_recv_ipc_msg, "^app_recv_ipc_msg:[0-9]+ Warning: \\(pRecvMsg!=NULL\\) failed\\. \n$"},
        {bdp_recv_ipc_msg, "^bdp_recv_ipc_msg:[0-9]+ Warning: \\(pRecvMsg!=NULL\\) failed\\. \n$"},
    };
    ASSERT_EQ(init_ipc_message_queue(0), 0);
    for (const Case &c : cases) {
        std::string out = ipctest::output_of([&] { EXPECT_EQ(c.op(nullptr, 0), -1); });
        EXPECT_THAT(out, ::testing::MatchesRegex(c.warning));
    }
    uninit_ipc_message_queue(0);
}

// Without it every queue would be made on the one key ftok's failure gives.
TEST_F(AppIpc, MissingKeyFileFailsInitClearly)
{
    ipctest::remove_key_file();
    std::string out = ipctest::output_of([] { EXPECT_EQ(init_ipc_message_queue(0), -1); });
    EXPECT_THAT(out, HasSubstr("no key: /usr/local/bin/plrmain: No such file or directory\n"));
    EXPECT_THAT(out, HasSubstr("]create bdp msg queue failed!\n"));
    EXPECT_EQ(ipctest::queue_count(), 0);
}

} // namespace
