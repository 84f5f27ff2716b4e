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

namespace vboard {

namespace {

int size_file(const std::string &path, uint64_t size, std::string *error) {
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

}  // namespace

std::string state_path(const std::string &dir, const char *name) { return dir + "/" + name; }

int read_text_file(const std::string &path, std::string *text) {
    std::ifstream in(path);
    if (!in) {
        return -1;
    }
    std::ostringstream s;
    s << in.rdbuf();
    *text = s.str();
    return 0;
}

int write_text_file(const std::string &path, const std::string &text) {
    std::string tmp = path + ".new";
    {
        std::ofstream out(tmp, std::ios::trunc);
        if (!out || !(out << text) || !out.flush()) {
            return -1;
        }
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0 ? 0 : -1;
}

int load_state_board(const std::string &dir, BoardConfig *board, std::string *error) {
    return load_board_file(state_path(dir, kBoardFile), board, error);
}

int prepare_state(const std::string &dir, const std::string *board_text, std::string *error) {
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
    uint64_t pages = board.nand.size / board.nand.writesize;
    if (size_file(state_path(dir, kNandImage), board.nand.size, error) != 0 ||
        size_file(state_path(dir, kNandPages), pages, error) != 0) {
        return -1;
    }
    if (write_text_file(state_path(dir, kFlashOps), "0\n") != 0) {
        *error = "cannot write " + state_path(dir, kFlashOps);
        return -1;
    }
    return 0;
}

int next_boot(const std::string &dir) {
    std::string text;
    int boots = 0;
    if (read_text_file(state_path(dir, kBoots), &text) == 0) {
        boots = std::atoi(text.c_str());
    }
    ++boots;
    write_text_file(state_path(dir, kBoots), std::to_string(boots) + "\n");
    return boots;
}

}  // namespace vboard
