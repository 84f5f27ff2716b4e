// Shared-memory blocks on POSIX shared memory.
//
// A block is the shared-memory object "/korm.<handle>". Handles are drawn at
// random and claimed with O_EXCL, so two processes can never hold the same
// live handle without any shared counter to set up or repair.
#include "korm.h"

#include "common/contain.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

namespace {

constexpr int kMaxAllocAttempts = 64;
// A multimap of more blocks than this is surely a corrupt count.
constexpr uint32_t kMaxMultimapCount = 4096;

struct BlockName {
    char text[32];
};

BlockName name_of(HANDLE_T handle)
{
    BlockName name{};
    std::snprintf(name.text, sizeof name.text, "/korm.%08x", handle);
    return name;
}

size_t page_size()
{
    static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

// 0 when the rounded size would not fit in 32 bits.
size_t round_to_pages(uint32_t bytes)
{
    const uint64_t page = page_size();
    const uint64_t rounded = (static_cast<uint64_t>(bytes) + page - 1) / page * page;
    return rounded > UINT32_MAX ? 0 : static_cast<size_t>(rounded);
}

HANDLE_T random_handle()
{
    HANDLE_T handle = 0;
    while (handle == 0) {
        if (getrandom(&handle, sizeof handle, 0) != static_cast<ssize_t>(sizeof handle))
            return 0;
    }
    return handle;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

// Size of the block behind an open descriptor, 0 when it cannot be told.
// Another process may have made the object: only sizes this library could
// have made (whole pages, 32 bits) are believed.
size_t block_size(int fd)
{
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size <= 0)
        return 0;
    const auto size = static_cast<uint64_t>(st.st_size);
    if (size > UINT32_MAX || size % page_size() != 0)
        return 0;
    return static_cast<size_t>(size);
}

// Every range this process mapped, by start address, so that unmap knows
// how much to release and ignores addresses it never handed out.
class MappingTable {
public:
    void add(void *addr, size_t length)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ranges_[addr] = length;
    }

    bool remove(void *addr, size_t *length)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = ranges_.find(addr);
        if (it == ranges_.end())
            return false;
        *length = it->second;
        ranges_.erase(it);
        return true;
    }

private:
    std::mutex mutex_;
    std::map<void *, size_t> ranges_;
};

MappingTable &mappings()
{
    static MappingTable table;
    return table;
}

// A mapping the table cannot hold is given back rather than lost.
void record_mapping(void *addr, size_t length)
{
    try {
        mappings().add(addr, length);
    } catch (...) {
        munmap(addr, length);
        throw;
    }
}

HANDLE_T alloc_block(uint32_t size)
{
    const size_t length = round_to_pages(size);
    if (length == 0)
        return 0;
    for (int attempt = 0; attempt < kMaxAllocAttempts; ++attempt) {
        const HANDLE_T handle = random_handle();
        if (handle == 0)
            return 0;
        const BlockName name = name_of(handle);
        FileDescriptor fd(shm_open(name.text, O_RDWR | O_CREAT | O_EXCL, 0666));
        if (!fd.valid()) {
            if (errno == EEXIST)
                continue;
            return 0;
        }
        if (ftruncate(fd.get(), static_cast<off_t>(length)) != 0) {
            shm_unlink(name.text);
            return 0;
        }
        return handle;
    }
    return 0;
}

int32_t free_block(HANDLE_T handle)
{
    if (handle == 0)
        return KORM_ERR_INV_ARG;
    return shm_unlink(name_of(handle).text) == 0 ? KORM_OK : KORM_ERR_NOT_FOUND;
}

// Maps one block at `where` (MAP_FIXED) or anywhere (nullptr).
// Returns the address and stores the block's length; nullptr on failure.
void *map_block_at(HANDLE_T handle, void *where, size_t *length)
{
    if (handle == 0)
        return nullptr;
    FileDescriptor fd(shm_open(name_of(handle).text, O_RDWR, 0));
    if (!fd.valid())
        return nullptr;
    *length = block_size(fd.get());
    if (*length == 0)
        return nullptr;
    const int flags = MAP_SHARED | (where ? MAP_FIXED : 0);
    void *addr = mmap(where, *length, PROT_READ | PROT_WRITE, flags, fd.get(), 0);
    return addr == MAP_FAILED ? nullptr : addr;
}

void *map_block(HANDLE_T handle)
{
    size_t length = 0;
    void *addr = map_block_at(handle, nullptr, &length);
    if (addr)
        record_mapping(addr, length);
    return addr;
}

