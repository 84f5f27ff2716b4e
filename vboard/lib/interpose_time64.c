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

static void *resolve(void **slot, const char *name)
{
    void *fn = __atomic_load_n(slot, __ATOMIC_ACQUIRE);
    if (!fn) {
        fn = dlsym(RTLD_NEXT, name);
        __atomic_store_n(slot, fn, __ATOMIC_RELEASE);
    }
    return fn;
}

static void *real_fstat_time64;
static void *real_stat_time64;
static void *real_lstat_time64;
static void *real_fstatat_time64;
static void *real_fcntl_time64;

int __fstat64_time64(int fd, struct stat *st);
int __fcntl_time64(int fd, int cmd, ...);
int __stat64_time64(const char *path, struct stat *st);
int __lstat64_time64(const char *path, struct stat *st);
int __fstatat64_time64(int dirfd, const char *path, struct stat *st, int flags);

/* Emulated paths: the record of the host's template node with the
 * device's type and number. Returns 0 when the path is not emulated. */
static int path_stat(const char *path, struct stat *st, int *result)
{
    mode_t mode;
    dev_t rdev;
    int emulated = vb_path_stat(path, &mode, &rdev);
    if (emulated == 0) {
        return 0;
    }
    int (*real)(const char *, struct stat *) = (int (*)(const char *, struct stat *))resolve(&real_stat_time64,
                                                                                             "__stat64_time64");
    *result = emulated < 0 || real("/dev/null", st) != 0 ? -1 : 0;
    if (*result == 0) {
        st->st_mode = mode;
        st->st_rdev = rdev;
        st->st_size = 0;
    }
    return 1;
}

EXPORT int __stat64_time64(const char *path, struct stat *st)
{
    int result;
    if (path_stat(path, st, &result)) {
        return result;
    }
    return ((int (*)(const char *, struct stat *))resolve(&real_stat_time64, "__stat64_time64"))(path, st);
}

EXPORT int __lstat64_time64(const char *path, struct stat *st)
{
    int result;
    if (path_stat(path, st, &result)) {
        return result;
    }
    return ((int (*)(const char *, struct stat *))resolve(&real_lstat_time64, "__lstat64_time64"))(path, st);
}

EXPORT int __fstatat64_time64(int dirfd, const char *path, struct stat *st, int flags)
{
    int result;
    if (path_stat(path, st, &result)) {
        return result;
    }
    return ((int (*)(int, const char *, struct stat *, int))resolve(&real_fstatat_time64,
                                                                    "__fstatat64_time64"))(dirfd, path, st, flags);
}

EXPORT int __fstat64_time64(int fd, struct stat *st)
{
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

EXPORT int __fcntl_time64(int fd, int cmd, ...)
{
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
