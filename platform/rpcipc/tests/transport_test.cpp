// Client and engine sides over a real socket, both in this process.
#include "rpcipc.h"

#include "common/le_bytes.h"
#include "vboard/temp_dir.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char *kEndpoint = "rpctest";
constexpr int32_t kWait = 5000; // ms; a hang fails instead of blocking the suite

std::unique_ptr<vboard::testkit::TempDir> g_dir;

class Transport : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_dir = std::make_unique<vboard::testkit::TempDir>("rpctest");
        ::setenv(RPC_DIR_ENV, g_dir->path().c_str(), 1);
        rpc_init(0);
    }
    static void TearDownTestSuite() { g_dir.reset(); }
    void SetUp() override
    {
        ASSERT_EQ(rpc_engine_serve(kEndpoint), RPCR_OK);
        id_ = rpc_open_client(kEndpoint);
        ASSERT_GT(id_, 0);
    }
    void TearDown() override
    {
        rpc_close_client(id_);
        rpc_engine_stop();
    }
    int32_t id_ = 0;
};

// Engine operation: adds arg 0 and the 32-bit value behind arg 1 into the
// place of arg 2, copies the text of arg 3 into the buffer of arg 4.
int32_t add_op(int32_t, const char *, void *, uint32_t argc, RPC_ARG_T *args, RPC_ARG_T *ret)
{
    if (argc != 5)
        return RPCR_INV_ARGS;
    *static_cast<uint32_t *>(rpc_arg_ptr(args[2])) = args[0].u.ui4 + *static_cast<uint32_t *>(rpc_arg_ptr(args[1]));
    std::strcpy(static_cast<char *>(rpc_arg_ptr(args[4])), static_cast<char *>(rpc_arg_ptr(args[3])));
    rpc_arg_set(*ret, ARG_TYPE_RESULT, 0);
    return RPCR_OK;
}

int32_t call_add(uint32_t a, uint32_t b, uint32_t &sum, const char *text, char (&out)[32])
{
    rpc_add_ref_str(0, text);
    rpc_add_ref_buff(0, out, sizeof out);
    RPC_ARG_T args[5];
    rpc_arg_set(args[0], ARG_TYPE_UINT32, a);
    rpc_arg_set_ptr(args[1], ARG_TYPE_REF_UINT32_IN, &b);
    rpc_arg_set_ptr(args[2], ARG_TYPE_REF_UINT32_OUT, &sum);
    rpc_arg_set_ptr(args[3], ARG_TYPE_TEXT, text);
    rpc_arg_set_ptr(args[4], ARG_TYPE_DESC_OUT, out);
    RPC_ARG_T ret{};
    const int32_t rc = rpc_do_op(0, "x_add", 5, args, &ret, kWait);
    rpc_del(0);
    return rc != RPCR_OK ? rc : (ret.e_type == ARG_TYPE_RESULT ? 0 : -100);
}

TEST_F(Transport, CallCarriesValuesPlacesTextsAndBuffers)
{
    rpc_reg_op_hndlr("x_add", add_op);
    uint32_t sum = 0;
    char out[32] = {};
    ASSERT_EQ(call_add(40, 2, sum, "hello", out), RPCR_OK);
    EXPECT_EQ(sum, 42u);
    EXPECT_STREQ(out, "hello");
}

TEST_F(Transport, UnknownOperationsAndHandlersAreNotFound)
{
    RPC_ARG_T ret{};
    EXPECT_EQ(rpc_do_op(0, "x_nobody_serves_this", 0, nullptr, &ret, kWait), RPCR_NOT_FOUND);
    // No fallback: the engine's table does not know it.
    EXPECT_EQ(rpc_reg_op_hndlr("", add_op), RPCR_INV_ARGS);
    EXPECT_EQ(rpc_reg_cb_hndlr(nullptr, add_op), RPCR_INV_ARGS);
}

std::atomic<std::thread::id> g_cb_thread;
std::atomic<int32_t> g_cb_conn{0};

