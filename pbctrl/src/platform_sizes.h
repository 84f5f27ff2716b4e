// Sizes the engine's memory and the transport's regions really have. The
// board's own platform libraries cannot tell them (only the virtual
// board's can), so each check falls back to what the argument's type code
// or the engine's answer says, and is as strict as the platform allows.
#ifndef PBCTRL_PLATFORM_SIZES_H
#define PBCTRL_PLATFORM_SIZES_H

#include "korm.h"
#include "rpcipc.h"

#include <cstdint>

namespace pbctrl {

// What blocks_bytes answers where the platform cannot tell a block's size.
constexpr uint64_t kUnboundedBytes = UINT64_MAX;

// The block holds at least ui8_bytes (true where the platform cannot tell).
bool block_holds(HANDLE_T h_block, uint64_t ui8_bytes);
// The block is exactly ui4_bytes long (true where the platform cannot tell).
bool block_is(HANDLE_T h_block, uint32_t ui4_bytes);
// The bytes of the listed blocks together, or kUnboundedBytes.
uint64_t blocks_bytes(uint32_t ui4_count, const HANDLE_T *ph_list);

// The record or buffer an argument brought, if it holds ui8_bytes; null
// for anything else. Where the transport cannot tell a region's size, a
// record's type code is taken as its word.
void *engine_record(const RPC_ARG_T &arg, uint64_t ui8_bytes);
// The out place an argument brought, if its type code makes it at least
// ui4_bytes wide; null otherwise.
void *engine_place(const RPC_ARG_T &arg, uint32_t ui4_bytes);

} // namespace pbctrl

#endif
