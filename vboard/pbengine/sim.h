// The engine simulator's state: what each operation answers, what it was
// last called with, and the call-backs it makes.
#ifndef PBENGINE_SIM_H
#define PBENGINE_SIM_H

#include "rpcipc.h"

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace pbsim {

// What the simulator itself does for an operation it knows: its result,
// used unless a script sets one.
using Builtin = int8_t (*)(int32_t conn, uint32_t argc, RPC_ARG_T *args);

// Serves one call: logs it, makes the scripted call-backs, runs own and
// lays the script's outputs and result over what own answered.
int32_t serve_op(int32_t conn, const char *op, uint32_t argc, RPC_ARG_T *args, RPC_ARG_T *result, Builtin own);

// The transport's handler of an operation whose own answer is Own's.
template <Builtin Own>
int32_t scripted(int32_t conn, const char *op, void *, uint32_t argc, RPC_ARG_T *args, RPC_ARG_T *result)
{
    return serve_op(conn, op, argc, args, result, Own);
}

// An operation the transport dispatches to its handler by name.
struct Operation {
    const char *name;
    rpc_hndlr_fct handler;
};

template <size_t N> void register_ops(const Operation (&ops)[N])
{
    for (const Operation &op : ops)
        rpc_reg_op_hndlr(op.name, op.handler);
}

// Registers every operation handler with the transport.
void install();

// Writes an out value or out place of an argument.
void write_out(RPC_ARG_T &a, uint64_t value);

// Makes a call-back (code, value per argument) from a thread of the
// simulator, once the operation being served has answered.
std::string call_back_soon(int32_t conn, const std::string &name, uint64_t func,
                           const std::vector<std::pair<uint32_t, uint64_t>> &args);

// The connection a call-back goes to when its control line names none.
int32_t last_connection();

// Control verbs of the scripts, the call log and the call-backs; each
// answer starts with "ok" or "error".
std::string script_command(const std::string &verb, std::istringstream &in);
std::string query_command(const std::string &verb, std::istringstream &in);
std::string background_command(const std::string &verb, std::istringstream &in);
std::string callback_command(std::istringstream &in);

// Back to a fresh start: no scripts, logs, handles or blocks, and no
// call-back still waiting.
void reset_all();

} // namespace pbsim

#endif
