#include "peer.h"
#include "registry.h"

#include "common/le_bytes.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace rpcpeer {

using namespace rpcwire;

namespace {

constexpr unsigned kMaxWorkers = 4;

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
// What the peer's handler returned for this thread's last call.
thread_local int32_t t_peer_status = RPCR_OK;

} // namespace

Peer::Peer(int fd, int32_t id, Dispatch dispatch, Serve serve)
    : fd_(fd), id_(id), dispatch_(std::move(dispatch)), serve_(serve)
{
}

Peer::~Peer()
{
    ::close(fd_);
}

std::shared_ptr<Peer> Peer::start(int fd, int32_t id, Dispatch dispatch, Serve serve)
{
    std::shared_ptr<Peer> peer(new Peer(fd, id, std::move(dispatch), serve));
    peer->reader_running_ = true;
    std::thread([peer] { peer->reader(); }).detach();
    return peer;
}

void Peer::thread_ended(bool reader)
{
    std::lock_guard<std::mutex> lock(mu_);
    thread_ids_.erase(std::remove(thread_ids_.begin(), thread_ids_.end(), std::this_thread::get_id()),
                      thread_ids_.end());
    if (reader)
        reader_running_ = false;
    ended_cv_.notify_all();
}

bool Peer::on_own_thread()
{
    return std::find(thread_ids_.begin(), thread_ids_.end(), std::this_thread::get_id()) !=
           thread_ids_.end();
}

bool Peer::alive()
{
    std::lock_guard<std::mutex> lock(mu_);
    return alive_;
}

void Peer::shutdown()
{
    ::shutdown(fd_, SHUT_RDWR);
    std::unique_lock<std::mutex> lock(mu_);
    alive_ = false;
    cv_.notify_all();
    if (on_own_thread())
        return;
    // Workers end by themselves once their handler returns; waiting for them
    // could block on a handler that waits for this very caller.
    ended_cv_.wait(lock, [this] { return !reader_running_; });
}

bool Peer::on_reader()
{
    std::lock_guard<std::mutex> lock(mu_);
    return reader_id_ == std::this_thread::get_id();
}

// One whole frame; false at the end of the stream or on a length that
// leaves the stream untrustworthy, and on time-out (timed_out set).
bool Peer::read_frame(std::vector<uint8_t> &body, int32_t timeout_ms, bool &timed_out)
{
    timed_out = false;
    if (timeout_ms >= 0) {
        pollfd pfd{fd_, POLLIN, 0};
        int rc;
        while ((rc = ::poll(&pfd, 1, timeout_ms)) < 0 && errno == EINTR) {
        }
        if (rc == 0) {
            timed_out = true;
            return false;
        }
    }
    uint8_t head[kFrameHeader];
    if (!read_all(fd_, head, sizeof head))
        return false;
    const uint32_t len = le::load32(head);
    if (len == 0 || len > kMaxBody)
        return false;
    body.resize(len);
    return read_all(fd_, body.data(), len);
}

void Peer::route(std::vector<uint8_t> &&body)
{
    std::unique_lock<std::mutex> lock(mu_);
    if (body_kind(body.data(), body.size()) == kReply) {
        auto it = pending_.find(body_id(body.data(), body.size()));
        if (it != pending_.end()) {
            it->second->body = std::move(body);
            it->second->done = true;
            cv_.notify_all();
        }
        return;
    }
    if (serve_ == Serve::Inline) {
        lock.unlock();
        serve(body);
        return;
    }
    work_.push_back(std::move(body));
    if (idle_ == 0 && workers_ < kMaxWorkers) {
        ++workers_;
        ++idle_;
        auto self = shared_from_this();
        std::thread([self] { self->worker(); }).detach();
    }
    cv_.notify_all();
}

void Peer::mark_dead()
{
    ::shutdown(fd_, SHUT_RDWR);
    std::lock_guard<std::mutex> lock(mu_);
    alive_ = false;
    cv_.notify_all();
}

