// Start and stop of the agent.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

#include "agent.h"

using namespace cba;

namespace {

// thread_num under the main lock, waiting up to a second for a change.
int32_t thread_num_after_a_while()
{
    lock_main();
    if (_arCbAgentUser.thread_num != 0) {
        wait_main_a_while();
    }
    int32_t n = _arCbAgentUser.thread_num;
    unlock_main();
    return n;
}

void unmap_block(void *items)
{
    auto unmap = reinterpret_cast<int32_t (*)(void *)>(::dlsym(RTLD_DEFAULT, "x_kmem_block_unmap"));
    if (items && unmap) {
        unmap(items);
    }
}

} // namespace

extern "C" {

void vCBAgent_User_Init(void)
{
    if (_fgCbAgentUserInit) {
        return;
    }
    int32_t pid = static_cast<int32_t>(::getpid());
    log(kInfo, "[CBA] init, pid:%d\n", pid);
    store_flag(_arCbAgentUser.running, 1);
    _i4CBAgent_Create_EX(pid);
    _vCBAgent_Cli_Init();
    _fgCbAgentUserInit = 1;
}

void vCBAgent_User_Uninit(void)
{
    if (!_fgCbAgentUserInit) {
        return;
    }
    if (on_agent_thread()) {
        // It would wait for the very thread it runs on.
        log_line(kInfo, "[CBA] uninit refused: called from a callback");
        return;
    }
    _vCBAgent_Finish_EX();
    _vCBAgent_Cli_Uninit();
    _fgCbAgentUserInit = 0;
}

int32_t _i4CBAgent_Create_EX(int32_t i4_pid)
{
    pthread_attr_t attr;
    agent_thread_attr(&attr, false);
    _arCbAgentUser.pid = i4_pid;
    log(kTrace, "[CBA]pid:%d\n", i4_pid);
    _arCbAgentUser.fd = ::open(CBA_DEVICE_PATH, O_RDWR);
    if (_arCbAgentUser.fd < 0) {
        log_line(kInfo, "[CBA] open /dev/cbagent error");
    } else {
        log(kDetail, "[CBA] open succ, fd: %d\n", _arCbAgentUser.fd);
    }
    pthread_mutex_init(&_arCbAgentUser.lock, nullptr);
    pthread_cond_init(&_arCbAgentUser.cond, nullptr);
    log_line(kTrace, "[CBA]init lock");
    pthread_t dispatcher;
    dispatcher_started();
    int rc = pthread_create(&dispatcher, &attr, _vCBAgent_User_Thread_Main_fct, &_arCbAgentUser.pid);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        dispatcher_ended();
        log_line(kInfo, "pthread_create() failed");
        return -1;
    }
    pthread_detach(dispatcher);
    return 0;
}

void _vCBAgent_Finish_EX(void)
{
    store_flag(_arCbAgentUser.running, 0);
    if (::ioctl(_arCbAgentUser.fd, CBA_FINISH, nullptr) < 0) {
        log_line(kInfo, "[CBA] CBA_FINISH fail");
    }
    log_line(kInfo, "ioctl finish ");
    wait_dispatcher_end(); // it starts no thread after this, and has told the pool to exit
    while (thread_num_after_a_while() != 0) {
    }
    unmap_block(_arCbAgentUser.items); // skipped when nothing was ever mapped
    if (_arCbAgentUser.fd >= 0) {
        ::close(_arCbAgentUser.fd);
    }
    destroy_lock_and_cond(&_arCbAgentUser.lock, &_arCbAgentUser.cond);
    std::memset(static_cast<void *>(&_arCbAgentUser), 0, sizeof _arCbAgentUser);
    log_line(kInfo, "[CBA]close ");
}

int32_t _vCBAgent_Cli_Init(void) { return 0; }

int32_t _vCBAgent_Cli_Uninit(void) { return 0; }

} // extern "C"
