// One end of a connection: a reader thread that routes replies to the
// waiting callers and runs the peer's calls, either itself (the engine: the
// shortest round trip) or on a small pool of worker threads (the client:
// a handler may wait for a lock an application thread holds across a call).
// A handler on the reader that makes a call reads the socket itself until
// its reply arrives, so calls may nest either way.
#ifndef RPCIPC_PEER_H
#define RPCIPC_PEER_H

#include "marshal.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace rpcpeer {

// The handler registered for a name, or null.
using Dispatch = std::function<rpc_hndlr_fct(const std::string &name)>;

// Accepts the next connection on a listening socket, riding out interrupted
// calls and clients that gave up while queued; -1 once the socket fails.
int accept_next(int listen_fd);

class Peer : public std::enable_shared_from_this<Peer> {
public:
    enum class Serve { Inline, Workers };
    static std::shared_ptr<Peer> start(int fd, int32_t id, Dispatch dispatch, Serve serve);
    ~Peer();
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    int32_t call(const rpcmarshal::Regs &regs, const char *name, void *func, uint32_t argc,
                 RPC_ARG_T *args, RPC_ARG_T *result, int32_t timeout_ms);
    bool alive();
    // Closes the connection and waits for its reader (unless called on one
    // of its threads).
    void shutdown();

private:
    Peer(int fd, int32_t id, Dispatch dispatch, Serve serve);
    void reader();
    bool read_frame(std::vector<uint8_t> &body, int32_t timeout_ms, bool &timed_out);
    void route(std::vector<uint8_t> &&body);
    void mark_dead();
    bool on_reader();
    struct Pending;
    int32_t pump_until(Pending &pending, int32_t timeout_ms);
    void worker();
    void serve(const std::vector<uint8_t> &body);
    bool send(const std::vector<uint8_t> &frame);
    void thread_ended(bool reader);
    bool on_own_thread();

    struct Pending {
        bool done = false;
        std::vector<uint8_t> body;
    };

    const int fd_;
    const int32_t id_;
    const Dispatch dispatch_;
    const Serve serve_;
    std::thread::id reader_id_;
    std::mutex send_mu_;
    std::mutex mu_;
    std::condition_variable cv_;       // replies, work, death
    std::condition_variable ended_cv_; // the reader ending
    bool alive_ = true;
    uint32_t next_call_ = 1;
    std::map<uint32_t, Pending *> pending_;
    std::deque<std::vector<uint8_t>> work_;
    unsigned workers_ = 0;
    unsigned idle_ = 0;
    bool reader_running_ = false;
    std::vector<std::thread::id> thread_ids_;
};

} // namespace rpcpeer

#endif