void Peer::reader()
{
    auto self = shared_from_this();
    {
        std::lock_guard<std::mutex> lock(mu_);
        reader_id_ = std::this_thread::get_id();
        thread_ids_.push_back(reader_id_);
    }
    std::vector<uint8_t> body;
    bool timed_out;
    while (read_frame(body, -1, timed_out))
        route(std::move(body));
    mark_dead();
    thread_ended(true);
}

void Peer::worker()
{
    auto self = shared_from_this();
    std::unique_lock<std::mutex> lock(mu_);
    thread_ids_.push_back(std::this_thread::get_id());
    for (;;) {
        cv_.wait(lock, [this] { return !work_.empty() || !alive_; });
        if (work_.empty())
            break;
        std::vector<uint8_t> body = std::move(work_.front());
        work_.pop_front();
        --idle_;
        lock.unlock();
        serve(body);
        lock.lock();
        ++idle_;
    }
    --workers_;
    --idle_;
    lock.unlock();
    thread_ended(false);
}

void Peer::serve(const std::vector<uint8_t> &body)
{
    Call call;
    Reply reply;
    if (decode(body.data(), body.size(), call) != RPCR_OK) {
        reply.id = body_id(body.data(), body.size());
        reply.transport = RPCR_PROTOCOL;
        send(encode(reply));
        return;
    }
    const rpc_hndlr_fct handler = dispatch_(call.name);
    if (!handler) {
        reply.id = call.id;
        reply.transport = RPCR_NOT_FOUND;
        send(encode(reply));
        return;
    }
    rpcmarshal::Local local;
    rpcmarshal::materialize(call, local);
    RPC_ARG_T result{};
    void *func = reinterpret_cast<void *>(static_cast<uintptr_t>(call.func));
    const rpcmarshal::Local *outer = t_serving;
    t_serving = &local;
    const int32_t status = handler(id_, call.name.c_str(), func,
                                   static_cast<uint32_t>(local.args.size()), local.args.data(),
                                   &result);
    rpcreg::thread_regs().clear();
    t_serving = outer;
    send(encode(rpcmarshal::make_reply(call, local, status, result)));
}

bool Peer::send(const std::vector<uint8_t> &frame)
{
    std::lock_guard<std::mutex> lock(send_mu_);
    return write_all(fd_, frame.data(), frame.size());
}

// A call made on the reader thread: nobody else reads, so read here.
int32_t Peer::pump_until(Pending &pending, int32_t timeout_ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (pending.done || !alive_)
                return RPCR_OK;
        }
        int32_t left = -1;
        if (timeout_ms >= 0) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            left = static_cast<int32_t>(std::max<int64_t>(0, ms.count()));
        }
        std::vector<uint8_t> body;
        bool timed_out;
        if (!read_frame(body, left, timed_out)) {
            if (timed_out)
                return RPCR_TIMEOUT;
            mark_dead();
            return RPCR_OK;
        }
        route(std::move(body));
    }
}

int32_t Peer::call(const rpcmarshal::Regs &regs, const char *name, void *func, uint32_t argc,
                   RPC_ARG_T *args, RPC_ARG_T *result, int32_t timeout_ms)
{
    t_peer_status = RPCR_OK;
    Call call;
    rpcmarshal::Sent sent;
    int32_t rc = rpcmarshal::build_call(regs, name, reinterpret_cast<uintptr_t>(func), argc, args,
                                        call, sent);
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
    if (!too_big && !sent_ok)
        mark_dead(); // the other end is gone; the reader may not have seen it yet
    if (sent_ok && on_reader())
        rc = pump_until(pending, timeout_ms);
    std::unique_lock<std::mutex> lock(mu_);
    if (sent_ok && !pending.done && rc == RPCR_OK) {
        auto ready = [&] { return pending.done || !alive_; };
        if (timeout_ms < 0)
            cv_.wait(lock, ready);
        else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready))
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

extern "C" uint32_t rpc_local_region_size(const void *pv_addr)
{
    return rpcpeer::t_serving && pv_addr ? rpcmarshal::local_size(*rpcpeer::t_serving, pv_addr) : 0;
}

extern "C" int32_t rpc_peer_status(void)
{
    return rpcpeer::t_peer_status;
}
