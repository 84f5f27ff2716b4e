/* The libc entry points through which programs reach devices. Emulated
 * paths and descriptors go to the device models; every other call goes to
 * the real libc function untouched. Written in C so that each definition
 * matches libc's own declaration exactly. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <linux/close_range.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <termios.h>
#include <unistd.h>

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

/* REAL(open)(...) calls libc's open. */
#define REAL_SLOT(name) static void *real_##name
#define REAL(name) ((__typeof__(&name))resolve(&real_##name, #name))

// clang-format off
REAL_SLOT(open); REAL_SLOT(open64); REAL_SLOT(openat); REAL_SLOT(openat64);
REAL_SLOT(__open_2); REAL_SLOT(__open64_2); REAL_SLOT(__openat_2); REAL_SLOT(__openat64_2);
REAL_SLOT(fopen); REAL_SLOT(fopen64);
REAL_SLOT(close); REAL_SLOT(read); REAL_SLOT(write);
REAL_SLOT(pread); REAL_SLOT(pread64); REAL_SLOT(pwrite); REAL_SLOT(pwrite64);
REAL_SLOT(lseek); REAL_SLOT(lseek64); REAL_SLOT(ioctl);
REAL_SLOT(fstat); REAL_SLOT(fstat64); REAL_SLOT(__fxstat); REAL_SLOT(__fxstat64);
REAL_SLOT(dup); REAL_SLOT(dup2); REAL_SLOT(dup3); REAL_SLOT(fcntl); REAL_SLOT(fcntl64);
REAL_SLOT(syscall);
// clang-format on

/* Not declared by current headers, still exported by libc for old binaries. */
int __fxstat(int ver, int fd, struct stat *st);
int __fxstat64(int ver, int fd, struct stat64 *st);

static int wants_mode(int flags) { return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE; }

static mode_t mode_arg(int flags, va_list ap) { return wants_mode(flags) ? (mode_t)va_arg(ap, int) : 0; }

#define OPEN_BODY(real_call)                                                                                           \
    int result;                                                                                                        \
    if (vb_open(path, flags, mode, &result)) {                                                                         \
        return result;                                                                                                 \
    }                                                                                                                  \
    return real_call;

EXPORT int open(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    OPEN_BODY(REAL(open)(path, flags, mode))
}

EXPORT int open64(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    OPEN_BODY(REAL(open64)(path, flags, mode))
}

/* Relative paths are never emulated, so the directory does not matter. */
EXPORT int openat(int dirfd, const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    OPEN_BODY(REAL(openat)(dirfd, path, flags, mode))
}

EXPORT int openat64(int dirfd, const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    OPEN_BODY(REAL(openat64)(dirfd, path, flags, mode))
}

EXPORT int __open_2(const char *path, int flags)
{
    mode_t mode = 0;
    OPEN_BODY(REAL(__open_2)(path, flags))
}

EXPORT int __open64_2(const char *path, int flags)
{
    mode_t mode = 0;
    OPEN_BODY(REAL(__open64_2)(path, flags))
}

EXPORT int __openat_2(int dirfd, const char *path, int flags)
{
    mode_t mode = 0;
    OPEN_BODY(REAL(__openat_2)(dirfd, path, flags))
}

EXPORT int __openat64_2(int dirfd, const char *path, int flags)
{
    mode_t mode = 0;
    OPEN_BODY(REAL(__openat64_2)(dirfd, path, flags))
}

EXPORT FILE *fopen(const char *path, const char *mode)
{
    FILE *result;
    return vb_fopen(path, mode, &result) ? result : REAL(fopen)(path, mode);
}

EXPORT FILE *fopen64(const char *path, const char *mode)
{
    FILE *result;
    return vb_fopen(path, mode, &result) ? result : REAL(fopen64)(path, mode);
}

EXPORT int close(int fd)
{
    if (vb_is_emulated(fd)) {
        vb_forget(fd);
    }
    return REAL(close)(fd);
}

// clang-format off
REAL_SLOT(close_range); REAL_SLOT(closefrom);
// clang-format on

EXPORT int close_range(unsigned first, unsigned last, int flags)
{
    int rc = REAL(close_range)(first, last, flags);
    if (rc == 0 && !(flags & CLOSE_RANGE_CLOEXEC)) {
        vb_forget_range(first, last);
    }
    return rc;
}

EXPORT void closefrom(int lowfd)
{
    REAL(closefrom)(lowfd);
    vb_forget_range(lowfd < 0 ? 0 : (unsigned)lowfd, ~0u);
}

