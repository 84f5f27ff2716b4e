// The engine's side of the extensions: TS filters with their buffers,
// snapshot planes, and the encryption memory it reads back, all in korm
// blocks it allocates (freed by reset).
#ifndef PBENGINE_EXT_ENGINE_H
#define PBENGINE_EXT_ENGINE_H

#include "rpcipc.h"

#include <cstdint>
#include <sstream>
#include <string>

namespace pbsim {

// True for the extension operations it serves; result is its answer.
bool ext_builtin(int32_t conn, const std::string &op, uint32_t argc, RPC_ARG_T *args, int8_t &result);

// filternotice SIZE|off, snapshot fresh|reuse [Y_BYTES C_BYTES], encmem, encseg J.
bool is_ext_command(const std::string &verb);
std::string ext_command(const std::string &verb, std::istringstream &in);
void ext_reset();

} // namespace pbsim

#endif
