// The PIT stored on the flash, in the first part_info partition that
// /proc/mtd lists.
#include "image_tables.h"
#include "mtd_geometry.h"
#include "nand.h"
#include "trace.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace upg;

namespace {

constexpr size_t kProcMtdBuffer = 8192;
constexpr size_t kProcMtdRead = 8189;

// Reads the first erase block of one part_info partition and parses it.
int pit_from_partition(const std::string &dev, int mtd_number)
{
    std::string path = "/dev/" + dev;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        std::printf("<UPG_PROG> Err: Open /dev/mtdn fail! @Line %d\n", __LINE__);
        return -1;
    }
    mtd_info_user info{};
    int rc = mtd_geometry(fd, &info);
    close(fd);
    if (rc < 0) {
        std::printf("<UPG_PROG> Err: cmd %d! @Line %d\n", static_cast<int>(kMemGetInfo), __LINE__);
        return -1;
    }
    uint8_t *block = static_cast<uint8_t *>(std::malloc(info.erasesize));
    if (block == nullptr)
        return -1;
    long got = i4MpDataRead(static_cast<uint32_t>(mtd_number), 0, block, info.erasesize);
    if (got != 0) {
        std::printf("<UPG_PROG> Err: ret value %ld! @Line %d\n", got, __LINE__);
        rc = -1;
    } else {
        rc = upg_parse_nand_pit(block, info.erasesize);
    }
    std::free(block);
    return rc;
}

// The part_info lines of /proc/mtd: device name and MTD number.
struct t_part_info_line {
    std::string dev;
    int number;
};

int part_info_lines(const char *text, t_part_info_line *out, int max)
{
    int found = 0, number = -1; // the header line comes before mtd0
    for (const char *line = text; *line != '\0' && found < max; ++number) {
        const char *end = std::strchr(line, '\n');
        size_t len = end ? static_cast<size_t>(end - line) : std::strlen(line);
        std::string l(line, len);
        size_t colon = l.find(':');
        if (l.find("part_info") != std::string::npos && colon != std::string::npos)
            out[found++] = {l.substr(0, colon), number};
        line += len + (end ? 1 : 0);
    }
    return found;
}

} // namespace

int upg_linux_get_pit_on_nand()
{
    UPG_TRACE();
    FILE *f = std::fopen("/proc/mtd", "rb");
    if (f == nullptr) {
        std::printf("<UPG_PROG> Err: Open /proc/mtd fail! @Line %d\n", __LINE__);
        return -1;
    }
    char *text = static_cast<char *>(std::calloc(1, kProcMtdBuffer));
    if (text == nullptr) {
        std::printf("<UPG_PROG> Err: malloc fail! @Line %d\n", __LINE__);
        std::fclose(f);
        return -1;
    }
    long got = load_data_to_buff(reinterpret_cast<uint8_t *>(text), kProcMtdRead, f);
    std::fclose(f);
    if (got < 0) {
        std::printf("<UPG_PROG> Err: load buffer err! @Line %d\n", __LINE__);
        std::free(text);
        return -1;
    }
    constexpr int kMaxLines = 8;
    t_part_info_line lines[kMaxLines];
    int n = part_info_lines(text, lines, kMaxLines);
    std::free(text);
    if (n == 0) {
        std::printf("<UPG_PROG> Err: no pit found on nand! @Line %d\n", __LINE__);
        return -1;
    }
    // The first part_info partition is the one read; the later copies
    // stand in when power failed while the first was being rewritten.
    int rc = -1;
    for (int i = 0; i < n; ++i) {
        rc = pit_from_partition(lines[i].dev, lines[i].number);
        if (rc != kNoPitInBlock)
            break;
        if (i + 1 < n)
            std::printf("<UPG_PROG> no pit in %s, trying %s @Line %d\n", lines[i].dev.c_str(), lines[i + 1].dev.c_str(),
                        __LINE__);
    }
    return rc == 0 ? 0 : -1;
}
