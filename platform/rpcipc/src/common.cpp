// Pieces shared by the client and the engine side.
#include "common/contain.h"
#include "registry.h"

#include <sys/un.h>

#include <cstdlib>
#include <cstring>

namespace rpcreg {

rpcmarshal::Regs &thread_regs()
{
    thread_local rpcmarshal::Regs regs;
    return regs;
}

bool endpoint_address(const char *name, std::string &path)
{
    const char *dir = std::getenv(RPC_DIR_ENV);
    if (!dir || !*dir)
        dir = RPC_DEFAULT_DIR;
    if (!name || !*name || std::strchr(name, '/'))
        return false;
    path = std::string(dir) + "/" + name;
    return path.size() < sizeof(sockaddr_un{}.sun_path);
}

} // namespace rpcreg

extern "C" int32_t rpc_endpoint_path(const char *ps_name, char *ps_buf, uint32_t ui4_size)
{
    return contain<int32_t>(RPCR_NO_MEM, [&]() -> int32_t {
        std::string path;
        if (!ps_buf || !rpcreg::endpoint_address(ps_name, path) || path.size() >= ui4_size)
            return RPCR_INV_ARGS;
        std::memcpy(ps_buf, path.c_str(), path.size() + 1);
        return RPCR_OK;
    });
}
