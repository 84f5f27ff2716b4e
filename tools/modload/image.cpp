#include "image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace modload {

namespace {

constexpr size_t kMaxBytes = std::numeric_limits<size_t>::max();
constexpr size_t kFirstGrowth = 4096;

// Makes room for more bytes. Returns 0, EFBIG past what the process can
// address, or ENOMEM.
int grow(char **bytes, size_t *capacity)
{
    if (*capacity == kMaxBytes) {
        return EFBIG;
    }
    size_t larger = *capacity < kFirstGrowth ? kFirstGrowth : *capacity > kMaxBytes / 2 ? kMaxBytes : *capacity * 2;
    char *grown = static_cast<char *>(std::realloc(*bytes, larger));
    if (!grown) {
        return ENOMEM;
    }
    *bytes = grown;
    *capacity = larger;
    return 0;
}

// Reads fd to its end, growing the buffer as needed: files under /proc
// say 0 bytes, and a file may grow while it is read.
int read_to_end(int fd, size_t capacity, Image *image)
{
    char *bytes = static_cast<char *>(std::malloc(capacity));
    size_t got = 0;
    int error = bytes ? 0 : ENOMEM;
    while (error == 0 && (got < capacity || (error = grow(&bytes, &capacity)) == 0)) {
        ssize_t n = ::read(fd, bytes + got, capacity - got);
        if (n == 0) {
            image->bytes = bytes;
            image->length = got;
            return 0;
        }
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (errno != EINTR) {
            error = errno;
        }
    }
    std::free(bytes);
    return error;
}

} // namespace

int image_capacity(int64_t file_size, size_t *capacity)
{
    if (file_size < 0 || static_cast<uint64_t>(file_size) >= kMaxBytes) {
        return EFBIG;
    }
    *capacity = static_cast<size_t>(file_size) + 1;
    return 0;
}

int read_image(const char *path, Image *image)
{
    // Without O_NONBLOCK the open of a FIFO waits for a writer.
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    struct stat st;
    size_t capacity = 0;
    int error = ::fstat(fd, &st) != 0  ? errno
                : S_ISDIR(st.st_mode)  ? EISDIR
                : !S_ISREG(st.st_mode) ? kNotRegularFile
                                       : image_capacity(st.st_size, &capacity);
    if (error == 0) {
        error = read_to_end(fd, capacity, image);
    }
    ::close(fd);
    return error;
}

} // namespace modload
