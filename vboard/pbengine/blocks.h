// Shared-memory blocks the simulator makes, as the engine does for push
// slices, handle lists and shared memory; all freed again by reset.
#ifndef PBENGINE_BLOCKS_H
#define PBENGINE_BLOCKS_H

#include <sstream>
#include <string>

namespace pbsim {

// alloc kmem|smem SIZE, alloc skmem COUNT SIZE, write H OFFSET HEX,
// read H OFFSET LEN, free H. The answer starts with "ok" or "error".
std::string block_command(const std::string &verb, std::istringstream &in);
bool is_block_command(const std::string &verb);
void free_all_blocks();

} // namespace pbsim

#endif
