// "/dev/i2c": the board's I2C driver with the RGB LED controller on its bus.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "common/abi.h"
#include "devices.h"
#include "vboard/i2c.h"
#include "vboard/state.h"

namespace vboard {

namespace {

constexpr unsigned long kI2cWrite = 0x40047301;
constexpr unsigned long kI2cSetup = 0x40047316;
constexpr unsigned kI2cMajor = 89;

// The request record; the data address is pointer-width, so the record is
// 36 bytes on the board and 40 on a 64-bit host.
struct I2cRequest {
    uint8_t address; // 7-bit
    uint8_t zero1;
    uint16_t reg;
    uint8_t reg_length;
    uint8_t zero5[3];
    const uint8_t *data;
    uint32_t word12;
    uint32_t word16;
    uint32_t word20;
    uint32_t word24;
    uint8_t setup28;
    uint8_t setup29;
    uint8_t zero30[2];
    uint32_t word32;
};
BOARD_ILP32_ASSERT(sizeof(I2cRequest) == 36, "I2C request record");
BOARD_ILP32_ASSERT(offsetof(I2cRequest, data) == 8, "data address");
BOARD_ILP32_ASSERT(offsetof(I2cRequest, word24) == 24, "word 24");
BOARD_ILP32_ASSERT(offsetof(I2cRequest, setup28) == 28, "set-up bytes");
BOARD_ILP32_ASSERT(offsetof(I2cRequest, word32) == 32, "word 32");

class I2cFile : public EmulatedFile {
public:
    I2cFile(const std::string &path, int flags, const DeviceContext &context)
        : EmulatedFile(path, flags), dir_(context.dir), journal_(context.journal)
    {
    }

    dev_t rdev() const override { return makedev(kI2cMajor, 0); }

    int ioctl(unsigned long request, void *arg) override
    {
        const auto *req = static_cast<const I2cRequest *>(arg);
        switch (request) {
        case kI2cSetup: {
            int rc = req ? 0 : -EFAULT;
            journal_ioctl(journal_, path(), req ? format("I2C_SETUP %u %u", req->setup28, req->setup29) : "I2C_SETUP",
                          rc);
            return rc;
        }
        case kI2cWrite:
            return write_register(req);
        default: {
            int rc = -ENOTTY;
            journal_ioctl(journal_, path(), format("0x%08lx", request), rc);
            return rc;
        }
        }
    }

private:
    int write_register(const I2cRequest *req)
    {
        if (!req || !req->data) {
            journal_ioctl(journal_, path(), "I2C_WRITE", -EFAULT);
            return -EFAULT;
        }
        uint8_t value = req->data[0];
        std::string what = format("I2C_WRITE 0x%02x reg 0x%02x value 0x%02x", req->address, req->reg, value);
        int rc = 0;
        if (req->address != kLedControllerAddress) {
            rc = -ENXIO; // nobody acknowledges on the bus
        } else if (req->reg_length != 1 || req->reg >= kLedRegisterCount) {
            rc = -EINVAL;
        } else {
            rc = led_register_write(dir_, req->reg, value, journal_);
        }
        journal_ioctl(journal_, path(), what, rc);
        return rc;
    }

    std::string dir_;
    Journal *journal_;
};

bool is_i2c_path(const std::string &path) { return path == "/dev/i2c"; }

int open_i2c(const DeviceContext &context, const std::string &path, int flags, std::shared_ptr<EmulatedFile> *file,
             std::string *)
{
    *file = std::make_shared<I2cFile>(path, flags, context);
    return 0;
}

} // namespace

const DeviceType kI2cDevice = {is_i2c_path, open_i2c};

} // namespace vboard
