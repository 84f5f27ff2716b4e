#include "vboard/nand.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vboard/state.h"

namespace vboard {

namespace {

constexpr uint8_t kErasedByte = 0xFF;
constexpr char kPageErased = 0;
constexpr char kPageProgrammed = 1;
// Holes of the image are punched and filled in units of this size.
constexpr uint64_t kFsBlock = 4096;

class FileLock {
public:
    FileLock(int fd, int how) : fd_(fd) { ::flock(fd_, how); }
    ~FileLock() { ::flock(fd_, LOCK_UN); }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

private:
    int fd_;
};

int pread_all(int fd, void *buf, size_t len, uint64_t off)
{
    auto *p = static_cast<uint8_t *>(buf);
    while (len > 0) {
        ssize_t n = ::pread(fd, p, len, static_cast<off_t>(off));
        if (n <= 0) {
            return n == 0 ? -EIO : -errno;
        }
        p += n;
        off += static_cast<uint64_t>(n);
        len -= static_cast<size_t>(n);
    }
    return 0;
}

int pwrite_all(int fd, const void *buf, size_t len, uint64_t off)
{
    auto *p = static_cast<const uint8_t *>(buf);
    while (len > 0) {
        ssize_t n = ::pwrite(fd, p, len, static_cast<off_t>(off));
        if (n <= 0) {
            return n == 0 ? -EIO : -errno;
        }
        p += n;
        off += static_cast<uint64_t>(n);
        len -= static_cast<size_t>(n);
    }
    return 0;
}

// Reads the image, with holes read as erased bytes.
int read_image(int fd, uint64_t off, void *buf, size_t len)
{
    auto *p = static_cast<uint8_t *>(buf);
    uint64_t end = off + len;
    while (off < end) {
        off_t data = ::lseek(fd, static_cast<off_t>(off), SEEK_DATA);
        uint64_t hole_end = data < 0 ? end : std::min<uint64_t>(static_cast<uint64_t>(data), end);
        if (hole_end > off) {
            std::memset(p, kErasedByte, hole_end - off);
            p += hole_end - off;
            off = hole_end;
            continue;
        }
        off_t hole = ::lseek(fd, static_cast<off_t>(off), SEEK_HOLE);
        uint64_t data_end = hole < 0 ? end : std::min<uint64_t>(static_cast<uint64_t>(hole), end);
        int rc = pread_all(fd, p, data_end - off, off);
        if (rc != 0) {
            return rc;
        }
        p += data_end - off;
        off = data_end;
    }
    return 0;
}

// Makes the file blocks around [off, off+len) real data, so that writing part
// of a block does not leave zeros where the NAND reads 0xFF.
int materialise(int fd, uint64_t off, size_t len)
{
    uint64_t a = off / kFsBlock * kFsBlock;
    uint64_t b = (off + len + kFsBlock - 1) / kFsBlock * kFsBlock;
    off_t hole = ::lseek(fd, static_cast<off_t>(a), SEEK_HOLE);
    if (hole >= 0 && static_cast<uint64_t>(hole) >= b) {
        return 0;
    }
    std::vector<uint8_t> cover(b - a);
    int rc = read_image(fd, a, cover.data(), cover.size());
    return rc != 0 ? rc : pwrite_all(fd, cover.data(), cover.size(), a);
}

int fill_erased(int fd, uint64_t off, uint64_t len)
{
    std::vector<uint8_t> erased(static_cast<size_t>(len), kErasedByte);
    return pwrite_all(fd, erased.data(), erased.size(), off);
}

// Returns [off, off+len) to the erased state: whole file blocks become holes.
int erase_image(int fd, uint64_t off, uint64_t len)
{
    uint64_t a = (off + kFsBlock - 1) / kFsBlock * kFsBlock;
    uint64_t b = (off + len) / kFsBlock * kFsBlock;
    if (a < b && ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(a),
                             static_cast<off_t>(b - a)) == 0) {
        int rc = fill_erased(fd, off, a - off);
        return rc != 0 ? rc : fill_erased(fd, b, off + len - b);
    }
    return fill_erased(fd, off, len);
}

int set_page_states(int fd, uint64_t first_page, uint64_t count, char state)
{
    std::vector<char> states(static_cast<size_t>(count), state);
    return pwrite_all(fd, states.data(), states.size(), first_page);
}

std::string dev_name(const MtdRegion &r) { return "mtd" + std::to_string(r.unit); }

std::string hex(uint64_t v) { return format("0x%08llx", static_cast<unsigned long long>(v)); }

void note(Nand *nand, const std::string &line)
{
    if (nand->journal) {
        journal_line(nand->journal, line);
    }
}

uint64_t flash_operations(const Nand &nand)
{
    std::string text;
    return read_text_file(state_path(nand.dir, kFlashOps), &text) == 0 ? std::strtoull(text.c_str(), nullptr, 10) : 0;
}

// Once the power is cut (and the hook returned) the flash does nothing more.
bool power_is_cut(const Nand &nand)
{
    return nand.board.power_cut_after != 0 && flash_operations(nand) >= nand.board.power_cut_after;
}

// Counts one flash operation and cuts the power after the last one allowed.
// Caller holds the page-map lock, so the counter is shared by all processes.
void count_flash_operation(Nand *nand)
{
    uint64_t limit = nand->board.power_cut_after;
    if (limit == 0) {
        return;
    }
    uint64_t done = flash_operations(*nand) + 1;
    write_text_file(state_path(nand->dir, kFlashOps), std::to_string(done) + "\n");
    if (done == limit) {
        note(nand, format("powercut after %llu flash operations", static_cast<unsigned long long>(done)));
        if (nand->power_cut) {
            nand->power_cut();
        }
    }
}

bool program_fails(const Nand &nand, uint64_t page_abs)
{
    for (uint64_t off : nand.board.fail_program) {
        if (off >= page_abs && off < page_abs + nand.board.nand.writesize) {
            return true;
        }
    }
    return false;
}

bool block_is_bad(const Nand &nand, uint64_t abs)
{
    uint64_t block = abs / nand.board.nand.erasesize;
    const auto &bad = nand.board.bad_blocks;
    return std::find(bad.begin(), bad.end(), block) != bad.end();
}

uint64_t block_of(const Nand &nand, uint64_t off) { return off / nand.board.nand.erasesize; }

} // namespace

