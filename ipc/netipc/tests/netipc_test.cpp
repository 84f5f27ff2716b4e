// libnetipc between real processes: an application (the test) and a network
// stub (a forked peer) over real queues in a private IPC namespace.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/msg.h>

#include <cstring>
#include <fstream>

#include "ipc_sandbox.h"
#include "ipcq/queues.h"
#include "netipc.h"

using ::testing::HasSubstr;
using ipctest::check;

namespace {

class NetIpc : public ipctest::PrivateIpcTest {};

NetIpcMsg record(long mtype, char seed)
{
    NetIpcMsg msg{};
    msg.mtype = mtype;
    for (size_t i = 0; i < NET_IPC_TEXT_SIZE; ++i) {
        msg.text[i] = static_cast<char>(seed + i * 3);
    }
    return msg;
}

bool same(const NetIpcMsg &a, const NetIpcMsg &b)
{
    return a.mtype == b.mtype && memcmp(a.text, b.text, NET_IPC_TEXT_SIZE) == 0;
}

ipcq::QueueState state_of(int project)
{
    ipcq::QueueState state{};
    EXPECT_EQ(ipcq::queue_state(ipcq::find_queue(project), &state), 0);
    return state;
}

TEST_F(NetIpc, BothDirectionsCarryTypeAndAllBytes)
{
    const NetIpcMsg to_stub = record(5, 1);
    const NetIpcMsg to_app = record(0x7fffffff, 2);
    pid_t stub = ipctest::spawn([&] {
        NetIpcMsg got{};
        bool ok = check(init_network_msg_queue() == 0, "stub init") &&
                  check(network_stub_recv_ipc_msg(&got) == 0, "stub receive") &&
                  check(same(got, to_stub), "stub got type and text") &&
                  check(network_stub_send_ipc_msg(&to_app) == 0, "stub send");
        return ok ? 0 : 1;
    });
    ASSERT_EQ(init_network_msg_queue(), 0);
    ASSERT_EQ(network_app_send_ipc_msg(&to_stub), 0);
    NetIpcMsg got{};
    EXPECT_EQ(network_app_recv_ipc_msg(&got), 0);
    EXPECT_TRUE(same(got, to_app));
    EXPECT_EQ(ipctest::wait_exit(stub), 0);
    uninit_network_msg_queue();
}

TEST_F(NetIpc, InitAndUninitTwice)
{
    const std::string init_lines =
        "[NETWORK] Calling -------> init_network_msg_queue\n"
        "[NETWORK_IPC]create the NetworkApp message queue.!\n"
        "[NETWORK_IPC] Calling -------> network_new_msg_que\n"
        "[NETWORK_IPC]network_new_msg_que successed!\n"
        "[NETWORK_IPC]create the NetworkStub message queue.!\n"
        "[NETWORK_IPC] Calling -------> network_new_msg_que\n"
        "[NETWORK_IPC]network_new_msg_que successed!\n";
    EXPECT_EQ(ipctest::output_of([] { EXPECT_EQ(init_network_msg_queue(), 0); }), init_lines);
    const int app = ipcq::find_queue(ipcq::kNetAppProject);
    const int stub = ipcq::find_queue(ipcq::kNetStubProject);
    EXPECT_EQ(ipctest::output_of([] { EXPECT_EQ(init_network_msg_queue(), 0); }),
              "[NETWORK] Calling -------> init_network_msg_queue\n"
              "[NETWORK_IPC]The Network message queue ahs already been initilized!\n");
    EXPECT_EQ(ipcq::find_queue(ipcq::kNetAppProject), app);
    EXPECT_EQ(ipcq::find_queue(ipcq::kNetStubProject), stub);

    EXPECT_EQ(ipctest::output_of(uninit_network_msg_queue),
              "[NETWORK_IPC] Calling -------> uninit_network_msg_queue\n"
              "[NETWORK_IPC]network_delete_msg_queue successed!\n"
              "[NETWORK_IPC]network_delete_msg_queue successed!\n");
    EXPECT_EQ(ipctest::queue_count(), 0);
    EXPECT_EQ(ipctest::output_of(uninit_network_msg_queue),
              "[NETWORK_IPC] Calling -------> uninit_network_msg_queue\n"
              "[NETWORK_IPC]The Network message queue ahs not been initilized!\n");
}

TEST_F(NetIpc, NowaitOnEmptyQueueFailsSilently)
{
    ASSERT_EQ(init_network_msg_queue(), 0);
    NetIpcMsg got{};
    EXPECT_EQ(ipctest::output_of([&] { EXPECT_EQ(network_stub_recv_ipc_msg_nowait(&got), -4); }), "");
    uninit_network_msg_queue();
}

// Before init both identifiers are 0; in a fresh namespace 0 is this queue.
TEST_F(NetIpc, NullRecordsAndUninitialisedQueuesFailWithoutTouchingAQueue)
{
    const int other = msgget(IPC_PRIVATE, 0600);
    ASSERT_GE(other, 0);
    NetIpcMsg waiting = record(3, 3);
    ASSERT_EQ(msgsnd(other, &waiting, NET_IPC_TEXT_SIZE, 0), 0);

    using Op = int32_t (*)(NetIpcMsg *);
    const Op ops[] = {
        [](NetIpcMsg *m) { return network_app_send_ipc_msg(m); },
        [](NetIpcMsg *m) { return network_stub_send_ipc_msg(m); },
        network_app_recv_ipc_msg,
        network_stub_recv_ipc_msg,
        network_stub_recv_ipc_msg_nowait,
        [](NetIpcMsg *m) { return network_ipc_send_msg(0, m, IPC_NOWAIT); },
        [](NetIpcMsg *m) { return network_ipc_recv_msg(0, m, IPC_NOWAIT); },
    };
    for (Op op : ops) {
        std::string out = ipctest::output_of([&] { EXPECT_EQ(op(nullptr), -3); });
        EXPECT_THAT(out, HasSubstr("[NETWORK] Invalid Pointer!\n"));
    }
    for (size_t i = 0; i < 5; ++i) { // the public ones, before init
        NetIpcMsg msg = record(9, 9);
        std::string out = ipctest::output_of([&] { EXPECT_EQ(ops[i](&msg), -4); });
        EXPECT_THAT(out, HasSubstr("The Network message queue ahs not been initilized!\n"));
    }
    NetIpcMsg got{};
    EXPECT_EQ(msgrcv(other, &got, NET_IPC_TEXT_SIZE, 0, IPC_NOWAIT), NET_IPC_TEXT_SIZE);
    EXPECT_TRUE(same(got, waiting));
    EXPECT_EQ(msgrcv(other, &got, NET_IPC_TEXT_SIZE, 0, IPC_NOWAIT), -1);
    NetMsgQueue pair{};
    EXPECT_EQ(network_new_msg_que(nullptr, 1, &pair), -3);
    EXPECT_EQ(network_new_msg_que(ipcq::kKeyFile, 1, nullptr), -3);
    ipcq::remove_queue(other);
}

TEST_F(NetIpc, UninitInOneProcessEndsTheOthersBlockedReceive)
{
    ASSERT_EQ(init_network_msg_queue(), 0);
    pid_t app = ipctest::spawn([] {
        NetIpcMsg got{};
        bool ok = check(init_network_msg_queue() == 0, "app init") &&
                  check(network_app_recv_ipc_msg(&got) == -4, "receive fails");
        return ok ? 0 : 1;
    });
    ASSERT_TRUE(ipctest::wait_blocked_in_receive(app));
    uninit_network_msg_queue();
    EXPECT_EQ(ipctest::wait_exit(app), 0);
}

TEST_F(NetIpc, FullQueueDropsAtOnceAndTooBigMessageStays)
{
    ASSERT_EQ(init_network_msg_queue(), 0);
    const NetIpcMsg msg = record(1, 0);
    size_t accepted = 0;
    std::string out;
    while (out.empty()) {
        out = ipctest::output_of([&] { accepted += network_app_send_ipc_msg(&msg) == 0; });
    }
    EXPECT_EQ(out,
              "[NETWORK_IPC][msgsend] ERR = Resource temporarily unavailable\n"
              "[NETWORK_IPC][ipc_send_msg] ERR = -4\n");
    ipcq::QueueState stub = state_of(ipcq::kNetStubProject);
    EXPECT_EQ(accepted, stub.capacity / NET_IPC_TEXT_SIZE);
    EXPECT_EQ(stub.messages, accepted);

    struct {
        long mtype;
        char text[NET_IPC_TEXT_SIZE + 1];
    } big{2, {}};
    ASSERT_EQ(msgsnd(ipcq::find_queue(ipcq::kNetAppProject), &big, sizeof big.text, 0), 0);
    NetIpcMsg got{};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(ipctest::output_of([&] { EXPECT_EQ(network_app_recv_ipc_msg(&got), -4); }),
                  "[NETWORK_IPC][ipc_recv_msg] ERR = -4\n");
    }
    EXPECT_EQ(state_of(ipcq::kNetAppProject).messages, 1u);
    uninit_network_msg_queue();
}

