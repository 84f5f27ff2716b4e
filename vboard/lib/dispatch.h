/* Between the libc entry points (interpose.c) and the device models (C++).
 * The vb_* functions other than vb_open, vb_fopen and vb_syscall are called
 * only for descriptors that vb_is_emulated() reports; they return what the
 * libc function returns, with errno set on failure. */
#ifndef VBOARD_DISPATCH_H
#define VBOARD_DISPATCH_H

#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Return 1 when the path is emulated (*result is then the outcome), else 0. */
int vb_open(const char *path, int flags, mode_t mode, int *result);
int vb_fopen(const char *path, const char *mode, FILE **result);

int vb_is_emulated(int fd);
ssize_t vb_read(int fd, void *buf, size_t n);
ssize_t vb_write(int fd, const void *buf, size_t n);
ssize_t vb_pread(int fd, void *buf, size_t n, int64_t offset);
ssize_t vb_pwrite(int fd, const void *buf, size_t n, int64_t offset);
int64_t vb_lseek(int fd, int64_t offset, int whence);
int vb_ioctl(int fd, unsigned long request, void *arg);
/* The st_mode and st_rdev that fstat reports for an emulated descriptor. */
void vb_stat_fields(int fd, mode_t *mode, dev_t *rdev);
/* For stat and access on a path: 0 when the path is not emulated; 1 when it
 * is and exists (*mode and *rdev set); -1 with errno when it is emulated but
 * does not exist. */
int vb_path_stat(const char *path, mode_t *mode, dev_t *rdev);
/* Forgets the descriptor (the caller then closes it). */
void vb_forget(int fd);
/* After close_range or closefrom closed [first, last]. */
void vb_forget_range(unsigned first, unsigned last);
/* After a successful dup of any descriptor onto newfd. */
void vb_duplicated(int oldfd, int newfd);
/* After a successful tcsetattr on an emulated descriptor (a struct termios). */
void vb_line_settings(int fd, const void *termios);
/* Returns 1 when the system call was handled (*result set), else 0. */
int vb_syscall(long number, const long args[6], long *result);

/* The real libc functions, for the C++ side. */
int64_t vb_real_lseek(int fd, int64_t offset, int whence);
int vb_real_close(int fd);
ssize_t vb_real_read(int fd, void *buf, size_t n);
int vb_real_ioctl(int fd, unsigned long request, void *arg);
/* Inode of what the descriptor refers to, 0 when it is not open. */
uint64_t vb_real_inode(int fd);

#ifdef __cplusplus
}
#endif

#endif
