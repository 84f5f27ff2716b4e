/* libkorm.so as the board offers it: the shared-memory blocks' interface. */
#include "interface_only.h"

INTERFACE_FUNCTION(x_kmem_block_alloc, INTERFACE_NONE)
INTERFACE_FUNCTION(x_kmem_block_free, INTERFACE_FAILED)
INTERFACE_FUNCTION(x_kmem_block_map, INTERFACE_NONE)
INTERFACE_FUNCTION(x_kmem_block_unmap, INTERFACE_FAILED)
INTERFACE_FUNCTION(x_kmem_block_multimap, INTERFACE_NONE)
INTERFACE_FUNCTION(x_skmem_block_map, INTERFACE_NONE)
INTERFACE_FUNCTION(x_skmem_block_unmap, INTERFACE_FAILED)
INTERFACE_FUNCTION(x_skmem_block_multimap, INTERFACE_NONE)
INTERFACE_FUNCTION(x_smem_block_alloc, INTERFACE_NONE)
INTERFACE_FUNCTION(x_smem_block_map, INTERFACE_NONE)
INTERFACE_FUNCTION(x_smem_block_unmap, INTERFACE_FAILED)
INTERFACE_FUNCTION(x_smem_block_free, INTERFACE_FAILED)
