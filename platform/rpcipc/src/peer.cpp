#include "peer.h"
#include "registry.h"

#include "common/contain.h"

#include "common/le_bytes.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace rpcpeer {

using namespace rpcwire;

namespace {

// Length, then the body's kind, version, padding and id.
constexpr size_t kHeadBytes = kFrameHeader + 8;
constexpr size_t kDiscardChunk = 4096;
constexpr size_t kSmallBody = 256;
// How long a handler may keep the reading turn before the monitor passes it
// on, and how often the monitor looks while turns are kept.
constexpr auto kTurnTick = std::chrono::milliseconds(4);

bool read_all(int fd, uint8_t *p, size_t n)
{
    while (n) {
        const ssize_t got = ::recv(fd, p, n, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool skip_bytes(int fd, size_t n)
{
    uint8_t sink[kDiscardChunk];
    while (n) {
        const size_t step = std::min(n, sizeof sink);
        if (!read_all(fd, sink, step))
            return false;
        n -= step;
    }
    return true;
}

bool write_all(int fd, const uint8_t *p, size_t n)
{
    while (n) {
        const ssize_t put = ::send(fd, p, n, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        p += put;
        n -= static_cast<size_t>(put);
    }
    return true;
}

// The call this thread is serving (calls nest when a handler calls back).
thread_local const rpcmarshal::Local *t_serving = nullptr;
// The peer whose handler this thread runs, if any.
thread_local const Peer *t_own_peer = nullptr;
// What the peer's handler returned for this thread's last call.
thread_local int32_t t_peer_status = RPCR_OK;

} // namespace

// Passes on the turns that handlers keep too long. It ticks while turns are
// being kept and sleeps when none has been for a while.
class Monitor {
public:
    void add(const std::shared_ptr<Peer> &peer)
    {
        std::lock_guard<std::mutex> lock(mu_);
        peers_.push_back(peer);
        if (!started_) {
            std::thread([this] { loop(); }).detach(); // throws: the peer is not started
            started_ = true;
        }
    }
    // After a turn became kept.
    void keeping()
    {
        if (!asleep_.load())
            return;
        std::lock_guard<std::mutex> lock(mu_);
        asleep_.store(false);
        cv_.notify_one();
    }

private:
    static constexpr unsigned kTicksBeforeSleep = 100;

    // Passes stuck turns; true if any turn is kept.
    bool scan()
    {
        std::vector<std::shared_ptr<Peer>> live;
        {
            std::lock_guard<std::mutex> lock(mu_);
            auto gone = [](const std::weak_ptr<Peer> &p) { return p.expired(); };
            peers_.erase(std::remove_if(peers_.begin(), peers_.end(), gone), peers_.end());
            for (auto &p : peers_)
                if (auto s = p.lock())
                    live.push_back(std::move(s));
        }
        const auto now = std::chrono::steady_clock::now();
        bool kept = false;
        for (auto &p : live)
            kept |= p->pass_stuck_turn(now);
        return kept;
    }

    void loop()
    {
        unsigned quiet = 0;
        for (;;) {
            if (quiet >= kTicksBeforeSleep) {
                asleep_.store(true);
                // A turn kept just before the store is seen by this scan;
                // one kept after it wakes the monitor.
                if (!scan()) {
                    std::unique_lock<std::mutex> lock(mu_);
                    cv_.wait(lock, [this] { return !asleep_.load(); });
                }
                asleep_.store(false);
                quiet = 0;
            }
            std::this_thread::sleep_for(kTurnTick);
            quiet = scan() ? 0 : quiet + 1;
        }
    }

    std::mutex mu_;
    std::condition_variable cv_;
    std::atomic<bool> asleep_{true};
    bool started_ = false;
    std::vector<std::weak_ptr<Peer>> peers_;
};

// Never destroyed: its thread runs until the process ends.
Monitor &monitor()
{
    static auto *m = new Monitor;
    return *m;
}

Peer::Peer(int fd, int32_t id, Dispatch dispatch) : fd_(fd), id_(id), dispatch_(std::move(dispatch)) {}

Peer::~Peer() { ::close(fd_); }

std::shared_ptr<Peer> Peer::start(int fd, int32_t id, Dispatch dispatch)
{
    std::shared_ptr<Peer> peer(new Peer(fd, id, std::move(dispatch)));
    try {
        monitor().add(peer);
    } catch (...) {
        return nullptr; // the peer's destructor closes fd
    }
    std::lock_guard<std::mutex> lock(peer->mu_);
    if (!peer->spawn_locked()) {
        peer->mark_dead_locked();
        return nullptr;
    }
    return peer;
}

bool Peer::spawn_locked()
{
    try {
        auto self = shared_from_this();
        std::thread([self] { self->run(); }).detach();
    } catch (...) {
        return false; // out of threads or memory: the caller answers for it
    }
    ++threads_;
    return true;
}

bool Peer::alive()
{
    std::lock_guard<std::mutex> lock(mu_);
    return alive_;
}

void Peer::mark_dead_locked()
{
    ::shutdown(fd_, SHUT_RDWR);
    alive_ = false;
    for (auto &waiting : pending_)
        waiting.second->cv.notify_one();
    turn_cv_.notify_all();
}

// Someone else must read while the thread keeping the turn is busy.
void Peer::pass_turn_locked()
{
    if (!held_)
        return;
    held_ = false;
    if (idle_ == 0)
        spawn_locked(); // failing that, the keeper reads on once its handler returns
    turn_cv_.notify_one();
}

bool Peer::pass_stuck_turn(std::chrono::steady_clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mu_);
    if (held_ && now - held_since_ >= kTurnTick)
        pass_turn_locked();
    return held_;
}

void Peer::shutdown()
{
    std::unique_lock<std::mutex> lock(mu_);
    mark_dead_locked();
    if (t_own_peer == this)
        return;
    // Handlers still running end by themselves; waiting for them could
    // block on a handler that waits for this very caller.
    turn_cv_.wait(lock, [this] { return !reading_; });
}

// Reads one frame. Its head is checked before any of its body is kept:
// a reply nobody waits for and a call beyond the bound are skipped.
Peer::Got Peer::read_one(std::vector<uint8_t> &body, uint32_t &call_id)
{
    // A small frame comes in one read; of a larger one, its head first.
    uint8_t head[kFrameHeader + kSmallBody];
    if (!read_all(fd_, head, kFrameHeader))
        return Got::End;
    const uint32_t len = le::load32(head);
    const size_t first = len <= kSmallBody ? len : kHeadBytes - kFrameHeader;
    if (len < kHeadBytes - kFrameHeader || len > kMaxBody || !read_all(fd_, head + kFrameHeader, first))
        return Got::End; // the stream can no longer be trusted
    const uint8_t kind = head[kFrameHeader];
    const uint32_t id = le::load32(head + kFrameHeader + 4);
    if (kind != kCall && kind != kReply)
        return Got::End;
    bool keep;
    {
        std::lock_guard<std::mutex> lock(mu_);
        keep = kind == kReply ? pending_.count(id) != 0 : serving_ < kMaxServing;
    }
    const size_t rest = len - first;
    if (!keep) {
        if (!skip_bytes(fd_, rest))
            return Got::End;
        call_id = id;
        return kind == kCall ? Got::Busy : Got::Nothing;
    }
    try {
        body.assign(head + kFrameHeader, head + kFrameHeader + first);
        body.resize(len);
    } catch (...) {
        return skip_bytes(fd_, rest) ? (call_id = id, kind == kCall ? Got::Busy : Got::Nothing) : Got::End;
    }
    if (!read_all(fd_, body.data() + first, rest))
        return Got::End;
    return kind == kReply ? Got::Reply : Got::Call;
}

void Peer::run()
{
    auto self = shared_from_this();
    t_own_peer = this;
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        ++idle_;
        turn_cv_.wait(lock, [this] { return (!reading_ && !held_) || !alive_; });
        --idle_;
        if (!alive_)
            break;
        reading_ = true;
        lock.unlock();
        std::vector<uint8_t> body;
        uint32_t id = 0;
        const Got got = read_one(body, id);
        lock.lock();
        reading_ = false;
        if (got == Got::End) {
            mark_dead_locked();
            break;
        }
        if (got == Got::Reply) {
            auto it = pending_.find(body_id(body.data(), body.size()));
            if (it != pending_.end()) {
                it->second->body = std::move(body);
                it->second->done = true;
                it->second->cv.notify_one();
            }
            continue;
        }
        if (got == Got::Nothing)
            continue;
        // A thread must be there to take the turn over from this one.
        if (got == Got::Busy || (idle_ == 0 && !spawn_locked())) {
            lock.unlock();
            answer(id, RPCR_BUSY);
            lock.lock();
            continue;
        }
        ++serving_;
        held_ = true;
        held_since_ = std::chrono::steady_clock::now();
        // A reply somebody waits for must not wait for this handler.
        if (!pending_.empty())
            pass_turn_locked();
        lock.unlock();
        monitor().keeping();
        serve(body);
        lock.lock();
        --serving_;
        if (held_) {
            held_ = false; // nobody needed the turn: read on
            continue;
        }
        if (idle_ >= kKeepIdle)
            break;
    }
    --threads_;
    turn_cv_.notify_all(); // shutdown() waits for the reading to stop
}

void Peer::answer(uint32_t id, int32_t transport)
{
    contain(false, [&] {
        Reply reply;
        reply.id = id;
        reply.transport = transport;
        return send(encode(reply));
    });
}

// Runs one call of the peer and answers it. Out of memory, or a handler
// that throws, is answered as a failure; nothing escapes the thread.
void Peer::serve(const std::vector<uint8_t> &body)
{
    const uint32_t id = body_id(body.data(), body.size());
    const int32_t transport = contain(RPCR_NO_MEM, [&] {
        Call call;
        if (decode(body.data(), body.size(), call) != RPCR_OK)
            return RPCR_PROTOCOL;
        const rpc_hndlr_fct handler = dispatch_(call.name);
        if (!handler)
            return RPCR_NOT_FOUND;
        rpcmarshal::Local local;
        rpcmarshal::materialize(call, local);
        RPC_ARG_T result{};
        void *func = reinterpret_cast<void *>(static_cast<uintptr_t>(call.func));
        const rpcmarshal::Local *outer = t_serving;
        t_serving = &local;
        const int32_t status = contain(RPCR_ERROR, [&] {
            return handler(id_, call.name.c_str(), func, static_cast<uint32_t>(local.args.size()), local.args.data(),
                           &result);
        });
        rpcreg::thread_regs().clear();
        t_serving = outer;
        send(encode(rpcmarshal::make_reply(call, local, status, result)));
        return RPCR_OK;
    });
    if (transport != RPCR_OK)
        answer(id, transport);
}

bool Peer::send(const std::vector<uint8_t> &frame)
{
    std::lock_guard<std::mutex> lock(send_mu_);
    return write_all(fd_, frame.data(), frame.size());
}

int32_t Peer::call(const rpcmarshal::Regs &regs, const char *name, void *func, uint32_t argc, RPC_ARG_T *args,
                   RPC_ARG_T *result, int32_t timeout_ms)
{
    t_peer_status = RPCR_OK;
    Call call;
    rpcmarshal::Sent sent;
    int32_t rc = rpcmarshal::build_call(regs, name, reinterpret_cast<uintptr_t>(func), argc, args, call, sent);
    if (rc != RPCR_OK)
        return rc;
    Pending pending;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!alive_)
            return RPCR_NOT_OPENED;
        call.id = next_call_++;
        pending_[call.id] = &pending;
    }
    const std::vector<uint8_t> frame = encode(call);
    const bool too_big = frame.size() - kFrameHeader > kMaxBody;
    const bool sent_ok = !too_big && send(frame);
    std::unique_lock<std::mutex> lock(mu_);
    if (!too_big && !sent_ok)
        mark_dead_locked(); // the other end is gone; the reader may not have seen it yet
    if (sent_ok) {
        pass_turn_locked(); // the reply must be read, whoever keeps the turn
        auto ready = [&] { return pending.done || !alive_; };
        if (timeout_ms < 0)
            pending.cv.wait(lock, ready);
        else if (!pending.cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready))
            rc = RPCR_TIMEOUT;
    }
    pending_.erase(call.id);
    if (rc == RPCR_TIMEOUT)
        return rc;
    if (!pending.done)
        return too_big ? RPCR_INV_ARGS : RPCR_NOT_OPENED;
    lock.unlock();
    Reply reply;
    if (decode(pending.body.data(), pending.body.size(), reply) != RPCR_OK)
        return RPCR_PROTOCOL;
    t_peer_status = reply.transport == RPCR_OK ? reply.status : RPCR_OK;
    return rpcmarshal::apply_reply(reply, sent, argc, args, result);
}

int accept_next(int listen_fd)
{
    for (;;) {
        const int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0 || (errno != EINTR && errno != ECONNABORTED))
            return fd;
    }
}

} // namespace rpcpeer

extern "C" int32_t rpc_accept(int32_t i4_listen_fd) { return rpcpeer::accept_next(i4_listen_fd); }

extern "C" uint32_t rpc_local_region_size(const void *pv_addr)
{
    return rpcpeer::t_serving && pv_addr ? rpcmarshal::local_size(*rpcpeer::t_serving, pv_addr) : 0;
}

extern "C" int32_t rpc_peer_status(void) { return rpcpeer::t_peer_status; }
