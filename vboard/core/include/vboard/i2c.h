// The RGB LED controller on the board's I2C bus: 15 channel registers,
// applied to the five LEDs by a write of 0 to the update register.
#ifndef VBOARD_I2C_H
#define VBOARD_I2C_H

#include <array>
#include <cstdint>
#include <string>

#include "vboard/journal.h"

namespace vboard {

constexpr uint8_t kLedControllerAddress = 0x54; // 7-bit (0xA8 on the wire)
constexpr unsigned kLedRegisterCount = 256;
constexpr uint8_t kLedUpdateRegister = 0x16;
constexpr int kLedCount = 5;

struct LedColour {
    uint8_t red = 0, green = 0, blue = 0;
};

// Stores one register; a write of 0 to the update register applies the
// channels to the LEDs (DIR/leds, journal line "leds ..."). Returns 0 or a
// negative errno value.
int led_register_write(const std::string &dir, unsigned reg, uint8_t value, Journal *journal);

// The colours that the channel registers give: channel c is register 0x0F - c,
// LED n has channels 3n, 3n+1, 3n+2 (red, green, blue).
std::array<LedColour, kLedCount> leds_from_registers(const uint8_t *registers);

// "RRGGBB RRGGBB RRGGBB RRGGBB RRGGBB".
std::string leds_text(const std::array<LedColour, kLedCount> &leds);

} // namespace vboard

#endif
