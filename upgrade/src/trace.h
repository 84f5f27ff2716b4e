// The entry trace line every upgrade step prints, and the fixed paths.
#ifndef UPGRADE_TRACE_H
#define UPGRADE_TRACE_H

#include <cstdio>

#define UPG_TRACE_AS(name) std::printf("<UPG_PROG> %s ---> is called @Line: %d!\n", name, __LINE__)
#define UPG_TRACE() UPG_TRACE_AS(__func__)

namespace upg {
constexpr const char *kImagePath = "/root/ota.zip";
constexpr const char *kWholeNand = "/dev/mtd0";
} // namespace upg

#endif
