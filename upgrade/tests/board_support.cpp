#include "board_support.h"

#include "raw_bytes.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace upgtest {

namespace {

constexpr uint32_t kType1 = 0x1000, kType3 = 0x3000, kStatusFlag = 0x8;

std::string bytes_of(const raw::Bytes &b) { return std::string(b.b.begin(), b.b.end()); }

void put32(std::string &s, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>(v >> (8 * i));
}

void make_parents(const std::string &path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
}

} // namespace

const Part &Layout::operator[](const std::string &name) const { return parts.at(id(name) - 1); }

int Layout::id(const std::string &name) const
{
    for (size_t k = 0; k < parts.size(); ++k)
        if (parts[k].name == name)
            return static_cast<int>(k + 1);
    ADD_FAILURE() << "no partition " << name;
    return 1;
}

// The board as it booted: device data right after the status partition.
const Layout &old_layout()
{
    static const Layout l = {16 * M,
                             {
                                 {"part_info", 0, 512 * K, 0, 0, 512 * K},
                                 {"part_info_1", 512 * K, 1536 * K, 0, 512 * K, 1536 * K},
                                 {"part_info_2", 2048 * K, 1536 * K, 0, 2048 * K, 1536 * K},
                                 {"upg_status", 3584 * K, 256 * K, kStatusFlag, 3584 * K, 256 * K},
                                 {"mac_addr", 3840 * K, 128 * K, 0, 3840 * K, 128 * K},
                                 {"key_block", 3968 * K, 128 * K, 0, 3968 * K, 128 * K},
                                 {"fe_bin", 4096 * K, 256 * K, 0, 4096 * K, 256 * K},
                                 {"fe_power_curve", 4352 * K, 128 * K, 0, 4352 * K, 128 * K},
                                 {"fe_parameters", 4480 * K, 128 * K, 0, 4480 * K, 128 * K},
                                 {"boot_a", 4608 * K, 512 * K, kType1, 4608 * K, 512 * K},
                                 {"kernel", 5120 * K, 2048 * K, 0, 5120 * K, 2048 * K},
                                 {"rootfs", 7168 * K, 9216 * K, 0, 7168 * K, 9216 * K},
                             }};
    return l;
}

// The image's layout: the device data moves behind a kernel that grows by
// one block (type 3) and a larger root file system.
const Layout &new_layout()
{
    static const Layout l = {16 * M,
                             {
                                 {"part_info", 0, 512 * K, 0, 0, 512 * K},
                                 {"part_info_1", 512 * K, 1536 * K, 0, 512 * K, 1536 * K},
                                 {"part_info_2", 2048 * K, 1536 * K, 0, 2048 * K, 1536 * K},
                                 {"upg_status", 3584 * K, 256 * K, kStatusFlag, 3584 * K, 256 * K},
                                 {"boot_a", 3840 * K, 512 * K, kType1, 3840 * K, 512 * K},
                                 {"kernel", 4352 * K, 1664 * K, kType3, 4352 * K, 1536 * K},
                                 {"rootfs", 6016 * K, 4096 * K, 0, 5888 * K, 4096 * K},
                                 {"mac_addr", 10112 * K, 128 * K, 0, 9984 * K, 128 * K},
                                 {"key_block", 10240 * K, 256 * K, 0, 10112 * K, 256 * K},
                                 {"fe_bin", 10496 * K, 256 * K, 0, 10368 * K, 256 * K},
                                 {"fe_power_curve", 10752 * K, 128 * K, 0, 10624 * K, 128 * K},
                                 {"fe_parameters", 10880 * K, 128 * K, 0, 10752 * K, 128 * K},
                             }};
    return l;
}

std::string board_text(const Layout &layout, const std::string &faults)
{
    std::ostringstream s;
    s << "name = upgtest\nnand.name = upgtest_nand\nnand.size = " << layout.nand_size / K
      << "K\nnand.erasesize = 128K\nnand.writesize = 2K\nnand.oobsize = 64\n";
    for (const auto &p : layout.parts)
        s << "partition = " << p.name << " " << p.size / K << "K " << p.offset << "\n";
    s << faults;
    return s.str();
}

