// Scan of the upgrade image for its PIT index, BIT index, PIT and BIT.
#include "image_tables.h"

#include "common/le_bytes.h"
#include "mtd_geometry.h"
#include "trace.h"

#include <cstdlib>
#include <cstring>
#include <sys/types.h>

using namespace upg;

t_pit_index pitIndexTable[kIndexEntries];
t_bit_index bitIndexTable[kIndexEntries];
t_bit_entry bitTable[kBitEntries];
t_pit_entry_old imagePitOld[kPitEntries];
t_pit_entry_ntbl imagePitNtbl[kPitEntries];
t_pit_entry_old nandPitOld[kPitEntries];
t_pit_entry_ntbl nandPitNtbl[kPitEntries];
uint8_t rawPitBuffer[kRawPitBytes];
uint32_t rawPitSize;

namespace {

constexpr size_t kChunkBytes = 0x100000;
constexpr size_t kSigStep = 16;
constexpr int kOldVersion = 0;
constexpr int kNewVersion = 1;
static_assert(sizeof(off_t) == 8, "image offsets at or above 2 GiB need _FILE_OFFSET_BITS=64");

struct t_scan {
    FILE *image;
    uint8_t *buf; // one 1 MiB buffer serves the whole scan
    size_t chunk_len;
    off_t chunk_pos;
    int version;
    bool index_built;
    bool bit_built;
    off_t index_head; // file offset of the index head once seen, else -1
};

// Offset of the first position (from, from + step, ...) holding words
// copies of w, or -1.
long find_words(const uint8_t *buf, size_t len, size_t from, size_t step, size_t words, uint32_t w)
{
    for (size_t pos = from; pos + 4 * words <= len; pos += step)
        if (words_equal(buf + pos, words, w))
            return static_cast<long>(pos);
    return -1;
}

// Reads up to 1 MiB at offset into the scan buffer and puts the file
// back where it was. Bytes read or -1.
long read_table_block(t_scan &s, uint64_t offset)
{
    off_t back = ftello(s.image);
    if (back < 0 || !seek_image(s.image, offset))
        return -1;
    long n = load_data_to_buff(s.buf, kChunkBytes, s.image);
    return seek_image(s.image, static_cast<uint64_t>(back)) ? n : -1;
}

void initBITIT()
{
    UPG_TRACE();
    std::memset(bitIndexTable, 0xFF, sizeof bitIndexTable);
}

void initPITIT()
{
    UPG_TRACE();
    std::memset(pitIndexTable, 0xFF, sizeof pitIndexTable);
}

void initPIT()
{
    UPG_TRACE();
    for (int i = 0; i < kPitEntries; ++i) {
        imagePitOld[i].i4PartId = -1;
        imagePitNtbl[i].i4PartId = -1;
    }
}

void initPITonNand()
{
    UPG_TRACE();
    for (int i = 0; i < kPitEntries; ++i) {
        nandPitOld[i].i4PartId = -1;
        nandPitNtbl[i].i4PartId = -1;
    }
}

void initBIT()
{
    UPG_TRACE();
    for (auto &e : bitTable)
        e.i4PartId = -1;
}

void build_pitit_bitit(const uint8_t *head, long tail)
{
    UPG_TRACE();
    int n = 0;
    for (long pos = kIndexSigBytes; pos < tail; pos += kNewIndexEntryBytes, ++n) {
        if (n == kIndexEntries) {
            std::printf("<UPG_PROG> PIT index table too many entrys @Line %d\n", __LINE__);
            break;
        }
        pitIndexTable[n] = decode_pit_index(head + pos);
        bitIndexTable[n] = decode_bit_index(head + pos + kOldIndexEntryBytes);
        std::printf("<UPG_PROG> pitIndexTable[%d].u4NandSize = 0x%x\n", n, pitIndexTable[n].u4NandSize);
        std::printf("<UPG_PROG> pitIndexTable[%d].u4OffsetFromBin = 0x%x\n", n, pitIndexTable[n].u4OffsetFromBin);
        std::printf("<UPG_PROG> pitIndexTable[%d].u4PrivateData1 = 0x%x\n", n, pitIndexTable[n].u4PrivateData1);
        std::printf("<UPG_PROG> pitIndexTable[%d].u4PrivateData2 = 0x%x\n", n, pitIndexTable[n].u4PrivateData2);
        std::printf("<UPG_PROG> bitIndexTable[%d].u4BitOffsetFromBin = 0x%x\n", n, bitIndexTable[n].u4BitOffsetFromBin);
        std::printf("<UPG_PROG> bitIndexTable[%d].u4BitSIze = 0x%x\n", n, bitIndexTable[n].u4BitSIze);
    }
}

void build_pitit(const uint8_t *head, long tail)
{
    UPG_TRACE();
    int n = 0;
    for (long pos = kIndexSigBytes; pos < tail; pos += kOldIndexEntryBytes, ++n) {
        if (n == kIndexEntries) {
            std::puts("<UPG_PROG> PIT index table too many entrys ");
            break;
        }
        pitIndexTable[n] = decode_pit_index(head + pos);
    }
}

// The index entry for this NAND, or -1. MEMGETINFO failing ends the run.
int index_for_this_nand()
{
    mtd_info_user info{};
    int rc = whole_nand_info(&info);
    if (rc == kNandOpenFailed) {
        std::printf("<UPG_PROG> Err: Open /dev/mtd0 fail! @Line %d\n", __LINE__);
        return -1;
    }
    if (rc == kNandInfoFailed) {
        std::printf("<UPG_PROG> Err: cmd %d! @Line %d\n", static_cast<int>(kMemGetInfo), __LINE__);
        std::exit(1);
    }
    for (int i = 0; i < kIndexEntries; ++i)
        if (pitIndexTable[i].u4NandSize == info.size)
            return i;
    return -1;
}

int build_pit_according_to_pitit(t_scan &s)
{
    UPG_TRACE();
    int idx = index_for_this_nand();
    if (idx < 0)
        return -1;
    const t_pit_index &e = pitIndexTable[idx];
    long got = read_table_block(s, e.u4OffsetFromBin);
    if (got < 0) {
        std::printf("<UPG_PROG> Err: ret value %ld! @Line %d\n", -1L, __LINE__);
        return -1;
    }
    if (e.u4PrivateData1 & kPitSizeAlignMask) {
        std::printf("<UPG_PROG> Err: invalid pit size! @Line %d\n", __LINE__);
        return -1;
    }
    uint32_t size = e.u4PrivateData1 & kPitSizeMask;
    if (size < kPitSlotBytes || size > static_cast<uint32_t>(got)) {
        std::printf("<UPG_PROG> Err: PIT of 0x%x bytes is not in the image! @Line %d\n", size, __LINE__);
        return -1;
    }
    if (build_pit(s.buf, s.buf + size - kPitSlotBytes, imagePitOld) != 0 &&
        build_pit_ntblfmt(s.buf, size, imagePitNtbl) != 0) {
        std::printf("<UPG_PROG> Err: ret value %ld! @Line %d\n", -1L, __LINE__);
        return -1;
    }
    std::memcpy(rawPitBuffer, s.buf, size);
    rawPitSize = size;
    return 0;
}

int build_bit_according_to_bitit_ntblfmt(t_scan &s)
{
    UPG_TRACE();
    int idx = index_for_this_nand();
    if (idx < 0)
        return -1;
    const t_bit_index &e = bitIndexTable[idx];
    long got = read_table_block(s, e.u4BitOffsetFromBin);
    if (got < 0) {
        std::printf("<UPG_PROG> Err: ret value %ld! @Line %d\n", -1L, __LINE__);
        return -1;
    }
    bool fits = e.u4BitSIze >= 2 * kBitSlotBytes && e.u4BitSIze <= static_cast<uint32_t>(got);
    if (!fits || build_bit(s.buf, s.buf + e.u4BitSIze - kBitSlotBytes) != 0) {
        std::printf("<UPG_PROG> Err: ret value %ld! @Line %d\n", -1L, __LINE__);
        return -1;
    }
    std::printf("<UPG_PROG> new version build_bit ok! @Line %d\n", __LINE__);
    s.bit_built = true;
    return 0;
}

// Finds the index head in this chunk (once) and its tail; 1 when both are
// known, with the tail's file offset in *tail_pos.
int locate_index(t_scan &s, off_t *tail_pos)
{
    long from = 0;
    if (s.index_head < 0) {
        long head = find_words(s.buf, s.chunk_len, 0, kSigStep, 4, kIndexHeadSig);
        if (head >= 0) {
            s.version = kOldVersion;
        } else {
            head = find_words(s.buf, s.chunk_len, 0, kSigStep, 2, kIndexHeadSig);
            if (head < 0)
                return 0;
            s.version = kNewVersion;
            std::printf("<UPG_PROG> upg sw is new version. @Line %d\n", __LINE__);
        }
        s.index_head = s.chunk_pos + head;
        from = head;
    }
    long tail = find_words(s.buf, s.chunk_len, from, kSigStep, 4, kIndexTailSig);
    if (tail < 0)
        return 0;
    if (s.version == kOldVersion)
        std::printf("<UPG_PROG> upg sw is old version. @Line %d\n", __LINE__);
    *tail_pos = s.chunk_pos + tail;
    return 1;
}

// Records of slot bytes that start after the head slot and before the tail.
long records_between(const uint8_t *head, const uint8_t *tail, size_t slot)
{
    long span = tail - head - static_cast<long>(slot);
    return span <= 0 ? 0 : (span + static_cast<long>(slot) - 1) / static_cast<long>(slot);
}

long reread_chunk(t_scan &s)
{
    if (!seek_image(s.image, static_cast<uint64_t>(s.chunk_pos)))
        return -1;
    return load_data_to_buff(s.buf, s.chunk_len, s.image);
}

int find_pitit_from_final_binary_image(t_scan &s)
{
    UPG_TRACE();
    off_t tail_pos = 0;
    if (locate_index(s, &tail_pos) == 0)
        return 0;
    std::printf("<UPG_PROG> the upg bin is  %d version(old is 0,new is 1)! @Line %d\n", s.version, __LINE__);
    long got = seek_image(s.image, static_cast<uint64_t>(s.index_head)) ? load_data_to_buff(s.buf, kChunkBytes, s.image)
                                                                        : -1;
    if (got < 0) {
        std::printf("<UPG_PROG> Err: ret value %d! @Line %d\n", -1, __LINE__);
        return -1;
    }
    long tail = static_cast<long>(tail_pos - s.index_head);
    if (tail + static_cast<long>(kIndexSigBytes) > got) {
        std::printf("<UPG_PROG> Err: PIT index table is longer than 1 MiB! @Line %d\n", __LINE__);
        return -1;
    }
    if (s.version == kNewVersion)
        build_pitit_bitit(s.buf, tail);
    else
        build_pitit(s.buf, tail);
    if (build_pit_according_to_pitit(s) != 0) {
        std::printf("<UPG_PROG> Err: ret value %ld! @Line %d\n", -1L, __LINE__);
        return -1;
    }
    if (s.version == kNewVersion && build_bit_according_to_bitit_ntblfmt(s) != 0) {
        std::printf("<UPG_PROG> Err: ret value %ld! @Line %d\n", -1L, __LINE__);
        return -1;
    }
    if (reread_chunk(s) < 0) {
        std::printf("<UPG_PROG> Err: ret value %d! @Line %d\n", -1, __LINE__);
        return -1;
    }
    s.index_built = true;
    return 0;
}

int find_bit_from_final_binary_image(t_scan &s)
{
    UPG_TRACE();
    long head = find_words(s.buf, s.chunk_len, 0, kSigStep, kBitSigWords, kBitHeadSig);
    if (head < 0)
        return 0;
    long tail = find_words(s.buf, s.chunk_len, head + kBitSlotBytes, kBitSlotBytes, kBitSigWords, kBitTailSig);
    if (tail < 0)
        return 0;
    long got = read_table_block(s, static_cast<uint64_t>(s.chunk_pos + head));
    if (got < 0) {
        std::printf("<UPG_PROG> Err: ret value %d! @Line %d\n", -1, __LINE__);
        return -1;
    }
    if (build_bit(s.buf, s.buf + (tail - head)) != 0) {
        std::printf("<UPG_PROG> Err: ret value %ld! @Line %d\n", -1L, __LINE__);
        return -1;
    }
    s.bit_built = true;
    return 0;
}

int scan_chunks(t_scan &s, off_t remaining)
{
    for (;;) {
        s.chunk_pos = ftello(s.image);
        off_t want = remaining < static_cast<off_t>(kChunkBytes) ? remaining : static_cast<off_t>(kChunkBytes);
        long got = s.chunk_pos < 0 ? -1 : load_data_to_buff(s.buf, static_cast<size_t>(want), s.image);
        if (got < 0) {
            std::printf("<UPG_PROG> Err: ret value %d! @Line %d\n", -1, __LINE__);
            return -1;
        }
        s.chunk_len = static_cast<size_t>(got);
        remaining -= got;
        if (!s.index_built && find_pitit_from_final_binary_image(s) != 0)
            return -1;
        if (!s.bit_built && find_bit_from_final_binary_image(s) != 0)
            return -1;
        if (s.bit_built && (remaining == 0 || s.index_built))
            return 0;
        if (remaining == 0 || got == 0)
            return 0;
        if (!seek_image(s.image, static_cast<uint64_t>(s.chunk_pos + got))) {
            std::printf("<UPG_PROG> Err: ret value %d! @Line %d\n", -1, __LINE__);
            return -1;
        }
    }
}

} // namespace

