// One end of a connection. Its threads take turns at reading the socket
// (leader and followers): the one that reads a call runs the handler itself
// and keeps the turn, so a quick handler costs no thread switch. The turn
// passes to an idle thread as soon as anyone waits for a reply on the
// connection, or, from a monitor thread, once a handler has run longer than
// a tick: replies and further calls keep flowing while any number of
// handlers wait on one another or make calls of their own, on both ends.
// The calls served at once per connection are bounded; past the bound the
// peer answers RPCR_BUSY.
#ifndef RPCIPC_PEER_H
#define RPCIPC_PEER_H

#include "marshal.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace rpcpeer {

// The handler registered for a name, or null.
using Dispatch = std::function<rpc_hndlr_fct(const std::string &name)>;

// Calls of the peer served at once on one connection.
constexpr unsigned kMaxServing = 32;
// Threads that wait for the reading turn beyond the reader.
constexpr unsigned kKeepIdle = 2;

// Accepts the next connection on a listening socket, riding out interrupted
// calls and clients that gave up while queued; -1 once the socket fails.
int accept_next(int listen_fd);

class Peer : public std::enable_shared_from_this<Peer> {
public:
    // Null if no thread could be started (the descriptor is then closed).
    static std::shared_ptr<Peer> start(int fd, int32_t id, Dispatch dispatch);
    ~Peer();
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    int32_t call(const rpcmarshal::Regs &regs, const char *name, void *func, uint32_t argc, RPC_ARG_T *args,
                 RPC_ARG_T *result, int32_t timeout_ms);
    bool alive();
    // From the monitor: passes on a turn a handler has held for a tick;
    // true while a handler holds it.
    bool pass_stuck_turn(std::chrono::steady_clock::time_point now);
    // Closes the connection and, unless called from one of its handlers,
    // waits until nobody reads it any more.
    void shutdown();

private:
    Peer(int fd, int32_t id, Dispatch dispatch);
    struct Pending {
        bool done = false;
        std::vector<uint8_t> body;
        std::condition_variable cv; // only its caller waits here
    };
    enum class Got { Nothing, Reply, Call, Busy, End };

    void run();
    bool spawn_locked();
    Got read_one(std::vector<uint8_t> &body, uint32_t &call_id);
    void mark_dead_locked();
    void pass_turn_locked();
    void serve(const std::vector<uint8_t> &body);
    void answer(uint32_t id, int32_t transport);
    bool send(const std::vector<uint8_t> &frame);

    const int fd_;
    const int32_t id_;
    const Dispatch dispatch_;
    std::mutex send_mu_;
    std::mutex mu_;
    std::condition_variable turn_cv_; // the reading turn, for idle threads
    bool alive_ = true;
    bool reading_ = false;
    bool held_ = false; // the turn is kept by a thread running a handler
    std::chrono::steady_clock::time_point held_since_;
    unsigned threads_ = 0;
    unsigned idle_ = 0;
    unsigned serving_ = 0;
    uint32_t next_call_ = 1;
    std::map<uint32_t, Pending *> pending_;
};

} // namespace rpcpeer

#endif
