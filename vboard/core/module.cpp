#include "vboard/module.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "vboard/journal.h"
#include "vboard/state.h"

namespace vboard {

namespace {

constexpr char kNameTag[] = "name=";

uint32_t crc32_of(const unsigned char *p, size_t n)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

// A relocatable ELF object of either class (e_type sits at the same place in both).
bool is_module_elf(const unsigned char *p, size_t n)
{
    if (n < sizeof(Elf32_Ehdr) || std::memcmp(p, ELFMAG, SELFMAG) != 0) {
        return false;
    }
    size_t header = p[EI_CLASS] == ELFCLASS64 ? sizeof(Elf64_Ehdr) : sizeof(Elf32_Ehdr);
    uint16_t type = static_cast<uint16_t>(p[16] | p[17] << 8);
    return n >= header && type == ET_REL;
}

// The module information is NUL-separated "key=value" texts.
std::string module_name(const char *p, size_t n)
{
    size_t tag = sizeof kNameTag - 1;
    for (size_t i = 0; i + tag < n; ++i) {
        if ((i == 0 || p[i - 1] == '\0') && std::memcmp(p + i, kNameTag, tag) == 0) {
            const char *start = p + i + tag;
            const char *end = static_cast<const char *>(std::memchr(start, '\0', n - i - tag));
            return end ? std::string(start, end) : std::string();
        }
    }
    return "";
}

// Options are kept on one line of the state file.
std::string one_line(const std::string &options)
{
    std::string out;
    for (char c : options) {
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return out;
}

int current_boot(const std::string &dir)
{
    std::string text;
    return read_text_file(state_path(dir, kBoots), &text) == 0 ? std::atoi(text.c_str()) : 0;
}

// "boot NAME SIZE CRC32 OPTIONS..." per line.
std::vector<LoadedModule> parse_modules(const std::string &text)
{
    std::vector<LoadedModule> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        LoadedModule m;
        if (fields >> m.boot >> m.name >> m.size >> std::hex >> m.crc32) {
            std::getline(fields, m.options);
            m.options = m.options.empty() ? "" : m.options.substr(1);
            out.push_back(m);
        }
    }
    return out;
}

} // namespace

ModuleImage inspect_module(const void *image, size_t size)
{
    const auto *p = static_cast<const unsigned char *>(image);
    ModuleImage m;
    m.size = size;
    m.crc32 = crc32_of(p, size);
    m.elf = is_module_elf(p, size);
    m.name = m.elf ? module_name(static_cast<const char *>(image), size) : "";
    return m;
}

int load_module(const std::string &dir, const ModuleImage &image, const std::string &options)
{
    if (!image.elf || image.name.empty()) {
        return -ENOEXEC;
    }
    int fd = ::open(state_path(dir, kModulesState).c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return -ENOMEM;
    }
    ::flock(fd, LOCK_EX);
    int rc = 0;
    for (const LoadedModule &m : loaded_modules(dir)) {
        rc = m.name == image.name ? -EEXIST : rc;
    }
    if (rc == 0) {
        std::string line = format("%d %s %zu %08x ", current_boot(dir), image.name.c_str(), image.size, image.crc32) +
                           one_line(options) + "\n";
        rc = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) ? 0 : -ENOMEM;
    }
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return rc;
}

std::vector<LoadedModule> loaded_modules(const std::string &dir)
{
    std::string text;
    read_text_file(state_path(dir, kModulesState), &text);
    int boot = current_boot(dir);
    std::vector<LoadedModule> out;
    for (const LoadedModule &m : parse_modules(text)) {
        if (m.boot == boot) {
            out.push_back(m);
        }
    }
    return out;
}

} // namespace vboard
