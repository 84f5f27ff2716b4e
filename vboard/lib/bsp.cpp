// "/dev/bsp": the board-support driver; request 0x6208 reboots the board.
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "board_link.h"
#include "devices.h"
#include "vboard/state.h"

namespace vboard {

namespace {

constexpr unsigned long kBspReboot = 0x6208;
constexpr unsigned kMiscMajor = 10;
constexpr unsigned kBspMinor = 240;

std::string process_name()
{
    std::string name;
    if (read_text_file("/proc/self/comm", &name) != 0) {
        return "?";
    }
    while (!name.empty() && name.back() == '\n') {
        name.pop_back();
    }
    return name;
}

class BspFile : public EmulatedFile {
public:
    BspFile(const std::string &path, int flags, const DeviceContext &context)
        : EmulatedFile(path, flags), dir_(context.dir), journal_(context.journal)
    {
    }

    dev_t rdev() const override { return makedev(kMiscMajor, kBspMinor); }

    int ioctl(unsigned long request, void *) override
    {
        if (request != kBspReboot) {
            journal_ioctl(journal_, path(), format("0x%08lx", request), -ENOTTY);
            return -ENOTTY;
        }
        std::string boots;
        read_text_file(state_path(dir_, kBoots), &boots);
        std::string who = process_name() + " (pid " + std::to_string(::getpid()) + ")";
        std::string boot = std::to_string(std::atoi(boots.c_str()));
        write_text_file(state_path(dir_, kRebootRecord), "requested by " + who + " in boot " + boot + "\n");
        journal_line(journal_, "reboot requested by " + process_name());
        journal_ioctl(journal_, path(), "BSP_REBOOT", 0);
        reset_board_soon();
        return 0;
    }

private:
    std::string dir_;
    Journal *journal_;
};

bool is_bsp_path(const std::string &path) { return path == "/dev/bsp"; }

int open_bsp(const DeviceContext &context, const std::string &path, int flags, std::shared_ptr<EmulatedFile> *file,
             std::string *)
{
    *file = std::make_shared<BspFile>(path, flags, context);
    return 0;
}

} // namespace

const DeviceType kBspDevice = {is_bsp_path, open_bsp};

} // namespace vboard
