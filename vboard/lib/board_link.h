// What the device models do to the board as a whole.
#ifndef VBOARD_LIB_BOARD_LINK_H
#define VBOARD_LIB_BOARD_LINK_H

namespace vboard {

// True when this process runs on a board started by `vboard run`.
bool on_board();

// The board loses power: the board's init stops every process of it and this
// process dies at once. Never returns.
[[noreturn]] void power_cut_board();

// Asks the board to reset shortly (as after a reboot request); without a
// board this process is killed after the same delay.
void reset_board_soon();

} // namespace vboard

#endif
