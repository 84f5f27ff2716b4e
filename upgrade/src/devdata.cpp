// The per-device data partitions: saved into files from the layout the
// board booted with, written back into the partitions of the new layout.
#include "image_tables.h"
#include "mtd_geometry.h"
#include "nand.h"
#include "status.h"
#include "trace.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace upg;

const t_saved_data kSavedData[kSavedDataCount] = {
    {"mac_addr", "/network.ini"},          {"key_block", "/key_block.dat"},     {"fe_bin", "/fe_bin"},
    {"fe_power_curve", "/fe_power_curve"}, {"fe_parameters", "/fe_parameters"},
};

namespace {

constexpr size_t kCommandBytes = 100;
// Files whose partition could not be written back: their only good copy.
bool restore_failed[kSavedDataCount];

void note_restore_failure(const char *path)
{
    for (int i = 0; i < kSavedDataCount; ++i)
        if (std::string(kSavedData[i].file) == path)
            restore_failed[i] = true;
}

// The first entry from index `from` on whose name contains name, in the
// table of the pair its readers use (it ends at the first free entry);
// its index, or -1.
int next_named_partition(const t_pit_pair &pair, bool old_layout, const char *name, int from, t_part_view *out)
{
    for (int i = from; i < kPitEntries; ++i) {
        t_part_view e = pit_entry(pair, old_layout, i);
        if (e.id == -1)
            return -1;
        if (name_contains(e.name, name)) {
            *out = e;
            return i;
        }
    }
    return -1;
}

// Ends the run from a save that cannot complete; the half-written file
// must not pass for a saved partition.
[[noreturn]] void abandon_save(FILE *f, const std::string &tmp, uint8_t *buf)
{
    std::free(buf);
    std::fclose(f);
    std::remove(tmp.c_str());
    std::exit(1);
}

} // namespace

int is_file_exist(const char *path)
{
    UPG_TRACE();
    FILE *f = std::fopen(path, "rb");
    if (f == nullptr)
        return 0;
    std::fclose(f);
    return 1;
}

// The file is written under a temporary name and renamed when complete, so
// that a file of that name is always a whole copy of its partition.
int upg_linux_save_raw_data_from_nand(int fd, uint32_t u4DevId, uint32_t size, const char *path)
{
    UPG_TRACE();
    std::string tmp = std::string(path) + ".new";
    FILE *f = std::fopen(tmp.c_str(), "wb");
    if (f == nullptr) {
        std::printf("<UPG_PROG> Err: Open %s fail! @Line %d\n", path, __LINE__);
        if (size == 0)
            return -1;
        std::exit(1);
    }
    mtd_info_user info{};
    if (mtd_geometry(fd, &info) != 0) {
        std::printf("<UPG_PROG> Err: cmd %d! @Line %d\n", static_cast<int>(kMemGetInfo), __LINE__);
        abandon_save(f, tmp, nullptr);
    }
    uint32_t es = info.erasesize;
    uint8_t *buf = static_cast<uint8_t *>(std::malloc(es));
    if (buf == nullptr) {
        std::printf("<UPG_PROG> Err: malloc fail! @Line %d\n", __LINE__);
        abandon_save(f, tmp, buf);
    }
    for (uint32_t off = 0; off < size;) {
        uint32_t n = size - off < es ? size - off : es;
        long rc = i4MpDataRead(u4DevId, off, buf, n);
        if (rc != 0) {
            std::printf("<UPG_PROG> Err: ret value %ld! @Line %d\n", rc, __LINE__);
            abandon_save(f, tmp, buf);
        }
        if (std::fwrite(buf, 1, n, f) != n) {
            std::printf("<UPG_PROG> Err: write fail! @Line %d\n", __LINE__);
            abandon_save(f, tmp, buf);
        }
        off += n;
    }
    std::free(buf);
    bool synced = std::fflush(f) == 0 && fsync(fileno(f)) == 0;
    if (std::fclose(f) != 0 || !synced || std::rename(tmp.c_str(), path) != 0) {
        std::printf("<UPG_PROG> Err: write fail! @Line %d\n", __LINE__);
        std::remove(tmp.c_str());
        std::exit(1);
    }
    return 0;
}

