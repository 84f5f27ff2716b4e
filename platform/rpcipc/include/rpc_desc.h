/*
 * Descriptor table of the records that cross the transport.
 *
 * A descriptor gives a record's size and the offsets of its pointer
 * members. Records holding a union have one variant per union member,
 * chosen by the member name given at registration ("uBufferModelParam.tUriInfo").
 * A name that matches no variant selects the record's own variant (names
 * such as "pv_get_info" only label the argument); a pure union has none,
 * so an unknown member name is refused there.
 */
#ifndef RPC_DESC_H
#define RPC_DESC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
/* Everything declared here is the library's exported API; the rest of it is hidden. */
#pragma GCC visibility push(default)

typedef struct {
    const char *ps_member; /* NULL: the record itself */
    uint32_t ui4_num_ptrs;
    const uint32_t *pui4_ptr_offs;
} RPC_DESC_VARIANT_T;

typedef struct {
    uint32_t ui4_num;
    const char *ps_type;
    uint32_t z_size;
    uint32_t ui4_num_variants;
    const RPC_DESC_VARIANT_T *pt_variants;
} RPC_DESC_T;

/* NULL for a number that is not in the table. */
const RPC_DESC_T *__rpc_get_desc__(uint32_t ui4_num);
uint32_t rpc_desc_count(void);
const RPC_DESC_T *rpc_desc_at(uint32_t ui4_index);
/* The variant a registration with this member name uses, or NULL. */
const RPC_DESC_VARIANT_T *rpc_desc_variant(const RPC_DESC_T *pt_desc, const char *ps_member);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