// Client handler: doubles its argument and, to prove handlers may call
// back into the engine, makes a remote call of its own.
int32_t double_cb(int32_t, const char *, void *pv_func, uint32_t argc, RPC_ARG_T *args, RPC_ARG_T *ret)
{
    g_cb_thread = std::this_thread::get_id();
    if (argc != 1 || pv_func != reinterpret_cast<void *>(0x5678))
        return RPCR_INV_ARGS;
    uint32_t sum = 0;
    char out[32] = {};
    if (call_add(1, 2, sum, "nested", out) != RPCR_OK || sum != 3)
        return RPCR_ERROR;
    rpc_arg_set(*ret, ARG_TYPE_RESULT, 0);
    ret->u.i1 = static_cast<int8_t>(args[0].u.ui4 * 2);
    return RPCR_OK;
}

// Engine operation that calls the client back before it answers.
int32_t ask_client_op(int32_t conn, const char *, void *, uint32_t, RPC_ARG_T *args, RPC_ARG_T *ret)
{
    g_cb_conn = conn;
    RPC_ARG_T cb_args[1];
    rpc_arg_set(cb_args[0], ARG_TYPE_UINT32, args[0].u.ui4);
    RPC_ARG_T cb_ret{};
    const int32_t rc = rpc_do_cb(conn, "x_double", reinterpret_cast<void *>(0x5678), 1, cb_args, &cb_ret, kWait);
    rpc_arg_set(*ret, ARG_TYPE_RESULT, 0);
    ret->u.i1 = rc == RPCR_OK ? cb_ret.u.i1 : static_cast<int8_t>(rc);
    return RPCR_OK;
}

TEST_F(Transport, CallBackDuringACallRunsOnATransportThread)
{
    rpc_reg_op_hndlr("x_add", add_op);
    rpc_reg_op_hndlr("x_ask", ask_client_op);
    rpc_reg_cb_hndlr("x_double", double_cb);
    RPC_ARG_T args[1];
    rpc_arg_set(args[0], ARG_TYPE_UINT32, 21);
    RPC_ARG_T ret{};
    ASSERT_EQ(rpc_do_op(0, "x_ask", 1, args, &ret, kWait), RPCR_OK);
    EXPECT_EQ(ret.u.i1, 42);
    EXPECT_NE(g_cb_thread.load(), std::this_thread::get_id());

    // A call-back to a handler nobody registered.
    RPC_ARG_T cb_ret{};
    EXPECT_EQ(rpc_do_cb(g_cb_conn, "x_unregistered", nullptr, 0, nullptr, &cb_ret, kWait), RPCR_NOT_FOUND);
}

TEST_F(Transport, LostEngineMeansNotConnectedUntilReopened)
{
    rpc_reg_op_hndlr("x_add", add_op);
    rpc_engine_stop();
    uint32_t sum = 0;
    char out[32] = {};
    // The reader notices the end of the stream; poll for it, bounded.
    int32_t rc = RPCR_OK;
    for (int i = 0; i < 500 && rc != RPCR_NOT_OPENED; ++i) {
        rc = call_add(1, 1, sum, "x", out);
        if (rc != RPCR_NOT_OPENED)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(rc, RPCR_NOT_OPENED);
    EXPECT_EQ(rpc_open_client(kEndpoint), RPCR_NOT_OPENED);
    ASSERT_EQ(rpc_engine_serve(kEndpoint), RPCR_OK);
    EXPECT_EQ(rpc_open_client(kEndpoint), id_) << "the same text keeps its id";
    EXPECT_EQ(call_add(1, 1, sum, "x", out), RPCR_OK);
    EXPECT_EQ(sum, 2u);
}

std::mutex g_gate_mu;
std::condition_variable g_gate_cv;
bool g_gate_open = false;

int32_t gated_op(int32_t, const char *, void *, uint32_t, RPC_ARG_T *, RPC_ARG_T *ret)
{
    std::unique_lock<std::mutex> lock(g_gate_mu);
    g_gate_cv.wait(lock, [] { return g_gate_open; });
    rpc_arg_set(*ret, ARG_TYPE_RESULT, 0);
    return RPCR_OK;
}

TEST_F(Transport, TimeOutReturnsAndTheLateReplyIsDropped)
{
    rpc_reg_op_hndlr("x_gated", gated_op);
    rpc_reg_op_hndlr("x_add", add_op);
    RPC_ARG_T ret{};
    EXPECT_EQ(rpc_do_op(0, "x_gated", 0, nullptr, &ret, 20), RPCR_TIMEOUT);
    {
        std::lock_guard<std::mutex> lock(g_gate_mu);
        g_gate_open = true;
    }
    g_gate_cv.notify_all();
    uint32_t sum = 0;
    char out[32] = {};
    EXPECT_EQ(call_add(2, 3, sum, "after", out), RPCR_OK);
    EXPECT_EQ(sum, 5u);
}

TEST_F(Transport, ManyThreadsShareOneConnection)
{
    rpc_reg_op_hndlr("x_add", add_op);
    constexpr int kThreads = 4;
    constexpr uint32_t kCalls = 100;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong] {
            for (uint32_t i = 0; i < kCalls; ++i) {
                uint32_t sum = 0;
                char out[32] = {};
                const std::string text = "t" + std::to_string(t) + "." + std::to_string(i);
                if (call_add(i, static_cast<uint32_t>(t), sum, text.c_str(), out) != RPCR_OK ||
                    sum != i + static_cast<uint32_t>(t) || text != out)
                    ++wrong;
            }
        });
    }
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(wrong.load(), 0);
}

