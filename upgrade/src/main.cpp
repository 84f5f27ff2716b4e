// upgprog: rewrites the NAND from /root/ota.zip, keeps the per-device data
// and reboots the board. Takes no arguments but -h, --help and --version,
// which answer without touching the flash.
#include "driver.h"

#include "common/help_option.h"

#include <cstdio>

namespace {

const char kUsage[] =
    "usage: upgprog\n"
    "Writes the upgrade image /root/ota.zip to the NAND, keeps the device's\n"
    "saved data and reboots the board.\n"
    "Exit status: 1 on failure; on success it does not return.\n";

} // namespace

int main(int argc, char **argv)
{
    if (answered_help_or_version(argc, argv, "upgprog", kUsage))
        return 0;
    // Every line reaches the console even when the board resets under us.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return upg_main();
}
