// modload: loads one kernel module with its options ("insmod" in its
// messages): modload MODULE [OPTION...]
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "options.h"

namespace {

constexpr char kUsage[] = "usage: insmod <module.o>\n";
constexpr int kNoPathStatus = 22;

int cannot_open(const char *path, int error) {
    std::fprintf(stderr, "insmod: can't open '%s', %s\n", path, std::strerror(error));
    return error;
}

// Reads the whole file; *length is 0 when it came out shorter than its size.
// Returns 0 or an errno value.
int read_module(const char *path, void **image, size_t *length) {
    int fd = ::open(path, O_RDONLY);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !(*image = std::malloc(static_cast<size_t>(st.st_size)))) {
        int error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        return error;
    }
    size_t size = static_cast<size_t>(st.st_size), got = 0;
    ssize_t n = 1;
    while (got < size && (n = ::read(fd, static_cast<char *>(*image) + got, size - got)) > 0) {
        got += static_cast<size_t>(n);
    }
    int error = errno;
    ::close(fd);
    if (n < 0) {
        // A file that cannot be read (a directory, an I/O error) is reported
        // as such, not as an image the kernel refuses.
        std::free(*image);
        return error;
    }
    *length = got == size ? size : 0;
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        // Nothing else is left to say when standard error is gone.
        (void)!::write(STDERR_FILENO, kUsage, sizeof kUsage - 1);
        return kNoPathStatus;
    }
    const char *path = argv[1];
    void *image = nullptr;
    size_t length = 0;
    int error = read_module(path, &image, &length);
    if (error != 0) {
        return cannot_open(path, error);
    }
    char options[modload::kOptionArea];
    modload::build_options(argc - 2, argv + 2, options);
    if (::syscall(SYS_init_module, image, length, options) != 0) {
        error = errno;
        std::fprintf(stderr, "insmod: init_module '%s' failed (%s)\n", path, std::strerror(error));
        std::free(image);
        return error;
    }
    std::free(image);
    return 0;
}
