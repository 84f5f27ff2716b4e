// The description format: one statement a line, '#' starts a comment.
//
//   layout old|ntblfmt          layout of the index tables (and of the PIT)
//   pit old|ntblfmt             PIT layout when it differs from the layout
//   nand SIZE [block=B] [start=OFFSET]
//   part NAME SIZE [type=T] [in=CONTAINER] [status] [extra=A,B]
//   bin NAME FILE [at=OFFSET]
//
// Partitions follow one another from start in the order given; part and bin
// lines belong to the nand line above them. Numbers take 0x and K/M/G.
#include "upgimage.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

constexpr uint32_t kDefaultBlock = 128 * 1024;
constexpr size_t kMaxName = 16;

bool parse_number(const std::string &s, uint32_t *out)
{
    if (s.empty() || s[0] == '-')
        return false;
    errno = 0;
    char *end = nullptr;
    unsigned long long v = std::strtoull(s.c_str(), &end, 0);
    unsigned long long unit = 1;
    if (*end == 'K' || *end == 'k')
        unit = 1024;
    else if (*end == 'M' || *end == 'm')
        unit = 1024 * 1024;
    else if (*end == 'G' || *end == 'g')
        unit = 1024ull * 1024 * 1024;
    if (unit != 1)
        ++end;
    if (errno != 0 || end == s.c_str() || *end != '\0' || v * unit > 0xFFFFFFFFull)
        return false;
    *out = static_cast<uint32_t>(v * unit);
    return true;
}

std::string at_line(int line, const std::string &what) { return "line " + std::to_string(line) + ": " + what; }

struct t_parser {
    t_image_desc *desc;
    const std::string &base_dir;
    std::string *err;
    bool layout_seen;
    bool pit_seen;
};

bool fail(t_parser &p, int line, const std::string &what)
{
    *p.err = at_line(line, what);
    return false;
}

bool number_arg(t_parser &p, int line, const std::string &what, const std::string &text, uint32_t *out)
{
    if (!parse_number(text, out))
        return fail(p, line, "bad " + what + " '" + text + "'");
    return true;
}

bool layout_word(t_parser &p, int line, const std::vector<std::string> &w, int *out)
{
    if (w.size() != 2 || (w[1] != "old" && w[1] != "ntblfmt"))
        return fail(p, line, "expected '" + w[0] + " old' or '" + w[0] + " ntblfmt'");
    *out = w[1] == "old" ? kLayoutOld : kLayoutNtbl;
    return true;
}

bool nand_line(t_parser &p, int line, const std::vector<std::string> &w)
{
    if (!p.layout_seen)
        return fail(p, line, "the layout line must come before the first nand line");
    t_nand_desc n{0, kDefaultBlock, 0, {}, {}, line};
    if (w.size() < 2 || !number_arg(p, line, "NAND size", w[1], &n.size) || n.size == 0)
        return w.size() < 2 ? fail(p, line, "nand needs a size") : false;
    for (size_t i = 2; i < w.size(); ++i) {
        if (w[i].rfind("block=", 0) == 0) {
            if (!number_arg(p, line, "block size", w[i].substr(6), &n.block) || n.block == 0)
                return n.block == 0 ? fail(p, line, "block size 0") : false;
        } else if (w[i].rfind("start=", 0) == 0) {
            if (!number_arg(p, line, "start offset", w[i].substr(6), &n.start))
                return false;
        } else {
            return fail(p, line, "unknown nand option '" + w[i] + "'");
        }
    }
    for (const auto &other : p.desc->nands)
        if (other.size == n.size)
            return fail(p, line,
                        "a second table for NAND size " + w[1] + " (first on line " + std::to_string(other.line) + ")");
    p.desc->nands.push_back(n);
    return true;
}

