// Infrared for the real-kernel board's receiver: rc-loopback hands what is
// sent on /dev/lirc0 back to its readers as mode-2 samples.
//
//   vmirsend [DEVICE] < BURSTS
//
// Each line of BURSTS is one burst, sent in one write: pulse and space
// lengths in µs, alternating, starting and ending with a pulse. The kernel
// ends each burst with a timeout sample and starts the next with a space of
// the time between them; a line of one pulse above 50 ms makes the
// receiver report an overflow, which LIRC readers take for the longest
// space (old receivers' mark between two presses).
#include <fcntl.h>
#include <linux/lirc.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

enum { kMaxValues = 512 };

// The values of one line; -1 for a value that is not a positive number.
static int parse_burst(char *line, uint32_t *values)
{
    int n = 0;
    for (char *word = strtok(line, " \t\n"); word; word = strtok(NULL, " \t\n")) {
        char *end;
        unsigned long us = strtoul(word, &end, 10);
        if (*end || us == 0 || us > 0xFFFFFF || n == kMaxValues)
            return -1;
        values[n++] = (uint32_t)us;
    }
    return n;
}

int main(int argc, char **argv)
{
    const char *path = argc > 1 ? argv[1] : "/dev/lirc0";
    int fd = open(path, O_WRONLY);
    uint32_t mode = LIRC_MODE_PULSE;
    if (fd < 0 || ioctl(fd, LIRC_SET_SEND_MODE, &mode) != 0) {
        fprintf(stderr, "vmirsend: cannot send on %s: %m\n", path);
        return 1;
    }
    char line[8192];
    uint32_t values[kMaxValues];
    for (int number = 1; fgets(line, sizeof line, stdin); ++number) {
        int n = parse_burst(line, values);
        if (n == 0)
            continue;
        if (n < 0 || n % 2 == 0) {
            fprintf(stderr, "vmirsend: line %d: not an odd count of lengths in µs\n", number);
            return 1;
        }
        // The write returns once the burst's time has passed.
        if (write(fd, values, n * sizeof values[0]) != (ssize_t)(n * sizeof values[0])) {
            fprintf(stderr, "vmirsend: line %d: %m\n", number);
            return 1;
        }
    }
    return 0;
}
