// The upgrade status record (two copies in the upg_status partition), the
// per-device data saved across the change of layout, the LEDs and the
// reboot request.
#ifndef UPGRADE_STATUS_H
#define UPGRADE_STATUS_H

#include "records.h"

int upg_linux_get_upg_status_ntblfmt(t_upg_status *status, const t_pit_entry_ntbl *pit);
int upg_linux_set_upg_status_ntblfmt(int fd, const t_upg_status *status, const t_pit_entry_ntbl *pit);

// How the two copies read from the flash are used.
enum { kStatusConsistent = 0, kStatusRepair = 1, kStatusFresh = 2 };
// Picks copy A, else copy B, into *out; kStatusRepair when the copies must be
// written again, kStatusFresh when neither copy is valid.
int upg_status_pick(const uint8_t *copy_a, const uint8_t *copy_b, t_upg_status *out);
bool upg_status_valid(const t_upg_status &s);
// A fresh record listing the partitions flagged in pit; -1 when more than
// the record holds are flagged.
int upg_status_fresh(const t_pit_entry_ntbl *pit, t_upg_status *out);

// The per-device data partitions and their files, in the order every step
// handles them.
struct t_saved_data {
    const char *partition;
    const char *file;
};
constexpr int kSavedDataCount = 5;
extern const t_saved_data kSavedData[kSavedDataCount];

// A saved file that exists already (from an interrupted upgrade, or kept
// because its write-back failed) is kept, not saved again: the partition
// may already hold parts of the new layout.
void upg_linux_save_raw_by_partition_name(int fd, const char *name, const char *path);
void upg_linux_write_raw_by_partition_name(int fd, const char *name, const char *path);
int upg_linux_save_raw_data_from_nand(int fd, uint32_t u4DevId, uint32_t size, const char *path);
int upg_linux_write_raw_data_to_nand(int fd, uint32_t u4DevId, const char *path);
int is_file_exist(const char *path);
void upg_linux_remove_saved_file();

int upg_i2c_write_reg(uint8_t addr, uint8_t reg, uint8_t value);
int upg_set_rgb_led(uint32_t led, uint32_t colour);
void upg_led_set();
// Opens /dev/i2c, sets the bus up and shows the final colours.
void upg_led_final();
int upg_reboot();

#endif