int nand_open(Nand *nand, const std::string &dir, Journal *journal, std::string *error)
{
    if (load_state_board(dir, &nand->board, error) != 0) {
        return -1;
    }
    nand->dir = dir;
    nand->journal = journal;
    nand->image_fd = ::open(state_path(dir, kNandImage).c_str(), O_RDWR | O_CLOEXEC);
    nand->pages_fd = ::open(state_path(dir, kNandPages).c_str(), O_RDWR | O_CLOEXEC);
    if (nand->image_fd < 0 || nand->pages_fd < 0) {
        *error = "cannot open the NAND files in " + dir + ": " + std::strerror(errno);
        nand_close(nand);
        return -1;
    }
    return 0;
}

void nand_close(Nand *nand)
{
    if (nand->image_fd >= 0) {
        ::close(nand->image_fd);
    }
    if (nand->pages_fd >= 0) {
        ::close(nand->pages_fd);
    }
    nand->image_fd = nand->pages_fd = -1;
}

ssize_t nand_read(Nand *nand, const MtdRegion &region, uint64_t off, void *buf, size_t len)
{
    if (off >= region.size || len == 0) {
        return 0;
    }
    uint64_t page = nand->board.nand.writesize;
    size_t n = static_cast<size_t>(std::min<uint64_t>(len, page - off % page));
    FileLock lock(nand->pages_fd, LOCK_SH);
    int rc = read_image(nand->image_fd, region.base + off, buf, n);
    if (rc != 0) {
        return rc;
    }
    if (nand->journal) {
        journal_count(nand->journal,
                      format("read %s block %llu", dev_name(region).c_str(),
                             static_cast<unsigned long long>(block_of(*nand, off))),
                      "pages", 1);
    }
    return static_cast<ssize_t>(n);
}

