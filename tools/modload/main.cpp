// modload: loads one kernel module with its options ("insmod" in its
// messages): modload MODULE [OPTION...]
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/help_option.h"
#include "image.h"
#include "options.h"

namespace {

constexpr char kUsage[] = "usage: insmod <module.o>\n";
constexpr char kHelp[] =
    "usage: modload MODULE [OPTION...]\n"
    "Loads the kernel module file MODULE with the OPTIONs (name=value words)\n"
    "joined by single spaces.\n"
    "Exit status: 0 loaded, 22 no MODULE given, otherwise the errno of the step\n"
    "that failed.\n";
constexpr int kNoPathStatus = 22;
// As the kernel's own file loader answers for what is no regular file.
constexpr int kNotRegularStatus = EINVAL;

int cannot_open(const char *path, const char *reason, int status)
{
    std::fprintf(stderr, "insmod: can't open '%s', %s\n", path, reason);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    if (answered_help_or_version(argc, argv, "modload", kHelp)) {
        return 0;
    }
    if (argc < 2) {
        // Nothing else is left to say when standard error is gone.
        (void)!::write(STDERR_FILENO, kUsage, sizeof kUsage - 1);
        return kNoPathStatus;
    }
    const char *path = argv[1];
    modload::Image image;
    int error = modload::read_image(path, &image);
    if (error == modload::kNotRegularFile) {
        return cannot_open(path, "not a regular file", kNotRegularStatus);
    }
    if (error != 0) {
        return cannot_open(path, std::strerror(error), error);
    }
    char options[modload::kOptionArea];
    modload::build_options(argc - 2, argv + 2, options);
    if (::syscall(SYS_init_module, image.bytes, image.length, options) != 0) {
        error = errno;
        std::fprintf(stderr, "insmod: init_module '%s' failed (%s)\n", path, std::strerror(error));
        std::free(image.bytes);
        return error;
    }
    std::free(image.bytes);
    return 0;
}
