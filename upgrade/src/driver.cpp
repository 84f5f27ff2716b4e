#include "driver.h"

#include "image_tables.h"
#include "mtd_geometry.h"
#include "nand.h"
#include "status.h"
#include "trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace upg;

namespace {

constexpr size_t kCopyChunk = 0x100000;
constexpr unsigned kRebootDelaySeconds = 4;

[[noreturn]] void fail_run(int fd)
{
    if (fd >= 0)
        close(fd);
    std::exit(1);
}

// The image PIT entry of partition id (id -1 when there is none).
t_part_view image_partition(int32_t id)
{
    bool old_layout = pit_pair_uses_old(kImagePit);
    for (int i = 0; i < kPitEntries && pit_entry(kImagePit, old_layout, i).id != -1; ++i)
        if (pit_entry(kImagePit, old_layout, i).id == id)
            return pit_entry(kImagePit, old_layout, i);
    return {"", -1, 0, 0, 0};
}

// New-layout lookups of a BIT entry's partition; the copy itself is placed
// by the adaptive PIT.
uint32_t get_part_offset_from_flash(int32_t id)
{
    UPG_TRACE();
    return image_partition(id).offset;
}

uint32_t get_part_size(int32_t id)
{
    UPG_TRACE();
    return image_partition(id).size;
}

bool is_boot_partition(int32_t id)
{
    for (const auto &e : imagePitNtbl)
        if (e.i4PartId == id && name_starts_with(e.acName, "boot_"))
            return true;
    return false;
}

int copy_bit_entry(FILE *image, const t_bit_entry &e, uint8_t *buf)
{
    for (uint32_t done = 0; done < e.u4Length;) {
        uint32_t n = e.u4Length - done < kCopyChunk ? e.u4Length - done : static_cast<uint32_t>(kCopyChunk);
        long got = seek_image(image, uint64_t{e.u4ImageOffset} + done) ? load_data_to_buff(buf, n, image) : -1;
        if (got < 0) {
            std::printf("<UPG_PROG> Err: ret value %ld! @Line %d\n", got, __LINE__);
            return -1;
        }
        if (got < static_cast<long>(n)) {
            std::printf("<UPG_PROG> Err: image ends inside partition %d data! @Line %d\n", e.i4PartId, __LINE__);
            return -1;
        }
        long rc = i4UpgPartitionWrite(static_cast<uint32_t>(e.i4PartId), e.u4PartOffset + done, buf, n);
        if (rc != 0) {
            std::printf("<UPG_PROG> Err: ret value %ld! @Line %d\n", rc, __LINE__);
            return -1;
        }
        done += n;
    }
    return 0;
}

int write_bit_entries(FILE *image, uint8_t *buf)
{
    for (const auto &e : bitTable) {
        if (e.i4PartId == -1)
            break;
        (void)get_part_offset_from_flash(e.i4PartId);
        (void)get_part_size(e.i4PartId);
        if (is_boot_partition(e.i4PartId)) {
            std::printf("<UPG_PROG>skip the %s partition\n", "bootloader");
            continue;
        }
        if (copy_bit_entry(image, e, buf) != 0)
            return -1;
    }
    return 0;
}

// The index entry of this NAND's size, with its PIT size; -1 with a message.
int pit_for_nand(int fd, uint32_t *pit_size)
{
    mtd_info_user info{};
    if (mtd_geometry(fd, &info) != 0) {
        std::printf("<UPG_PROG> Err: cmd %d! @Line %d\n", static_cast<int>(kMemGetInfo), __LINE__);
        return -1;
    }
    for (int i = 0; i < kIndexEntries; ++i) {
        if (pitIndexTable[i].u4NandSize != info.size)
            continue;
        if (pitIndexTable[i].u4PrivateData1 & kPitSizeAlignMask) {
            std::printf("<UPG_PROG> Err: invalid pit size error! @Line %d\n", __LINE__);
            return -1;
        }
        *pit_size = pitIndexTable[i].u4PrivateData1 & kPitSizeMask;
        return i;
    }
    std::printf("<UPG_PROG> Err: No pit fits into current nand size! @Line %d\n", __LINE__);
    return -1;
}

int write_pit_to_part_infos(const uint8_t *pit, uint32_t size)
{
    bool old_layout = pit_pair_uses_old(kImagePit);
    for (int i = 0; i < kPitEntries; ++i) {
        t_part_view e = pit_entry(kImagePit, old_layout, i);
        if (e.id == -1)
            break;
        if (!name_contains(e.name, "part_info"))
            continue;
        long rc = i4UpgPartitionWrite(static_cast<uint32_t>(e.id), 0, pit, size);
        if (rc != 0) {
            std::printf("<UPG_PROG> Err: ret value %ld! @Line %d\n", rc, __LINE__);
            return -1;
        }
    }
    return 0;
}

// The image's new layout as an ntblfmt table, whichever layout its PIT has.
// The final status record belongs in that layout's upg_status partition; an
// image with an old-layout PIT has no ntblfmt table, and looking there alone
// would fail an upgrade that wrote everything and leave its progress bit set
// for every later boot.
const t_pit_entry_ntbl *new_layout_table()
{
    static t_pit_entry_ntbl from_old[kPitEntries];
    if (!pit_pair_uses_old(kImagePit))
        return imagePitNtbl;
    for (int i = 0; i < kPitEntries; ++i) {
        const t_pit_entry_old &e = imagePitOld[i];
        from_old[i] = t_pit_entry_ntbl{};
        std::memcpy(from_old[i].acName, e.acName, sizeof from_old[i].acName);
        from_old[i].i4PartId = e.i4PartId;
        from_old[i].u4Flags = e.u4Flags;
        from_old[i].u4Offset = e.u4Offset;
        from_old[i].u4Size = e.u4Size;
    }
    return from_old;
}

void step_failed(int rc, int line) { std::printf("<UPG_PROG> Err: ret value %d! @Line %d\n", rc, line); }

} // namespace

