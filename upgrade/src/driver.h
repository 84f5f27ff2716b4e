// The upgrade run from the image to the reboot request.
#ifndef UPGRADE_DRIVER_H
#define UPGRADE_DRIVER_H

// Exit status 1 on failure; on success it does not return.
int upg_main();
int upg_linux_write_bin_to_nand();
int upg_linux_update_pit_on_nand(int fd);

#endif
