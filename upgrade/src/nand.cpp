#include "nand.h"

#include "mtd_geometry.h"
#include "records.h"
#include "trace.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace upg;

namespace {

constexpr uint32_t kMaxMtd = 64;
constexpr uint32_t kPageBufBytes = 8192;
constexpr uint32_t kAdptPitMinOffset = 0x100000;

t_adpt_pit adpt_pit;
int cached_block_size;

// Blocks of /dev/mtd0 whose page program failed in this run. Later writes
// step over them too, so that data written in several calls stays in
// order behind a failed block instead of overwriting what moved there.
constexpr int kMaxFailedBlocks = 64;
uint32_t failed_blocks[kMaxFailedBlocks];
int failed_count;

bool block_failed(uint32_t b)
{
    for (int i = 0; i < failed_count; ++i)
        if (failed_blocks[i] == b)
            return true;
    return false;
}

void note_failed_block(uint32_t b)
{
    if (failed_count < kMaxFailedBlocks && !block_failed(b))
        failed_blocks[failed_count++] = b;
}

// Where offset of a partition starting at base lies once the failed blocks
// before it are stepped over.
uint32_t past_failed_blocks(uint32_t base, uint32_t offset, uint32_t erasesize)
{
    if (erasesize == 0)
        return base + offset;
    uint32_t p = base;
    for (uint32_t left = offset;;) {
        if (block_failed(p - p % erasesize)) {
            p += erasesize - p % erasesize;
        } else if (left >= erasesize - p % erasesize) {
            left -= erasesize - p % erasesize;
            p += erasesize - p % erasesize;
        } else {
            return p + left;
        }
    }
}

std::string mtd_path(uint32_t id) { return "/dev/mtd" + std::to_string(id); }

int open_mtd(uint32_t id, int flags)
{
    if (id > kMaxMtd) {
        errno = ENODEV;
        return -1;
    }
    return open(mtd_path(id).c_str(), flags);
}

unsigned addr32(const void *p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

// The texts of one read operation.
struct t_read_texts {
    const char *name;
    const char *open_fail;
    const char *info_fail;
    const char *fit_image;
    const char *fit_error;
    const char *page_error;
    const char *short_read;
};

// The texts of one write operation.
struct t_write_texts {
    const char *name;
    const char *open_fail;
    const char *info_fail;
    const char *fit_image;
    const char *fit_error;
    const char *block;
    const char *page_read_error;
    const char *erase;
    const char *erase_fail;
    const char *pwrite_error;
    const char *erase_failed_write;
    const char *retry_erase_fail;
    const char *partial;
};

const t_read_texts kMpReadTexts = {
    "i4MpDataRead",
    "[i4MpDataRead] <%s,%d> Can't open %s\n",
    "[i4MpDataRead] <%s,%d> Can't get device capability, ret = %d\n",
    "[i4MpDataWrite] <%s,%d> Image %d bytes, NAND page %d bytes, OOB area %u bytes, device size %u bytes\n",
    "[i4MpDataWrite] Error : Input file can not fit into device",
    "[i4MpDataRead] <%s,%d> Page read error occur at : 0x%X\n",
    "[i4MpDataRead] <%s> Can't read enough data, u4RdByteCnt = 0x%x, u4MemLen = 0x%x\n",
};

const t_read_texts kNfbReadTexts = {
    "i4NFBPartitionRead",
    "[i4NFBPartitionRead] <%s,%d> Can't open %s\n",
    "[i4NFBPartitionRead] <%s,%d> Can't get device capability, ret = %d\n",
    "[i4NFBPartitionRead] <%s,%d> Image %d bytes, NAND page %d bytes, OOB area %u bytes, device size %u bytes\n",
    "[i4NFBPartitionRead] Error : Input file can not fit into device",
    "[i4NFBPartitionRead] <%s,%d> Page read error occur at : 0x%X\n",
    "[i4NFBPartitionRead] <%s> Can't read enough data, u4RdByteCnt = 0x%x, u4MemLen = 0x%x\n",
};

const t_write_texts kMpWriteTexts = {
    "i4MpDataWrite",
    "[i4MpDataWrite] <%s,%d> Can't open %s\n",
    "[i4MpDataWrite] <%s,%d> Can't get device capability\n",
    "[i4MpDataWrite] <%s,%d> Image %d bytes, NAND page %d bytes, OOB area %u bytes, device size %u bytes\n",
    "[i4MpDataWrite] Error : Input file can not fit into device",
    "[i4MpDataWrite] Try to writing data to block %d at offset 0x%x\n",
    "[i4MpDataWrite]Page read error occur at : 0x%x\n",
    "[i4MpDataWrite] Erasing this block before write from 0x%08lX-0x%08lX\n",
    "[i4MpDataWrite] MEMERASE failed !!",
    "[i4MpDataWrite] <%s> pwrite error at offset 0x%x\n",
    "[i4MpDataWrite] <%s> Erasing failed write from 0x%08lX-0x%08lX\n",
    "[i4MpDataWrite] <%s> MEMERASE failed !!\n",
    "[i4MpDataWrite] <%s> Data was only partially written due to error, imglen = 0x%x\n",
};

const t_write_texts kNfbWriteTexts = {
    "i4NFBPartitionWrite",
    "[i4NFBPartitionWrite] <%s,%d> Can't open %s\n",
    "[i4NFBPartitionWrite] <%s,%d> Can't get device capability\n",
    "[i4NFBPartitionWrite] <%s,%d> Image %d bytes, NAND page %d bytes, OOB area %u bytes, device size %u bytes\n",
    "[i4NFBPartitionWrite] Error : Input file can not fit into device",
    "[i4NFBPartitionWrite] Try to writing data to block %d at offset 0x%x\n",
    "[nand part read]Page read error occur at : 0x%x\n",
    "[i4NFBPartitionWrite] Erasing this block before write from 0x%08lX-0x%08lX\n",
    "[i4NFBPartitionWrite] MEMERASE failed !!",
    "[i4NFBPartitionWrite] <%s> pwrite error at offset 0x%x\n",
    "[i4NFBPartitionWrite] <%s> Erasing failed write from 0x%08lX-0x%08lX\n",
    "[i4NFBPartitionWrite] <%s> MEMERASE failed !!\n",
    "[i4NFBPartitionWrite] <%s> Data was only partially written due to error, imglen = 0x%x\n",
};

// Where a transfer goes: the open device, its geometry, the first byte,
// the end of the region it may touch and the base its messages count from.
struct t_span {
    int fd;
    mtd_info_user info;
    uint32_t start;
    uint32_t limit;
    uint32_t base;
    bool whole_nand; // failed blocks are remembered for /dev/mtd0 only
};

// Only whole pages count towards the room a transfer needs.
bool fits(const mtd_info_user &info, uint32_t room, uint32_t len)
{
    return info.writesize * (len / info.writesize) <= room;
}

int erase_block(int fd, uint32_t b, uint32_t erasesize)
{
    erase_info_user e{b, erasesize};
    return ioctl(fd, kMemErase, &e);
}

int read_span(const t_read_texts &t, const t_span &s, uint8_t *dst, uint32_t len)
{
    uint32_t ws = s.info.writesize, p = s.start, c = 0;
    while (p < s.limit && c < len) {
        // Never across a page boundary: an unaligned start first reads up to it.
        uint32_t rest = len - c, to_boundary = ws - p % ws;
        uint32_t chunk = rest < to_boundary ? rest : to_boundary;
        if (pread(s.fd, dst + c, chunk, p) != static_cast<ssize_t>(chunk)) {
            std::printf(t.page_error, t.name, __LINE__, p);
            return -1;
        }
        p += chunk;
        c += chunk;
    }
    if (c < len) {
        std::printf(t.short_read, t.name, c, len);
        return -1;
    }
    return 0;
}

// Reads the whole block at b page by page into copy (0xFF past the device).
bool read_block(const t_write_texts &t, const t_span &s, uint32_t b, uint8_t *copy)
{
    uint32_t ws = s.info.writesize;
    std::memset(copy, 0xFF, s.info.erasesize);
    for (uint32_t q = b; q < b + s.info.erasesize && q < s.info.size; q += ws) {
        if (pread(s.fd, copy + (q - b), ws, q) != static_cast<ssize_t>(ws)) {
            std::printf(t.page_read_error, q);
            return false;
        }
    }
    return true;
}

enum { kBlockDone = 0, kBlockEnded = 1, kBlockSkipped = 2, kBlockFatal = 3 };

// Rewrites the block at b: taken new bytes at p, the old bytes around them
// when the block was read. kBlockSkipped when a page would not program.
int write_block(const t_write_texts &t, const t_span &s, uint32_t b, uint32_t p, const uint8_t *src, uint32_t taken,
                uint8_t *copy, uint8_t *page)
{
    uint32_t es = s.info.erasesize, ws = s.info.writesize;
    bool keep_old = p > b || p + taken < b + es;
    if (keep_old && !read_block(t, s, b, copy))
        return kBlockEnded;
    std::printf(t.erase, static_cast<unsigned long>(b), static_cast<unsigned long>(b + es - 1));
    if (erase_block(s.fd, b, es) < 0) {
        std::printf("%s", t.erase_fail);
        return kBlockEnded;
    }
    for (uint32_t q = b; q < b + es && q < s.info.size; q += ws) {
        if (keep_old)
            std::memcpy(page, copy + (q - b), ws);
        else
            std::memset(page, 0xFF, ws);
        uint32_t lo = q > p ? q : p, hi = q + ws < p + taken ? q + ws : p + taken;
        if (lo < hi)
            std::memcpy(page + (lo - q), src + (lo - p), hi - lo);
        if (pwrite(s.fd, page, ws, q) == static_cast<ssize_t>(ws))
            continue;
        std::printf(t.pwrite_error, t.name, q);
        std::printf(t.erase_failed_write, t.name, static_cast<unsigned long>(b),
                    static_cast<unsigned long>(b + es - 1));
        if (erase_block(s.fd, b, es) < 0) {
            std::printf(t.retry_erase_fail, t.name);
            return kBlockFatal;
        }
        return kBlockSkipped;
    }
    return kBlockDone;
}

int write_span(const t_write_texts &t, const t_span &s, const uint8_t *data, uint32_t len)
{
    uint32_t es = s.info.erasesize;
    if (s.info.writesize == 0 || s.info.writesize > kPageBufBytes || es == 0 || es % s.info.writesize != 0) {
        std::printf("[%s] unsupported page size %u, block size %u\n", t.name, s.info.writesize, es);
        return -1;
    }
    uint8_t *page = static_cast<uint8_t *>(std::malloc(kPageBufBytes));
    uint8_t *copy = static_cast<uint8_t *>(std::malloc(es));
    int rc = 0;
    uint32_t p = s.start, r = len;
    const uint8_t *src = data;
    if (page == nullptr || copy == nullptr) {
        std::printf("[%s] <%s,%d> Can't allocate the write buffers\n", t.name, t.name, __LINE__);
        rc = -1;
    }
    while (rc == 0 && r > 0 && p < s.limit) {
        uint32_t b = p - p % es;
        if (s.whole_nand && block_failed(b)) {
            p = b + es;
            continue;
        }
        std::printf(t.block, (b - s.base) / es, b - s.base);
        uint32_t room = (b + es < s.limit ? b + es : s.limit) - p;
        uint32_t taken = r < room ? r : room;
        int got = write_block(t, s, b, p, src, taken, copy, page);
        if (got == kBlockEnded)
            break;
        if (got == kBlockFatal)
            rc = -1;
        if (got == kBlockDone) {
            r -= taken;
            src += taken;
        } else if (got == kBlockSkipped && s.whole_nand) {
            note_failed_block(b);
        }
        p = b + es;
    }
    std::free(page);
    std::free(copy);
    // A write that ends early always says how much it left, also after a
    // failed retry erase.
    if (r > 0) {
        std::printf(t.partial, t.name, r);
        rc = -1;
    }
    return rc;
}

// Opens a device and asks its geometry, with the operation's messages.
int open_with_info(const char *name, const char *open_fail, const char *info_fail, bool info_rc, uint32_t id, int flags,
                   mtd_info_user *info)
{
    int fd = open_mtd(id, flags);
    if (fd < 0) {
        std::printf(open_fail, name, __LINE__, mtd_path(id).c_str());
        return -1;
    }
    int rc = mtd_geometry(fd, info);
    if (rc != 0) {
        if (info_rc)
            std::printf(info_fail, name, __LINE__, rc);
        else
            std::printf(info_fail, name, __LINE__);
        close(fd);
        return -1;
    }
    return fd;
}

// The new-layout place of MTD partition id, from the adaptive PIT.
bool adaptive_place(const char *name, uint32_t id, uint32_t *offset, uint32_t *size)
{
    if ((adpt_pit.version != kAdptVersionOld && adpt_pit.version != kAdptVersionNtbl) || id == 0 ||
        id > adpt_pit.count) {
        std::printf("[%s] <%s,%d> No partition %u in the adaptive PIT\n", name, name, __LINE__, id);
        return false;
    }
    *offset = adpt_entry_offset(adpt_pit, id - 1);
    *size = adpt_entry_size(adpt_pit, id - 1);
    return true;
}

void report_no_fit(const char *fit_image, const char *fit_error, const char *name, uint32_t len,
                   const mtd_info_user &info, uint32_t device_size)
{
    std::printf(fit_image, name, __LINE__, len, info.writesize, info.oobsize, device_size);
    std::printf("%s", fit_error);
}

int nocpt(uint32_t id, uint32_t flag, const char *who, const char *fail_text)
{
    int fd = open_mtd(id, O_RDWR);
    if (fd < 0) {
        std::printf("[NAND] <%s,%d> Can't open %s\n", who, __LINE__, mtd_path(id).c_str());
        return -1;
    }
    int rc = ioctl(fd, kNocptRequest, static_cast<unsigned long>(id * 2 + flag));
    close(fd);
    if (rc != 0) {
        std::puts(fail_text);
        return -1;
    }
    return 0;
}

} // namespace

namespace {

// A partition's place on /dev/mtd0.
struct t_region {
    uint32_t offset;
    uint32_t size;
};

// Opens the device of a transfer with its operation's texts, checks that
// len fits in the room from offset on, and runs op on the span. With part
// the transfer goes through /dev/mtd0 inside that region, else it covers
// the whole device dev.
template <typename Texts, typename Op>
int run_transfer(const Texts &t, bool info_rc, int flags, const t_region *part, uint32_t dev, uint32_t offset,
                 uint32_t len, Op op)
{
    t_span s{};
    s.fd = open_with_info(t.name, t.open_fail, t.info_fail, info_rc, part ? 0 : dev, flags, &s.info);
    if (s.fd < 0)
        return -1;
    uint32_t size = part ? part->size : s.info.size;
    int rc = -1;
    if (!fits(s.info, size - offset, len)) {
        report_no_fit(t.fit_image, t.fit_error, t.name, len, s.info, size);
    } else {
        s.base = part ? part->offset : 0;
        s.start = s.base + offset;
        // Bounded by the partition, not the device: data pushed on by a bad
        // page must not run into the next partition.
        s.limit = part && part->offset + part->size < s.info.size ? part->offset + part->size : s.info.size;
        rc = op(s);
    }
    close(s.fd);
    return rc;
}

} // namespace

int i4MpDataRead(uint32_t u4DevId, uint32_t u8Offset, uint8_t *u4MemPtr, uint32_t u4MemLen)
{
    std::printf("[UPG PROG i4MpDataRead]u4DevId = %d, u8Offset = 0x%8x, u4MemPtr = 0x%8x, u4MemLen = 0x%8x \n", u4DevId,
                u8Offset, addr32(u4MemPtr), u4MemLen);
    return run_transfer(kMpReadTexts, true, O_RDONLY, nullptr, u4DevId, u8Offset, u4MemLen,
                        [&](t_span &s) { return read_span(kMpReadTexts, s, u4MemPtr, u4MemLen); });
}

int i4MpDataWrite(uint32_t u4DevId, uint32_t u8Offset, const uint8_t *u4MemPtr, uint32_t u4MemLen)
{
    std::printf("[UPG PROG i4MpDataWrite]u4DevId = %d, u8Offset = 0x%8x, u4MemPtr = 0x%8x, u4MemLen = 0x%8x \n",
                u4DevId, u8Offset, addr32(u4MemPtr), u4MemLen);
    return run_transfer(kMpWriteTexts, false, O_RDWR, nullptr, u4DevId, u8Offset, u4MemLen,
                        [&](t_span &s) { return write_span(kMpWriteTexts, s, u4MemPtr, u4MemLen); });
}

int i4NFBPartitionWrite(uint32_t u4DevId, uint32_t u8Offset, const uint8_t *u4MemPtr, uint32_t u4MemLen)
{
    std::printf("[UPG PROG i4NFBPartitionWrite]u4DevId = %d, u8Offset = 0x%x, u4MemPtr = 0x%x, u4MemLen = 0x%x \n",
                u4DevId, u8Offset, addr32(u4MemPtr), u4MemLen);
    const t_write_texts &t = kNfbWriteTexts;
    t_region part{};
    if (!adaptive_place(t.name, u4DevId, &part.offset, &part.size))
        return -1;
    return run_transfer(t, false, O_RDWR, &part, 0, u8Offset, u4MemLen, [&](t_span &s) {
        s.start = past_failed_blocks(part.offset, u8Offset, s.info.erasesize);
        s.whole_nand = true;
        return write_span(t, s, u4MemPtr, u4MemLen);
    });
}

int i4NFBPartitionRead(uint32_t u4DevId, uint32_t u8Offset, uint8_t *u4MemPtr, uint32_t u4MemLen)
{
    std::printf("[UPG PROG i4NFBPartitionRead]u4DevId = %d, u8Offset = 0x%8x, u4MemPtr = 0x%8x, u4MemLen = 0x%8x \n",
                u4DevId, u8Offset, addr32(u4MemPtr), u4MemLen);
    const t_read_texts &t = kNfbReadTexts;
    t_region part{};
    if (!adaptive_place(t.name, u4DevId, &part.offset, &part.size))
        return -1;
    return run_transfer(t, true, O_RDONLY, &part, 0, u8Offset, u4MemLen,
                        [&](t_span &s) { return read_span(t, s, u4MemPtr, u4MemLen); });
}

namespace {

// The nocpt flag around a partition transfer; it stays set when the
// transfer fails.
template <typename Op> int with_nocpt(uint32_t id, const char *who, const char *fail_text, Op transfer)
{
    if (nocpt(id, 1, who, "[NAND]set nocpt flag=1 failed") != 0)
        return -1;
    int rc = transfer();
    if (rc != 0) {
        std::puts(fail_text);
        return rc;
    }
    return nocpt(id, 0, who, "[NAND]set nocpt flag=0 failed");
}

} // namespace

int i4UpgPartitionWrite(uint32_t u4DevId, uint32_t u8Offset, const uint8_t *u4MemPtr, uint32_t u4MemLen)
{
    return with_nocpt(u4DevId, __func__, "[NAND]Partition write failed",
                      [&] { return i4NFBPartitionWrite(u4DevId, u8Offset, u4MemPtr, u4MemLen); });
}

int i4UpgPartitionRead(uint32_t u4DevId, uint32_t u8Offset, uint8_t *u4MemPtr, uint32_t u4MemLen)
{
    return with_nocpt(u4DevId, __func__, "[NAND]Partition read failed",
                      [&] { return i4NFBPartitionRead(u4DevId, u8Offset, u4MemPtr, u4MemLen); });
}

int get_block_size()
{
    if (cached_block_size != 0)
        return cached_block_size;
    int fd = open_mtd(0, O_RDONLY);
    if (fd < 0) {
        std::printf("[NAND] <%s,%d> Can't open %s\n", __func__, __LINE__, kWholeNand);
        return -1;
    }
    mtd_info_user info{};
    int rc = mtd_geometry(fd, &info);
    close(fd);
    if (rc != 0) {
        std::printf("[NAND] <%s,%d> Can't get device capability, ret = %d\n", __func__, __LINE__, rc);
        return -1;
    }
    cached_block_size = static_cast<int>(info.erasesize);
    return cached_block_size;
}

const t_adpt_pit &nand_adaptive_pit() { return adpt_pit; }

namespace {

int store_in(const char *part, const char *store_text, const char *missing_text, const char *fail_text, uint32_t offset)
{
    std::puts(store_text);
    int k = adpt_find(adpt_pit, part);
    if (k < 0) {
        std::puts("[NAND] get part item by name error");
        std::puts(missing_text);
        return 0;
    }
    if (i4UpgPartitionWrite(static_cast<uint32_t>(adpt_entry_id(adpt_pit, k)), offset, adpt_pit.data,
                            static_cast<uint32_t>(adpt_pit.size)) != 0) {
        std::puts(fail_text);
        return -1;
    }
    return 0;
}

} // namespace

int i4StoreAdptPit()
{
    if (adpt_pit.version != kAdptVersionOld && adpt_pit.version != kAdptVersionNtbl) {
        std::puts("[NAND] store adpt pit failed, due to part version error");
        return -1;
    }
    int block = get_block_size();
    uint32_t offset = block > static_cast<int>(kAdptPitMinOffset) ? static_cast<uint32_t>(block) : kAdptPitMinOffset;
    if (store_in("part_info_1", "[NAND] store adpt pit in part_info_1 partition", "[NAND] no partition part_info_1",
                 "[NAND] store part_info_1 adpt pit failed", offset) != 0 ||
        store_in("part_info_2", "[NAND] store adpt pit in part_info_2 partition", "[NAND] no partition part_info_2",
                 "[NAND] store part_info_2 adpt pit failed", offset) != 0)
        return -1;
    std::puts("[NAND] store adpt pit success");
    return 0;
}

int i4SetNewFlashPIT(const uint8_t *pit, uint32_t pit_len)
{
    int version = 0;
    uint32_t count = 0;
    adpt_pit_shape(pit, pit_len, &version, &count);
    if (count == 0) {
        std::puts("[NAND] the size of part tbl you past is zero");
        std::puts("[NAND] set new flash pit failed");
        return -1;
    }
    int fd = open_mtd(0, O_RDWR);
    if (fd < 0) {
        std::printf("[NAND]  <%s,%d> Can't open %s\n", __func__, __LINE__, kWholeNand);
        std::puts("[NAND] set new flash pit failed");
        return -1;
    }
    mtd_info_user info{};
    int rc = -1;
    if (mtd_geometry(fd, &info) != 0) {
        std::printf("[NAND]  <%s,%d> Can't get device capability\n", __func__, __LINE__);
    } else {
        adpt_pit_free(&adpt_pit);
        t_adpt_pit built{};
        if (adpt_pit_build(pit, pit_len, version, count, info.erasesize, &built) == 0) {
            adpt_pit = built;
            rc = i4StoreAdptPit();
        }
    }
    close(fd);
    std::puts(rc == 0 ? "[NAND] set new flash pit success" : "[NAND] set new flash pit failed");
    return rc;
}

int i4CheckPartitionBadBlock(uint32_t u4DevId, uint32_t length)
{
    static const struct {
        uint32_t oob, page;
    } kKnown[] = {{8, 256},    {16, 512},   {32, 1024},  {64, 2048}, {112, 2048},
                  {128, 4096}, {128, 2048}, {224, 4096}, {448, 8192}};
    mtd_info_user info{};
    int fd = open_with_info(__func__, "[i4CheckPartitionBadBlock] <%s,%d> Can't open %s\n",
                            "[i4CheckPartitionBadBlock] <%s,%d> Can't get device capability\n", false, u4DevId, O_RDWR,
                            &info);
    if (fd < 0)
        return -1;
    bool known = false;
    for (const auto &k : kKnown)
        known = known || (k.oob == info.oobsize && k.page == info.writesize);
    int rc = 0;
    if (!known || info.erasesize == 0) {
        std::printf("[i4CheckPartitionBadBlock] <%s,%d> Unknown flash (not normal NAND)\n", __func__, __LINE__);
        rc = -1;
    }
    uint32_t end = info.erasesize ? length - length % info.erasesize : 0;
    for (uint32_t off = 0; rc == 0 && off < end && off < info.size; off += info.erasesize) {
        long long pos = off;
        int bad = ioctl(fd, kMemGetBadBlock, &pos);
        if (bad < 0) {
            std::puts("[i4CheckPartitionBadBlock]Error check bad block");
            rc = bad;
        } else if (bad > 0) {
            std::printf("[i4CheckPartitionBadBlock]=> Bad block at partition_%d, offset 0x%x \n", u4DevId, off);
            rc = bad;
        }
    }
    close(fd);
    return rc;
}