int raw_connect()
{
    char path[108];
    if (rpc_endpoint_path(kEndpoint, path, sizeof path) != RPCR_OK)
        return -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TEST_F(Transport, EngineAnswersGarbageWithAnErrorAndKeepsServing)
{
    rpc_reg_op_hndlr("x_add", add_op);
    const int fd = raw_connect();
    ASSERT_GE(fd, 0);
    // A call frame whose body is cut short after its id.
    uint8_t frame[4 + 10] = {};
    le::store32(frame, 10);
    frame[4] = 1;               // a call
    frame[5] = 1;               // version
    le::store32(frame + 8, 77); // its id
    ASSERT_EQ(::send(fd, frame, sizeof frame, 0), static_cast<ssize_t>(sizeof frame));
    uint8_t head[4];
    ASSERT_EQ(::recv(fd, head, 4, MSG_WAITALL), 4);
    std::vector<uint8_t> body(le::load32(head));
    ASSERT_GE(body.size(), 12u);
    ASSERT_EQ(::recv(fd, body.data(), body.size(), MSG_WAITALL), static_cast<ssize_t>(body.size()));
    EXPECT_EQ(body[0], 2);                       // a reply
    EXPECT_EQ(le::load32(body.data() + 4), 77u); // to that id
    EXPECT_EQ(static_cast<int32_t>(le::load32(body.data() + 8)), RPCR_PROTOCOL);
    // An impossible length ends that connection only.
    le::store32(frame, 0xFFFFFFFFu);
    ::send(fd, frame, 4, 0);
    EXPECT_EQ(::recv(fd, head, 4, MSG_WAITALL), 0);
    ::close(fd);

    uint32_t sum = 0;
    char out[32] = {};
    EXPECT_EQ(call_add(20, 22, sum, "still", out), RPCR_OK);
    EXPECT_EQ(sum, 42u);
}

extern "C" int32_t other_library_open(const char *ps_text);
extern "C" int32_t other_library_call(const char *ps_op);

std::atomic<int32_t> g_who_conn{0};

// Answers with the connection the call came on; fails as asked by arg 0.
int32_t who_op(int32_t conn, const char *, void *, uint32_t argc, RPC_ARG_T *args, RPC_ARG_T *ret)
{
    g_who_conn = conn;
    rpc_arg_set(*ret, ARG_TYPE_RESULT, static_cast<uint8_t>(conn));
    return argc == 1 ? args[0].u.i4 : RPCR_OK;
}

TEST_F(Transport, EachLibraryCallsOverTheConnectionItOpened)
{
    rpc_reg_op_hndlr("x_who", who_op);
    RPC_ARG_T ret{};
    ASSERT_EQ(rpc_do_op(0, "x_who", 0, nullptr, &ret, kWait), RPCR_OK);
    const int32_t program_conn = g_who_conn;
    EXPECT_EQ(other_library_call("x_who"), RPCR_NOT_OPENED) << "nothing of its own open yet";
    const int32_t other = other_library_open("rpctest other");
    ASSERT_GT(other, 0);
    ASSERT_GT(other_library_call("x_who"), 0);
    EXPECT_NE(g_who_conn.load(), program_conn);
    rpc_close_client(other);
    EXPECT_EQ(other_library_call("x_who"), RPCR_NOT_OPENED);
    ASSERT_EQ(rpc_do_op(0, "x_who", 0, nullptr, &ret, kWait), RPCR_OK);
    EXPECT_EQ(g_who_conn.load(), program_conn);
}

TEST_F(Transport, AHandlersFailureIsNotTheTransports)
{
    rpc_reg_op_hndlr("x_who", who_op);
    RPC_ARG_T args[1];
    rpc_arg_set(args[0], ARG_TYPE_UINT32, static_cast<uint32_t>(RPCR_NOT_OPENED));
    RPC_ARG_T ret{};
    EXPECT_EQ(rpc_do_op(0, "x_who", 1, args, &ret, kWait), RPCR_PEER_FAILED);
    EXPECT_EQ(rpc_peer_status(), RPCR_NOT_OPENED);
    EXPECT_EQ(ret.e_type, ARG_TYPE_RESULT) << "a failing handler still reports its result";
}

// Client handler: returns once kMeeting call-backs are inside at once.
constexpr int kMeeting = 8;
std::mutex g_meet_mu;
std::condition_variable g_meet_cv;
int g_meet_count = 0;

int32_t meet_cb(int32_t, const char *, void *, uint32_t, RPC_ARG_T *, RPC_ARG_T *ret)
{
    std::unique_lock<std::mutex> lock(g_meet_mu);
    ++g_meet_count;
    g_meet_cv.notify_all();
    const bool met = g_meet_cv.wait_for(lock, std::chrono::milliseconds(kWait),
                                        [] { return g_meet_count >= kMeeting; });
    rpc_arg_set(*ret, ARG_TYPE_RESULT, 0);
    return met ? RPCR_OK : RPCR_TIMEOUT;
}

// Engine operation: calls the client back from kMeeting threads of its own
// while it waits for them, so the client must run them all at once and
// the engine must read their replies while this handler blocks.
int32_t fan_out_op(int32_t conn, const char *, void *, uint32_t, RPC_ARG_T *, RPC_ARG_T *ret)
{
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kMeeting; ++i) {
        threads.emplace_back([conn, &ok] {
            RPC_ARG_T cb_ret{};
            if (rpc_do_cb(conn, "x_meet", nullptr, 0, nullptr, &cb_ret, kWait) == RPCR_OK)
                ++ok;
        });
    }
    for (auto &t : threads)
        t.join();
    rpc_arg_set(*ret, ARG_TYPE_RESULT, static_cast<uint8_t>(ok.load()));
    return RPCR_OK;
}

