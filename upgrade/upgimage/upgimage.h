// upgimage: builds upgrade images from a readable description and shows
// the tables of any image.
#ifndef UPGIMAGE_UPGIMAGE_H
#define UPGIMAGE_UPGIMAGE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum { kLayoutOld = 0, kLayoutNtbl = 1 };

struct t_part_desc {
    std::string name;
    uint32_t size;
    uint32_t type;
    std::string container; // type 4: the partition it lies in
    bool status_listed;
    uint32_t extra1;
    uint32_t extra2;
    int line;
};

struct t_bin_desc {
    std::string part;
    std::string file;
    uint32_t at;
    int line;
};

struct t_nand_desc {
    uint32_t size;
    uint32_t block;
    uint32_t start;
    std::vector<t_part_desc> parts;
    std::vector<t_bin_desc> bins;
    int line;
};

struct t_image_desc {
    int layout;
    int pit_layout;
    std::vector<t_nand_desc> nands;
};

// Parses a description; files of bin lines are taken relative to base_dir.
int parse_description(const std::string &text, const std::string &base_dir, t_image_desc *out, std::string *err);
int build_image(const t_image_desc &desc, std::vector<uint8_t> *image, std::string *err);
// What the flash of a board laid out by a nand table holds in its tables: the
// PIT of part_info, the adaptive PIT of part_info_1/2 and a status record
// (no upgrade in progress) listing the partitions marked status.
struct t_flash_tables {
    std::vector<uint8_t> pit;
    std::vector<uint8_t> adaptive_pit;
    std::vector<uint8_t> status;
};
int build_flash_tables(const t_image_desc &desc, size_t nand, t_flash_tables *out, std::string *err);
int dump_image(const std::vector<uint8_t> &image, FILE *out, std::string *err);

#endif
