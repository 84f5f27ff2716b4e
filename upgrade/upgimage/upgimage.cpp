#include "upgimage.h"

#include "common/help_option.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

const char kUsage[] =
    "usage: upgimage build DESCRIPTION OUTPUT   build an upgrade image\n"
    "       upgimage dump IMAGE                 show an image's index table, PITs and BITs\n"
    "       upgimage tables DESCRIPTION DIR     the flash tables of a board laid out by the first\n"
    "                                           nand table: DIR/pit.bin (part_info), DIR/adaptive_pit.bin\n"
    "                                           (part_info_1/2), DIR/status.bin (upg_status, both copies)\n"
    "\n"
    "A description holds one statement a line ('#' starts a comment):\n"
    "  layout old|ntblfmt            layout of the index tables, and of the PIT\n"
    "  pit old|ntblfmt               PIT layout when it differs\n"
    "  nand SIZE [block=B] [start=OFFSET]    a partition table for this NAND size\n"
    "  part NAME SIZE [type=T] [in=CONTAINER] [status] [extra=A,B]\n"
    "  bin NAME FILE [at=OFFSET]     FILE goes into partition NAME at OFFSET\n"
    "Partitions follow one another from start; ids count from 1. Sizes take 0x and K/M/G.\n";

bool read_all(const char *path, std::string *out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    *out = s.str();
    return true;
}

std::string dir_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

bool write_all(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

bool parse_file(const char *desc_path, t_image_desc *desc)
{
    std::string text, err;
    if (!read_all(desc_path, &text)) {
        std::fprintf(stderr, "upgimage: cannot read %s\n", desc_path);
        return false;
    }
    if (parse_description(text, dir_of(desc_path), desc, &err) != 0) {
        std::fprintf(stderr, "upgimage: %s: %s\n", desc_path, err.c_str());
        return false;
    }
    return true;
}

int build(const char *desc_path, const char *out_path)
{
    t_image_desc desc;
    std::vector<uint8_t> image;
    std::string err;
    if (!parse_file(desc_path, &desc))
        return 1;
    if (build_image(desc, &image, &err) != 0) {
        std::fprintf(stderr, "upgimage: %s: %s\n", desc_path, err.c_str());
        return 1;
    }
    if (!write_all(out_path, image)) {
        std::fprintf(stderr, "upgimage: cannot write %s\n", out_path);
        return 1;
    }
    return 0;
}

int tables(const char *desc_path, const std::string &dir)
{
    t_image_desc desc;
    t_flash_tables t;
    std::string err;
    if (!parse_file(desc_path, &desc))
        return 1;
    if (build_flash_tables(desc, 0, &t, &err) != 0) {
        std::fprintf(stderr, "upgimage: %s: %s\n", desc_path, err.c_str());
        return 1;
    }
    for (const auto &f : {std::make_pair("/pit.bin", &t.pit), std::make_pair("/adaptive_pit.bin", &t.adaptive_pit),
                          std::make_pair("/status.bin", &t.status)}) {
        if (!write_all(dir + f.first, *f.second)) {
            std::fprintf(stderr, "upgimage: cannot write %s%s\n", dir.c_str(), f.first);
            return 1;
        }
    }
    return 0;
}

int dump(const char *path)
{
    std::string text, err;
    if (!read_all(path, &text)) {
        std::fprintf(stderr, "upgimage: cannot read %s\n", path);
        return 1;
    }
    std::vector<uint8_t> image(text.begin(), text.end());
    if (dump_image(image, stdout, &err) != 0) {
        std::fprintf(stderr, "upgimage: %s: %s\n", path, err.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (answered_help_or_version(argc, argv, "upgimage", kUsage))
        return 0;
    if (argc == 4 && std::strcmp(argv[1], "build") == 0)
        return build(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "tables") == 0)
        return tables(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "dump") == 0)
        return dump(argv[2]);
    std::fputs(kUsage, stderr);
    return 2;
}