EXPORT ssize_t read(int fd, void *buf, size_t n)
{
    return vb_is_emulated(fd) ? vb_read(fd, buf, n) : REAL(read)(fd, buf, n);
}

EXPORT ssize_t write(int fd, const void *buf, size_t n)
{
    return vb_is_emulated(fd) ? vb_write(fd, buf, n) : REAL(write)(fd, buf, n);
}

EXPORT ssize_t pread(int fd, void *buf, size_t n, off_t offset)
{
    return vb_is_emulated(fd) ? vb_pread(fd, buf, n, offset) : REAL(pread)(fd, buf, n, offset);
}

EXPORT ssize_t pread64(int fd, void *buf, size_t n, off64_t offset)
{
    return vb_is_emulated(fd) ? vb_pread(fd, buf, n, offset) : REAL(pread64)(fd, buf, n, offset);
}

EXPORT ssize_t pwrite(int fd, const void *buf, size_t n, off_t offset)
{
    return vb_is_emulated(fd) ? vb_pwrite(fd, buf, n, offset) : REAL(pwrite)(fd, buf, n, offset);
}

EXPORT ssize_t pwrite64(int fd, const void *buf, size_t n, off64_t offset)
{
    return vb_is_emulated(fd) ? vb_pwrite(fd, buf, n, offset) : REAL(pwrite64)(fd, buf, n, offset);
}

EXPORT off_t lseek(int fd, off_t offset, int whence)
{
    if (!vb_is_emulated(fd)) {
        return REAL(lseek)(fd, offset, whence);
    }
    int64_t pos = vb_lseek(fd, offset, whence);
    if (pos >= 0 && (int64_t)(off_t)pos != pos) {
        errno = EOVERFLOW;
        return -1;
    }
    return (off_t)pos;
}

EXPORT off64_t lseek64(int fd, off64_t offset, int whence)
{
    return vb_is_emulated(fd) ? vb_lseek(fd, offset, whence) : REAL(lseek64)(fd, offset, whence);
}

int64_t vb_real_lseek(int fd, int64_t offset, int whence) { return REAL(lseek64)(fd, offset, whence); }

int vb_real_close(int fd) { return REAL(close)(fd); }

ssize_t vb_real_read(int fd, void *buf, size_t n) { return REAL(read)(fd, buf, n); }

uint64_t vb_real_inode(int fd)
{
    struct stat64 st;
    return REAL(fstat64)(fd, &st) == 0 ? (uint64_t)st.st_ino : 0;
}

static void *one_arg(va_list ap) { return va_arg(ap, void *); }

int vb_real_ioctl(int fd, unsigned long request, void *arg) { return REAL(ioctl)(fd, request, arg); }

EXPORT int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = one_arg(ap);
    va_end(ap);
    return vb_is_emulated(fd) ? vb_ioctl(fd, request, arg) : REAL(ioctl)(fd, request, arg);
}

#if defined(__arm__) && __GLIBC_PREREQ(2, 34)
/* The 64-bit-time ioctl of 32-bit glibc. */
REAL_SLOT(__ioctl_time64);
int __ioctl_time64(int fd, unsigned long request, ...);
EXPORT int __ioctl_time64(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = one_arg(ap);
    va_end(ap);
    return vb_is_emulated(fd) ? vb_ioctl(fd, request, arg) : REAL(__ioctl_time64)(fd, request, arg);
}
#endif

#define FIX_STAT(rc, fd, st)                                                                                           \
    if ((rc) == 0 && vb_is_emulated(fd)) {                                                                             \
        mode_t mode_;                                                                                                  \
        dev_t rdev_;                                                                                                   \
        vb_stat_fields(fd, &mode_, &rdev_);                                                                            \
        (st)->st_mode = mode_;                                                                                         \
        (st)->st_rdev = rdev_;                                                                                         \
        (st)->st_size = 0;                                                                                             \
    }

EXPORT int fstat(int fd, struct stat *st)
{
    int rc = REAL(fstat)(fd, st);
    FIX_STAT(rc, fd, st)
    return rc;
}

EXPORT int fstat64(int fd, struct stat64 *st)
{
    int rc = REAL(fstat64)(fd, st);
    FIX_STAT(rc, fd, st)
    return rc;
}

EXPORT int __fxstat(int ver, int fd, struct stat *st)
{
    int rc = REAL(__fxstat)(ver, fd, st);
    FIX_STAT(rc, fd, st)
    return rc;
}

