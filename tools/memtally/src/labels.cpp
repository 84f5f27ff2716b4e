#include "labels.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace memtally {

namespace {

constexpr unsigned long kModuleAreaEnd = 0xC0000000; // symbols below are in modules
constexpr size_t kNameChars = 39;
constexpr size_t kLineBytes = 512;
constexpr size_t kStatusBytes = 4096; // the thread group id is on an early line
constexpr const char kGroupLabel[] = "Tgid:";
constexpr const char kFileCacheLabel[] = "[FILE CACHE]";
constexpr const char kDeviceBufferLabel[] = "[DEVICE BUFFER]";

void set_text(char *text, const char *value, size_t max_chars = kTextBytes - 1)
{
    std::snprintf(text, kTextBytes, "%.*s", static_cast<int>(max_chars), value);
}

// Calls row(key, text) for each window row that shows an entry.
template <typename Row> void for_each_row(const Window &w, Row row)
{
    for (int r = 0; r < kWindowRows && w.offset + r < w.table->count; ++r) {
        if (w.offset + r >= 0) {
            row(w.table->entries[w.offset + r].key, &w.rows[r]);
        }
    }
}

std::string proc_file(const Sources &src, unsigned long id, const char *name)
{
    return src.proc + "/" + std::to_string(id) + "/" + name;
}

// The second word of /proc/<id>/stat (the name in parentheses); false when
// the file cannot be opened.
bool task_name(const Sources &src, uint32_t id, char name[kNameChars + 1])
{
    FILE *f = std::fopen(proc_file(src, id, "stat").c_str(), "r");
    if (!f) {
        return false;
    }
    int pid = 0;
    char word[256] = "";
    if (std::fscanf(f, "%d %255s", &pid, word) != 2) {
        word[0] = '\0';
    }
    std::fclose(f);
    set_text(name, word, kNameChars);
    return true;
}

void set_raw_numbers(uint32_t key, RowText *row)
{
    unsigned long major = (key >> 16) & 0xFF, minor = (key >> 10) & 0x3F, inode = key & 0x3FF;
    if (top_byte(key) == top_byte(kFileCacheClass)) {
        std::snprintf(row->module, kTextBytes, "(%ld,%ld,%ld)", static_cast<long>(major), static_cast<long>(minor),
                      static_cast<long>(inode));
    } else {
        std::snprintf(row->module, kTextBytes, "(%ld,%ld)", static_cast<long>(major), static_cast<long>(minor));
    }
}

bool key_device_is(uint32_t key, unsigned long major, unsigned long minor)
{
    return ((key >> 16) & 0xFF) == major && ((key >> 10) & 0x3F) == minor;
}

// Runs command, which writes into file, as root writes it: the fixed name
// is first made a fresh file of our own, so that a link planted under that
// name in /tmp cannot send the output elsewhere. Returns 0 or -1.
int run_into_fresh_file(const std::string &file, const std::string &command)
{
    ::unlink(file.c_str());
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return -1;
    }
    ::close(fd);
    std::fflush(stdout);
    return std::system(command.c_str()) == -1 ? -1 : 0;
}

// A line without its line end; false for an empty one.
bool chomp(char *line)
{
    size_t n = std::strlen(line);
    if (n > 0 && line[n - 1] == '\n') {
        line[--n] = '\0';
    }
    return n > 0;
}

// What follows label on the line of text that begins with it; null when
// no line does.
const char *line_after_label(const char *text, const char *label)
{
    size_t n = std::strlen(label);
    const char *line = text;
    while (std::strncmp(line, label, n) != 0) {
        line = std::strchr(line, '\n');
        if (!line) {
            return nullptr;
        }
        ++line;
    }
    return line + n;
}

// Searches the file system for the key's inode bits; a path on the key's
// device names the row. Returns -1 when the result file cannot be read.
int look_up_file(const Sources &src, uint32_t key, RowText *row)
{
    char command[kLineBytes];
    std::snprintf(command, sizeof command, "find %s -inum %ld > %s\n", src.find_root.c_str(),
                  static_cast<long>(key & 0x3FF), src.inum_list.c_str());
    FILE *f = run_into_fresh_file(src.inum_list, command) == 0 ? std::fopen(src.inum_list.c_str(), "r") : nullptr;
    if (!f) {
        return -1;
    }
    char line[kLineBytes];
    struct stat st;
    while (std::fgets(line, sizeof line, f)) {
        if (chomp(line) && ::stat(line, &st) == 0 && key_device_is(key, major(st.st_dev), minor(st.st_dev))) {
            const char *slash = std::strrchr(line, '/');
            set_text(row->module, slash ? slash + 1 : line);
        }
    }
    std::fclose(f);
    return 0;
}

