// "/proc/mem_tally" and "/proc/kallsyms": the kernel's page-owner table and
// the symbols its kernel words fall in, served from memory. The table is
// built at every open from what lives on the board then (its threads, files
// under /etc, block devices in /dev), or is the board file's given one.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "devices.h"
#include "vboard/mem_tally.h"

namespace vboard {

namespace {

constexpr const char kMemTallyPath[] = "/proc/mem_tally";
constexpr const char kKallsymsPath[] = "/proc/kallsyms";
// Files whose pages the generated table puts in the file cache.
constexpr const char kCachedFilesRoot[] = "/etc";
constexpr int kCachedFilesDepth = 2;
constexpr size_t kMaxCachedFiles = 64;

// Numeric entries of a /proc directory.
std::vector<uint32_t> numeric_entries(const std::string &dir)
{
    std::vector<uint32_t> ids;
    if (DIR *d = ::opendir(dir.c_str())) {
        while (struct dirent *e = ::readdir(d)) {
            char *end = nullptr;
            unsigned long id = std::strtoul(e->d_name, &end, 10);
            if (e->d_name[0] >= '1' && e->d_name[0] <= '9' && *end == '\0' && id < kOwnerKernelBase) {
                ids.push_back(static_cast<uint32_t>(id));
            }
        }
        ::closedir(d);
    }
    return ids;
}

std::vector<uint32_t> live_threads()
{
    std::vector<uint32_t> threads;
    for (uint32_t pid : numeric_entries("/proc")) {
        std::vector<uint32_t> tids = numeric_entries("/proc/" + std::to_string(pid) + "/task");
        threads.insert(threads.end(), tids.begin(), tids.end());
    }
    std::sort(threads.begin(), threads.end());
    return threads;
}

void collect_cached_files(const std::string &dir, int depth, std::vector<uint32_t> *words)
{
    DIR *d = ::opendir(dir.c_str());
    if (!d) {
        return;
    }
    while (struct dirent *e = ::readdir(d)) {
        std::string name = e->d_name;
        struct stat st;
        if (name == "." || name == ".." || ::lstat((dir + "/" + name).c_str(), &st) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode) && depth > 1) {
            collect_cached_files(dir + "/" + name, depth - 1, words);
        } else if (S_ISREG(st.st_mode)) {
            if (uint32_t word = file_owner_word(major(st.st_dev), minor(st.st_dev), st.st_ino)) {
                words->push_back(word);
            }
        }
    }
    ::closedir(d);
}

std::vector<uint32_t> block_devices()
{
    std::vector<uint32_t> words;
    if (DIR *d = ::opendir("/dev")) {
        while (struct dirent *e = ::readdir(d)) {
            struct stat st;
            if (::lstat((std::string("/dev/") + e->d_name).c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
                if (uint32_t word = device_owner_word(major(st.st_rdev), minor(st.st_rdev))) {
                    words.push_back(word);
                }
            }
        }
        ::closedir(d);
    }
    return words;
}

void sort_unique(std::vector<uint32_t> *words, size_t limit)
{
    std::sort(words->begin(), words->end());
    words->erase(std::unique(words->begin(), words->end()), words->end());
    if (words->size() > limit) {
        words->resize(limit);
    }
}

BoardView board_view()
{
    BoardView view;
    view.threads = live_threads();
    collect_cached_files(kCachedFilesRoot, kCachedFilesDepth, &view.file_words);
    sort_unique(&view.file_words, kMaxCachedFiles);
    view.device_words = block_devices();
    sort_unique(&view.device_words, view.device_words.size());
    return view;
}

// A given file: absolute, or relative to the state directory.
int read_given(const DeviceContext &context, const std::string &file, std::string *content)
{
    std::ifstream in(file[0] == '/' ? file : context.dir + "/" + file, std::ios::binary);
    if (!in) {
        return -ENOENT;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    *content = bytes.str();
    return 0;
}

bool is_mem_tally(const std::string &path) { return path == kMemTallyPath; }
bool is_kallsyms(const std::string &path) { return path == kKallsymsPath; }

int open_mem_tally(const DeviceContext &context, const std::string &, int flags, std::shared_ptr<EmulatedFile> *,
                   std::string *content)
{
    const MemTallyConfig &config = context.board.mem_tally;
    if ((flags & O_ACCMODE) != O_RDONLY) {
        return -EACCES;
    }
    if (!config.file.empty()) {
        return read_given(context, config.file, content);
    }
    *content = generate_mem_tally(config, board_view(), generate_kallsyms(config.seed));
    return 0;
}

int open_kallsyms(const DeviceContext &context, const std::string &, int flags, std::shared_ptr<EmulatedFile> *,
                  std::string *content)
{
    const MemTallyConfig &config = context.board.mem_tally;
    if ((flags & O_ACCMODE) != O_RDONLY) {
        return -EACCES;
    }
    if (!config.kallsyms_file.empty()) {
        return read_given(context, config.kallsyms_file, content);
    }
    *content = generate_kallsyms(config.seed).text;
    return 0;
}

} // namespace

const DeviceType kMemTallyFile = {is_mem_tally, open_mem_tally};
const DeviceType kKallsymsFile = {is_kallsyms, open_kallsyms};

} // namespace vboard