bool part_option(t_parser &p, int line, const std::string &o, t_part_desc *d)
{
    if (o == "status") {
        d->status_listed = true;
    } else if (o.rfind("type=", 0) == 0) {
        if (!number_arg(p, line, "type", o.substr(5), &d->type) || d->type > 15)
            return d->type > 15 ? fail(p, line, "type must be 0 to 15") : false;
    } else if (o.rfind("in=", 0) == 0) {
        d->container = o.substr(3);
    } else if (o.rfind("extra=", 0) == 0) {
        size_t comma = o.find(',');
        if (comma == std::string::npos)
            return fail(p, line, "extra needs two words: extra=A,B");
        return number_arg(p, line, "extra word", o.substr(6, comma - 6), &d->extra1) &&
               number_arg(p, line, "extra word", o.substr(comma + 1), &d->extra2);
    } else {
        return fail(p, line, "unknown part option '" + o + "'");
    }
    return true;
}

bool part_line(t_parser &p, int line, const std::vector<std::string> &w)
{
    if (p.desc->nands.empty())
        return fail(p, line, "part before any nand line");
    if (w.size() < 3)
        return fail(p, line, "expected 'part NAME SIZE [options]'");
    t_part_desc d{w[1], 0, 0, "", false, 0, 0, line};
    if (d.name.size() > kMaxName)
        return fail(p, line, "partition name '" + d.name + "' is longer than 16 characters");
    if (!number_arg(p, line, "partition size", w[2], &d.size))
        return false;
    for (size_t i = 3; i < w.size(); ++i)
        if (!part_option(p, line, w[i], &d))
            return false;
    if ((d.type == 4) != !d.container.empty())
        return fail(p, line, "a type-4 partition and only that names its container with in=NAME");
    auto &parts = p.desc->nands.back().parts;
    for (const auto &other : parts)
        if (other.name == d.name)
            return fail(p, line,
                        "partition '" + d.name + "' given twice (first on line " + std::to_string(other.line) + ")");
    parts.push_back(d);
    return true;
}

bool bin_line(t_parser &p, int line, const std::vector<std::string> &w)
{
    if (p.desc->nands.empty())
        return fail(p, line, "bin before any nand line");
    if (w.size() < 3 || w.size() > 4)
        return fail(p, line, "expected 'bin NAME FILE [at=OFFSET]'");
    t_bin_desc b{w[1], w[2], 0, line};
    if (!b.file.empty() && b.file[0] != '/')
        b.file = p.base_dir + "/" + b.file;
    if (w.size() == 4 && (w[3].rfind("at=", 0) != 0 || !number_arg(p, line, "offset", w[3].substr(3), &b.at)))
        return w[3].rfind("at=", 0) != 0 ? fail(p, line, "unknown bin option '" + w[3] + "'") : false;
    p.desc->nands.back().bins.push_back(b);
    return true;
}

bool statement(t_parser &p, int line, const std::vector<std::string> &w)
{
    const std::string &k = w[0];
    if (k == "layout") {
        if (p.layout_seen)
            return fail(p, line, "layout given twice");
        p.layout_seen = true;
        if (!layout_word(p, line, w, &p.desc->layout))
            return false;
        if (!p.pit_seen)
            p.desc->pit_layout = p.desc->layout;
        return true;
    }
    if (k == "pit") {
        p.pit_seen = true;
        return layout_word(p, line, w, &p.desc->pit_layout);
    }
    if (k == "nand")
        return nand_line(p, line, w);
    if (k == "part")
        return part_line(p, line, w);
    if (k == "bin")
        return bin_line(p, line, w);
    return fail(p, line, "unknown statement '" + k + "'");
}

} // namespace

int parse_description(const std::string &text, const std::string &base_dir, t_image_desc *out, std::string *err)
{
    *out = t_image_desc{kLayoutNtbl, kLayoutNtbl, {}};
    t_parser p{out, base_dir, err, false, false};
    std::istringstream in(text);
    std::string raw;
    for (int line = 1; std::getline(in, raw); ++line) {
        std::istringstream words(raw.substr(0, raw.find('#')));
        std::vector<std::string> w;
        for (std::string s; words >> s;)
            w.push_back(s);
        if (!w.empty() && !statement(p, line, w))
            return -1;
    }
    if (out->nands.empty()) {
        *err = "the description has no nand table";
        return -1;
    }
    return 0;
}
