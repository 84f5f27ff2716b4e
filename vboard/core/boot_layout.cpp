#include "vboard/boot_layout.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <sstream>

#include "common/le_bytes.h"
#include "vboard/nand.h"
#include "vboard/state.h"

namespace vboard {

namespace {

constexpr uint32_t kPitHead = 0x8530EADC;
constexpr uint32_t kPitTail = 0xC0CAC01A;
constexpr uint32_t kAdaptiveHead = 0x8530AAAA;
constexpr uint32_t kAdaptiveTail = 0x5441494C;
constexpr size_t kSignWords = 8;    // head and tail of the 32-byte layout
constexpr size_t kSlot = 32;        // its head, entries and tail
constexpr size_t kRecordBytes = 40; // an entry of the header layout
constexpr size_t kNameBytes = 16;
constexpr size_t kTableBytes = 16 * 1024; // read at each place; every table fits
constexpr uint64_t kAdaptiveAt = 1 << 20; // or one erase block when that is larger

const char *const kPitPlaces[] = {"part_info", "part_info_1", "part_info_2"};
const char *const kAdaptivePlaces[] = {"part_info_1", "part_info_2"};

struct Entry {
    std::string name;
    uint32_t id = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
};

uint32_t word(const std::string &bytes, size_t at) { return le::load32(bytes.data() + at); }

bool words_are(const std::string &bytes, size_t at, size_t count, uint32_t value)
{
    for (size_t i = 0; i < count; ++i) {
        if (at + 4 * i + 4 > bytes.size() || word(bytes, at + 4 * i) != value) {
            return false;
        }
    }
    return true;
}

// The NUL-padded name of an entry, "" when it is no name the kernel could show.
std::string entry_name(const std::string &bytes, size_t at)
{
    std::string name = bytes.substr(at, kNameBytes);
    name.resize(std::min(name.find('\0'), name.size()));
    bool printable = std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c <= '~' && c != '"'; });
    return printable ? name : "";
}

// Why entry k cannot be /dev/mtd(k+1) of this NAND, or "".
std::string entry_fault(const Entry &e, size_t k, const NandGeometry &g)
{
    if (e.name.empty()) {
        return "entry " + std::to_string(k) + " has no name";
    }
    if (e.id != k + 1) {
        return "entry " + std::to_string(k) + " (" + e.name + ") has id " + std::to_string(e.id);
    }
    if (e.size == 0 || e.offset % g.erasesize != 0 || e.size % g.erasesize != 0 || e.offset + e.size > g.size) {
        return "entry " + std::to_string(k) + " (" + e.name + ") is no run of whole erase blocks on the NAND";
    }
    return "";
}

Entry entry_at(const std::string &bytes, size_t at)
{
    return {entry_name(bytes, at), word(bytes, at + 16), word(bytes, at + 24), word(bytes, at + 28)};
}

// Entries of the 32-byte layout: head, entries up to a tail slot or a free
// entry. Returns "" or what is wrong.
std::string entries_32(const std::string &bytes, uint32_t tail, std::vector<Entry> *out)
{
    for (size_t at = kSlot; at + kSlot <= bytes.size(); at += kSlot) {
        if (words_are(bytes, at, kSignWords, tail)) {
            return "";
        }
        if (out->size() == static_cast<size_t>(kMaxPartitions)) {
            return "more than " + std::to_string(kMaxPartitions) + " entries";
        }
        // A free entry ends the table too, and so does the PIT's tail slot
        // that an adaptive PIT of the 32-byte layout carries as its last entry.
        if (word(bytes, at + 16) == UINT32_MAX || word(bytes, at + 16) == kPitTail) {
            return "";
        }
        out->push_back(entry_at(bytes, at));
    }
    return "no tail";
}

// Entries of the header layout: word 3 the first entry's offset, word 4
// the stride, word 5 the count.
std::string entries_header(const std::string &bytes, std::vector<Entry> *out)
{
    uint64_t first = word(bytes, 12), stride = word(bytes, 16), count = word(bytes, 20);
    if (first < kRecordBytes || stride < kRecordBytes || count > static_cast<uint64_t>(kMaxPartitions) ||
        (count > 0 && first + (count - 1) * stride + kRecordBytes > bytes.size())) {
        return "bad header (first entry " + std::to_string(first) + ", stride " + std::to_string(stride) + ", count " +
               std::to_string(count) + ")";
    }
    for (uint64_t k = 0; k < count; ++k) {
        out->push_back(entry_at(bytes, static_cast<size_t>(first + k * stride)));
    }
    return "";
}

// A PIT or adaptive PIT in either layout. Returns "" or what is wrong.
std::string parse_table(const std::string &bytes, uint32_t head, uint32_t tail, const NandGeometry &g,
                        std::vector<Entry> *out)
{
    out->clear();
    std::string fault;
    if (words_are(bytes, 0, kSignWords, head)) {
        fault = entries_32(bytes, tail, out);
    } else if (words_are(bytes, 0, 2, head)) {
        fault = entries_header(bytes, out);
    } else {
        return "none";
    }
    if (fault.empty() && out->empty()) {
        fault = "no entries";
    }
    for (size_t k = 0; fault.empty() && k < out->size(); ++k) {
        fault = entry_fault((*out)[k], k, g);
    }
    return fault.empty() ? "" : "damaged: " + fault;
}

const Partition *place_of(const BoardConfig &board, const char *name)
{
    for (const Partition &p : board.partitions) {
        if (p.name == name) {
            return &p;
        }
    }
    return nullptr;
}

std::string read_place(Nand *nand, uint64_t offset, uint64_t room)
{
    std::string bytes(static_cast<size_t>(std::min<uint64_t>(room, kTableBytes)), '\xFF');
    if (nand_peek(nand, offset, &bytes[0], bytes.size()) != 0) {
        bytes.clear();
    }
    return bytes;
}

