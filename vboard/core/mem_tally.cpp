#include "vboard/mem_tally.h"

#include <algorithm>
#include <cstdio>

#include "vboard/board.h"

namespace vboard {

namespace {

constexpr uint32_t kKernelText = 0xC0008000;
constexpr uint32_t kModuleBase = 0xBF000000;
constexpr int kKernelFunctions = 24000;
constexpr int kKernelDataSymbols = 8000;
constexpr int kModuleFunctions = 300;

const char *const kModules[] = {"qiv_vdec", "qiv_nand", "qiv_gpu", "qiv_cbagent"};

// Name parts of kernel functions: subsystem, action, object.
const char *const kSubsystems[] = {"sys",  "do",  "vfs",  "ext4", "ubifs", "nand",   "mtd",   "tcp",   "ip",
                                   "usb",  "snd", "fb",   "kmem", "page",  "mm",     "sched", "irq",   "dma",
                                   "skb",  "blk", "scsi", "nfs",  "sock",  "pipe",   "tty",   "input", "i2c",
                                   "gpio", "clk", "rtc",  "wq",   "timer", "signal", "proc",  "sysfs", "ubi"};
const char *const kActions[] = {"alloc",  "free",     "read", "write", "open",   "release", "init",   "exit",
                                "map",    "unmap",    "get",  "put",   "lookup", "insert",  "remove", "queue",
                                "submit", "complete", "poll", "ioctl", "flush",  "sync",    "copy",   "fill"};
const char *const kObjects[] = {"",        "_page",  "_pages", "_buffer", "_node", "_entry", "_locked",
                                "_one",    "_range", "_work",  "_bio",    "_req",  "_slab",  "_inode",
                                "_dentry", "_frame", "_desc",  "_ring",   "_area", "_cache"};
// Allocating functions of the real kernel, always present.
const char *const kAllocators[] = {"__get_free_pages",
                                   "__alloc_pages_nodemask",
                                   "alloc_pages_exact",
                                   "__alloc_skb",
                                   "kmem_cache_alloc",
                                   "__kmalloc",
                                   "vmalloc",
                                   "dma_alloc_coherent",
                                   "do_anonymous_page",
                                   "do_wp_page",
                                   "__page_cache_alloc",
                                   "grab_cache_page_write_begin",
                                   "pte_alloc_one",
                                   "copy_process",
                                   "alloc_thread_info",
                                   "pgd_alloc",
                                   "__do_page_cache_readahead",
                                   "shmem_getpage_gfp"};

// A small deterministic generator (splitmix64).
struct Rng {
    uint64_t state;
    uint64_t next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint64_t n) { return n ? static_cast<uint32_t>(next() % n) : 0; }
    // An index below n, small ones far more likely (a few owners hold most).
    uint32_t skewed(size_t n)
    {
        double u = static_cast<double>(next() >> 11) / static_cast<double>(1ull << 53);
        return static_cast<uint32_t>(static_cast<double>(n) * u * u * u);
    }
};

template <typename T, size_t N> const char *pick(Rng &rng, const T (&list)[N]) { return list[rng.below(N)]; }

void add_line(std::string *text, uint32_t address, char type, const std::string &name, const char *module)
{
    char line[160];
    int n = module ? std::snprintf(line, sizeof line, "%08x %c %s\t[%s]\n", address, type, name.c_str(), module)
                   : std::snprintf(line, sizeof line, "%08x %c %s\n", address, type, name.c_str());
    text->append(line, static_cast<size_t>(n));
}

std::string function_name(Rng &rng)
{
    return std::string(pick(rng, kSubsystems)) + "_" + pick(rng, kActions) + pick(rng, kObjects);
}

// Functions from address on, each followed now and then by a literal pool
// ("$d") and opened by an ARM mapping symbol ("$a") at its own address.
// Every function named "alloc" gives call sites inside its body.
uint32_t add_functions(Rng &rng, uint32_t address, int count, const char *module, KernelSymbols *out)
{
    const size_t allocators = sizeof kAllocators / sizeof *kAllocators;
    for (int i = 0; i < count; ++i) {
        bool real_allocator = !module && static_cast<size_t>(i) < allocators;
        std::string name = real_allocator ? kAllocators[i] : function_name(rng);
        if (module) {
            name = std::string(module).substr(4) + "_" + name;
        }
        uint32_t size = 16 + 4 * rng.below(250);
        if (rng.below(4) == 0) {
            add_line(&out->text, address, 't', "$a", module);
        }
        add_line(&out->text, address, rng.below(3) == 0 ? 't' : 'T', name, module);
        if (real_allocator || name.find("alloc") != std::string::npos) {
            for (uint32_t site = 1 + rng.below(3); site > 0; --site) {
                out->call_sites.push_back(address + 4 + 4 * rng.below(size / 4 - 1));
            }
        }
        if (rng.below(5) == 0) {
            add_line(&out->text, address + size - 8, 't', "$d", module);
        }
        address += size;
    }
    return address;
}

} // namespace