ssize_t nand_program(Nand *nand, const MtdRegion &region, uint64_t off, const void *buf, size_t len)
{
    const NandGeometry &g = nand->board.nand;
    std::string dev = dev_name(region);
    if (off % g.writesize != 0) {
        note(nand, "violation program " + dev + " " + hex(off) + " unaligned");
        return -EINVAL;
    }
    if (off >= region.size) {
        note(nand, "violation program " + dev + " " + hex(off) + " beyond end");
        return -ENOSPC;
    }
    if (len == 0) {
        return 0;
    }
    size_t n = std::min<size_t>(len, g.writesize);
    uint64_t abs = region.base + off;
    uint64_t page_index = abs / g.writesize;
    FileLock lock(nand->pages_fd, LOCK_EX);
    if (power_is_cut(*nand)) {
        return -EIO;
    }
    char state = kPageErased;
    int rc = pread_all(nand->pages_fd, &state, 1, page_index);
    if (rc != 0) {
        return rc;
    }
    if (state != kPageErased) {
        note(nand, "violation program " + dev + " " + hex(off) + " not erased");
        return -EIO;
    }
    if (program_fails(*nand, abs)) {
        note(nand, "fault program " + dev + " " + hex(off));
        count_flash_operation(nand);
        return -EIO;
    }
    std::vector<uint8_t> data(g.writesize, kErasedByte);
    std::memcpy(data.data(), buf, n);
    rc = materialise(nand->image_fd, abs, data.size());
    if (rc == 0) {
        rc = pwrite_all(nand->image_fd, data.data(), data.size(), abs);
    }
    if (rc == 0) {
        rc = set_page_states(nand->pages_fd, page_index, 1, kPageProgrammed);
    }
    if (rc != 0) {
        return rc;
    }
    if (nand->journal) {
        journal_count(nand->journal,
                      format("program %s block %llu", dev.c_str(),
                             static_cast<unsigned long long>(block_of(*nand, off))),
                      "pages", 1);
    }
    count_flash_operation(nand);
    return static_cast<ssize_t>(n);
}

int nand_erase(Nand *nand, const MtdRegion &region, uint64_t start, uint64_t len)
{
    const NandGeometry &g = nand->board.nand;
    std::string dev = dev_name(region);
    if (start % g.erasesize != 0 || len % g.erasesize != 0 || len == 0) {
        note(nand, "violation erase " + dev + " " + hex(start) + " " + hex(len) + " unaligned");
        return -EINVAL;
    }
    if (start >= region.size || len > region.size - start) {
        note(nand, "violation erase " + dev + " " + hex(start) + " " + hex(len) + " beyond end");
        return -EINVAL;
    }
    FileLock lock(nand->pages_fd, LOCK_EX);
    for (uint64_t off = start; off < start + len; off += g.erasesize) {
        uint64_t abs = region.base + off;
        if (power_is_cut(*nand)) {
            return -EIO;
        }
        if (block_is_bad(*nand, abs)) {
            note(nand, "fault erase " + dev + " " + hex(off) + " bad block");
            return -EIO;
        }
        int rc = erase_image(nand->image_fd, abs, g.erasesize);
        if (rc == 0) {
            rc = set_page_states(nand->pages_fd, abs / g.writesize, g.erasesize / g.writesize, kPageErased);
        }
        if (rc != 0) {
            return rc;
        }
        note(nand, "erase " + dev + " " + hex(off) + " " + hex(g.erasesize));
        count_flash_operation(nand);
    }
    return 0;
}

int nand_is_bad(const Nand &nand, const MtdRegion &region, uint64_t off)
{
    return block_is_bad(nand, region.base + off) ? 1 : 0;
}

int nand_peek(Nand *nand, uint64_t offset, void *buf, size_t len)
{
    if (offset > nand->board.nand.size || len > nand->board.nand.size - offset) {
        return -EINVAL;
    }
    FileLock lock(nand->pages_fd, LOCK_SH);
    return read_image(nand->image_fd, offset, buf, len);
}

int nand_seed(Nand *nand, uint64_t offset, const void *buf, size_t len)
{
    const NandGeometry &g = nand->board.nand;
    if (offset > g.size || len > g.size - offset) {
        return -EINVAL;
    }
    if (len == 0) {
        return 0;
    }
    FileLock lock(nand->pages_fd, LOCK_EX);
    int rc = materialise(nand->image_fd, offset, len);
    if (rc == 0) {
        rc = pwrite_all(nand->image_fd, buf, len, offset);
    }
    uint64_t first = offset / g.writesize;
    uint64_t last = (offset + len - 1) / g.writesize;
    return rc != 0 ? rc : set_page_states(nand->pages_fd, first, last - first + 1, kPageProgrammed);
}

} // namespace vboard
