// Engine side: listening endpoints, operation handlers by name, and calls
// back into a connected client.
#include "common/contain.h"
#include "registry.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <thread>

namespace {

constexpr int kBacklog = 16;

struct Listener {
    int fd;
    std::string path;
    std::thread acceptor;
};

struct Engine {
    std::mutex mu;
    std::vector<std::unique_ptr<Listener>> listeners;
    std::map<int32_t, std::shared_ptr<rpcpeer::Peer>> peers;
    int32_t next_conn = 1;
    std::map<std::string, rpc_hndlr_fct> ops;
    rpc_hndlr_fct fallback = nullptr;
};

Engine &engine()
{
    static auto *e = new Engine;
    return *e;
}

rpc_hndlr_fct find_op(const std::string &name)
{
    std::lock_guard<std::mutex> lock(engine().mu);
    auto it = engine().ops.find(name);
    return it != engine().ops.end() ? it->second : engine().fallback;
}

// Forgets connections whose client went away. Called with the lock held.
void reap_dead_peers(Engine &e)
{
    for (auto it = e.peers.begin(); it != e.peers.end();) {
        if (it->second->alive())
            ++it;
        else
            it = e.peers.erase(it);
    }
}

void accept_loop(int listen_fd)
{
    int fd;
    while ((fd = rpcpeer::accept_next(listen_fd)) >= 0) {
        contain(false, [fd] {
            Engine &e = engine();
            std::lock_guard<std::mutex> lock(e.mu);
            reap_dead_peers(e);
            const int32_t id = e.next_conn++;
            auto peer = rpcpeer::Peer::start(fd, id, find_op);
            if (peer)
                e.peers[id] = std::move(peer); // a failed insert drops the peer, which closes fd
            return true;
        });
    }
}

void make_dir(const std::string &path)
{
    const std::string dir = path.substr(0, path.rfind('/'));
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/')
            ::mkdir(dir.substr(0, pos).c_str(), 0777);
    }
}

} // namespace

extern "C" {

int32_t rpc_engine_serve(const char *ps_name)
{
    return contain<int32_t>(RPCR_NO_MEM, [&]() -> int32_t {
        std::string path;
        if (!rpcreg::endpoint_address(ps_name, path))
            return RPCR_INV_ARGS;
        make_dir(path);
        ::unlink(path.c_str()); // a socket left by an engine that died
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return RPCR_ERROR;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd, kBacklog) != 0) {
            ::close(fd);
            return RPCR_ERROR;
        }
        auto listener = std::make_unique<Listener>();
        listener->fd = fd;
        listener->path = path;
        listener->acceptor = std::thread(accept_loop, fd);
        std::lock_guard<std::mutex> lock(engine().mu);
        engine().listeners.push_back(std::move(listener));
        return RPCR_OK;
    });
}

void rpc_engine_stop(void)
{
    contain(0, [&]() -> int {
        Engine &e = engine();
        std::vector<std::unique_ptr<Listener>> listeners;
        std::map<int32_t, std::shared_ptr<rpcpeer::Peer>> peers;
        {
            std::lock_guard<std::mutex> lock(e.mu);
            listeners.swap(e.listeners);
        }
        for (auto &l : listeners) {
            ::shutdown(l->fd, SHUT_RDWR);
            l->acceptor.join();
            ::close(l->fd);
            ::unlink(l->path.c_str());
        }
        {
            std::lock_guard<std::mutex> lock(e.mu);
            peers.swap(e.peers);
        }
        for (auto &p : peers)
            p.second->shutdown();
        return 0;
    });
}

int32_t rpc_engine_conn_count(void)
{
    std::lock_guard<std::mutex> lock(engine().mu);
    int32_t n = 0;
    for (auto &p : engine().peers)
        n += p.second->alive() ? 1 : 0;
    return n;
}

int32_t rpc_reg_op_hndlr(const char *ps_op, rpc_hndlr_fct pf_hndlr)
{
    return contain<int32_t>(RPCR_NO_MEM, [&]() -> int32_t {
        if (!pf_hndlr || (ps_op && (!*ps_op || std::strlen(ps_op) > rpcwire::kMaxName)))
            return RPCR_INV_ARGS;
        std::lock_guard<std::mutex> lock(engine().mu);
        if (ps_op)
            engine().ops[ps_op] = pf_hndlr;
        else
            engine().fallback = pf_hndlr;
        return RPCR_OK;
    });
}

int32_t rpc_do_cb(int32_t i4_conn, const char *ps_name, void *pv_func, uint32_t ui4_num_args, RPC_ARG_T *pt_args,
                  RPC_ARG_T *pt_return, int32_t i4_timeout_ms)
{
    return contain<int32_t>(RPCR_NO_MEM, [&]() -> int32_t {
        std::shared_ptr<rpcpeer::Peer> peer;
        {
            std::lock_guard<std::mutex> lock(engine().mu);
            auto it = engine().peers.find(i4_conn);
            if (it != engine().peers.end())
                peer = it->second;
        }
        if (!peer || !peer->alive())
            return RPCR_NOT_OPENED;
        return peer->call(rpcreg::thread_regs(), ps_name, pv_func, ui4_num_args, pt_args, pt_return, i4_timeout_ms);
    });
}

} // extern "C"
