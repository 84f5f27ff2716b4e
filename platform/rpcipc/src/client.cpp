// Client side: connections to engine endpoints, registrations, calls and
// the call-back handlers registered by name.
#include "common/contain.h"
#include "registry.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

namespace {

constexpr size_t kMaxHandlerName = rpcwire::kMaxName;

struct Connection {
    int32_t id;
    std::string text;
    std::shared_ptr<rpcpeer::Peer> peer;
};

struct Clients {
    std::mutex mu;
    std::vector<Connection> conns;
    // The connection each loaded object (library or program) opened last:
    // calls with id 0 go there, so two client libraries in one process
    // never borrow each other's connection.
    std::map<const void *, int32_t> by_owner;
    int32_t next_id = 1;
};

struct Handlers {
    std::mutex mu;
    std::map<std::string, rpc_hndlr_fct> by_name;
};

// Never destroyed: transport threads may still run while the process exits.
Clients &clients()
{
    static auto *c = new Clients;
    return *c;
}

Handlers &handlers()
{
    static auto *h = new Handlers;
    return *h;
}

rpc_hndlr_fct find_handler(const std::string &name)
{
    std::lock_guard<std::mutex> lock(handlers().mu);
    auto it = handlers().by_name.find(name);
    return it != handlers().by_name.end() ? it->second : nullptr;
}

std::string endpoint_of(const char *text)
{
    const char *end = text + std::strcspn(text, " \t");
    return std::string(text, end);
}

int connect_to(const std::string &endpoint)
{
    std::string path;
    if (endpoint.empty() || !rpcreg::endpoint_address(endpoint.c_str(), path))
        return -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The loaded object that holds the code at a return address.
const void *owner_of(const void *return_address)
{
    Dl_info info{};
    return dladdr(return_address, &info) ? info.dli_fbase : nullptr;
}

std::shared_ptr<rpcpeer::Peer> find_peer(int32_t id, const void *owner)
{
    Clients &cs = clients();
    std::lock_guard<std::mutex> lock(cs.mu);
    if (id == 0) {
        auto it = cs.by_owner.find(owner);
        if (it == cs.by_owner.end())
            return nullptr;
        id = it->second;
    }
    for (Connection &c : cs.conns) {
        if (c.id == id && c.peer && c.peer->alive())
            return c.peer;
    }
    return nullptr;
}

} // namespace

extern "C" {

int32_t rpc_init(uint32_t) { return RPCR_OK; }

__attribute__((noinline)) int32_t rpc_open_client(const char *ps_conn_text, rpc_log_fct pf_log, uint32_t ui4_log_level)
{
    const void *owner = owner_of(__builtin_return_address(0));
    return contain<int32_t>(RPCR_NO_MEM, [&]() -> int32_t {
        if (!ps_conn_text || !*ps_conn_text)
            return RPCR_INV_ARGS;
        rpcu_set_log(pf_log, ui4_log_level);
        Clients &cs = clients();
        std::lock_guard<std::mutex> lock(cs.mu);
        Connection *conn = nullptr;
        for (Connection &c : cs.conns)
            if (c.text == ps_conn_text)
                conn = &c;
        if (!conn) {
            cs.conns.push_back({cs.next_id++, ps_conn_text, nullptr});
            conn = &cs.conns.back();
        }
        cs.by_owner[owner] = conn->id;
        if (conn->peer && conn->peer->alive())
            return conn->id;
        // A dead peer's threads end by themselves; waiting here could block a
        // handler that is making a call right now.
        conn->peer.reset();
        const int fd = connect_to(endpoint_of(ps_conn_text));
        if (fd < 0)
            return RPCR_NOT_OPENED;
        conn->peer = rpcpeer::Peer::start(fd, conn->id, find_handler);
        return conn->peer ? conn->id : RPCR_NO_MEM;
    });
}

int32_t rpc_close_client(int32_t i4_id)
{
    return contain<int32_t>(RPCR_ERROR, [&]() -> int32_t {
        std::shared_ptr<rpcpeer::Peer> peer;
        {
            Clients &cs = clients();
            std::lock_guard<std::mutex> lock(cs.mu);
            auto it = cs.conns.begin();
            while (it != cs.conns.end() && it->id != i4_id)
                ++it;
            if (i4_id <= 0 || it == cs.conns.end())
                return RPCR_INV_ARGS;
            peer = std::move(it->peer);
            cs.conns.erase(it);
            for (auto o = cs.by_owner.begin(); o != cs.by_owner.end();)
                o = o->second == i4_id ? cs.by_owner.erase(o) : std::next(o);
        }
        if (peer)
            peer->shutdown();
        return RPCR_OK;
    });
}

int32_t rpc_del(int32_t)
{
    rpcreg::thread_regs().clear();
    return RPCR_OK;
}

__attribute__((noinline)) int32_t rpc_do_op(int32_t i4_id, const char *ps_op, uint32_t ui4_num_args, RPC_ARG_T *pt_args,
                                            RPC_ARG_T *pt_return, int32_t i4_timeout_ms)
{
    const void *owner = owner_of(__builtin_return_address(0));
    return contain<int32_t>(RPCR_NO_MEM, [&]() -> int32_t {
        std::shared_ptr<rpcpeer::Peer> peer = find_peer(i4_id, owner);
        if (!peer)
            return RPCR_NOT_OPENED;
        return peer->call(rpcreg::thread_regs(), ps_op, nullptr, ui4_num_args, pt_args, pt_return, i4_timeout_ms);
    });
}

int32_t rpc_add_ref_desc(int32_t, const void *pv_addr, const RPC_DESC_T *pt_desc, const char *ps_member)
{
    return contain<int32_t>(RPCR_NO_MEM, [&]() -> int32_t {
        return rpcmarshal::add_record(rpcreg::thread_regs(), pv_addr, pt_desc, ps_member);
    });
}

int32_t rpc_add_ref_str(int32_t, const char *ps_text)
{
    return contain<int32_t>(RPCR_NO_MEM,
                            [&]() -> int32_t { return rpcmarshal::add_text(rpcreg::thread_regs(), ps_text); });
}

int32_t rpc_add_ref_buff(int32_t, const void *pv_addr, uint32_t ui4_size)
{
    return contain<int32_t>(RPCR_NO_MEM, [&]() -> int32_t {
        return rpcmarshal::add_buffer(rpcreg::thread_regs(), pv_addr, ui4_size);
    });
}

int32_t rpc_add_ref_val(int32_t, const void *pv_ptr_field)
{
    return contain<int32_t>(RPCR_NO_MEM, [&]() -> int32_t {
        return rpcmarshal::add_ptr_member(rpcreg::thread_regs(), pv_ptr_field);
    });
}

int32_t rpc_reg_cb_hndlr(const char *ps_name, rpc_hndlr_fct pf_hndlr)
{
    return contain<int32_t>(RPCR_NO_MEM, [&]() -> int32_t {
        if (!ps_name || !*ps_name || std::strlen(ps_name) > kMaxHandlerName || !pf_hndlr)
            return RPCR_INV_ARGS;
        std::lock_guard<std::mutex> lock(handlers().mu);
        handlers().by_name[ps_name] = pf_hndlr;
        return RPCR_OK;
    });
}

} // extern "C"
