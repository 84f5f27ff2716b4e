// The engine's side of the extensions: TS filters with their buffers,
// snapshot planes, and the encryption memory it reads back, all in korm
// blocks it allocates (freed by reset).
#ifndef PBENGINE_EXT_ENGINE_H
#define PBENGINE_EXT_ENGINE_H

#include <sstream>
#include <string>

namespace pbsim {

// Registers the extension operations.
void install_ext();

// filternotice SIZE|off, snapshot fresh|reuse [Y_BYTES C_BYTES], encmem, encseg J.
std::string ext_command(const std::string &verb, std::istringstream &in);
void ext_reset();

} // namespace pbsim

#endif
