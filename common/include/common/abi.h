// Compile-time facts about the target's data model.
//
// Records that the platform defines with 32-bit addresses or function
// handles are declared with pointer-width types; their documented offsets
// hold on the board (ILP32) and are checked there with BOARD_ILP32_ASSERT.
#ifndef COMMON_ABI_H
#define COMMON_ABI_H

#include <cstdint>

#if UINTPTR_MAX == 0xFFFFFFFFu
#define BOARD_TARGET_ILP32 1
#define BOARD_ILP32_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define BOARD_TARGET_ILP32 0
#define BOARD_ILP32_ASSERT(cond, msg) static_assert(true, msg)
#endif

#endif