bool seek_image(FILE *image, uint64_t pos) { return fseeko(image, static_cast<off_t>(pos), SEEK_SET) == 0; }

long load_data_to_buff(uint8_t *buffer, size_t n, FILE *stream)
{
    UPG_TRACE();
    size_t done = 0;
    while (done < n) {
        size_t got = std::fread(buffer + done, 1, n - done, stream);
        done += got;
        if (got == 0) {
            if (std::ferror(stream)) {
                std::printf("<UPG_PROG> Err: File I/O error on std read! @Line %d\n", __LINE__);
                return -1;
            }
            break;
        }
    }
    return static_cast<long>(done);
}

bool upg_linux_check_if_oldfmt_pit_valid(const t_pit_entry_old *table)
{
    UPG_TRACE();
    return table[0].i4PartId != -1;
}

int build_pit(const uint8_t *head, const uint8_t *tail, t_pit_entry_old *table)
{
    UPG_TRACE();
    if (head == nullptr || tail == nullptr) {
        std::printf("<UPG_PROG> Err: findPITFromFinalBinaryImage failed:not found PIT head and tail sig. @Line %d\n",
                    __LINE__);
        return -1;
    }
    if (!words_equal(head, kPitSigWords, kPitHeadSig))
        return -1;
    if (records_between(head, tail, kPitSlotBytes) > kPitEntries) {
        std::printf("<UPG_PROG> Err: PIT has more than %d entries! @Line %d\n", kPitEntries, __LINE__);
        return -1;
    }
    int k = 0;
    for (const uint8_t *rec = head + kPitSlotBytes; rec < tail; rec += kPitSlotBytes)
        table[k++] = decode_old_pit_record(rec);
    if (k < kPitEntries)
        table[k].i4PartId = -1;
    return 0;
}

