// The state directory of a board: files that the device models, the runner,
// tests and later runs share.
#ifndef VBOARD_STATE_H
#define VBOARD_STATE_H

#include <csignal>
#include <string>

#include "vboard/board.h"

namespace vboard {

// Environment: the state directory (absolute path; the same inside the board).
constexpr const char *kStateEnv = "VBOARD_STATE";
// Environment: set on the board to the board's PID-namespace id, so that the
// device library knows it may signal the board's init (PID 1).
constexpr const char *kBoardEnv = "VBOARD_BOARD";

// File names inside the state directory.
constexpr const char *kBoardFile = "board.conf"; // the board file in force
constexpr const char *kNandImage = "nand.img";   // NAND contents, sparse; holes read as 0xFF
constexpr const char *kNandPages = "nand.pages"; // one byte per page: 0 erased, 1 programmed
constexpr const char *kFlashOps = "flash_ops";   // flash operations of this boot (power cut)
constexpr const char *kJournal = "journal";      // one line per device operation
constexpr const char *kI2cRegs = "i2c.regs";     // the LED controller's 256 registers
constexpr const char *kLeds = "leds";            // applied RGB values of the five LEDs
constexpr const char *kRebootRecord = "reboot";  // the last reboot request
constexpr const char *kBoots = "boots";          // number of boots of this board
constexpr const char *kBoardPid = "board.pid";   // host PID of the running board's init
constexpr const char *kUpperDir = "upper";       // files written on the board
constexpr const char *kWorkDir = "work";         // overlay work directory
constexpr const char *kRootDir = "root";         // mount point of the board's root

// Signals that a process of the board sends to the board's init: the power
// is cut (the board stops at once), or a reboot was requested (the board is
// reset shortly after).
constexpr int kPowerCutSignal = SIGPWR;
inline int reboot_signal() { return SIGRTMIN + 1; }
// Milliseconds between a reboot request and the reset of the board.
constexpr int kRebootDelayMs = 100;

std::string state_path(const std::string &dir, const char *name);

// Makes the state directory ready for a boot: board file (board_text, or the
// one already in dir, or the default), NAND image and page map of the right
// size, flash-operation counter reset, the last boot's layout forgotten.
// A NAND made here gets the board's seeds; relative seed files are taken
// from seed_dir. Returns 0 or -1 with *error.
int prepare_state(const std::string &dir, const std::string *board_text, std::string *error,
                  const std::string &seed_dir = "");

// Where the default board's seed files lie, for a build whose programs are
// in bin_dir: <bin_dir>/../share/vboard.
std::string default_seed_dir(const std::string &bin_dir);

// Loads dir's board file, with the partitions of the layout the board last
// booted with (vboard/boot_layout.h). Returns 0 or -1 with *error.
int load_state_board(const std::string &dir, BoardConfig *board, std::string *error);

// Small text files of the state directory.
int read_text_file(const std::string &path, std::string *text);
int write_text_file(const std::string &path, const std::string &text);

// Increments the boot counter and returns the new count.
int next_boot(const std::string &dir);

} // namespace vboard

#endif
