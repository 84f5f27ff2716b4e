// Time of one refresh (scan, merges, sort, symbols, names and the frame)
// against a bare read of the same page file, for 256 Ki and 1 Mi pages
// with 1024 owners and a generated kallsyms of board size.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "monitor.h"
#include "vboard/mem_tally.h"
#include "vboard/temp_dir.h"

namespace {

constexpr int kRounds = 5;

double best_ms(const std::function<void()> &work)
{
    double best = 1e9;
    for (int i = 0; i < kRounds; ++i) {
        auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best,
                        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

// 1024 owners in runs of 1 to 32 pages: kernel call sites, this process's
// id (its name is looked up), files, devices, free and non-buddy pages.
std::string page_file(size_t pages, const std::vector<uint32_t> &sites)
{
    std::mt19937 rng(7);
    std::vector<uint32_t> owners = {0, 0xFFFFFFFF, static_cast<uint32_t>(::getpid())};
    for (uint32_t i = 0; owners.size() < 1024; ++i) {
        uint32_t owner = i % 4 == 0 ? 0xFF000000 | i : sites[i % sites.size()] + 4 * (i / sites.size());
        if (std::find(owners.begin(), owners.end(), owner) == owners.end()) {
            owners.push_back(owner);
        }
    }
    std::string bytes;
    bytes.reserve(pages * 4);
    while (bytes.size() < pages * 4) {
        uint32_t owner = owners[rng() % owners.size()];
        for (uint32_t n = 1 + rng() % 32; n > 0 && bytes.size() < pages * 4; --n) {
            for (int b = 0; b < 4; ++b) {
                bytes += static_cast<char>(owner >> (8 * b));
            }
        }
    }
    return bytes;
}

void write_file(const std::string &path, const std::string &bytes) { std::ofstream(path, std::ios::binary) << bytes; }

} // namespace

int main()
{
    const vboard::testkit::TempDir dir("memtally-bench");
    vboard::KernelSymbols symbols = vboard::generate_kallsyms(1);
    static memtally::Monitor monitor;
    monitor.src.mem_tally = dir.file("mem_tally");
    monitor.src.kallsyms = dir.file("kallsyms");
    write_file(monitor.src.kallsyms, symbols.text);
    std::printf("kallsyms: %zu lines\n",
                static_cast<size_t>(std::count(symbols.text.begin(), symbols.text.end(), '\n')));
    std::printf("%10s %8s %10s %10s %12s %8s\n", "pages", "owners", "read ms", "scan ms", "refresh ms", "ratio");
    for (size_t pages : {size_t(256) << 10, size_t(1) << 20}) {
        write_file(monitor.src.mem_tally, page_file(pages, symbols.call_sites));
        double read_ms = best_ms([&] { (void)memtally::count_pages(monitor.src.mem_tally); });
        double scan_ms = best_ms([&] { memtally::scan_owners(monitor.src.mem_tally, 0, 0xFFFFFFFF, &monitor.table); });
        int owners = monitor.table.count;
        double refresh_ms = best_ms([&] {
            memtally::collect(&monitor);
            std::string frame = memtally::label_and_render(&monitor);
            if (frame.empty()) {
                std::abort();
            }
        });
        std::printf("%10zu %8d %10.2f %10.2f %12.2f %8.1f\n", pages, owners, read_ms, scan_ms, refresh_ms,
                    refresh_ms / read_ms);
    }
    std::printf("ratio: refresh (scan, merges, sort, symbols, names, frame) / bare read of the page file\n");
    return 0;
}