int build_pit_ntblfmt(const uint8_t *header, size_t room, t_pit_entry_ntbl *table)
{
    UPG_TRACE();
    if (header == nullptr) {
        std::printf("<UPG_PROG>  Err: findPITFromFinalBinaryImage failed:not found PIT head and tail sig. @Line %d\n",
                    __LINE__);
        return -1;
    }
    if (room < kNtblHeaderBytes || !words_equal(header, 2, kPitHeadSig))
        return -1;
    uint64_t first = le::load32(header + 4 * kNtblWordFirstRecord);
    uint64_t stride = le::load32(header + 4 * kNtblWordStride);
    uint32_t count = le::load32(header + 4 * kNtblWordCount);
    if (count > static_cast<uint32_t>(kPitEntries)) {
        std::printf("<UPG_PROG> Err: PIT has more than %d entries! @Line %d\n", kPitEntries, __LINE__);
        return -1;
    }
    if (count > 0 && first + (count - 1) * stride + kNtblRecordBytes > room) {
        std::printf("<UPG_PROG> Err: PIT records lie outside the PIT! @Line %d\n", __LINE__);
        return -1;
    }
    for (uint32_t k = 0; k < count; ++k)
        table[k] = decode_ntbl_pit_record(header + first + k * stride);
    if (count < static_cast<uint32_t>(kPitEntries))
        table[count].i4PartId = -1;
    return 0;
}

