// The upgrade status record, two copies at the start of the first two
// erase blocks of the upg_status partition.
#include "status.h"

#include "mtd_geometry.h"
#include "nand.h"
#include "trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace upg;

namespace {

constexpr const char *kStatusPartition = "upg_status";

int find_status_partition(const t_pit_entry_ntbl *pit)
{
    for (int i = 0; i < kPitEntries; ++i)
        if (name_is(pit[i].acName, kStatusPartition))
            return i;
    return -1;
}

bool same_progress_and_ids(const t_upg_status &a, const t_upg_status &b)
{
    return a.u4_progress == b.u4_progress && a.u4_part_count == b.u4_part_count &&
           std::memcmp(a.au4_part_id, b.au4_part_id, 4 * a.u4_part_count) == 0;
}

// Both status operations end the program when the NAND's geometry is unknown.
uint32_t erase_size_or_exit(int fd)
{
    mtd_info_user info{};
    if (mtd_geometry(fd, &info) != 0) {
        std::perror("MEMGETINFO");
        std::exit(1);
    }
    return info.erasesize;
}

} // namespace

bool upg_status_valid(const t_upg_status &s)
{
    // A count beyond the id list can only come from a damaged copy.
    return s.u4_head_sign == kStatusHeadSig && s.u4_tail_sign == kStatusTailSig &&
           s.u4_part_count <= static_cast<uint32_t>(kStatusIds);
}

int upg_status_pick(const uint8_t *copy_a, const uint8_t *copy_b, t_upg_status *out)
{
    t_upg_status a = decode_status(copy_a), b = decode_status(copy_b);
    bool a_ok = upg_status_valid(a), b_ok = upg_status_valid(b);
    if (!a_ok && !b_ok)
        return kStatusFresh;
    *out = a_ok ? a : b;
    return a_ok && b_ok && same_progress_and_ids(a, b) ? kStatusConsistent : kStatusRepair;
}

int upg_status_fresh(const t_pit_entry_ntbl *pit, t_upg_status *out)
{
    std::memset(out, 0, sizeof *out);
    out->u4_head_sign = kStatusHeadSig;
    out->u4_tail_sign = kStatusTailSig;
    for (int i = 0; i < kPitEntries; ++i) {
        if (!(pit[i].u4Flags & kFlagStatusListed))
            continue;
        if (out->u4_part_count == static_cast<uint32_t>(kStatusIds)) {
            std::printf("{UPG_ERROR}:more than %d partitions for the status record!\n", kStatusIds);
            return -1;
        }
        out->au4_part_id[out->u4_part_count++] = static_cast<uint32_t>(pit[i].i4PartId);
    }
    return 0;
}

int upg_linux_get_upg_status_ntblfmt(t_upg_status *status, const t_pit_entry_ntbl *pit)
{
    if (status == nullptr)
        return -2;
    int fd = open(kWholeNand, O_RDWR);
    if (fd < 0) {
        std::puts("{UPG_ERROR}:open /dev/mtd0 error!");
        return -1;
    }
    uint32_t es = erase_size_or_exit(fd);
    uint8_t *buf = static_cast<uint8_t *>(std::malloc(2 * static_cast<size_t>(es)));
    int rc = -1;
    int part = buf == nullptr ? -1 : find_status_partition(pit);
    if (buf != nullptr && part < 0) {
        std::printf("err: no partition--%s on mtd(4)\n", kStatusPartition);
    } else if (buf != nullptr && i4MpDataRead(static_cast<uint32_t>(pit[part].i4PartId), 0, buf, 2 * es) != 0) {
        std::printf("{UPG_ERROR}nandread_buff err");
    } else if (buf != nullptr) {
        switch (upg_status_pick(buf, buf + es, status)) {
        case kStatusConsistent:
            rc = 0;
            break;
        case kStatusFresh:
            rc = upg_status_fresh(pit, status) == 0 ? upg_linux_set_upg_status_ntblfmt(fd, status, pit) : -1;
            break;
        default:
            rc = upg_linux_set_upg_status_ntblfmt(fd, status, pit);
        }
    }
    std::free(buf);
    close(fd);
    return rc;
}

int upg_linux_set_upg_status_ntblfmt(int fd, const t_upg_status *status, const t_pit_entry_ntbl *pit)
{
    if (status == nullptr)
        return -2;
    uint32_t es = erase_size_or_exit(fd);
    std::printf(" UPG STATUS INFO: \n Head Sign:0x%8x \n Tail Sign: 0x%8x \n", status->u4_head_sign,
                status->u4_tail_sign);
    uint8_t *buf = static_cast<uint8_t *>(std::malloc(2 * static_cast<size_t>(es)));
    if (buf == nullptr)
        return -1;
    int rc = -1;
    int part = find_status_partition(pit);
    uint32_t id = part < 0 ? 0 : static_cast<uint32_t>(pit[part].i4PartId);
    if (part < 0) {
        std::printf("err: no partition--%s on mtd(3)\n", kStatusPartition);
    } else if (i4MpDataRead(id, 0, buf, 2 * es) != 0) {
        std::printf("{UPG_ERROR}nandread_buff err");
    } else {
        encode_status(buf, *status);
        encode_status(buf + es, *status);
        if (i4MpDataWrite(id, 0, buf, 2 * es) != 0)
            std::printf("{UPG_ERROR}nandwrite_buff err");
        else
            rc = 0;
    }
    std::free(buf);
    return rc;
}
