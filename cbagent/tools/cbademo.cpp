// cbademo: an application that runs the callback agent, so that people and
// tests can raise notifications for it (`vboard cba-raise`) and watch them run.
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "cbagent.h"
#include "common/help_option.h"

namespace {

const char kUsage[] =
    "usage: cbademo [-d LEVEL]\n"
    "Starts the callback agent and prints this process's id and the addresses of\n"
    "its notify functions, for 'vboard cba-raise PID FCT TAG [INFO [COUNT]]':\n"
    "  print  prints the tag, the information bytes as text, and the thread that\n"
    "         runs it with its scheduling policy and priority\n"
    "  sleep  sleeps TAG milliseconds, then prints as print does\n"
    "Runs until SIGINT or SIGTERM, then stops the agent and prints how many\n"
    "callbacks ran. -d sets CBA_debug_level (default 0).\n"
    "Exit status: 0, or 2 on bad usage.\n";

std::atomic<unsigned> callbacks{0};

void print_callback(void *info, uint32_t tag)
{
    const CbItem *item = reinterpret_cast<const CbItem *>(static_cast<uint8_t *>(info) - offsetof(CbItem, cb_info));
    char name[16] = "?";
    pthread_getname_np(pthread_self(), name, sizeof name);
    int policy = 0;
    sched_param param{};
    pthread_getschedparam(pthread_self(), &policy, &param);
    int size = static_cast<int>(item->cb_info_sz < CBA_INFO_SIZE ? item->cb_info_sz : CBA_INFO_SIZE);
    std::printf("cbademo: tag %u info \"%.*s\" on %s %s %d\n", tag, size, static_cast<const char *>(info), name,
                policy == SCHED_RR ? "SCHED_RR" : "other", param.sched_priority);
    callbacks.fetch_add(1);
}

void sleep_callback(void *info, uint32_t tag)
{
    timespec pause = {static_cast<time_t>(tag / 1000), static_cast<long>(tag % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
    print_callback(info, tag);
}

} // namespace

int main(int argc, char **argv)
{
    if (answered_help_or_version(argc, argv, "cbademo", kUsage)) {
        return 0;
    }
    int opt;
    while ((opt = getopt(argc, argv, "d:h")) != -1) {
        if (opt == 'd') {
            char *end = nullptr;
            CBA_debug_level = static_cast<int32_t>(std::strtol(optarg, &end, 0));
            if (*end != '\0') {
                std::fputs(kUsage, stderr);
                return 2;
            }
        } else {
            std::fputs(kUsage, opt == 'h' ? stdout : stderr);
            return opt == 'h' ? 0 : 2;
        }
    }
    if (optind != argc) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr); // the agent's threads inherit it
    vCBAgent_User_Init();
    std::printf("cbademo: pid %d\n", static_cast<int>(getpid()));
    std::printf("cbademo: notify print 0x%lx\n", reinterpret_cast<unsigned long>(&print_callback));
    std::printf("cbademo: notify sleep 0x%lx\n", reinterpret_cast<unsigned long>(&sleep_callback));
    int sig = 0;
    sigwait(&stop, &sig);
    vCBAgent_User_Uninit();
    std::printf("cbademo: %u callbacks\n", callbacks.load());
    return 0;
}
