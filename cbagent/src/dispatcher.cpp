// The dispatcher thread: takes each item the driver hands out and gives it
// to an idle pool thread or a new one-shot thread.
#include <dlfcn.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "agent.h"

using namespace cba;

namespace {

constexpr int32_t kNoFreeSlot = -2;
constexpr size_t kThreadNameBytes = 16; // what the kernel keeps, with the end mark
// Without the priority the agent never dispatches; init cannot say so.
constexpr const char *kNoPriorityLine =
    "[CBA] SCHED_RR priority 70 refused (needs CAP_SYS_NICE or RLIMIT_RTPRIO >= 70): no callback will run";

WorkThread &slot_of(int32_t slot) { return _arWork_Thread[slot]; }

// The slot the allocator reserved last.
int32_t reserved_slot(int32_t pool)
{
    int32_t cur = _arCbAgentUser.cur_index;
    return pool == 0 && cur == kExtraFirst ? kLastSlot : cur - 1;
}

bool reserve_from(int32_t first, int32_t end, int32_t *hit)
{
    for (int32_t i = first; i < end; ++i) {
        if (!slot_of(i).reserved) {
            *hit = i;
            return true;
        }
    }
    return false;
}

// Main lock held. A new one-shot thread, busy, for the next item: its slot,
// -1 when it could not be started, kNoFreeSlot when all slots are taken.
int32_t start_extra_thread(const char *counted)
{
    if (_iGet_a_free_index() != 0) {
        return kNoFreeSlot;
    }
    log_line(kDetail, "[CBA] main create a th now");
    int32_t slot = _i4Create_A_Cb_Work_Thread(0);
    if (slot >= 0) {
        ++_arCbAgentUser.thread_num;
        log(kDetail, counted, _arCbAgentUser.thread_num);
        slot_of(slot).busy = 1;
    }
    return slot;
}

// A work thread for the next item, or a negative value when there is none.
int32_t choose_work_thread()
{
    lock_main();
    int32_t slot = _i4Get_A_Work_Thread_EX();
    if (slot < 0) {
        slot = start_extra_thread("[CBA]inc_2 main cur thread :%d\n");
    }
    unlock_main();
    if (slot != kNoFreeSlot) {
        return slot;
    }
    int32_t done = _iWait_A_Work_Thread_Done();
    lock_main();
    if (done >= 0 && done < kExtraFirst) {
        slot = _i4Get_A_Work_Thread_EX();
    } else {
        slot = start_extra_thread("[CBA]inc_1 main cur thread :%d\n");
    }
    unlock_main();
    return slot;
}

// Maps the driver's block once; a block that cannot be mapped is tried
// again with the next item (its items are reported unrun meanwhile).
void map_block(uint32_t hmem)
{
    log_line(kDetail, "[CBA]main will map");
    auto map = reinterpret_cast<void *(*)(uint32_t)>(::dlsym(RTLD_DEFAULT, "x_kmem_block_map"));
    void *items = map ? map(hmem) : nullptr;
    _arCbAgentUser.hmem = hmem;
    if (items) {
        _arCbAgentUser.items = static_cast<CbItem *>(items);
        _arCbAgentUser.mapped = 1;
    }
}

void dispatch(int32_t pid)
{
    while (load_flag(_arCbAgentUser.running) == 1) {
        CbaRequest request = {{static_cast<uint32_t>(pid), 0}};
        if (::ioctl(_arCbAgentUser.fd, CBA_GET_CB_INFO, &request) < 0) {
            log_line(kInfo, "[CBA] main ioctl get cb_info error");
            break;
        }
        uint32_t hmem = request.word[0];
        int32_t index = static_cast<int32_t>(request.word[1]);
        log(kCalls, "[CBA]main get handle:0x%x,index:%d\n", hmem, index);
        if (!_arCbAgentUser.mapped && hmem != 0) {
            map_block(hmem);
        }
        if (hmem == 0) {
            log(kInfo, "[CBA] main get hmem = 0\n ");
            continue;
        }
        int32_t slot = choose_work_thread();
        if (slot < 0) {
            log(kInfo, "[CBA] thread id err:%d\n ", -1);
            return_item(index, slot); // unrun, but the driver's block keeps only 32 items
            continue;
        }
        _i4Run_A_Work_Thread(slot, index);
    }
}

// Pool slots that were never filled are left alone. The exit command is
// added to a pending hand-over rather than replacing it, so an item handed
// out just before the stop is still run and returned.
void stop_pool()
{
    for (int32_t slot = 0; slot < CBA_POOL_THREADS; ++slot) {
        lock_main();
        bool reserved = slot_of(slot).reserved;
        unlock_main();
        if (!reserved) {
            continue;
        }
        WorkThread &w = slot_of(slot);
        pthread_mutex_lock(&w.lock);
        store_flag(w.alive, 0);
        w.signalled = 1;
        w.event |= kEventExit;
        pthread_cond_signal(&w.cond);
        pthread_mutex_unlock(&w.lock);
        log(kDetail, "[CBA]  exit thread:%d sigal done\n", slot);
    }
}

// Waits for the pool, as long as the agent is meant to run.
void wait_for_pool()
{
    lock_main();
    if (_arCbAgentUser.thread_num != CBA_POOL_THREADS) {
        log(kInfo, "[CBA] only %d of %d pool threads started: no callback will run\n", _arCbAgentUser.thread_num,
            CBA_POOL_THREADS);
    }
    while (_arCbAgentUser.thread_num != CBA_POOL_THREADS && load_flag(_arCbAgentUser.running)) {
        log_line(kDetail, "[CBA] wait work thread run,sleep 1s");
        wait_main_a_while();
    }
    unlock_main();
}

} // namespace

