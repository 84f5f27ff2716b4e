// Reading a module file into memory, all of it, whatever its size says.
#ifndef TOOLS_MODLOAD_IMAGE_H
#define TOOLS_MODLOAD_IMAGE_H

#include <cstddef>
#include <cstdint>

namespace modload {

// read_image's result for a path that names no regular file (a FIFO, a
// device): reading it could block or never end.
constexpr int kNotRegularFile = -1;

struct Image {
    char *bytes = nullptr; // malloc'ed; the caller frees it
    size_t length = 0;
};

// The buffer for a file of file_size bytes: one byte more, so that the
// read that meets the end needs no larger buffer. Returns 0, or EFBIG when
// that is more than the process can address (on the 32-bit board a file of
// 4 GiB + 100 bytes would otherwise be read as 100 bytes).
int image_capacity(int64_t file_size, size_t *capacity);

// Reads the file at path to its end. Returns 0, kNotRegularFile, or an
// errno value (EISDIR for a directory).
int read_image(const char *path, Image *image);

} // namespace modload

#endif
