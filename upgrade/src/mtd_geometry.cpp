#include "mtd_geometry.h"

#include "trace.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace upg {

int whole_nand_info(mtd_info_user *info)
{
    int fd = open(kWholeNand, O_RDWR);
    if (fd < 0)
        return kNandOpenFailed;
    int rc = ioctl(fd, kMemGetInfo, info);
    close(fd);
    return rc < 0 ? kNandInfoFailed : kNandInfoOk;
}

} // namespace upg