TEST_F(NetIpc, MissingKeyFileInitialisesNothing)
{
    ipctest::remove_key_file();
    std::string out = ipctest::output_of([] { EXPECT_EQ(init_network_msg_queue(), -4); });
    EXPECT_THAT(out, HasSubstr("[NETWORK_IPC][ftok] Get key failed! No such file or directory\n"
                               "[NETWORK_IPC][msgget] ERR = -4\n"));
    const NetIpcMsg msg = record(1, 0);
    EXPECT_EQ(network_app_send_ipc_msg(&msg), -4);
    EXPECT_EQ(ipctest::queue_count(), 0);
}

// With room for one more queue only, the second creation fails.
TEST_F(NetIpc, SecondQueueFailureRemovesTheFirst)
{
    const char *limit = "/proc/sys/kernel/msgmni"; // this namespace's own
    std::string saved;
    std::getline(std::ifstream(limit), saved);
    ASSERT_TRUE(std::ofstream(limit) << 1);
    std::string out = ipctest::output_of([] { EXPECT_EQ(init_network_msg_queue(), -4); });
    std::ofstream(limit) << saved;
    EXPECT_THAT(out, HasSubstr("[NETWORK_IPC][msgget] ERR = No space left on device\n"
                               "[NETWORK_IPC][msgget] ERR = -4\n"
                               "[NETWORK_IPC]network_delete_msg_queue successed!\n"));
    EXPECT_EQ(ipctest::queue_count(), 0);
    const NetIpcMsg msg = record(1, 0);
    EXPECT_EQ(network_app_send_ipc_msg(&msg), -4);
}

} // namespace
