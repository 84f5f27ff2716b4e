// Shared-memory blocks the simulator makes, as the engine does for push
// slices, handle lists and shared memory; all freed again by reset.
#ifndef PBENGINE_BLOCKS_H
#define PBENGINE_BLOCKS_H

#include <cstdint>
#include <sstream>
#include <string>

namespace pbsim {

// alloc kmem|smem SIZE, alloc skmem COUNT SIZE, write H OFFSET HEX,
// read H OFFSET LEN, free H. The answer starts with "ok" or "error".
std::string block_command(const std::string &verb, std::istringstream &in);
void free_all_blocks();
// A kernel block the simulator makes and reset frees; 0 when none is left.
uint32_t alloc_kmem_block(uint32_t size);
// Frees a block made here; false for any other handle.
bool free_made_block(uint32_t handle);

} // namespace pbsim

#endif
