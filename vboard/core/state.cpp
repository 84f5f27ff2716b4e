#include "vboard/state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "vboard/boot_layout.h"
#include "vboard/nand.h"

namespace vboard {

namespace {

int size_file(const std::string &path, uint64_t size, std::string *error)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot create " + path + ": " + std::strerror(errno);
        return -1;
    }
    struct stat st;
    int rc = ::fstat(fd, &st);
    if (rc == 0 && static_cast<uint64_t>(st.st_size) != size) {
        rc = ::ftruncate(fd, static_cast<off_t>(size));
    }
    if (rc != 0) {
        *error = "cannot size " + path + ": " + std::strerror(errno);
    }
    ::close(fd);
    return rc == 0 ? 0 : -1;
}

std::string seed_path(const std::string &seed_dir, const std::string &file)
{
    return file.empty() || file[0] == '/' || seed_dir.empty() ? file : seed_dir + "/" + file;
}

int apply_seed(Nand *nand, const Seed &seed, const std::string &seed_dir, std::string *error)
{
    std::string path = seed_path(seed_dir, seed.file);
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    if (!in || !(bytes << in.rdbuf())) {
        *error = "line " + std::to_string(seed.line) + ": cannot read seed " + path;
        return -1;
    }
    std::string data = bytes.str();
    if (data.size() > seed.limit - seed.offset) {
        *error = "line " + std::to_string(seed.line) + ": seed " + path + " (" + std::to_string(data.size()) +
                 " bytes) does not fit in its partition";
        return -1;
    }
    if (nand_seed(nand, seed.offset, data.data(), data.size()) != 0) {
        *error = "cannot seed the NAND from " + path;
        return -1;
    }
    return 0;
}

// The board's seeds go into a NAND that was just made, as if flashed at the
// factory; a failed seed leaves no half-seeded NAND behind.
int seed_fresh_nand(const std::string &dir, const std::string &seed_dir, std::string *error)
{
    Nand nand;
    int rc = nand_open(&nand, dir, nullptr, error);
    for (size_t i = 0; rc == 0 && i < nand.board.seeds.size(); ++i) {
        rc = apply_seed(&nand, nand.board.seeds[i], seed_dir, error);
    }
    nand_close(&nand);
    if (rc != 0) {
        std::remove(state_path(dir, kNandImage).c_str());
        std::remove(state_path(dir, kNandPages).c_str());
    }
    return rc;
}

} // namespace

std::string state_path(const std::string &dir, const char *name) { return dir + "/" + name; }

std::string default_seed_dir(const std::string &bin_dir) { return bin_dir + "/../share/vboard"; }

int read_text_file(const std::string &path, std::string *text)
{
    std::ifstream in(path);
    if (!in) {
        return -1;
    }
    std::ostringstream s;
    s << in.rdbuf();
    *text = s.str();
    return 0;
}

int write_text_file(const std::string &path, const std::string &text)
{
    std::string tmp = path + ".new";
    {
        std::ofstream out(tmp, std::ios::trunc);
        if (!out || !(out << text) || !out.flush()) {
            return -1;
        }
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0 ? 0 : -1;
}

int load_state_board(const std::string &dir, BoardConfig *board, std::string *error)
{
    if (load_board_file(state_path(dir, kBoardFile), board, error) != 0) {
        return -1;
    }
    apply_boot_layout(dir, board);
    return 0;
}

int prepare_state(const std::string &dir, const std::string *board_text, std::string *error,
                  const std::string &seed_dir)
{
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        *error = "cannot create " + dir + ": " + std::strerror(errno);
        return -1;
    }
    std::string board_path = state_path(dir, kBoardFile);
    std::string text;
    if (board_text) {
        text = *board_text;
    } else if (read_text_file(board_path, &text) != 0) {
        text = kDefaultBoardText;
    }
    BoardConfig board;
    if (parse_board(text, &board, error) != 0) {
        return -1;
    }
    if (write_text_file(board_path, text) != 0) {
        *error = "cannot write " + board_path + ": " + std::strerror(errno);
        return -1;
    }
    forget_boot_layout(dir);
    uint64_t pages = board.nand.size / board.nand.writesize;
    bool fresh_nand = ::access(state_path(dir, kNandImage).c_str(), F_OK) != 0;
    if (size_file(state_path(dir, kNandImage), board.nand.size, error) != 0 ||
        size_file(state_path(dir, kNandPages), pages, error) != 0) {
        return -1;
    }
    if (fresh_nand && seed_fresh_nand(dir, seed_dir, error) != 0) {
        return -1;
    }
    if (write_text_file(state_path(dir, kFlashOps), "0\n") != 0) {
        *error = "cannot write " + state_path(dir, kFlashOps);
        return -1;
    }
    return 0;
}

int next_boot(const std::string &dir)
{
    std::string text;
    int boots = 0;
    if (read_text_file(state_path(dir, kBoots), &text) == 0) {
        boots = std::atoi(text.c_str());
    }
    ++boots;
    write_text_file(state_path(dir, kBoots), std::to_string(boots) + "\n");
    return boots;
}

} // namespace vboard
