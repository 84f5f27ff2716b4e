#include "vboard/board.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/text.h"

namespace vboard {

namespace {

std::string trim(const std::string &s)
{
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) {
        return "";
    }
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> words(const std::string &s)
{
    std::vector<std::string> out;
    std::string word;
    std::istringstream in(s);
    while (in >> word) {
        size_t start = 0;
        // Lists may be separated by commas as well as blanks.
        while (start <= word.size()) {
            size_t comma = word.find(',', start);
            std::string piece = word.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            if (!piece.empty()) {
                out.push_back(piece);
            }
            if (comma == std::string::npos) {
                break;
            }
            start = comma + 1;
        }
    }
    return out;
}

bool is_power_of_two(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool valid_name(const std::string &name)
{
    if (name.empty() || name.size() > 63) {
        return false;
    }
    for (char c : name) {
        if (c <= ' ' || c == '"' || c > '~') {
            return false;
        }
    }
    return true;
}

struct PendingPartition {
    std::string name;
    uint64_t size = 0; // 0 = rest of the device
    bool has_offset = false;
    uint64_t offset = 0;
    int line = 0;
};

std::string at_line(int line, const std::string &what) { return "line " + std::to_string(line) + ": " + what; }

int parse_list(const std::string &value, std::vector<uint64_t> *out)
{
    out->clear();
    for (const std::string &w : words(value)) {
        uint64_t v = 0;
        if (parse_size(w, &v) != 0) {
            return -1;
        }
        out->push_back(v);
    }
    return 0;
}

int parse_partition(const std::string &value, int line, PendingPartition *p, std::string *error)
{
    std::vector<std::string> w = words(value);
    if (w.size() < 2 || w.size() > 3) {
        *error = at_line(line, "partition needs NAME SIZE [OFFSET]");
        return -1;
    }
    p->name = w[0];
    p->line = line;
    if (!valid_name(p->name)) {
        *error = at_line(line, "bad partition name '" + p->name + "'");
        return -1;
    }
    if (w[1] != "rest" && (parse_size(w[1], &p->size) != 0 || p->size == 0)) {
        *error = at_line(line, "bad partition size '" + w[1] + "'");
        return -1;
    }
    if (w.size() == 3) {
        p->has_offset = true;
        if (parse_size(w[2], &p->offset) != 0) {
            *error = at_line(line, "bad partition offset '" + w[2] + "'");
            return -1;
        }
    }
    return 0;
}

struct PendingSeed {
    std::string where; // PARTITION, PARTITION+OFFSET or a whole-NAND offset
    std::string file;
    int line = 0;
};

int parse_seed(const std::string &value, int line, PendingSeed *seed, std::string *error)
{
    std::vector<std::string> w = words(value);
    if (w.size() != 2) {
        *error = at_line(line, "seed needs WHERE FILE");
        return -1;
    }
    *seed = {w[0], w[1], line};
    return 0;
}

const Partition *find_partition(const BoardConfig &board, const std::string &name)
{
    for (const Partition &p : board.partitions) {
        if (p.name == name) {
            return &p;
        }
    }
    return nullptr;
}

// A seed's place: a partition's start plus an optional offset inside it, or
// an offset on the whole NAND.
int place_seed(const PendingSeed &pending, const BoardConfig &board, Seed *seed, std::string *error)
{
    size_t plus = pending.where.rfind('+');
    std::string name = pending.where.substr(0, plus);
    uint64_t inside = 0;
    const Partition *part = find_partition(board, name);
    if (plus != std::string::npos && parse_size(pending.where.substr(plus + 1), &inside) != 0) {
        part = nullptr;
    }
    seed->file = pending.file;
    seed->line = pending.line;
    if (part) {
        seed->offset = part->offset + inside;
        seed->limit = part->offset + part->size;
    } else if (parse_size(pending.where, &seed->offset) == 0) {
        seed->limit = board.nand.size;
    } else {
        *error = at_line(pending.line, "seed place '" + pending.where + "' is no partition and no offset");
        return -1;
    }
    if (seed->offset >= seed->limit) {
        *error = at_line(pending.line, "seed place '" + pending.where + "' lies beyond its partition");
        return -1;
    }
    return 0;
}

int place_seeds(const std::vector<PendingSeed> &pending, BoardConfig *board, std::string *error)
{
    board->seeds.clear();
    for (const PendingSeed &p : pending) {
        Seed seed;
        if (place_seed(p, *board, &seed, error) != 0) {
            return -1;
        }
        board->seeds.push_back(seed);
    }
    return 0;
}

bool faultable(const std::string &request)
{
    for (const char *name : kFaultableIoctls) {
        if (request == name) {
            return true;
        }
    }
    return false;
}

// "mtdN REQUEST ERRNO [after N]"
int parse_ioctl_fault(const std::string &value, int line, IoctlFault *fault, std::string *error)
{
    std::vector<std::string> w = words(value);
    uint64_t unit = 0;
    bool shape = (w.size() == 3 || (w.size() == 5 && w[3] == "after")) && w[0].rfind("mtd", 0) == 0 &&
                 parse_size(w[0].substr(3), &unit) == 0 && unit <= static_cast<uint64_t>(kMaxPartitions);
    if (!shape) {
        *error = at_line(line, "fail_ioctl needs mtdN REQUEST ERRNO [after N]");
        return -1;
    }
    fault->unit = static_cast<int>(unit);
    fault->request = w[1];
    if (!faultable(fault->request)) {
        *error = at_line(line, "fail_ioctl: unknown request '" + w[1] + "'");
        return -1;
    }
    fault->error = board::parse_errno(w[2]);
    if (fault->error == 0) {
        *error = at_line(line, "fail_ioctl: unknown errno '" + w[2] + "'");
        return -1;
    }
    if (w.size() == 5 && parse_size(w[4], &fault->after) != 0) {
        *error = at_line(line, "fail_ioctl: bad count '" + w[4] + "'");
        return -1;
    }
    return 0;
}

int check_geometry(const NandGeometry &g, std::string *error)
{
    if (!is_power_of_two(g.writesize) || !is_power_of_two(g.erasesize) || g.size == 0) {
        *error =
            "nand.size, nand.erasesize and nand.writesize must be set (sizes of pages and blocks are powers of two)";
        return -1;
    }
    if (g.erasesize < g.writesize || g.size % g.erasesize != 0) {
        *error = "the NAND must be whole erase blocks of whole pages";
        return -1;
    }
    if (g.size > UINT32_MAX) {
        *error = "nand.size must fit in 32 bits (mtd_info_user)";
        return -1;
    }
    return 0;
}

int place_partitions(const std::vector<PendingPartition> &pending, BoardConfig *board, std::string *error)
{
    const NandGeometry &g = board->nand;
    uint64_t next = 0;
    board->partitions.clear();
    for (const PendingPartition &p : pending) {
        Partition part;
        part.name = p.name;
        part.offset = p.has_offset ? p.offset : next;
        if (part.offset >= g.size) {
            *error = at_line(p.line, "partition " + p.name + " starts beyond the NAND");
            return -1;
        }
        part.size = p.size ? p.size : g.size - part.offset;
        if (part.offset % g.erasesize != 0 || part.size % g.erasesize != 0) {
            *error = at_line(p.line, "partition " + p.name + " is not whole erase blocks");
            return -1;
        }
        if (part.size > g.size - part.offset) {
            *error = at_line(p.line, "partition " + p.name + " ends beyond the NAND");
            return -1;
        }
        next = part.offset + part.size;
        board->partitions.push_back(part);
    }
    if (board->partitions.size() > static_cast<size_t>(kMaxPartitions)) {
        *error = "more than " + std::to_string(kMaxPartitions) + " partitions";
        return -1;
    }
    return 0;
}

int check_faults(const BoardConfig &board, std::string *error)
{
    uint64_t blocks = board.nand.size / board.nand.erasesize;
    for (uint64_t b : board.bad_blocks) {
        if (b >= blocks) {
            *error = "bad block " + std::to_string(b) + " is beyond the NAND";
            return -1;
        }
    }
    for (const IoctlFault &f : board.ioctl_faults) {
        if (f.unit >= mtd_count(board)) {
            *error = "fail_ioctl names mtd" + std::to_string(f.unit) + ", which the board lacks";
            return -1;
        }
    }
    for (uint64_t off : board.fail_program) {
        if (off >= board.nand.size) {
            *error = "fail_program offset " + std::to_string(off) + " is beyond the NAND";
            return -1;
        }
    }
    return 0;
}

uint32_t to_u32(uint64_t v) { return static_cast<uint32_t>(v); }

} // namespace

int parse_size(const std::string &text, uint64_t *value)
{
    if (text.empty()) {
        return -1;
    }
    std::string digits = text;
    uint64_t unit = 1;
    switch (digits.back()) {
    case 'k':
    case 'K':
        unit = 1ull << 10;
        break;
    case 'm':
    case 'M':
        unit = 1ull << 20;
        break;
    case 'g':
    case 'G':
        unit = 1ull << 30;
        break;
    default:
        break;
    }
    if (unit != 1) {
        digits.pop_back();
    }
    uint64_t v = 0;
    if (!board::parse_number(digits, UINT64_MAX / unit, &v)) {
        return -1;
    }
    *value = v * unit;
    return 0;
}

int parse_board(const std::string &text, BoardConfig *board, std::string *error)
{
    BoardConfig b;
    std::vector<PendingPartition> pending;
    std::vector<PendingSeed> seeds;
    std::istringstream in(text);
    std::string raw;
    int line = 0;
    while (std::getline(in, raw)) {
        ++line;
        std::string s = trim(raw.substr(0, raw.find('#')));
        if (s.empty()) {
            continue;
        }
        size_t eq = s.find('=');
        if (eq == std::string::npos) {
            *error = at_line(line, "expected 'key = value'");
            return -1;
        }
        std::string key = trim(s.substr(0, eq));
        std::string value = trim(s.substr(eq + 1));
        uint64_t v = 0;
        bool number_ok = parse_size(value, &v) == 0;
        if (key == "name") {
            b.name = value;
        } else if (key == "nand.name") {
            if (!valid_name(value)) {
                *error = at_line(line, "bad device name '" + value + "'");
                return -1;
            }
            b.nand.name = value;
        } else if (key == "nand.size" && number_ok) {
            b.nand.size = v;
        } else if (key == "nand.erasesize" && number_ok && v <= UINT32_MAX) {
            b.nand.erasesize = to_u32(v);
        } else if (key == "nand.writesize" && number_ok && v <= UINT32_MAX) {
            b.nand.writesize = to_u32(v);
        } else if (key == "nand.oobsize" && number_ok && v <= UINT32_MAX) {
            b.nand.oobsize = to_u32(v);
        } else if (key == "power_cut_after" && number_ok) {
            b.power_cut_after = v;
        } else if (key == "partition") {
            PendingPartition p;
            if (parse_partition(value, line, &p, error) != 0) {
                return -1;
            }
            pending.push_back(p);
        } else if (key == "fail_ioctl") {
            IoctlFault fault;
            if (parse_ioctl_fault(value, line, &fault, error) != 0) {
                return -1;
            }
            b.ioctl_faults.push_back(fault);
        } else if (key == "seed") {
            PendingSeed seed;
            if (parse_seed(value, line, &seed, error) != 0) {
                return -1;
            }
            seeds.push_back(seed);
        } else if (key == "bad_blocks") {
            if (parse_list(value, &b.bad_blocks) != 0) {
                *error = at_line(line, "bad block list '" + value + "'");
                return -1;
            }
        } else if (key == "fail_program") {
            if (parse_list(value, &b.fail_program) != 0) {
                *error = at_line(line, "bad offset list '" + value + "'");
                return -1;
            }
        } else if (int rc = parse_mem_tally_key(key, value, &b.mem_tally, error); rc != 0) {
            if (rc < 0) {
                *error = at_line(line, *error);
                return -1;
            }
        } else if (key == "nand.size" || key == "nand.erasesize" || key == "nand.writesize" || key == "nand.oobsize" ||
                   key == "power_cut_after") {
            *error = at_line(line, "bad number '" + value + "' for " + key);
            return -1;
        } else {
            *error = at_line(line, "unknown key '" + key + "'");
            return -1;
        }
    }
    if (check_geometry(b.nand, error) != 0 || place_partitions(pending, &b, error) != 0 ||
        check_faults(b, error) != 0 || place_seeds(seeds, &b, error) != 0) {
        return -1;
    }
    *board = b;
    return 0;
}

int load_board_file(const std::string &path, BoardConfig *board, std::string *error)
{
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return -1;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (parse_board(text.str(), board, error) != 0) {
        *error = path + ": " + *error;
        return -1;
    }
    return 0;
}

std::string proc_mtd_text(const BoardConfig &board)
{
    std::string out = "dev:    size   erasesize  name\n";
    char line[128];
    auto add = [&](int unit, uint64_t size, const std::string &name) {
        std::snprintf(line, sizeof line, "mtd%d: %8.8" PRIx64 " %8.8x \"%s\"\n", unit, size, board.nand.erasesize,
                      name.c_str());
        out += line;
    };
    add(0, board.nand.size, board.nand.name);
    for (size_t k = 0; k < board.partitions.size(); ++k) {
        add(static_cast<int>(k + 1), board.partitions[k].size, board.partitions[k].name);
    }
    return out;
}

int mtd_region(const BoardConfig &board, int unit, MtdRegion *region)
{
    if (unit < 0 || unit >= mtd_count(board)) {
        return -1;
    }
    region->unit = unit;
    if (unit == 0) {
        region->base = 0;
        region->size = board.nand.size;
    } else {
        region->base = board.partitions[unit - 1].offset;
        region->size = board.partitions[unit - 1].size;
    }
    return 0;
}

int mtd_count(const BoardConfig &board) { return static_cast<int>(board.partitions.size()) + 1; }

} // namespace vboard
