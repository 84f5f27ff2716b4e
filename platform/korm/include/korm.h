/*
 * libkorm: shared-memory blocks that every process of the board can reach.
 *
 * A block is named by a 32-bit handle that is unique across processes
 * (0 means failure or none). Sizes are rounded up to whole pages. Whoever
 * allocates a block frees it; the others only map and unmap it. Freeing
 * removes the block's name at once; mappings made before stay valid until
 * they are unmapped.
 *
 * The three families (kmem, skmem for handle lists made by the engine, smem)
 * share one handle space, so a handle made by one family maps with another.
 * All functions are thread-safe. Bad input (unknown handle, zero size, an
 * address that no map returned) gives 0 or a negative result and changes
 * nothing.
 */
#ifndef KORM_H
#define KORM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
/* Everything declared here is the library's exported API; the rest of it is hidden. */
#pragma GCC visibility push(default)

typedef uint32_t HANDLE_T;

#define KORM_OK 0
#define KORM_ERR_INV_ARG (-1)
#define KORM_ERR_NOT_FOUND (-2)

HANDLE_T x_kmem_block_alloc(uint32_t u4_size);
int32_t x_kmem_block_free(HANDLE_T h_block);
void *x_kmem_block_map(HANDLE_T h_block);
int32_t x_kmem_block_unmap(void *pv_addr);
/* Maps the blocks back to back, in list order, in one address range. */
void *x_kmem_block_multimap(uint32_t u4_count, const HANDLE_T *ph_blocks);

void *x_skmem_block_map(HANDLE_T h_block);
int32_t x_skmem_block_unmap(void *pv_addr);
void *x_skmem_block_multimap(uint32_t u4_count, const HANDLE_T *ph_blocks);

HANDLE_T x_smem_block_alloc(uint32_t u4_size);
void *x_smem_block_map(HANDLE_T h_block);
int32_t x_smem_block_unmap(void *pv_addr);
int32_t x_smem_block_free(HANDLE_T h_block);

/* Size in bytes (a page multiple) of an existing block, 0 if unknown. */
uint32_t x_kmem_block_size(HANDLE_T h_block);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