// Sizes of all blocks of the list, or an empty vector if one is unknown.
std::vector<size_t> block_sizes(uint32_t count, const HANDLE_T *handles)
{
    std::vector<size_t> sizes;
    sizes.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        FileDescriptor fd(handles[i] ? shm_open(name_of(handles[i]).text, O_RDONLY, 0) : -1);
        const size_t size = fd.valid() ? block_size(fd.get()) : 0;
        if (size == 0)
            return {};
        sizes.push_back(size);
    }
    return sizes;
}

void *multimap_blocks(uint32_t count, const HANDLE_T *handles)
{
    if (count == 0 || count > kMaxMultimapCount || handles == nullptr)
        return nullptr;
    const std::vector<size_t> sizes = block_sizes(count, handles);
    if (sizes.empty())
        return nullptr;
    // On 32 bits the sum can pass the address space: a wrapped total would
    // reserve too little and MAP_FIXED would land on live mappings.
    uint64_t sum = 0;
    for (size_t size : sizes)
        sum += size;
    if (sum > static_cast<uint64_t>(PTRDIFF_MAX))
        return nullptr;
    const auto total = static_cast<size_t>(sum);

    // Reserve the whole range first so that no other mapping of this
    // process can land between the blocks.
    void *base = mmap(nullptr, total, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return nullptr;
    auto *cursor = static_cast<uint8_t *>(base);
    for (uint32_t i = 0; i < count; ++i) {
        size_t length = 0;
        // A block may have been freed and re-made with another size since
        // block_sizes() looked: the range would then no longer tile.
        if (map_block_at(handles[i], cursor, &length) == nullptr || length != sizes[i]) {
            munmap(base, total);
            return nullptr;
        }
        cursor += length;
    }
    record_mapping(base, total);
    return base;
}

int32_t unmap_range(void *addr)
{
    size_t length = 0;
    if (addr == nullptr || !mappings().remove(addr, &length))
        return KORM_ERR_NOT_FOUND;
    munmap(addr, length);
    return KORM_OK;
}

uint32_t size_of_block(HANDLE_T handle)
{
    const std::vector<size_t> sizes = block_sizes(1, &handle);
    return sizes.empty() ? 0 : static_cast<uint32_t>(sizes[0]);
}

} // namespace

extern "C" {

HANDLE_T x_kmem_block_alloc(uint32_t u4_size)
{
    return contain(HANDLE_T{0}, [&] { return alloc_block(u4_size); });
}
int32_t x_kmem_block_free(HANDLE_T h_block)
{
    return contain(int32_t{KORM_ERR_INV_ARG}, [&] { return free_block(h_block); });
}
void *x_kmem_block_map(HANDLE_T h_block)
{
    return contain(static_cast<void *>(nullptr), [&] { return map_block(h_block); });
}
int32_t x_kmem_block_unmap(void *pv_addr)
{
    return contain(int32_t{KORM_ERR_INV_ARG}, [&] { return unmap_range(pv_addr); });
}
void *x_kmem_block_multimap(uint32_t u4_count, const HANDLE_T *ph_blocks)
{
    return contain(static_cast<void *>(nullptr), [&] { return multimap_blocks(u4_count, ph_blocks); });
}

void *x_skmem_block_map(HANDLE_T h_block)
{
    return contain(static_cast<void *>(nullptr), [&] { return map_block(h_block); });
}
int32_t x_skmem_block_unmap(void *pv_addr)
{
    return contain(int32_t{KORM_ERR_INV_ARG}, [&] { return unmap_range(pv_addr); });
}
void *x_skmem_block_multimap(uint32_t u4_count, const HANDLE_T *ph_blocks)
{
    return contain(static_cast<void *>(nullptr), [&] { return multimap_blocks(u4_count, ph_blocks); });
}

HANDLE_T x_smem_block_alloc(uint32_t u4_size)
{
    return contain(HANDLE_T{0}, [&] { return alloc_block(u4_size); });
}
void *x_smem_block_map(HANDLE_T h_block)
{
    return contain(static_cast<void *>(nullptr), [&] { return map_block(h_block); });
}
int32_t x_smem_block_unmap(void *pv_addr)
{
    return contain(int32_t{KORM_ERR_INV_ARG}, [&] { return unmap_range(pv_addr); });
}
int32_t x_smem_block_free(HANDLE_T h_block)
{
    return contain(int32_t{KORM_ERR_INV_ARG}, [&] { return free_block(h_block); });
}

uint32_t x_kmem_block_size(HANDLE_T h_block)
{
    return contain(uint32_t{0}, [&] { return size_of_block(h_block); });
}

} // extern "C"
