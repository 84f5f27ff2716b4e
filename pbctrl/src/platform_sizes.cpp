#include "platform_sizes.h"

// Only the virtual board's libraries have these: weak, so that the library
// loads on the board's own and uses them only where they exist.
extern "C" {
__attribute__((weak)) uint32_t x_kmem_block_size(HANDLE_T h_block);
__attribute__((weak)) uint32_t rpc_local_region_size(const void *pv_addr);
}

namespace pbctrl {

namespace {

bool block_sizes_known() { return x_kmem_block_size != nullptr; }

// Width of the out place a type code names, 0 for any other code.
uint32_t place_width(uint32_t e_type)
{
    switch (e_type) {
    case ARG_TYPE_REF_UINT8_OUT:
    case ARG_TYPE_REF_BYTE_OUT:
        return 1;
    case ARG_TYPE_REF_UINT16_OUT:
        return 2;
    case ARG_TYPE_REF_UINT32_OUT:
        return 4;
    case ARG_TYPE_REF_UINT64_OUT:
        return 8;
    default:
        return 0;
    }
}

} // namespace

bool block_holds(HANDLE_T h_block, uint64_t ui8_bytes)
{
    return !block_sizes_known() || x_kmem_block_size(h_block) >= ui8_bytes;
}

bool block_is(HANDLE_T h_block, uint32_t ui4_bytes)
{
    return !block_sizes_known() || x_kmem_block_size(h_block) == ui4_bytes;
}

uint64_t blocks_bytes(uint32_t ui4_count, const HANDLE_T *ph_list)
{
    if (!block_sizes_known())
        return kUnboundedBytes;
    uint64_t size = 0;
    for (uint32_t i = 0; i < ui4_count; ++i)
        size += x_kmem_block_size(ph_list[i]);
    return size;
}

void *engine_record(const RPC_ARG_T &arg, uint64_t ui8_bytes)
{
    void *p = rpc_arg_ptr(arg);
    if (!p || (arg.e_type != ARG_TYPE_DESC_IN && arg.e_type != ARG_TYPE_DESC_OUT))
        return nullptr;
    if (rpc_local_region_size && rpc_local_region_size(p) < ui8_bytes)
        return nullptr;
    return p;
}

void *engine_place(const RPC_ARG_T &arg, uint32_t ui4_bytes)
{
    void *p = rpc_arg_ptr(arg);
    return p && place_width(arg.e_type) >= ui4_bytes ? p : nullptr;
}

} // namespace pbctrl