int build_bit(const uint8_t *head, const uint8_t *tail)
{
    UPG_TRACE();
    if (head == nullptr || tail == nullptr) {
        std::puts("<UPG_PROG>  upg_main findBITFromFinalBinaryImage failed:not found BIT head and tail sig");
        return -1;
    }
    if (records_between(head, tail, kBitSlotBytes) > kBitEntries) {
        std::printf("<UPG_PROG> Err: BIT has more than %d entries! @Line %d\n", kBitEntries, __LINE__);
        return -1;
    }
    for (auto &e : bitTable)
        e.i4PartId = -1;
    int k = 0;
    for (const uint8_t *rec = head + kBitSlotBytes; rec < tail; rec += kBitSlotBytes)
        bitTable[k++] = decode_bit_record(rec);
    return 0;
}

int upg_scan_image(FILE *image)
{
    uint8_t *buf = static_cast<uint8_t *>(std::malloc(kChunkBytes));
    int rc = -1;
    if (buf == nullptr) {
        std::printf("<UPG_PROG> Err: malloc fail! @Line %d\n", __LINE__);
    } else if (fseeko(image, 0, SEEK_END) == 0) {
        off_t size = ftello(image);
        initBITIT();
        initPITIT();
        initPIT();
        initPITonNand();
        initBIT();
        t_scan s{image, buf, 0, 0, -1, false, false, -1};
        if (size >= 0 && seek_image(image, 0) && scan_chunks(s, size) == 0 && s.index_built && s.bit_built)
            rc = 0;
    }
    std::free(buf);
    return rc;
}