TEST_F(Transport, CallBacksFromManyEngineThreadsRunTogetherDuringACall)
{
    rpc_reg_op_hndlr("x_fan", fan_out_op);
    rpc_reg_cb_hndlr("x_meet", meet_cb);
    RPC_ARG_T ret{};
    ASSERT_EQ(rpc_do_op(0, "x_fan", 0, nullptr, &ret, 2 * kWait), RPCR_OK);
    EXPECT_EQ(ret.u.i1, kMeeting);
}

TEST_F(Transport, CallsBeyondTheBoundAreBusyNotQueued)
{
    rpc_reg_op_hndlr("x_gated", gated_op);
    {
        std::lock_guard<std::mutex> lock(g_gate_mu);
        g_gate_open = false;
    }
    constexpr int kCallers = 40; // more than the engine serves at once
    std::atomic<int> busy{0}, done{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kCallers; ++i) {
        threads.emplace_back([&] {
            RPC_ARG_T ret{};
            const int32_t rc = rpc_do_op(0, "x_gated", 0, nullptr, &ret, kWait);
            ++(rc == RPCR_BUSY ? busy : done);
        });
    }
    // Every caller beyond the bound is answered while the others wait.
    for (int i = 0; i < 500 && busy < kCallers - 32; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(busy.load(), kCallers - 32);
    {
        std::lock_guard<std::mutex> lock(g_gate_mu);
        g_gate_open = true;
    }
    g_gate_cv.notify_all();
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(done.load(), 32);
}

// A gate that handlers wait at until the test opens it.
struct Gate {
    std::mutex mu;
    std::condition_variable cv;
    bool open = false;
    int waiting = 0;
    void pass()
    {
        std::unique_lock<std::mutex> lock(mu);
        ++waiting;
        cv.notify_all();
        cv.wait(lock, [this] { return open; });
    }
    bool waiting_at_least(int n)
    {
        std::unique_lock<std::mutex> lock(mu);
        return cv.wait_for(lock, std::chrono::milliseconds(kWait), [&] { return waiting >= n; });
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(mu);
        open = true;
        cv.notify_all();
    }
};
Gate g_drop_gate;

int32_t drop_gated(int32_t, const char *, void *, uint32_t, RPC_ARG_T *, RPC_ARG_T *ret)
{
    g_drop_gate.pass();
    rpc_arg_set(*ret, ARG_TYPE_RESULT, 0);
    return RPCR_OK;
}

// The connection goes away in the middle of a call and in the middle of a
// call-back: every waiter returns -6, and the handlers end once released.
TEST_F(Transport, ADroppedConnectionReleasesEveryWaiter)
{
    rpc_reg_op_hndlr("x_who", who_op);
    rpc_reg_op_hndlr("x_drop_gated", drop_gated);
    rpc_reg_cb_hndlr("x_drop_gated", drop_gated);
    RPC_ARG_T ret{};
    ASSERT_EQ(rpc_do_op(0, "x_who", 0, nullptr, &ret, kWait), RPCR_OK);
    const int32_t conn = g_who_conn;

    // A call-back waits in the client while the client closes.
    std::atomic<int32_t> cb_rc{RPCR_OK};
    std::thread engine_side([&] {
        RPC_ARG_T cb_ret{};
        cb_rc = rpc_do_cb(conn, "x_drop_gated", nullptr, 0, nullptr, &cb_ret, -1);
    });
    ASSERT_TRUE(g_drop_gate.waiting_at_least(1));
    rpc_close_client(id_);
    engine_side.join();
    EXPECT_EQ(cb_rc.load(), RPCR_NOT_OPENED);

    // A call waits in the engine while the engine goes.
    id_ = rpc_open_client(kEndpoint);
    ASSERT_GT(id_, 0);
    std::atomic<int32_t> call_rc{RPCR_OK};
    std::thread app_side([&] {
        RPC_ARG_T r{};
        call_rc = rpc_do_op(0, "x_drop_gated", 0, nullptr, &r, -1);
    });
    ASSERT_TRUE(g_drop_gate.waiting_at_least(2));
    rpc_engine_stop();
    app_side.join();
    EXPECT_EQ(call_rc.load(), RPCR_NOT_OPENED);
    g_drop_gate.release();
    ASSERT_EQ(rpc_engine_serve(kEndpoint), RPCR_OK); // for TearDown
}

std::atomic<int> g_pings{0};

int32_t ping(int32_t, const char *, void *, uint32_t, RPC_ARG_T *, RPC_ARG_T *ret)
{
    ++g_pings;
    rpc_arg_set(*ret, ARG_TYPE_RESULT, 0);
    return RPCR_OK;
}

// Two application threads, one per library connection, call while two
// engine threads call back into both connections (run under TSan too).
TEST_F(Transport, CallsAndCallBacksFromManyThreadsOnTwoConnections)
{
    rpc_reg_op_hndlr("x_who", who_op);
    rpc_reg_op_hndlr("x_ping", ping);
    rpc_reg_cb_hndlr("x_ping", ping);
    RPC_ARG_T ret{};
    ASSERT_EQ(rpc_do_op(0, "x_who", 0, nullptr, &ret, kWait), RPCR_OK);
    const int32_t program_conn = g_who_conn;
    const int32_t other = other_library_open("rpctest other");
    ASSERT_GT(other_library_call("x_who"), 0);
    const int32_t other_conn = g_who_conn;
    constexpr int kRounds = 200;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 0; i < kRounds; ++i) {
            RPC_ARG_T r{};
            failures += rpc_do_op(0, "x_ping", 0, nullptr, &r, kWait) != RPCR_OK;
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; i < kRounds; ++i)
            failures += other_library_call("x_ping") != 0;
    });
    for (int e = 0; e < 2; ++e) {
        threads.emplace_back([&, e] {
            for (int i = 0; i < kRounds; ++i) {
                RPC_ARG_T r{};
                const int32_t conn = (i + e) % 2 ? program_conn : other_conn;
                failures += rpc_do_cb(conn, "x_ping", nullptr, 0, nullptr, &r, kWait) != RPCR_OK;
            }
        });
    }
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GE(g_pings.load(), 4 * kRounds);
    rpc_close_client(other);
}

