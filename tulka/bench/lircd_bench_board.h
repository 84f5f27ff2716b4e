// What both key benchmarks stand on: tulkad on a virtual board with the real
// lircd it starts, a client of tulkad, and two clients of lircd: one that
// sends SIMULATE commands and a bare one that only listens (the baseline).
#ifndef TULKA_BENCH_LIRCD_BENCH_BOARD_H
#define TULKA_BENCH_LIRCD_BENCH_BOARD_H

#include "board_tulkad.h"
#include "lircd_client.h"

#include <chrono>
#include <cstdio>
#include <memory>

namespace tulka_test {

struct lircd_bench_board {
    board_tulkad board;
    int client = -1;
    std::unique_ptr<tulka::test::lircd_client> sender;
    std::unique_ptr<tulka::test::lircd_client> bare;

    // False, after a line on standard error naming `program`, when any of
    // them is missing.
    bool start(const char *program)
    {
        using namespace std::chrono_literals;
        const char *const lircd_socket = "/run/lirc/lircd";
        const char *failure = nullptr;
        if (board.shell(board_tulkad::lircd_setup()).status != 0) {
            failure = "board set-up failed";
        } else {
            board.start({"-r", "100"});
            client = board.connect_client();
            if (client < 0 || !board.wait_out("connected to lircd\n", 3s)) {
                failure = "tulkad is not connected to lircd";
            } else {
                sender = std::make_unique<tulka::test::lircd_client>(board.host_path(lircd_socket));
                bare = std::make_unique<tulka::test::lircd_client>(board.host_path(lircd_socket));
                if (!sender->accepted() || !bare->accepted())
                    failure = "lircd does not answer";
            }
        }
        if (failure)
            std::fprintf(stderr, "%s: %s\n", program, failure);
        return failure == nullptr;
    }
};

} // namespace tulka_test

#endif
