// The parsers of outside text: kallsyms lines, /proc status words and
// `ls -l` lines, fed through a memory file as the tool reads them.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "labels.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int fd = ::memfd_create("memtally-fuzz", 0);
    static memtally::OwnerTable table;
    ::ftruncate(fd, 0);
    ::pwrite(fd, data, size, 0);
    memtally::Sources src;
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    src.kallsyms = path;
    src.proc = "/nonexistent";
    table.count = 3;
    table.entries[0].key = 0xC0008000;
    table.entries[1].key = 0xBF000010;
    table.entries[2].key = 0xFFFFFFFF;
    memtally::RowText rows[memtally::kWindowRows];
    memtally::find_symbols(src, memtally::Window{&table, 0, rows});
    std::string line(reinterpret_cast<const char *>(data), size);
    unsigned long major = 0, minor = 0;
    const char *name = nullptr;
    memtally::parse_block_device_line(&line[0], &major, &minor, &name);
    return 0;
}