int32_t throwing_op(int32_t, const char *, void *, uint32_t, RPC_ARG_T *, RPC_ARG_T *)
{
    throw std::runtime_error("handler trouble");
}

TEST_F(Transport, AThrowingHandlerIsAFailedCallNotACrash)
{
    rpc_reg_op_hndlr("x_throw", throwing_op);
    RPC_ARG_T ret{};
    EXPECT_EQ(rpc_do_op(0, "x_throw", 0, nullptr, &ret, kWait), RPCR_PEER_FAILED);
    EXPECT_EQ(rpc_peer_status(), RPCR_ERROR);
    rpc_reg_op_hndlr("x_who", who_op);
    EXPECT_EQ(rpc_do_op(0, "x_who", 0, nullptr, &ret, kWait), RPCR_OK);
}

// The names a shared library defines in its dynamic symbol table.
std::vector<std::string> exported_names(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> image{std::istreambuf_iterator<char>(in), {}};
    std::vector<std::string> names;
    if (image.size() < sizeof(ElfW(Ehdr)))
        return names;
    const auto *header = reinterpret_cast<const ElfW(Ehdr) *>(image.data());
    const auto *sections = reinterpret_cast<const ElfW(Shdr) *>(image.data() + header->e_shoff);
    for (unsigned i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNSYM)
            continue;
        const char *strings = image.data() + sections[sections[i].sh_link].sh_offset;
        const auto *symbols = reinterpret_cast<const ElfW(Sym) *>(image.data() + sections[i].sh_offset);
        for (size_t n = 0; n < sections[i].sh_size / sizeof(ElfW(Sym)); ++n)
            if (symbols[n].st_shndx != SHN_UNDEF)
                names.emplace_back(strings + symbols[n].st_name);
    }
    return names;
}