int upg_linux_write_bin_to_nand()
{
    UPG_TRACE();
    int rc = -1;
    int fd = open(kWholeNand, O_RDWR);
    FILE *image = nullptr;
    uint8_t *buf = nullptr;
    if (fd < 0) {
        std::printf("<UPG_PROG> Err: Open /dev/mtd0 fail! @Line %d\n", __LINE__);
        return -1;
    }
    if ((image = std::fopen(kImagePath, "rb")) == nullptr)
        std::printf("<UPG_PROG> Err: Open %s fail! @Line %d\n", kImagePath, __LINE__);
    else if ((buf = static_cast<uint8_t *>(std::malloc(kCopyChunk))) == nullptr)
        std::printf("<UPG_PROG> Err: malloc fail! @Line %d\n", __LINE__);
    else
        rc = write_bit_entries(image, buf);
    close(fd);
    if (image != nullptr)
        std::fclose(image);
    std::free(buf);
    if (rc == 0)
        std::printf("<UPG_PROG> %s ---> Successfully @Line: %d!\n", __func__, __LINE__);
    else
        std::printf("<UPG_PROG> Err: ret value %ld! @Line %d\n", -1L, __LINE__);
    return rc;
}

int upg_linux_update_pit_on_nand(int fd)
{
    UPG_TRACE();
    FILE *image = std::fopen(kImagePath, "rb");
    if (image == nullptr) {
        std::printf("<UPG_PROG> Err: Open %s fail! @Line %d\n", kImagePath, __LINE__);
        return -1;
    }
    int rc = -1;
    uint32_t size = 0;
    int idx = pit_for_nand(fd, &size);
    uint8_t *pit = idx < 0 ? nullptr : static_cast<uint8_t *>(std::malloc(size ? size : 1));
    if (idx >= 0 && pit == nullptr) {
        std::printf("<UPG_PROG> Err: malloc fail! @Line %d\n", __LINE__);
    } else if (pit != nullptr) {
        long got = seek_image(image, pitIndexTable[idx].u4OffsetFromBin) ? load_data_to_buff(pit, size, image) : -1;
        if (got < 0)
            std::printf("<UPG_PROG> Err: ret value %ld! @Line %d\n", got, __LINE__);
        else
            rc = write_pit_to_part_infos(pit, size);
    }
    std::fclose(image);
    std::free(pit);
    return rc;
}

int upg_main()
{
    // The program's entry, under the name the console has always shown.
    UPG_TRACE_AS("main");
    std::printf("<UPG_PROG> %s Start UPG main @Line: %d!\n", "main", __LINE__);
    t_upg_status status{};
    int rc = upg_linux_read_bin_file();
    if (rc != 0) {
        step_failed(rc, __LINE__);
        fail_run(-1);
    }
    if ((rc = upg_linux_get_pit_on_nand()) != 0) {
        step_failed(rc, __LINE__);
        fail_run(-1);
    }
    int fd = open(kWholeNand, O_RDWR);
    if (fd < 0) {
        std::printf("<UPG_PROG> Err: Open /dev/mtd0 fail! @Line %d\n", __LINE__);
        fail_run(fd);
    }
    if (upg_linux_get_upg_status_ntblfmt(&status, nandPitNtbl) != 0) {
        std::puts("{UPG_ERROR}:upg_linux_get_upg_status_ntblfmt error!");
        fail_run(fd);
    }
    std::printf("upg_linux_get_upg_status_ntblfmt t_upg_status.u4_progress=%d!\n", status.u4_progress);
    status.u4_progress |= kProgressBit;
    std::printf("1.set_upg_status_ntblfmt t_upg_status.u4_progress=%d!\n", status.u4_progress);
    if (upg_linux_set_upg_status_ntblfmt(fd, &status, nandPitNtbl) != 0) {
        std::puts("{UPG_ERROR}:upg_linux_set_upg_status_ntblfmt error!");
        fail_run(fd);
    }
    for (const auto &d : kSavedData)
        upg_linux_save_raw_by_partition_name(fd, d.partition, d.file);
    std::printf("<UPG_PROG> Format flash successfully @Line %d\n", __LINE__);
    if ((rc = i4SetNewFlashPIT(rawPitBuffer, rawPitSize)) != 0) {
        step_failed(rc, __LINE__);
        fail_run(fd);
    }
    for (const auto &d : kSavedData)
        upg_linux_write_raw_by_partition_name(fd, d.partition, d.file);
    if ((rc = upg_linux_write_bin_to_nand()) != 0) {
        step_failed(rc, __LINE__);
        fail_run(fd);
    }
    if (upg_linux_update_pit_on_nand(fd) != 0) {
        step_failed(-1, __LINE__);
        fail_run(fd);
    }
    status.u4_progress &= ~kProgressBit;
    std::printf("2.set_upg_status_ntblfmt t_upg_status.u4_progress=%d!\n", status.u4_progress);
    if (upg_linux_set_upg_status_ntblfmt(fd, &status, new_layout_table()) != 0) {
        std::puts("2.set_upg_status_ntblfmt error!");
        fail_run(fd);
    }
    // The saved files go only once the new layout is complete: until then
    // an interrupted run needs them to resume.
    upg_linux_remove_saved_file();
    std::printf("<UPG_PROG> UPG Process run complete! @Line %d\n", __LINE__);
    close(fd);
    upg_led_final();
    std::fflush(stdout);
    sleep(kRebootDelaySeconds);
    upg_reboot();
    for (;;)
        pause();
}