bool same_partitions(const std::vector<Entry> &a, const std::vector<Entry> &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const Entry &x, const Entry &y) {
               return x.name == y.name && x.id == y.id;
           });
}

bool same_layout(const std::vector<Partition> &a, const std::vector<Partition> &b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](const Partition &x, const Partition &y) {
               return x.name == y.name && x.offset == y.offset && x.size == y.size;
           });
}

struct Found {
    const char *place = nullptr;
    std::vector<Entry> entries;
};

Found find_pit(Nand *nand, const BoardConfig &board, std::vector<std::string> *notes)
{
    Found pit;
    for (const char *name : kPitPlaces) {
        const Partition *p = place_of(board, name);
        if (!p) {
            continue;
        }
        std::string fault = parse_table(read_place(nand, p->offset, p->size), kPitHead, kPitTail, board.nand,
                                        &pit.entries);
        if (fault.empty()) {
            pit.place = name;
            return pit;
        }
        notes->push_back(std::string("PIT in ") + name + ": " + fault);
    }
    pit.entries.clear();
    return pit;
}

Found find_adaptive_pit(Nand *nand, const BoardConfig &board, const Found &pit, std::vector<std::string> *notes)
{
    uint64_t at = std::max<uint64_t>(kAdaptiveAt, board.nand.erasesize);
    Found adaptive;
    for (const char *name : kAdaptivePlaces) {
        const Partition *p = place_of(board, name);
        if (!p || p->size <= at) {
            continue;
        }
        std::string fault = parse_table(read_place(nand, p->offset + at, p->size - at), kAdaptiveHead, kAdaptiveTail,
                                        board.nand, &adaptive.entries);
        if (fault.empty() && same_partitions(adaptive.entries, pit.entries)) {
            adaptive.place = name;
            return adaptive;
        }
        notes->push_back(std::string("adaptive PIT in ") + name + ": " +
                         (fault.empty() ? "lists other partitions than the PIT" : fault));
    }
    adaptive.entries.clear();
    return adaptive;
}

std::vector<Partition> partitions_of(const std::vector<Entry> &entries)
{
    std::vector<Partition> parts;
    for (const Entry &e : entries) {
        parts.push_back({e.name, e.offset, e.size});
    }
    return parts;
}

std::string layout_text(const BootLayout &layout)
{
    std::string text = "from: " + layout.source + "\n";
    for (const Partition &p : layout.partitions) {
        text += format("%s 0x%08" PRIx64 " 0x%08" PRIx64 "\n", p.name.c_str(), p.offset, p.size);
    }
    return text;
}

// DIR/layout back into partitions; false when it is not a layout of this NAND.
bool parse_layout_text(const std::string &text, const NandGeometry &g, std::string *source,
                       std::vector<Partition> *parts)
{
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line.rfind("from: ", 0) != 0) {
        return false;
    }
    *source = line.substr(6);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Partition p;
        std::string offset, size;
        if (!(fields >> p.name >> offset >> size) || parse_size(offset, &p.offset) != 0 ||
            parse_size(size, &p.size) != 0 || parts->size() == static_cast<size_t>(kMaxPartitions) ||
            !entry_fault({p.name, static_cast<uint32_t>(parts->size() + 1), p.offset, p.size}, parts->size(), g)
                 .empty()) {
            return false;
        }
        parts->push_back(p);
    }
    return true;
}

} // namespace

BootLayout decide_boot_layout(const std::string &dir, const BoardConfig &board)
{
    BootLayout layout;
    Nand nand;
    std::string error;
    Found pit;
    if (nand_open(&nand, dir, nullptr, &error) != 0) {
        layout.notes.push_back("NAND unreadable: " + error);
    } else {
        nand.board.nand = board.nand;
        pit = find_pit(&nand, board, &layout.notes);
    }
    if (pit.place) {
        Found adaptive = find_adaptive_pit(&nand, board, pit, &layout.notes);
        layout.source = std::string(pit.place) + " PIT" + (adaptive.place ? " + adaptive PIT" : "");
        layout.partitions = partitions_of(adaptive.place ? adaptive.entries : pit.entries);
    } else {
        layout.source = kLayoutFromBoardFile;
        layout.partitions = board.partitions;
    }
    nand_close(&nand);
    if (!same_layout(layout.partitions, board.partitions)) {
        layout.notes.push_back("differs from the board file's partitions");
    }
    return layout;
}

int boot_layout_at_boot(const std::string &dir, std::string *error)
{
    forget_boot_layout(dir);
    BoardConfig board;
    if (load_board_file(state_path(dir, kBoardFile), &board, error) != 0) {
        return -1;
    }
    BootLayout layout = decide_boot_layout(dir, board);
    Journal journal;
    journal_bind(&journal, dir);
    for (const std::string &note : layout.notes) {
        journal_line(&journal, "layout: " + note);
    }
    journal_line(&journal, "layout from: " + layout.source);
    if (write_text_file(state_path(dir, kBootLayoutFile), layout_text(layout)) != 0) {
        *error = "cannot write " + state_path(dir, kBootLayoutFile);
        return -1;
    }
    return 0;
}

std::string apply_boot_layout(const std::string &dir, BoardConfig *board)
{
    std::string text, source;
    std::vector<Partition> parts;
    if (read_text_file(state_path(dir, kBootLayoutFile), &text) != 0 ||
        !parse_layout_text(text, board->nand, &source, &parts)) {
        return kLayoutFromBoardFile;
    }
    board->partitions = parts;
    return source;
}

void forget_boot_layout(const std::string &dir) { std::remove(state_path(dir, kBootLayoutFile).c_str()); }

} // namespace vboard