int parse_mem_tally_key(const std::string &key, const std::string &value, MemTallyConfig *config, std::string *why)
{
    uint64_t v = 0;
    bool number_ok = parse_size(value, &v) == 0;
    if (key == "mem_tally.size") {
        if (!number_ok || v == 0 || v % kMemTallyPageSize != 0 || v / kMemTallyPageSize > kMemTallyMaxPages) {
            *why = "bad memory size '" + value + "' (whole 4K pages, at most 4G)";
            return -1;
        }
        config->pages = v / kMemTallyPageSize;
    } else if (key == "mem_tally.seed") {
        if (!number_ok) {
            *why = "bad number '" + value + "' for mem_tally.seed";
            return -1;
        }
        config->seed = v;
    } else if (key == "mem_tally.file" || key == "kallsyms.file") {
        if (value.empty()) {
            *why = "missing file name for " + key;
            return -1;
        }
        (key == "mem_tally.file" ? config->file : config->kallsyms_file) = value;
    } else {
        return 0;
    }
    return 1;
}

std::string mem_tally_summary(const MemTallyConfig &config)
{
    std::string table = config.file.empty() ? "generated, " + std::to_string(config.pages) + " pages (" +
                                                  std::to_string(config.pages * kMemTallyPageSize >> 20) +
                                                  " MiB), seed " + std::to_string(config.seed)
                                            : "given " + config.file;
    return "page-owner table: " + table +
           "; kallsyms: " + (config.kallsyms_file.empty() ? "generated" : "given " + config.kallsyms_file);
}

uint32_t file_owner_word(unsigned major, unsigned minor, uint64_t inode)
{
    if (major > 0xFF || minor > 0x3F || inode > 0x3FF) {
        return 0;
    }
    return kOwnerFileCache | major << 16 | minor << 10 | static_cast<uint32_t>(inode);
}

uint32_t device_owner_word(unsigned major, unsigned minor)
{
    return major > 0xFF || minor > 0x3F ? 0 : kOwnerDeviceBuffer | major << 16 | minor << 10;
}

KernelSymbols generate_kallsyms(uint64_t seed)
{
    Rng rng{seed ^ 0x6B616C6C73796D73ull};
    KernelSymbols out;
    out.text.reserve(1u << 20);
    add_line(&out.text, kKernelText - 0x8000 + 0x4000, 't', "swapper_pg_dir", nullptr);
    add_line(&out.text, kKernelText, 'T', "stext", nullptr);
    uint32_t address = add_functions(rng, kKernelText + 0x40, kKernelFunctions, nullptr, &out);
    add_line(&out.text, address, 'T', "_etext", nullptr);
    static const char kDataTypes[] = {'r', 'R', 'd', 'D', 'b', 'B'};
    for (int i = 0; i < kKernelDataSymbols; ++i) {
        address += 4 * (1 + rng.below(64));
        add_line(&out.text, address, kDataTypes[i * 6 / kKernelDataSymbols], function_name(rng) + "_data", nullptr);
    }
    uint32_t module_start = kModuleBase;
    for (const char *module : kModules) {
        add_functions(rng, module_start, kModuleFunctions, module, &out);
        module_start += 0x40000;
    }
    return out;
}

std::string generate_mem_tally(const MemTallyConfig &config, const BoardView &view, const KernelSymbols &symbols)
{
    Rng rng{config.seed};
    std::vector<uint32_t> words(config.pages, kOwnerFree);
    // The kernel image at the start and a carve-out for video frames.
    uint64_t image_end = config.pages / 48 + 1;
    uint64_t carve_start = config.pages * 5 / 8, carve_end = carve_start + config.pages / 10;
    const std::vector<uint32_t> *kinds[] = {&symbols.call_sites, &view.threads, &view.file_words, &view.device_words};
    // Of 100; the rest is free. A board with few tasks gives them less.
    const uint32_t task_weight = static_cast<uint32_t>(std::min<size_t>(20, 2 * view.threads.size()));
    const uint32_t kKindWeights[] = {26, task_weight, 20, 4};
    for (uint64_t page = image_end; page < config.pages;) {
        uint64_t run = rng.below(8) == 0 ? 1 + rng.below(512) : 1 + rng.below(24);
        uint32_t roll = rng.below(100), owner = kOwnerFree;
        for (size_t k = 0; k < 4; ++k) {
            if (roll < kKindWeights[k]) {
                owner = kinds[k]->empty() ? kOwnerFree : (*kinds[k])[rng.skewed(kinds[k]->size())];
                break;
            }
            roll -= kKindWeights[k];
        }
        for (uint64_t end = std::min(page + run, config.pages); page < end; ++page) {
            words[page] = owner;
        }
    }
    for (uint64_t page = 0; page < config.pages; ++page) {
        if (page < image_end || (page >= carve_start && page < carve_end)) {
            words[page] = kOwnerNonBuddy;
        }
    }
    std::string bytes(words.size() * 4, '\0');
    for (size_t i = 0; i < words.size(); ++i) {
        for (int b = 0; b < 4; ++b) {
            bytes[i * 4 + b] = static_cast<char>(words[i] >> (8 * b));
        }
    }
    return bytes;
}

} // namespace vboard
