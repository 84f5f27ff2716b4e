// Process-wide state of the transport shared by its modules.
#ifndef RPCIPC_REGISTRY_H
#define RPCIPC_REGISTRY_H

#include "peer.h"

#include <string>

namespace rpcreg {

// Registrations this thread made for its next call.
rpcmarshal::Regs &thread_regs();

// Creates a Unix stream socket address for an endpoint; false if too long.
bool endpoint_address(const char *name, std::string &path);

} // namespace rpcreg

// Log function and level mask of the last connection opened.
extern "C" void rpcu_set_log(rpc_log_fct pf_log, uint32_t ui4_level);

#endif
