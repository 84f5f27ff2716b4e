// Shows the tables of an image: index table, and per NAND size its PIT and
// BIT, as upgprog would find them.
#include "upgimage.h"

#include "common/le_bytes.h"
#include "records.h"

#include <cstring>

using namespace upg;

namespace {

long find_words(const std::vector<uint8_t> &img, size_t from, size_t step, size_t words, uint32_t w)
{
    for (size_t pos = from; pos + 4 * words <= img.size(); pos += step)
        if (words_equal(img.data() + pos, words, w))
            return static_cast<long>(pos);
    return -1;
}

std::string name_of(const char *field) { return std::string(field, strnlen(field, kPitNameBytes)); }

bool inside(const std::vector<uint8_t> &img, uint64_t at, uint64_t len) { return at + len <= img.size(); }

void print_part(FILE *out, int k, const char *name, int32_t id, uint32_t flags, uint32_t offset, uint32_t size)
{
    std::fprintf(out, "    [%2d] %-16s id %-3d flags 0x%08x type %u", k, name_of(name).c_str(), id, flags,
                 pit_type(flags));
    if (pit_type(flags) == kTypeNested)
        std::fprintf(out, " in %u", pit_container(flags));
    std::fprintf(out, "%s offset 0x%08x size 0x%08x\n", flags & kFlagStatusListed ? " status" : "", offset, size);
}

bool dump_pit(FILE *out, const std::vector<uint8_t> &img, uint32_t at, uint32_t size)
{
    if (!inside(img, at, size) || size < kNtblHeaderBytes) {
        std::fprintf(out, "  PIT: 0x%x bytes at 0x%x lie outside the image\n", size, at);
        return false;
    }
    const uint8_t *p = img.data() + at;
    if (words_equal(p, kPitSigWords, kPitHeadSig)) {
        std::fprintf(out, "  PIT (old layout), 0x%x bytes at 0x%x\n", size, at);
        for (uint32_t k = 0; (k + 2) * kPitSlotBytes < size; ++k) {
            t_pit_entry_old e = decode_old_pit_record(p + (k + 1) * kPitSlotBytes);
            print_part(out, static_cast<int>(k), e.acName, e.i4PartId, e.u4Flags, e.u4Offset, e.u4Size);
        }
        return true;
    }
    if (!words_equal(p, 2, kPitHeadSig)) {
        std::fprintf(out, "  PIT at 0x%x: no head signature\n", at);
        return false;
    }
    uint32_t first = le::load32(p + 4 * kNtblWordFirstRecord), stride = le::load32(p + 4 * kNtblWordStride);
    uint32_t count = le::load32(p + 4 * kNtblWordCount);
    std::fprintf(out, "  PIT (ntblfmt), 0x%x bytes at 0x%x: %u records from %u, %u apart\n", size, at, count, first,
                 stride);
    for (uint32_t k = 0; k < count; ++k) {
        uint64_t pos = first + uint64_t{k} * stride;
        if (pos + kNtblRecordBytes > size) {
            std::fprintf(out, "    record %u lies outside the PIT\n", k);
            return false;
        }
        t_pit_entry_ntbl e = decode_ntbl_pit_record(p + pos);
        print_part(out, static_cast<int>(k), e.acName, e.i4PartId, e.u4Flags, e.u4Offset, e.u4Size);
    }
    return true;
}

bool dump_bit(FILE *out, const std::vector<uint8_t> &img, size_t head, size_t tail)
{
    std::fprintf(out, "  BIT at 0x%zx, %zu records\n", head, (tail - head - kBitSlotBytes) / kBitSlotBytes);
    bool ok = true;
    for (size_t pos = head + kBitSlotBytes; pos < tail; pos += kBitSlotBytes) {
        t_bit_entry e = decode_bit_record(img.data() + pos);
        if (e.i4PartId == -1)
            break;
        bool in = inside(img, e.u4ImageOffset, e.u4Length);
        ok = ok && in;
        std::fprintf(out, "    part %-3d image 0x%08x length 0x%08x -> partition offset 0x%08x%s\n", e.i4PartId,
                     e.u4ImageOffset, e.u4Length, e.u4PartOffset, in ? "" : "  (outside the image)");
    }
    return ok;
}

bool dump_bit_at(FILE *out, const std::vector<uint8_t> &img, uint32_t at, uint32_t size)
{
    if (size < 2 * kBitSlotBytes || !inside(img, at, size)) {
        std::fprintf(out, "  BIT: 0x%x bytes at 0x%x lie outside the image\n", size, at);
        return false;
    }
    return dump_bit(out, img, at, at + size - kBitSlotBytes);
}

bool dump_bit_by_signature(FILE *out, const std::vector<uint8_t> &img)
{
    long head = find_words(img, 0, 16, kBitSigWords, kBitHeadSig);
    long tail = head < 0 ? -1 : find_words(img, head + kBitSlotBytes, kBitSlotBytes, kBitSigWords, kBitTailSig);
    if (tail < 0) {
        std::fprintf(out, "BIT: no head and tail signatures found\n");
        return false;
    }
    return dump_bit(out, img, static_cast<size_t>(head), static_cast<size_t>(tail));
}

} // namespace

int dump_image(const std::vector<uint8_t> &img, FILE *out, std::string *err)
{
    bool old = true;
    long head = find_words(img, 0, 16, 4, kIndexHeadSig);
    if (head < 0) {
        old = false;
        head = find_words(img, 0, 16, 2, kIndexHeadSig);
    }
    long tail = head < 0 ? -1 : find_words(img, head, 16, 4, kIndexTailSig);
    if (tail < 0) {
        *err = "no PIT index table (head and tail signatures) in the image";
        return -1;
    }
    size_t entry = old ? kOldIndexEntryBytes : kNewIndexEntryBytes;
    std::fprintf(out, "layout %s: index table at 0x%lx\n", old ? "old" : "ntblfmt", head);
    bool ok = true;
    int n = 0;
    for (long pos = head + kIndexSigBytes; pos < tail; pos += entry, ++n) {
        t_pit_index pe = decode_pit_index(img.data() + pos);
        std::fprintf(out, "nand 0x%x (%u MiB): PIT at 0x%x, private 0x%x 0x%x\n", pe.u4NandSize, pe.u4NandSize >> 20,
                     pe.u4OffsetFromBin, pe.u4PrivateData1, pe.u4PrivateData2);
        if (n == kIndexEntries)
            std::fprintf(out, "  (entry %d and later are not read by upgprog)\n", n);
        if (pe.u4PrivateData1 & kPitSizeAlignMask) {
            std::fprintf(out, "  PIT size 0x%x: low 5 bits are not zero\n", pe.u4PrivateData1);
            ok = false;
        } else {
            ok = dump_pit(out, img, pe.u4OffsetFromBin, pe.u4PrivateData1 & kPitSizeMask) && ok;
        }
        if (!old) {
            t_bit_index be = decode_bit_index(img.data() + pos + kOldIndexEntryBytes);
            ok = dump_bit_at(out, img, be.u4BitOffsetFromBin, be.u4BitSIze) && ok;
        }
    }
    if (old)
        ok = dump_bit_by_signature(out, img) && ok;
    if (!ok)
        *err = "the image's tables are inconsistent (see above)";
    return ok ? 0 : -1;
}