std::string ntbl_pit(const Layout &layout)
{
    size_t n = layout.parts.size();
    raw::Bytes b((n + 1) * 64, 0);
    b.words(0, 2, 0x8530EADC);
    b.u32(12, 64);
    b.u32(16, 64);
    b.u32(20, static_cast<uint32_t>(n));
    for (size_t k = 0; k < n; ++k) {
        const Part &p = layout.parts[k];
        raw::pit_record(b, 64 * (k + 1), p.name, static_cast<uint32_t>(k + 1), p.flags, p.pit_offset, p.pit_size);
    }
    return bytes_of(b);
}

std::string adaptive_pit(const Layout &layout)
{
    std::string pit = ntbl_pit(layout);
    put32(pit, 0, 0x8530AAAA);
    put32(pit, 4, 0x8530AAAA);
    for (size_t k = 0; k < layout.parts.size(); ++k) {
        put32(pit, 64 * (k + 1) + 24, layout.parts[k].offset);
        put32(pit, 64 * (k + 1) + 28, layout.parts[k].size);
    }
    return pit;
}

std::string status_record(uint32_t progress, const std::vector<uint32_t> &ids)
{
    raw::Bytes b(176, 0);
    b.text(0, "SGPU");
    b.u32(4, progress);
    for (size_t i = 0; i < ids.size(); ++i)
        b.u32(8 + 4 * i, ids[i]);
    b.u32(136, static_cast<uint32_t>(ids.size()));
    b.text(140, "UPGS");
    return bytes_of(b);
}

std::string pattern(size_t n, uint32_t seed)
{
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = static_cast<char>(x);
    }
    return s;
}

std::vector<Bin> default_bins(uint32_t seed)
{
    return {
        {"boot_a", 0, pattern(100000, seed + 1)},
        {"kernel", 0, pattern(1200000, seed + 2)},
        {"rootfs", 0x800, pattern(400000, seed + 3)},
    };
}