int upg_linux_read_bin_file()
{
    UPG_TRACE();
    FILE *image = std::fopen(kImagePath, "rb");
    if (image == nullptr) {
        std::printf("<UPG_PROG> Err: Open %s fail! @Line %d\n", kImagePath, __LINE__);
        return -1;
    }
    int rc = upg_scan_image(image);
    std::fclose(image);
    if (rc == 0)
        std::printf("<UPG_PROG> %s ---> Successfully @Line: %d!\n", __func__, __LINE__);
    else
        std::printf("<UPG_PROG> Err: %s fail! @Line %d\n", __func__, __LINE__);
    return rc;
}

int find_pit_from_final_binary_image(const uint8_t *block, size_t len)
{
    UPG_TRACE();
    long head = find_words(block, len, 0, kSigStep, kPitSigWords, kPitHeadSig);
    long tail = head < 0 ? -1 : find_words(block, len, head + kPitSlotBytes, kSigStep, kPitSigWords, kPitTailSig);
    if (head < 0 || tail < 0)
        return kNoPitInBlock;
    if (build_pit(block + head, block + tail, nandPitOld) != 0) {
        std::printf("<UPG_PROG> Err: ret value %ld! @Line %d\n", -1L, __LINE__);
        return -1;
    }
    return 0;
}

int find_pit_from_final_binary_image_ntblfmt(const uint8_t *block, size_t len)
{
    UPG_TRACE();
    long header = find_words(block, len, 0, kSigStep, 2, kPitHeadSig);
    if (header < 0)
        return kNoPitInBlock;
    if (build_pit_ntblfmt(block + header, len - header, nandPitNtbl) != 0) {
        std::printf("<UPG_PROG> Err: ret value %ld! @Line %d\n", -1L, __LINE__);
        return -1;
    }
    return 0;
}

const t_pit_pair kImagePit = {imagePitOld, imagePitNtbl};
const t_pit_pair kNandPit = {nandPitOld, nandPitNtbl};

bool pit_pair_uses_old(const t_pit_pair &pair) { return upg_linux_check_if_oldfmt_pit_valid(pair.old_layout); }

t_part_view pit_entry(const t_pit_pair &pair, bool old_layout, int i)
{
    if (old_layout) {
        const t_pit_entry_old &e = pair.old_layout[i];
        return {e.acName, e.i4PartId, e.u4Flags, e.u4Offset, e.u4Size};
    }
    const t_pit_entry_ntbl &e = pair.ntbl[i];
    return {e.acName, e.i4PartId, e.u4Flags, e.u4Offset, e.u4Size};
}

int upg_parse_nand_pit(const uint8_t *block, size_t len)
{
    int rc = find_pit_from_final_binary_image(block, len);
    return rc == kNoPitInBlock ? find_pit_from_final_binary_image_ntblfmt(block, len) : rc;
}