void upg_linux_save_raw_by_partition_name(int fd, const char *name, const char *path)
{
    UPG_TRACE();
    // A half-written copy of an interrupted save is never used.
    std::remove((std::string(path) + ".new").c_str());
    bool old_layout = pit_pair_uses_old(kNandPit);
    t_part_view e;
    if (next_named_partition(kNandPit, old_layout, name, 0, &e) < 0) {
        if (is_file_exist(path))
            std::printf("<UPG_PROG> no patition: %s, but file: %s exist, continue!\n", name, path);
        else
            std::printf("<UPG_PROG> no patition %s and no file exist, but anyway continue!\n", name);
        return;
    }
    if (pit_type(e.flags) != kTypeRaw) {
        std::printf("<UPG_PROG> %s not a raw patition, but anyway continue!\n", name);
    } else if (is_file_exist(path)) {
        // A whole copy from an earlier run: an interrupted upgrade's, or one
        // kept because its write-back failed. Either may be the only good
        // copy, the partition may already hold something else.
        std::printf("<UPG_PROG> partition %s kept from an earlier run in %s, continue!\n", name, path);
    } else {
        int rc = upg_linux_save_raw_data_from_nand(fd, static_cast<uint32_t>(e.id), e.size, path);
        if (rc != 0)
            std::printf("<UPG_PROG> Err: ret value %d! @Line %d\n", rc, __LINE__);
        else
            std::printf("<UPG_PROG> partition %s raw data save success, continue!\n", name);
    }
}

int upg_linux_write_raw_data_to_nand(int fd, uint32_t u4DevId, const char *path)
{
    UPG_TRACE();
    FILE *f = std::fopen(path, "rb");
    if (f == nullptr) {
        std::printf("<UPG_PROG> Err: Open %s fail! @Line %d\n", path, __LINE__);
        return -1;
    }
    mtd_info_user info{};
    if (mtd_geometry(fd, &info) != 0) {
        std::printf("<UPG_PROG> Err: cmd %d! @Line %d\n", static_cast<int>(kMemGetInfo), __LINE__);
        std::exit(1);
    }
    uint32_t es = info.erasesize;
    uint8_t *buf = static_cast<uint8_t *>(std::malloc(es));
    int rc = 0;
    if (buf == nullptr) {
        std::printf("<UPG_PROG> Err: malloc fail! @Line %d\n", __LINE__);
        rc = -1;
    }
    for (uint32_t off = 0; rc == 0;) {
        size_t n = std::fread(buf, 1, es, f);
        if (n < es && std::ferror(f)) {
            std::printf("<UPG_PROG> Err: File I/O error on std read! @Line %d\n", __LINE__);
            rc = -1;
            break;
        }
        if (n == 0)
            break;
        long w = i4UpgPartitionWrite(u4DevId, off, buf, static_cast<uint32_t>(n));
        if (w != 0) {
            std::printf("<UPG_PROG> Err: ret value %ld! @Line %d\n", w, __LINE__);
            rc = -1;
        }
        off += static_cast<uint32_t>(n);
    }
    std::fclose(f);
    std::free(buf);
    return rc;
}

void upg_linux_write_raw_by_partition_name(int fd, const char *name, const char *path)
{
    UPG_TRACE();
    bool old_layout = pit_pair_uses_old(kImagePit);
    t_part_view e;
    for (int i = next_named_partition(kImagePit, old_layout, name, 0, &e); i >= 0;
         i = next_named_partition(kImagePit, old_layout, name, i + 1, &e)) {
        if (pit_type(e.flags) != kTypeRaw) {
            std::printf("<UPG_PROG> %s not a raw patition, but anyway continue!\n", name);
            continue;
        }
        int rc = upg_linux_write_raw_data_to_nand(fd, static_cast<uint32_t>(e.id), path);
        if (rc != 0) {
            std::printf("<UPG_PROG> Err: ret value %d! @Line %d\n", rc, __LINE__);
            note_restore_failure(path);
            return;
        }
        std::printf("<UPG_PROG> partition %s raw data write success, continue!\n", name);
    }
}

void upg_linux_remove_saved_file()
{
    UPG_TRACE();
    char command[kCommandBytes] = {};
    for (int i = 0; i < kSavedDataCount; ++i) {
        const t_saved_data &d = kSavedData[i];
        if (restore_failed[i]) {
            std::printf("<UPG_PROG> keep %s: %s was not written back @Line %d\n", d.file, d.partition, __LINE__);
            continue;
        }
        int n = std::snprintf(command, kCommandBytes - 1, "rm -rf %s", d.file);
        if (n < 0) {
            std::printf("<UPG_PROG> Err: ret value %d! @Line %d\n", n, __LINE__);
            return;
        }
        int status = std::system(command); // a failed removal does not stop the upgrade
        (void)status;
    }
}
