#include "mtd_geometry.h"

#include "trace.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace upg {

int mtd_geometry(int fd, mtd_info_user *info)
{
    int rc = ioctl(fd, kMemGetInfo, info);
    return rc < 0 ? rc : 0;
}

int whole_nand_info(mtd_info_user *info)
{
    int fd = open(kWholeNand, O_RDWR);
    if (fd < 0)
        return kNandOpenFailed;
    int rc = mtd_geometry(fd, info);
    close(fd);
    return rc < 0 ? kNandInfoFailed : kNandInfoOk;
}

} // namespace upg
