// upgprog: rewrites the NAND from /root/ota.zip, keeps the per-device data
// and reboots the board. Takes no arguments.
#include "driver.h"

#include <cstdio>

int main()
{
    // Every line reaches the console even when the board resets under us.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return upg_main();
}