extern "C" {

void *_vCBAgent_User_Thread_Main_fct(void *pv_pid)
{
    int32_t pid = *static_cast<int32_t *>(pv_pid);
    mark_agent_thread();
    if (make_self_realtime() != 0) {
        log_line(kInfo, " main set thread pri fail");
        log_line(kInfo, kNoPriorityLine);
        dispatcher_ended();
        return nullptr;
    }
    char name[kThreadNameBytes];
    std::snprintf(name, sizeof name, "CBA_U_%d", pid);
    ::prctl(PR_SET_NAME, name);
    log(kDetail, "[CBA] main_thread_name:%s\n", name);
    _i4Create_Cb_Work_Thread_Pool(CBA_POOL_THREADS);
    wait_for_pool();
    dispatch(pid);
    stop_pool();
    dispatcher_ended();
    return nullptr;
}

int32_t _i4Create_Cb_Work_Thread_Pool(int32_t i4_num)
{
    for (int32_t i = 0; i < i4_num; ++i) {
        lock_main();
        _iGet_a_free_index();
        if (_i4Create_A_Cb_Work_Thread(1) >= 0) {
            ++_arCbAgentUser.thread_num;
            log(kDetail, "[CBA] increase main cur thread :%d\n", _arCbAgentUser.thread_num);
        } else {
            log(kInfo, "[CBA]create work thread :%d fail\n", i);
        }
        unlock_main();
    }
    return 0;
}

int32_t _iGet_a_free_index(void)
{
    int32_t cur = _arCbAgentUser.cur_index;
    int32_t hit = -1;
    log(kTrace, "[CBA]cur_index:%d\n", cur);
    if (reserve_from(cur, CBA_WORK_THREADS, &hit)) {
        slot_of(hit).reserved = 1;
        _arCbAgentUser.cur_index = cur == kLastSlot ? kExtraFirst : hit + 1;
        return 0;
    }
    log(kTrace, "[CBA]cur_index:%d\n", CBA_WORK_THREADS);
    if (reserve_from(kExtraFirst, cur, &hit)) {
        _arCbAgentUser.cur_index = hit + 1;
        slot_of(hit).reserved = 1;
        return 0;
    }
    log_line(kTrace, "[CBA] no find index");
    return -1;
}

int32_t _i4Create_A_Cb_Work_Thread(int32_t i4_pool)
{
    pthread_attr_t attr;
    agent_thread_attr(&attr, true);
    int32_t slot = reserved_slot(i4_pool);
    WorkThread &w = slot_of(slot);
    pthread_mutex_init(&w.lock, nullptr);
    pthread_cond_init(&w.cond, nullptr);
    store_flag(w.alive, 1);
    w.busy = 0;
    w.signalled = 0;
    pthread_t tid;
    int rc = pthread_create(&tid, &attr, _vCBAgent_Work_Main, nullptr);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        // The slot is given back, so that a failure does not keep it taken for good.
        log_line(rc == EPERM ? kAlways : kInfo,
                 rc == EPERM ? " main set thread pri fail" : "[CBA] main pthread_create() failed");
        store_flag(w.alive, 0);
        w.reserved = 0;
        destroy_lock_and_cond(&w.lock, &w.cond);
        return -1;
    }
    w.tid = tid;
    log(kDetail, "[CBA] cur_th_id:%d,tid:%ld\n", slot, static_cast<long>(tid));
    pthread_detach(tid);
    return slot;
}

int32_t _i4Get_A_Work_Thread_EX(void)
{
    for (int32_t slot = 0; slot < CBA_POOL_THREADS; ++slot) {
        if (slot_of(slot).reserved && !slot_of(slot).busy) {
            slot_of(slot).busy = 1;
            return slot;
        }
    }
    return -1;
}

int32_t _iWait_A_Work_Thread_Done(void)
{
    lock_main();
    while (_arCbAgentUser.thread_num > kLastSlot) {
        log_line(kTrace, "[CBA] main wait a work th done");
        pthread_cond_wait(&_arCbAgentUser.cond, &_arCbAgentUser.lock);
    }
    log(kTrace, "[CBA] main cur thread_num :%d\n", _arCbAgentUser.thread_num);
    int32_t done = _arCbAgentUser.done_index;
    unlock_main();
    log(kInfo, "[CBA] main wait a work done:%d \n", done);
    return done;
}

int32_t _i4Run_A_Work_Thread(int32_t i4_slot, int32_t i4_index)
{
    WorkThread &w = slot_of(i4_slot);
    pthread_mutex_lock(&w.lock);
    w.mem_index = i4_index;
    w.event = kEventRun;
    if (load_flag(w.alive)) {
        w.signalled = 1;
        log(kDetail, "[CBA] main  sigal w_th :%d\n", i4_slot);
        pthread_cond_signal(&w.cond);
        log(kFlood, "[CBA] main sigal w_th :%d done\n", i4_slot);
    }
    pthread_mutex_unlock(&w.lock);
    return 0;
}

} // extern "C"