// Names the row after the device of /dev with its numbers. Returns -1 when
// the device list cannot be read.
int look_up_device(const Sources &src, uint32_t key, RowText *row)
{
    FILE *f = std::fopen(src.dev_list.c_str(), "r");
    if (!f) {
        return -1;
    }
    char line[kLineBytes];
    unsigned long major = 0, minor = 0;
    const char *name = nullptr;
    while (std::fgets(line, sizeof line, f)) {
        if (chomp(line) && parse_block_device_line(line, &major, &minor, &name) && key_device_is(key, major, minor)) {
            set_text(row->module, name);
        }
    }
    std::fclose(f);
    return 0;
}

} // namespace

// By field: the column widths differ between ls implementations. Only block
// devices count: character devices share their numbers (vcs is 7,0 as loop0).
bool parse_block_device_line(char *line, unsigned long *major, unsigned long *minor, const char **name)
{
    if (line[0] != 'b') {
        return false;
    }
    char *fields[9];
    char *p = line;
    for (char *&field : fields) {
        p += std::strspn(p, " \t");
        if (*p == '\0') {
            return false;
        }
        field = p;
        p += std::strcspn(p, " \t");
    }
    p += std::strspn(p, " \t");
    char *end = nullptr;
    *major = std::strtoul(fields[4], &end, 10);
    if (end == fields[4] || *end != ',' || *p == '\0') {
        return false;
    }
    *minor = std::strtoul(fields[5], &end, 10);
    *name = p;
    return end != fields[5];
}

void find_symbols(const Sources &src, const Window &w)
{
    for (int r = 0; r < kWindowRows; ++r) {
        w.rows[r] = RowText{};
    }
    FILE *f = std::fopen(src.kallsyms.c_str(), "r");
    if (!f) {
        return;
    }
    char line[kLineBytes], name[kTextBytes], module[kTextBytes] = "";
    bool in_modules = false;
    while (std::fgets(line, sizeof line, f)) {
        unsigned long address = 0;
        char type = 0;
        if (std::sscanf(line, "%8lx %c %79s", &address, &type, name) != 3) {
            continue;
        }
        in_modules = in_modules || address < kModuleAreaEnd;
        if (in_modules && std::sscanf(line, "%*s %*s %*s %79s", module) != 1) {
            module[0] = '\0';
        }
        for_each_row(w, [&](uint32_t key, RowText *row) {
            if ((row->best < address && address <= key) || (address == row->best && name[0] != '$')) {
                row->best = address;
                set_text(row->symbol, name);
                set_text(row->module, module);
            }
        });
    }
    std::fclose(f);
}

uint32_t thread_group(const Sources &src, uint32_t tid)
{
    FILE *f = std::fopen(proc_file(src, tid, "status").c_str(), "r");
    if (!f) {
        return tid;
    }
    char text[kStatusBytes];
    text[std::fread(text, 1, sizeof text - 1, f)] = '\0';
    std::fclose(f);
    // The id follows the label at the start of its line (a task's name may
    // hold the label too); without one it is the seventh word (kernels
    // before 4.7 have no Umask line ahead of it).
    char seventh[256] = "";
    const char *number = line_after_label(text, kGroupLabel);
    if (!number && std::sscanf(text, "%*s %*s %*s %*s %*s %*s %255s", seventh) == 1) {
        number = seventh;
    }
    char *end = nullptr;
    unsigned long group = number ? std::strtoul(number, &end, 10) : 0;
    return number && end != number && group < kKernelAddressBase ? static_cast<uint32_t>(group) : tid;
}

void find_names(const Sources &src, const Window &w, int thread_mode)
{
    for_each_row(w, [&](uint32_t key, RowText *row) {
        char thread[kNameChars + 1] = "", process[kNameChars + 1] = "";
        if (!is_task(key) || !task_name(src, key, thread)) {
            return;
        }
        if (thread_mode != 0) {
            task_name(src, thread_group(src, key), process);
        }
        std::snprintf(row->module, kTextBytes, "%s%s", thread, process);
    });
}

void find_files(const Sources &src, const Window &w, int file_mode)
{
    // A device list that could not be made afresh may be an old one.
    bool looking_up = file_mode == 1;
    bool dev_list_made = looking_up &&
                         run_into_fresh_file(src.dev_list, "ls -l " + src.dev_dir + " > " + src.dev_list) == 0;
    for_each_row(w, [&](uint32_t key, RowText *row) {
        bool file = top_byte(key) == top_byte(kFileCacheClass), device = top_byte(key) == top_byte(kDeviceBufferClass);
        if (key == kNonBuddyPage || (!file && !device)) {
            return;
        }
        set_text(row->symbol, file ? kFileCacheLabel : kDeviceBufferLabel);
        row->module[0] = '\0';
        if (file_mode == 2) {
            set_raw_numbers(key, row);
        } else if (looking_up) {
            // Once a look-up file fails the later rows are not looked up,
            // but they keep their labels.
            int found = file ? look_up_file(src, key, row) : dev_list_made ? look_up_device(src, key, row) : -1;
            looking_up = found == 0;
        }
    });
}

} // namespace memtally