EXPORT int __fxstat64(int ver, int fd, struct stat64 *st)
{
    int rc = REAL(__fxstat64)(ver, fd, st);
    FIX_STAT(rc, fd, st)
    return rc;
}

/* stat and access on emulated paths: the record of a character device (or,
 * for a kernel text file, a read-only regular file) as the host has one. */
// clang-format off
REAL_SLOT(stat); REAL_SLOT(stat64); REAL_SLOT(lstat); REAL_SLOT(lstat64);
REAL_SLOT(__xstat); REAL_SLOT(__xstat64); REAL_SLOT(__lxstat); REAL_SLOT(__lxstat64);
REAL_SLOT(fstatat); REAL_SLOT(fstatat64); REAL_SLOT(statx); REAL_SLOT(access); REAL_SLOT(faccessat);
// clang-format on

int __xstat(int ver, const char *path, struct stat *st);
int __xstat64(int ver, const char *path, struct stat64 *st);
int __lxstat(int ver, const char *path, struct stat *st);
int __lxstat64(int ver, const char *path, struct stat64 *st);

static const char kTemplateNode[] = "/dev/null";

#define PATH_STAT(path, st, real_call_on)                                                                              \
    mode_t mode_;                                                                                                      \
    dev_t rdev_;                                                                                                       \
    int emulated_ = vb_path_stat(path, &mode_, &rdev_);                                                                \
    if (emulated_ == 0) {                                                                                              \
        return real_call_on(path);                                                                                     \
    }                                                                                                                  \
    if (emulated_ < 0 || real_call_on(kTemplateNode) != 0) {                                                           \
        return -1;                                                                                                     \
    }                                                                                                                  \
    (st)->st_mode = mode_;                                                                                             \
    (st)->st_rdev = rdev_;                                                                                             \
    (st)->st_size = 0;                                                                                                 \
    return 0;

EXPORT int stat(const char *path, struct stat *st){
#define CALL(p) REAL(stat)(p, st)
    PATH_STAT(path, st, CALL)
#undef CALL
}

EXPORT int stat64(const char *path, struct stat64 *st){
#define CALL(p) REAL(stat64)(p, st)
    PATH_STAT(path, st, CALL)
#undef CALL
}

EXPORT int lstat(const char *path, struct stat *st){
#define CALL(p) REAL(lstat)(p, st)
    PATH_STAT(path, st, CALL)
#undef CALL
}

EXPORT int lstat64(const char *path, struct stat64 *st){
#define CALL(p) REAL(lstat64)(p, st)
    PATH_STAT(path, st, CALL)
#undef CALL
}

EXPORT int __xstat(int ver, const char *path, struct stat *st){
#define CALL(p) REAL(__xstat)(ver, p, st)
    PATH_STAT(path, st, CALL)
#undef CALL
}

EXPORT int __xstat64(int ver, const char *path, struct stat64 *st){
#define CALL(p) REAL(__xstat64)(ver, p, st)
    PATH_STAT(path, st, CALL)
#undef CALL
}

EXPORT int __lxstat(int ver, const char *path, struct stat *st){
#define CALL(p) REAL(__lxstat)(ver, p, st)
    PATH_STAT(path, st, CALL)
#undef CALL
}

EXPORT int __lxstat64(int ver, const char *path, struct stat64 *st){
#define CALL(p) REAL(__lxstat64)(ver, p, st)
    PATH_STAT(path, st, CALL)
#undef CALL
}

/* Absolute paths only (the directory descriptor does not matter then). */
EXPORT int fstatat(int dirfd, const char *path, struct stat *st, int flags){
#define CALL(p) REAL(fstatat)(dirfd, p, st, flags)
    PATH_STAT(path, st, CALL)
#undef CALL
}

EXPORT int fstatat64(int dirfd, const char *path, struct stat64 *st, int flags){
#define CALL(p) REAL(fstatat64)(dirfd, p, st, flags)
    PATH_STAT(path, st, CALL)
#undef CALL
}

EXPORT int statx(int dirfd, const char *path, int flags, unsigned mask, struct statx *stx)
{
    mode_t mode;
    dev_t rdev;
    int emulated = vb_path_stat(path, &mode, &rdev);
    if (emulated == 0) {
        return REAL(statx)(dirfd, path, flags, mask, stx);
    }
    if (emulated < 0 || REAL(statx)(AT_FDCWD, kTemplateNode, flags, mask, stx) != 0) {
        return -1;
    }
    stx->stx_mode = (uint16_t)mode;
    stx->stx_rdev_major = major(rdev);
    stx->stx_rdev_minor = minor(rdev);
    stx->stx_size = 0;
    return 0;
}

