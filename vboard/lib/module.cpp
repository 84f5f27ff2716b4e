// The init_module system call: the image and the option text are recorded
// (vboard/module.h) and answered as the kernel would.
#include <sys/syscall.h>

#include <cerrno>

#include "devices.h"
#include "vboard/module.h"

namespace vboard {

namespace {

long init_module_call(const char *dir, Journal *journal, const long args[6])
{
    const void *image = reinterpret_cast<const void *>(args[0]);
    auto size = static_cast<unsigned long>(args[1]);
    const char *options = reinterpret_cast<const char *>(args[2]);
    if ((!image && size > 0) || !options) {
        journal_line(journal, "init_module" + result_text(-EFAULT));
        return -EFAULT;
    }
    ModuleImage m = inspect_module(image, size);
    int rc = load_module(dir, m, options);
    journal_line(journal, "init_module " + (m.name.empty() ? std::string("-") : m.name) + " " +
                              format("%zu bytes crc32 %08x %s", m.size, m.crc32, m.elf ? "ELF" : "not-ELF") +
                              " options \"" + options + "\"" + result_text(rc));
    return rc;
}

} // namespace

const SyscallModel kInitModuleSyscallModel = {SYS_init_module, init_module_call};

} // namespace vboard
