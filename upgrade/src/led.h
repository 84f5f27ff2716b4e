// The request record of the board's I2C driver.
#ifndef UPGRADE_LED_H
#define UPGRADE_LED_H

#include "common/abi.h"

#include <cstddef>
#include <cstdint>

struct t_i2c_request {
    uint8_t u1DevAddr; // 7-bit address
    uint8_t u1Reserved0;
    uint16_t u2RegAddr;
    uint8_t u1RegAddrLen;
    uint8_t au1Reserved1[3];
    const uint8_t *pu1Data;
    uint32_t u4AddrMode;
    uint32_t u4Reserved2;
    uint32_t u4Reserved3;
    uint32_t u4Clock;
    uint8_t u1BusSetup0;
    uint8_t u1BusSetup1;
    uint8_t au1Reserved4[2];
    uint32_t u4Enable;
};
BOARD_ILP32_ASSERT(sizeof(t_i2c_request) == 36, "I2C request record is 36 bytes");
BOARD_ILP32_ASSERT(offsetof(t_i2c_request, pu1Data) == 8, "data address at 8");
BOARD_ILP32_ASSERT(offsetof(t_i2c_request, u4AddrMode) == 12, "address mode at 12");
BOARD_ILP32_ASSERT(offsetof(t_i2c_request, u4Clock) == 24, "clock at 24");
BOARD_ILP32_ASSERT(offsetof(t_i2c_request, u1BusSetup0) == 28, "bus set-up at 28");
BOARD_ILP32_ASSERT(offsetof(t_i2c_request, u4Enable) == 32, "enable word at 32");

namespace upg {
constexpr unsigned long kI2cWrite = 0x40047301;
constexpr unsigned long kI2cBusSetup = 0x40047316;
constexpr unsigned long kBspReboot = 0x6208;
constexpr uint8_t kLedController = 0xA8; // 8-bit address
constexpr uint8_t kLedUpdateReg = 0x16;
constexpr uint8_t kLedFirstChannelReg = 0x0F;
constexpr uint32_t kLedChannels = 15;
constexpr uint32_t kLedCount = 5;
constexpr uint32_t kFinalColour = 0xFF040A05; // red 5, green 10, blue 4
constexpr uint32_t kFinalLeds = 4;

// The request record for one register write of value at *data.
t_i2c_request i2c_write_request(uint8_t addr8, uint8_t reg, const uint8_t *data);
t_i2c_request i2c_bus_setup_request();
} // namespace upg

#endif
