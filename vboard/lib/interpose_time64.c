/* 32-bit glibc's 64-bit-time entry points, for programs built with
 * _TIME_BITS=64: built with that setting so that struct stat is their
 * record. Only for 32-bit ARM. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/stat.h>

#include "dispatch.h"

#define EXPORT __attribute__((visibility("default")))

static void *resolve(void **slot, const char *name) {
    void *fn = __atomic_load_n(slot, __ATOMIC_ACQUIRE);
    if (!fn) {
        fn = dlsym(RTLD_NEXT, name);
        __atomic_store_n(slot, fn, __ATOMIC_RELEASE);
    }
    return fn;
}

static void *real_fstat_time64;
static void *real_fcntl_time64;

int __fstat64_time64(int fd, struct stat *st);
int __fcntl_time64(int fd, int cmd, ...);

EXPORT int __fstat64_time64(int fd, struct stat *st) {
    int (*real)(int, struct stat *) = (int (*)(int, struct stat *))resolve(&real_fstat_time64, "__fstat64_time64");
    int rc = real(fd, st);
    if (rc == 0 && vb_is_emulated(fd)) {
        mode_t mode;
        dev_t rdev;
        vb_stat_fields(fd, &mode, &rdev);
        st->st_mode = mode;
        st->st_rdev = rdev;
        st->st_size = 0;
    }
    return rc;
}

EXPORT int __fcntl_time64(int fd, int cmd, ...) {
    va_list ap;
    va_start(ap, cmd);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    int (*real)(int, int, ...) = (int (*)(int, int, ...))resolve(&real_fcntl_time64, "__fcntl_time64");
    int rc = real(fd, cmd, arg);
    if ((cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC) && rc >= 0) {
        vb_duplicated(fd, rc);
    }
    return rc;
}