std::string upgimage_image(const std::vector<Bin> &bins, const std::string &layout_word, const std::string &dir,
                           const std::string &pit_word)
{
    std::ostringstream d;
    d << "layout " << layout_word << "\npit " << pit_word << "\nnand 16M block=128K\n";
    for (const auto &p : new_layout().parts) {
        d << "part " << p.name << " " << p.pit_size / K << "K";
        if (p.flags & kStatusFlag)
            d << " status";
        if (p.flags >> 12)
            d << " type=" << (p.flags >> 12);
        d << "\n";
    }
    for (size_t i = 0; i < bins.size(); ++i) {
        std::string file = dir + "/bin" + std::to_string(i);
        std::ofstream(file, std::ios::binary) << bins[i].data;
        d << "bin " << bins[i].part << " " << file << " at=" << bins[i].at << "\n";
    }
    std::string desc = dir + "/image.txt", out = dir + "/image.zip";
    std::ofstream(desc) << d.str();
    std::string cmd = vboard::testkit::bin_path("upgimage") + " build " + desc + " " + out;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(out, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string raw_old_layout_image(const std::vector<Bin> &bins)
{
    std::string pit = ntbl_pit(new_layout());
    raw::Bytes img;
    img.words(0, 4, 0x50495469);
    img.u32(16, 16 * M);
    img.u32(20, 0x100);
    img.u32(24, static_cast<uint32_t>(pit.size()));
    img.u32(28, 0x5EED);
    img.words(32, 4, 0x69544950);
    img.text(0x100, pit);
    // BIT at a 16-byte boundary after the PIT, data from 0x1000 on.
    size_t bit = 0x100 + pit.size() + 16;
    img.words(bit, 5, 0x8530ABCD);
    size_t data = 0x1000;
    for (size_t i = 0; i < bins.size(); ++i) {
        raw::bit_record(img, bit + 20 * (i + 1), static_cast<uint32_t>(new_layout().id(bins[i].part)),
                        static_cast<uint32_t>(data), static_cast<uint32_t>(bins[i].data.size()), bins[i].at);
        img.text(data, bins[i].data);
        data += (bins[i].data.size() + 15) / 16 * 16;
    }
    img.words(bit + 20 * (bins.size() + 1), 5, 0x8530EFEF);
    return bytes_of(img);
}

const std::vector<std::string> &device_data_names()
{
    static const std::vector<std::string> names = {"mac_addr", "key_block", "fe_bin", "fe_power_curve",
                                                   "fe_parameters"};
    return names;
}

std::map<std::string, std::string> device_data(uint32_t seed)
{
    std::map<std::string, std::string> data;
    uint32_t i = 0;
    for (const auto &name : device_data_names())
        data[name] = pattern(old_layout()[name].size, seed * 10 + i++);
    return data;
}

void seed_old_board(vboard::testkit::Board &board, const std::map<std::string, std::string> &data,
                    const std::string &status_a, const std::string &status_b)
{
    const Layout &l = old_layout();
    std::string pit = ntbl_pit(l), adpt = adaptive_pit(l);
    for (const char *p : {"part_info", "part_info_1", "part_info_2"})
        board.seed_nand(l[p].offset, pit);
    for (const char *p : {"part_info_1", "part_info_2"})
        board.seed_nand(l[p].offset + M, adpt);
    if (!status_a.empty())
        board.seed_nand(l["upg_status"].offset, status_a);
    if (!status_b.empty())
        board.seed_nand(l["upg_status"].offset + kBlock, status_b);
    for (const auto &d : data)
        board.seed_nand(l[d.first].offset, d.second);
}

void put_file(vboard::testkit::Board &board, const std::string &path, const std::string &bytes)
{
    std::string host = board.written_path(path);
    make_parents(host);
    std::ofstream(host, std::ios::binary) << bytes;
}

void put_image(vboard::testkit::Board &board, const std::string &image) { put_file(board, "/root/ota.zip", image); }

bool board_file_exists(const vboard::testkit::Board &board, const std::string &path)
{
    struct stat st;
    return stat(board.written_path(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

vboard::testkit::Result run_upgrade(vboard::testkit::Board &board, bool until_complete, int timeout_ms)
{
    std::vector<std::string> argv = {vboard::testkit::bin_path("upgprog")};
    if (!until_complete)
        return board.run(argv, timeout_ms);
    auto p = board.start(argv);
    vboard::testkit::Result r;
    bool complete = p->await_out("UPG Process run complete!", timeout_ms);
    if (complete) {
        p->kill();
    } else if (!p->wait(timeout_ms)) {
        p->kill();
        r.timed_out = true;
    }
    r.status = complete ? 0 : p->status();
    r.out = p->out();
    r.err = p->err();
    return r;
}

namespace {

// "<verb> <dev> block <n> pages <count>" of the journal.
template <typename F> void each_counted(const std::vector<std::string> &journal, const std::string &verb, F f)
{
    for (const auto &line : journal) {
        std::istringstream s(line);
        std::string v, dev, block_word, pages_word;
        long block = 0, count = 0;
        if (s >> v >> dev >> block_word >> block >> pages_word >> count && v == verb && block_word == "block")
            f(dev, block, count);
    }
}

template <typename F> void each_erase(const std::vector<std::string> &journal, F f)
{
    for (const auto &line : journal) {
        std::istringstream s(line);
        std::string v, dev, off;
        if (s >> v >> dev >> off && v == "erase" && off.rfind("0x", 0) == 0)
            f(dev, std::stol(off, nullptr, 16));
    }
}

} // namespace

FlashCounts flash_counts(const std::vector<std::string> &journal, const std::string &dev)
{
    FlashCounts c;
    each_counted(journal, "program",
                 [&](const std::string &d, long, long n) { c.programs += (dev.empty() || d == dev) ? n : 0; });
    each_counted(journal, "read",
                 [&](const std::string &d, long, long n) { c.reads += (dev.empty() || d == dev) ? n : 0; });
    each_erase(journal, [&](const std::string &d, long) { c.erases += (dev.empty() || d == dev) ? 1 : 0; });
    return c;
}

std::map<long, int> erases_per_block(const std::vector<std::string> &journal, const std::string &dev)
{
    std::map<long, int> m;
    each_erase(journal, [&](const std::string &d, long off) {
        if (d == dev)
            ++m[off / kBlock];
    });
    return m;
}

std::map<long, long> reads_per_block(const std::vector<std::string> &journal, const std::string &dev)
{
    std::map<long, long> m;
    each_counted(journal, "read", [&](const std::string &d, long block, long n) {
        if (d == dev)
            m[block] += n;
    });
    return m;
}

} // namespace upgtest
