// The flash of the real-kernel board across boots: nandsim keeps its pages
// in memory only, so init saves every page that is not erased, with its
// OOB, when the board stops, and puts them back at the next boot. Reading
// the whole NAND page by page costs a minute under emulation, its OOB
// alone a second or two: a page whose OOB is erased holds no ECC, so it was
// never programmed through the kernel, and only the others are read.
//
//   vmnand save MTD FILE         the programmed pages of MTD, raw, into FILE
//   vmnand restore MTD FILE      FILE's pages back, raw (the ECC bytes as saved)
//   vmnand seed MTD IMAGE PAGES  a factory flash: the pages that PAGES marks
//                                (one byte a page, 1 programmed) from IMAGE,
//                                written with the kernel's ECC
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

static const char kMagic[8] = "OLVKNAND";

struct header {
    char magic[8];
    uint32_t writesize, oobsize, pages;
};

static int fail(const char *what, const char *path)
{
    fprintf(stderr, "vmnand: %s %s: %m\n", what, path);
    return 1;
}

static int open_mtd(const char *path, int flags, struct mtd_info_user *info)
{
    int fd = open(path, flags);
    if (fd < 0 || ioctl(fd, MEMGETINFO, info) != 0) {
        fail("cannot use", path);
        exit(1);
    }
    return fd;
}

static int all_erased(const uint8_t *b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (b[i] != 0xFF)
            return 0;
    }
    return 1;
}

static int read_block_oob(int fd, uint64_t at, uint8_t *oob, const struct mtd_info_user *info)
{
    struct mtd_read_req r = {.start = at,
                             .ooblen = info->erasesize / info->writesize * info->oobsize,
                             .usr_oob = (uintptr_t)oob,
                             .mode = MTD_OPS_RAW};
    return ioctl(fd, MEMREAD, &r);
}

static int raw_io(int fd, unsigned long request, uint64_t at, uint8_t *page, const struct mtd_info_user *info)
{
    if (request == MEMREAD) {
        struct mtd_read_req r = {.start = at,
                                 .len = info->writesize,
                                 .ooblen = info->oobsize,
                                 .usr_data = (uintptr_t)page,
                                 .usr_oob = (uintptr_t)(page + info->writesize),
                                 .mode = MTD_OPS_RAW};
        return ioctl(fd, MEMREAD, &r);
    }
    struct mtd_write_req w = {.start = at,
                              .len = info->writesize,
                              .ooblen = info->oobsize,
                              .usr_data = (uintptr_t)page,
                              .usr_oob = (uintptr_t)(page + info->writesize),
                              .mode = MTD_OPS_RAW};
    return ioctl(fd, MEMWRITE, &w);
}

static int save(const char *mtd, const char *path)
{
    struct mtd_info_user info;
    int fd = open_mtd(mtd, O_RDONLY, &info);
    FILE *out = fopen(path, "wb");
    if (!out)
        return fail("cannot write", path);
    struct header h = {.writesize = info.writesize, .oobsize = info.oobsize, .pages = info.size / info.writesize};
    memcpy(h.magic, kMagic, sizeof(h.magic));
    size_t room = info.writesize + info.oobsize;
    uint32_t per_block = info.erasesize / info.writesize;
    uint8_t *page = malloc(room), *oob = malloc(per_block * info.oobsize);
    fwrite(&h, sizeof(h), 1, out);
    for (uint32_t p = 0; p < h.pages; ++p) {
        if (p % per_block == 0 && read_block_oob(fd, (uint64_t)p * info.writesize, oob, &info) < 0) {
            return fail("cannot read", mtd);
        }
        if (all_erased(oob + p % per_block * info.oobsize, info.oobsize))
            continue;
        if (raw_io(fd, MEMREAD, (uint64_t)p * info.writesize, page, &info) < 0)
            return fail("cannot read", mtd);
        if (!all_erased(page, room) && (fwrite(&p, sizeof(p), 1, out) != 1 || fwrite(page, room, 1, out) != 1)) {
            return fail("cannot write", path);
        }
    }
    return fclose(out) == 0 ? 0 : fail("cannot write", path);
}

static int restore(const char *mtd, const char *path)
{
    struct mtd_info_user info;
    int fd = open_mtd(mtd, O_RDWR, &info);
    FILE *in = fopen(path, "rb");
    struct header h;
    if (!in || fread(&h, sizeof(h), 1, in) != 1)
        return fail("cannot read", path);
    if (memcmp(h.magic, kMagic, sizeof(h.magic)) != 0 || h.writesize != info.writesize || h.oobsize != info.oobsize) {
        fprintf(stderr, "vmnand: %s was saved from a NAND of another geometry\n", path);
        return 1;
    }
    size_t room = info.writesize + info.oobsize;
    uint8_t *page = malloc(room);
    uint32_t p;
    while (fread(&p, sizeof(p), 1, in) == 1) {
        if (fread(page, room, 1, in) != 1 || p >= h.pages)
            return fail("truncated", path);
        if (raw_io(fd, MEMWRITE, (uint64_t)p * info.writesize, page, &info) < 0)
            return fail("cannot program", mtd);
    }
    return 0;
}

static int seed(const char *mtd, const char *image, const char *pages)
{
    struct mtd_info_user info;
    int fd = open_mtd(mtd, O_RDWR, &info);
    int img = open(image, O_RDONLY);
    FILE *map = fopen(pages, "rb");
    if (img < 0)
        return fail("cannot read", image);
    if (!map)
        return fail("cannot read", pages);
    uint8_t *page = malloc(info.writesize);
    int c;
    for (uint64_t at = 0; (c = fgetc(map)) != EOF && at < info.size; at += info.writesize) {
        if (c != 1)
            continue;
        memset(page, 0xFF, info.writesize);
        if (pread(img, page, info.writesize, (off_t)at) < 0)
            return fail("cannot read", image);
        if (pwrite(fd, page, info.writesize, (off_t)at) != (ssize_t)info.writesize)
            return fail("cannot program", mtd);
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 4 && strcmp(argv[1], "save") == 0)
        return save(argv[2], argv[3]);
    if (argc == 4 && strcmp(argv[1], "restore") == 0)
        return restore(argv[2], argv[3]);
    if (argc == 5 && strcmp(argv[1], "seed") == 0)
        return seed(argv[2], argv[3], argv[4]);
    fprintf(stderr, "usage: vmnand save|restore MTD FILE | vmnand seed MTD IMAGE PAGES\n");
    return 2;
}
