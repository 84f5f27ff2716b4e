// Upgrades a 64 MiB image on a 256 MiB virtual board and compares the flash
// operations with the least the image needs.
#include "board_support.h"

#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <sstream>

using namespace upgtest;
using vboard::testkit::Board;

namespace {

constexpr uint32_t kNand = 256 * M;

// The board's layout, large enough for a 56 MiB root file system.
Layout big(bool grown)
{
    uint32_t kernel = grown ? 8 * M + kBlock : 8 * M;
    Layout l{kNand, {}};
    uint32_t off = 0;
    auto add = [&](const std::string &name, uint32_t size, uint32_t flags, uint32_t pit_size) {
        l.parts.push_back({name, off, size, flags, off, pit_size});
        off += size;
    };
    add("part_info", 1 * M, 0, 1 * M);
    add("part_info_1", 2 * M, 0, 2 * M);
    add("part_info_2", 2 * M, 0, 2 * M);
    add("upg_status", 1 * M, 8, 1 * M);
    add("mac_addr", 512 * K, 0, 512 * K);
    add("key_block", 512 * K, 0, 512 * K);
    add("fe_bin", 1 * M, 0, 1 * M);
    add("fe_power_curve", 512 * K, 0, 512 * K);
    add("fe_parameters", 512 * K, 0, 512 * K);
    add("kernel", kernel, 0x3000, 8 * M);
    add("rootfs", 160 * M, 0, 160 * M);
    return l;
}

// VmHWM of the running process named name, in KiB (0 when not found).
long peak_kib(const std::string &program)
{
    long peak = 0;
    DIR *d = opendir("/proc");
    for (dirent *e; d && (e = readdir(d));) {
        std::ifstream comm(std::string("/proc/") + e->d_name + "/comm");
        std::string name;
        if (!(comm >> name) || name != program)
            continue;
        std::ifstream status(std::string("/proc/") + e->d_name + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmHWM:", 0) == 0)
                peak = std::max(peak, std::stol(line.substr(6)));
    }
    if (d)
        closedir(d);
    return peak;
}

long blocks_of(uint32_t at, uint32_t len) { return (at + len - 1) / kBlock - at / kBlock + 1; }

} // namespace

int main()
{
    Layout old_l = big(false);
    Board board(board_text(old_l));
    for (const char *p : {"part_info", "part_info_1", "part_info_2"})
        board.seed_nand(old_l[p].offset, ntbl_pit(old_l));
    board.seed_nand(old_l["upg_status"].offset, status_record(0, {4}));
    board.seed_nand(old_l["upg_status"].offset + kBlock, status_record(0, {4}));
    for (const auto &name : device_data_names())
        board.seed_nand(old_l[name].offset, pattern(old_l[name].size, 1));

    std::vector<Bin> bins = {{"kernel", 0, pattern(8 * M, 2)}, {"rootfs", 0, pattern(56 * M, 3)}};
    std::ostringstream d;
    d << "layout ntblfmt\nnand 256M\n";
    for (const auto &p : old_l.parts)
        d << "part " << p.name << " " << p.pit_size / K << "K" << (p.flags & 8 ? " status" : "")
          << (p.flags ? (p.flags & 0x3000 ? " type=3" : "") : "") << "\n";
    for (size_t i = 0; i < bins.size(); ++i) {
        std::string file = board.work() + "/bin" + std::to_string(i);
        std::ofstream(file, std::ios::binary) << bins[i].data;
        d << "bin " << bins[i].part << " " << file << "\n";
    }
    std::ofstream(board.work() + "/image.txt") << d.str();
    std::string cmd = vboard::testkit::bin_path("upgimage") + " build " + board.work() + "/image.txt " +
                      board.written_path("/root/ota.zip");
    std::system(("mkdir -p " + board.written_path("/root")).c_str());
    if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "upg_bench: %s failed\n", cmd.c_str());
        return 1;
    }

    auto start = std::chrono::steady_clock::now();
    auto p = board.start({vboard::testkit::bin_path("upgprog")});
    if (!p->await_out("UPG Process run complete!", 600000)) {
        std::fprintf(stderr, "upg_bench: the upgrade did not complete\n%s\n", p->out().c_str());
        return 1;
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long peak = peak_kib("upgprog");
    p->kill();

    // Baseline: a program that only sleeps, on a board of its own.
    Board idle(board_text(old_l));
    auto sleeper = idle.start({"sleep", "5"});
    long base = 0;
    vboard::testkit::await([&] { return (base = peak_kib("sleep")) > 0; }, 3000);
    sleeper->kill();

    auto journal = board.journal();
    FlashCounts all = flash_counts(journal), nfb = flash_counts(journal, "mtd0");
    Layout new_l = big(true);
    long min_blocks = 0;
    for (const auto &b : bins)
        min_blocks += blocks_of(new_l[b.part].offset + b.at, static_cast<uint32_t>(b.data.size()));
    for (const auto &name : device_data_names())
        min_blocks += blocks_of(0, old_l[name].size);
    min_blocks += 3 + 2; // the PIT in three part_info partitions, the adaptive PIT in two
    long pages = kBlock / kPage;
    double mib = 64.0;
    std::printf("upgrade of a %.0f MiB image on a 256 MiB board (128 KiB blocks, 2 KiB pages)\n", mib);
    std::printf("  wall time        %.2f s (until the flash is final; the 4 s reboot delay not counted)\n", secs);
    std::printf("  throughput       %.1f MiB/s\n", mib / secs);
    std::printf("  erases           %ld through /dev/mtd0 (minimum %ld), %ld in all\n", nfb.erases, min_blocks,
                all.erases);
    std::printf("  page programs    %ld through /dev/mtd0 (minimum %ld), %ld in all\n", nfb.programs,
                min_blocks * pages, all.programs);
    std::printf(
        "  bytes read back  %ld through /dev/mtd0 (minimum %ld: the five partial PIT blocks), %ld in all "
        "(device data saved, status record)\n",
        nfb.reads * kPage, 5 * static_cast<long>(kBlock), all.reads * kPage);
    std::printf(
        "  peak memory      %ld KiB resident in upgprog, %ld KiB more than an idle `sleep` on the board\n"
        "                   (bound: the 1 MiB image buffer + one 128 KiB block copy + the program)\n",
        peak, peak - base);
    return 0;
}