// Each shared library exports its C API and nothing of its insides: no C++
// name at all.
TEST(Visibility, SharedLibrariesExportOnlyTheirCApi)
{
    struct Case {
        const char *path;
        std::vector<const char *> exported;
        std::vector<const char *> hidden;
    };
    const Case cases[] = {
        {RPCIPC_PATH,
         {"rpc_do_op", "rpc_do_cb", "rpc_peer_status", "__rpc_get_desc__", "g_ps_exe_name", "rpc_arg_kind",
          "rpc_accept"},
         {"_ZN7rpcpeer11accept_nextEi", "rpcu_set_log", "_ZN7rpcwire8classifyEjRNS_8ArgClassE"}},
        {KORM_PATH, {"x_kmem_block_multimap", "x_smem_block_free"}, {}},
        {PBCTRL_PATH,
         {"IQivPb_Ctrl_Open", "Client_printf", "c_rpc_reg_qivpbctrl_cb_hndlrs"},
         {"_ZN6pbctrl13t_client_infoE", "_ZN6pbctrl14find_by_handleEj"}},
        {PBMISC_PATH, {"IQivPb_Misc_Init"}, {}},
        {CBAGENT_PATH, {"vCBAgent_User_Init"}, {}},
        {APPIPC_PATH, {"app_send_ipc_msg"}, {}},
        {NETIPC_PATH, {"network_app_send_ipc_msg"}, {}},
    };
    for (const Case &c : cases) {
        void *lib = dlopen(c.path, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib, nullptr) << dlerror();
        for (const char *name : c.exported)
            EXPECT_NE(dlsym(lib, name), nullptr) << c.path << ": " << name;
        for (const char *name : c.hidden)
            EXPECT_EQ(dlsym(lib, name), nullptr) << c.path << ": " << name;
        dlclose(lib);
        const std::vector<std::string> names = exported_names(c.path);
        EXPECT_FALSE(names.empty()) << c.path;
        for (const std::string &name : names)
            EXPECT_NE(name.rfind("_Z", 0), 0u) << c.path << " exports " << name;
    }
}

TEST(TransportClosed, NothingOpenMeansNotConnected)
{
    RPC_ARG_T ret{};
    EXPECT_EQ(rpc_do_op(0, "x_any", 0, nullptr, &ret, kWait), RPCR_NOT_OPENED);
    EXPECT_EQ(rpc_close_client(12345), RPCR_INV_ARGS);
    EXPECT_EQ(rpc_open_client(""), RPCR_INV_ARGS);
}

} // namespace