/* Returns 1 with *result set when the path is emulated, else 0. */
static int emulated_access(const char *path, int how, int *result)
{
    mode_t mode;
    dev_t rdev;
    int emulated = vb_path_stat(path, &mode, &rdev);
    if (emulated == 0) {
        return 0;
    }
    if (emulated > 0 && (how & W_OK) && S_ISREG(mode)) {
        errno = EACCES;
        emulated = -1;
    }
    *result = emulated > 0 ? 0 : -1;
    return 1;
}

EXPORT int access(const char *path, int how)
{
    int result;
    return emulated_access(path, how, &result) ? result : REAL(access)(path, how);
}

EXPORT int faccessat(int dirfd, const char *path, int how, int flags)
{
    int result;
    return emulated_access(path, how, &result) ? result : REAL(faccessat)(dirfd, path, how, flags);
}

/* Emulated device nodes carry no extended attributes (ls -l asks). */
// clang-format off
REAL_SLOT(getxattr); REAL_SLOT(lgetxattr); REAL_SLOT(listxattr); REAL_SLOT(llistxattr);
// clang-format on

static int is_emulated_path(const char *path)
{
    mode_t mode;
    dev_t rdev;
    return vb_path_stat(path, &mode, &rdev) != 0;
}

static ssize_t no_attribute(void)
{
    errno = ENODATA;
    return -1;
}

EXPORT ssize_t getxattr(const char *path, const char *name, void *value, size_t size)
{
    return is_emulated_path(path) ? no_attribute() : REAL(getxattr)(path, name, value, size);
}

EXPORT ssize_t lgetxattr(const char *path, const char *name, void *value, size_t size)
{
    return is_emulated_path(path) ? no_attribute() : REAL(lgetxattr)(path, name, value, size);
}

EXPORT ssize_t listxattr(const char *path, char *list, size_t size)
{
    return is_emulated_path(path) ? 0 : REAL(listxattr)(path, list, size);
}

EXPORT ssize_t llistxattr(const char *path, char *list, size_t size)
{
    return is_emulated_path(path) ? 0 : REAL(llistxattr)(path, list, size);
}

static int duplicated(int oldfd, int newfd)
{
    if (newfd >= 0) {
        vb_duplicated(oldfd, newfd);
    }
    return newfd;
}

EXPORT int dup(int fd) { return duplicated(fd, REAL(dup)(fd)); }

EXPORT int dup2(int oldfd, int newfd)
{
    if (oldfd == newfd) {
        return REAL(dup2)(oldfd, newfd);
    }
    return duplicated(oldfd, REAL(dup2)(oldfd, newfd));
}

EXPORT int dup3(int oldfd, int newfd, int flags) { return duplicated(oldfd, REAL(dup3)(oldfd, newfd, flags)); }

static int is_dup_command(int cmd) { return cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC; }

EXPORT int fcntl(int fd, int cmd, ...)
{
    va_list ap;
    va_start(ap, cmd);
    void *arg = one_arg(ap);
    va_end(ap);
    int rc = REAL(fcntl)(fd, cmd, arg);
    return is_dup_command(cmd) ? duplicated(fd, rc) : rc;
}

EXPORT int fcntl64(int fd, int cmd, ...)
{
    va_list ap;
    va_start(ap, cmd);
    void *arg = one_arg(ap);
    va_end(ap);
    int rc = REAL(fcntl64)(fd, cmd, arg);
    return is_dup_command(cmd) ? duplicated(fd, rc) : rc;
}

/* The settings a program gives an emulated terminal (the kernel's pty
 * would not keep all of them: it has no parity). */
REAL_SLOT(tcsetattr);

EXPORT int tcsetattr(int fd, int action, const struct termios *t)
{
    int rc = REAL(tcsetattr)(fd, action, t);
    if (rc == 0 && vb_is_emulated(fd)) {
        vb_line_settings(fd, t);
    }
    return rc;
}

EXPORT long syscall(long number, ...)
{
    long args[6];
    va_list ap;
    va_start(ap, number);
    for (int i = 0; i < 6; ++i) {
        args[i] = va_arg(ap, long);
    }
    va_end(ap);
    long result;
    if (vb_syscall(number, args, &result)) {
        return result;
    }
    return REAL(syscall)(number, args[0], args[1], args[2], args[3], args[4], args[5]);
}
