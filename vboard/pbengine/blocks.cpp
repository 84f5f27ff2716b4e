#include "blocks.h"

#include "korm.h"
#include "sim_text.h"

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace pbsim {

namespace {

constexpr size_t kMaxBlocks = 256;
constexpr uint64_t kMaxBlockSize = 64u << 20;
constexpr uint64_t kMaxListCount = 256;
constexpr uint64_t kMaxReadLen = 4096;

enum class Family { Kmem, Smem };

struct Blocks {
    std::mutex mu;
    std::map<HANDLE_T, Family> made; // what reset must free
};

Blocks &blocks()
{
    static auto *b = new Blocks;
    return *b;
}

HANDLE_T make(Family family, uint32_t size)
{
    Blocks &b = blocks();
    std::lock_guard<std::mutex> lock(b.mu);
    if (b.made.size() >= kMaxBlocks)
        return 0;
    const HANDLE_T h = family == Family::Kmem ? x_kmem_block_alloc(size) : x_smem_block_alloc(size);
    if (h)
        b.made[h] = family;
    return h;
}

void release(HANDLE_T h, Family family)
{
    if (family == Family::Kmem)
        x_kmem_block_free(h);
    else
        x_smem_block_free(h);
}

// Copies between a block and a buffer, inside the block only.
bool transfer(HANDLE_T h, uint64_t offset, void *buf, size_t len, bool into_block)
{
    const uint32_t size = x_kmem_block_size(h);
    if (size == 0 || offset > size || size - offset < len)
        return false;
    auto *p = static_cast<uint8_t *>(x_kmem_block_map(h));
    if (!p)
        return false;
    if (into_block)
        std::memcpy(p + offset, buf, len);
    else
        std::memcpy(buf, p + offset, len);
    x_kmem_block_unmap(p);
    return true;
}

// COUNT blocks of SIZE and a list block holding their handles (u32 LE).
std::string alloc_list(uint64_t count, uint64_t size)
{
    if (count == 0 || count > kMaxListCount)
        return "error bad count";
    std::vector<uint8_t> list;
    std::string answer;
    for (uint64_t i = 0; i < count; ++i) {
        const HANDLE_T h = make(Family::Kmem, static_cast<uint32_t>(size));
        if (!h)
            return "error cannot allocate";
        for (int byte = 0; byte < 4; ++byte)
            list.push_back(static_cast<uint8_t>(h >> (8 * byte)));
        answer += " " + std::to_string(h);
    }
    const HANDLE_T lh = make(Family::Kmem, static_cast<uint32_t>(list.size()));
    if (!lh || !transfer(lh, 0, list.data(), list.size(), true))
        return "error cannot allocate";
    return "ok " + std::to_string(lh) + answer;
}

} // namespace

std::string block_command(const std::string &verb, std::istringstream &in)
{
    std::string a, b, c;
    in >> a >> b >> c;
    uint64_t n = 0, m = 0;
    if (verb == "alloc") {
        if (a == "skmem" && parse_number(b, n) && parse_number(c, m) && m && m <= kMaxBlockSize)
            return alloc_list(n, m);
        if ((a == "kmem" || a == "smem") && parse_number(b, n) && n && n <= kMaxBlockSize) {
            const HANDLE_T h = make(a == "kmem" ? Family::Kmem : Family::Smem, static_cast<uint32_t>(n));
            return h ? "ok " + std::to_string(h) : "error cannot allocate";
        }
        return "error usage: alloc kmem|smem SIZE, alloc skmem COUNT SIZE";
    }
    if (!parse_number(a, n))
        return "error bad handle";
    const auto h = static_cast<HANDLE_T>(n);
    if (verb == "free") {
        Blocks &bl = blocks();
        std::lock_guard<std::mutex> lock(bl.mu);
        auto it = bl.made.find(h);
        if (it == bl.made.end())
            return "error not made here";
        release(h, it->second);
        bl.made.erase(it);
        return "ok";
    }
    std::vector<uint8_t> bytes;
    if (verb == "write" && parse_number(b, m) && parse_hex(c, bytes))
        return transfer(h, m, bytes.data(), bytes.size(), true) ? "ok" : "error outside the block";
    uint64_t len = 0;
    if (verb == "read" && parse_number(b, m) && parse_number(c, len) && len <= kMaxReadLen) {
        bytes.resize(len);
        return transfer(h, m, bytes.data(), bytes.size(), false) ? "ok " + hex(bytes.data(), len)
                                                                 : "error outside the block";
    }
    return "error usage: write H OFFSET HEX, read H OFFSET LEN, free H";
}

uint32_t alloc_kmem_block(uint32_t size) { return make(Family::Kmem, size); }

bool free_made_block(uint32_t handle)
{
    Blocks &b = blocks();
    std::lock_guard<std::mutex> lock(b.mu);
    auto it = b.made.find(handle);
    if (it == b.made.end())
        return false;
    release(it->first, it->second);
    b.made.erase(it);
    return true;
}

void free_all_blocks()
{
    Blocks &b = blocks();
    std::lock_guard<std::mutex> lock(b.mu);
    for (const auto &block : b.made)
        release(block.first, block.second);
    b.made.clear();
}

} // namespace pbsim
