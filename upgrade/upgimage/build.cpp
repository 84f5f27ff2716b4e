// Turns a description into image bytes: index table, one PIT (and in the
// ntblfmt layout one BIT) per NAND size, then the partition contents.
#include "upgimage.h"

#include "adaptive_pit.h"
#include "common/le_bytes.h"
#include "records.h"

#include <fstream>
#include <iterator>
#include <map>

using namespace upg;

namespace {

constexpr size_t kNtblSlot = 64;
constexpr uint32_t kMaxParts = 62; // PIT size lies in 12 bits
constexpr size_t kDataAlign = 2048;

size_t align_up(size_t v, size_t a) { return (v + a - 1) / a * a; }

struct t_nand_out {
    std::vector<uint8_t> pit;
    std::vector<t_bit_entry> bit;
    std::vector<std::vector<uint8_t>> data; // one per BIT entry
};

bool fail(std::string *err, const t_nand_desc &n, const std::string &what)
{
    *err = "nand table of line " + std::to_string(n.line) + ": " + what;
    return false;
}

uint32_t part_flags(const t_part_desc &p, uint32_t container)
{
    return (p.type << kTypeShift) | (container << kContainerShift) | (p.status_listed ? kFlagStatusListed : 0);
}

size_t pit_record_pos(int pit_layout, size_t k)
{
    return pit_layout == kLayoutOld ? kPitSlotBytes * (k + 1) : kNtblSlot * (k + 1);
}

std::vector<uint8_t> pit_bytes(const t_nand_desc &n, int pit_layout, const std::vector<uint32_t> &containers,
                               const std::vector<uint32_t> &offsets)
{
    size_t count = n.parts.size();
    bool old = pit_layout == kLayoutOld;
    std::vector<uint8_t> pit(old ? (count + 2) * kPitSlotBytes : (count + 1) * kNtblSlot, 0);
    if (old) {
        fill_words(pit.data(), kPitSigWords, kPitHeadSig);
        fill_words(pit.data() + pit.size() - kPitSlotBytes, kPitSigWords, kPitTailSig);
    } else {
        fill_words(pit.data(), 2, kPitHeadSig);
        le::store32(pit.data() + 4 * kNtblWordFirstRecord, kNtblSlot);
        le::store32(pit.data() + 4 * kNtblWordStride, kNtblSlot);
        le::store32(pit.data() + 4 * kNtblWordCount, static_cast<uint32_t>(count));
    }
    for (size_t k = 0; k < count; ++k) {
        const t_part_desc &p = n.parts[k];
        uint8_t *rec = pit.data() + pit_record_pos(pit_layout, k);
        encode_pit_record(rec, p.name.c_str(), static_cast<int32_t>(k + 1), part_flags(p, containers[k]), offsets[k],
                          p.size);
        if (!old) {
            le::store32(rec + 32, p.extra1);
            le::store32(rec + 36, p.extra2);
        }
    }
    return pit;
}

// Places the partitions as the adaptive PIT does, with erasesize added to
// every type-3 partition (0: the PIT's own offsets).
bool place(const std::vector<uint8_t> &pit, uint32_t erasesize, t_adpt_pit *out)
{
    int version = 0;
    uint32_t count = 0;
    adpt_pit_shape(pit.data(), pit.size(), &version, &count);
    return adpt_pit_build(pit.data(), pit.size(), version, count, erasesize, out) == 0;
}

bool container_indexes(const t_nand_desc &n, std::vector<uint32_t> *out, std::string *err)
{
    std::map<std::string, uint32_t> index;
    for (const auto &p : n.parts) {
        uint32_t c = 0;
        if (!p.container.empty()) {
            auto it = index.find(p.container);
            if (it == index.end())
                return fail(err, n,
                            "partition '" + p.name + "' (line " + std::to_string(p.line) + ") lies in '" + p.container +
                                "', which is not given before it");
            c = it->second;
        }
        out->push_back(c);
        index[p.name] = static_cast<uint32_t>(out->size());
    }
    return true;
}

bool check_parts(const t_nand_desc &n, std::string *err)
{
    if (n.parts.empty() || n.parts.size() > kMaxParts)
        return fail(err, n, "needs 1 to " + std::to_string(kMaxParts) + " partitions");
    if (n.start % n.block != 0)
        return fail(err, n, "start is not a multiple of the block size");
    int listed = 0;
    for (const auto &p : n.parts) {
        if (p.size == 0 || p.size % n.block != 0)
            return fail(err, n, "size of '" + p.name + "' is not a whole number of blocks");
        listed += p.status_listed ? 1 : 0;
    }
    if (listed > kStatusIds)
        return fail(err, n, "more than 32 partitions are marked status");
    return true;
}

bool build_pit(const t_nand_desc &n, int pit_layout, std::vector<uint8_t> *pit, t_adpt_pit *layout, std::string *err)
{
    std::vector<uint32_t> containers;
    if (!check_parts(n, err) || !container_indexes(n, &containers, err))
        return false;
    std::vector<uint32_t> offsets(n.parts.size(), 0);
    offsets[0] = n.start;
    t_adpt_pit own{};
    if (!place(pit_bytes(n, pit_layout, containers, offsets), 0, &own))
        return fail(err, n, "the partitions cannot be placed");
    for (size_t k = 0; k < n.parts.size(); ++k)
        offsets[k] = adpt_entry_offset(own, static_cast<uint32_t>(k));
    adpt_pit_free(&own);
    *pit = pit_bytes(n, pit_layout, containers, offsets);
    if (!place(*pit, n.block, layout))
        return fail(err, n, "the partitions cannot be placed");
    // Only the described partitions: an old-layout table carries the
    // image's tail slot as one more entry.
    for (uint32_t k = 0; k < n.parts.size(); ++k) {
        uint64_t end = uint64_t{adpt_entry_offset(*layout, k)} + adpt_entry_size(*layout, k);
        if (end > n.size) {
            adpt_pit_free(layout);
            return fail(err, n, "partition '" + n.parts[k].name + "' ends past the end of the NAND");
        }
    }
    return true;
}

bool read_file(const std::string &path, std::vector<uint8_t> *out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int part_index(const t_nand_desc &n, const std::string &name)
{
    for (size_t k = 0; k < n.parts.size(); ++k)
        if (n.parts[k].name == name)
            return static_cast<int>(k);
    return -1;
}

bool build_bins(const t_nand_desc &n, const t_adpt_pit &layout, t_nand_out *out, std::string *err)
{
    std::map<int, std::vector<std::pair<uint64_t, uint64_t>>> used;
    for (const auto &b : n.bins) {
        std::string where = "bin of line " + std::to_string(b.line);
        int k = part_index(n, b.part);
        if (k < 0)
            return fail(err, n, where + " names no partition '" + b.part + "'");
        std::vector<uint8_t> data;
        if (!read_file(b.file, &data))
            return fail(err, n, where + ": cannot read " + b.file);
        uint64_t end = uint64_t{b.at} + data.size();
        if (end > adpt_entry_size(layout, static_cast<uint32_t>(k)))
            return fail(err, n,
                        where + ": " + std::to_string(data.size()) + " bytes at " + std::to_string(b.at) +
                            " do not fit in '" + b.part + "'");
        for (const auto &r : used[k])
            if (b.at < r.second && end > r.first)
                return fail(err, n, where + " overlaps an earlier bin of '" + b.part + "'");
        used[k].push_back({b.at, end});
        out->bit.push_back({k + 1, b.at, static_cast<uint32_t>(data.size()), 0, 0});
        out->data.push_back(std::move(data));
    }
    return true;
}

std::vector<uint8_t> bit_bytes(const std::vector<t_bit_entry> &entries)
{
    std::vector<uint8_t> bit((entries.size() + 2) * kBitSlotBytes);
    fill_words(bit.data(), kBitSigWords, kBitHeadSig);
    for (size_t i = 0; i < entries.size(); ++i)
        encode_bit_record(bit.data() + kBitSlotBytes * (i + 1), entries[i]);
    fill_words(bit.data() + bit.size() - kBitSlotBytes, kBitSigWords, kBitTailSig);
    return bit;
}

void put(std::vector<uint8_t> *image, size_t at, const std::vector<uint8_t> &bytes)
{
    if (image->size() < at + bytes.size())
        image->resize(at + bytes.size(), 0);
    std::copy(bytes.begin(), bytes.end(), image->begin() + static_cast<long>(at));
}

} // namespace

int build_flash_tables(const t_image_desc &desc, size_t nand, t_flash_tables *out, std::string *err)
{
    if (nand >= desc.nands.size()) {
        *err = "no nand table " + std::to_string(nand + 1);
        return -1;
    }
    const t_nand_desc &n = desc.nands[nand];
    t_adpt_pit layout{};
    if (!build_pit(n, desc.pit_layout, &out->pit, &layout, err))
        return -1;
    out->adaptive_pit.assign(layout.data, layout.data + layout.size);
    adpt_pit_free(&layout);
    t_upg_status status{};
    status.u4_head_sign = kStatusHeadSig;
    status.u4_tail_sign = kStatusTailSig;
    for (size_t k = 0; k < n.parts.size(); ++k)
        if (n.parts[k].status_listed)
            status.au4_part_id[status.u4_part_count++] = static_cast<uint32_t>(k + 1);
    out->status.assign(kStatusBytes, 0);
    encode_status(out->status.data(), status);
    return 0;
}

int build_image(const t_image_desc &desc, std::vector<uint8_t> *image, std::string *err)
{
    if (desc.nands.size() > static_cast<size_t>(kIndexEntries)) {
        *err = "more than 10 nand tables";
        return -1;
    }
    std::vector<t_nand_out> outs(desc.nands.size());
    int with_bins = 0;
    for (size_t i = 0; i < desc.nands.size(); ++i) {
        t_adpt_pit layout{};
        bool ok = build_pit(desc.nands[i], desc.pit_layout, &outs[i].pit, &layout, err) &&
                  build_bins(desc.nands[i], layout, &outs[i], err);
        adpt_pit_free(&layout);
        if (!ok)
            return -1;
        with_bins += desc.nands[i].bins.empty() ? 0 : 1;
    }
    bool old = desc.layout == kLayoutOld;
    if (old && with_bins > 1) {
        *err = "the old layout carries one BIT: give bin lines under one nand line only";
        return -1;
    }
    size_t n = desc.nands.size();
    size_t entry = old ? kOldIndexEntryBytes : kNewIndexEntryBytes;
    size_t off = 2 * kIndexSigBytes + n * entry;
    std::vector<size_t> pit_at(n), bit_at(n);
    for (size_t i = 0; i < n; ++i) {
        pit_at[i] = off = align_up(off, kPitSlotBytes);
        off += outs[i].pit.size();
    }
    // The old layout's single BIT is found by its signatures.
    size_t bits = old ? 1 : n;
    size_t bit_owner = 0;
    for (size_t i = 0; i < n; ++i)
        bit_owner = outs[i].bit.empty() ? bit_owner : i;
    for (size_t i = 0; i < bits; ++i) {
        bit_at[i] = off = align_up(off, 16);
        off += (outs[old ? bit_owner : i].bit.size() + 2) * kBitSlotBytes;
    }
    image->assign(off, 0);
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j < outs[i].data.size(); ++j) {
            off = align_up(image->size(), kDataAlign);
            outs[i].bit[j].u4ImageOffset = static_cast<uint32_t>(off);
            put(image, off, outs[i].data[j]);
        }
    }
    uint8_t *idx = image->data();
    fill_words(idx, old ? 4 : 2, kIndexHeadSig);
    for (size_t i = 0; i < n; ++i) {
        const t_nand_desc &d = desc.nands[i];
        t_pit_index pe{d.size, static_cast<uint32_t>(pit_at[i]), static_cast<uint32_t>(outs[i].pit.size()), 0};
        encode_pit_index(idx + kIndexSigBytes + i * entry, pe);
        if (!old) {
            t_bit_index be{static_cast<uint32_t>(bit_at[i]),
                           static_cast<uint32_t>((outs[i].bit.size() + 2) * kBitSlotBytes), 0, 0};
            encode_bit_index(idx + kIndexSigBytes + i * entry + kOldIndexEntryBytes, be);
        }
        put(image, pit_at[i], outs[i].pit);
    }
    fill_words(idx + kIndexSigBytes + n * entry, 4, kIndexTailSig);
    for (size_t i = 0; i < bits; ++i)
        put(image, bit_at[i], bit_bytes(outs[old ? bit_owner : i].bit));
    return 0;
}
