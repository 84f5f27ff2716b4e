// Geometry of the whole NAND device (/dev/mtd0), as the image scan needs it.
// Kept apart so that the scan can be exercised without a device.
#ifndef UPGRADE_MTD_GEOMETRY_H
#define UPGRADE_MTD_GEOMETRY_H

#include <sys/ioctl.h>
#include <mtd/mtd-abi.h>

namespace upg {

constexpr unsigned long kMemGetInfo = 0x80204D01;
constexpr unsigned long kMemErase = 0x40084D02;
constexpr unsigned long kMemGetBadBlock = 0x40084D0B;
constexpr unsigned long kNocptRequest = 0xC0044D14;
static_assert(kMemGetInfo == MEMGETINFO && kMemErase == MEMERASE && kMemGetBadBlock == MEMGETBADBLOCK,
              "MTD request numbers");

enum { kNandInfoOk = 0, kNandOpenFailed = -1, kNandInfoFailed = -2 };

// The one MEMGETINFO request of the program: 0, or the request's negative
// result. Callers print their own lines and decide whether to go on.
int mtd_geometry(int fd, mtd_info_user *info);

// Opens /dev/mtd0, asks its geometry and closes it again.
int whole_nand_info(mtd_info_user *info);

} // namespace upg

#endif
