// The entry trace line every upgrade step prints, and the fixed paths.
#ifndef UPGRADE_TRACE_H
#define UPGRADE_TRACE_H

#include <cstdio>

#define UPG_TRACE() std::printf("<UPG_PROG> %s ---> is called @Line: %d!\n", __func__, __LINE__)

namespace upg {
constexpr const char *kImagePath = "/root/ota.zip";
constexpr const char *kWholeNand = "/dev/mtd0";
} // namespace upg

#endif
