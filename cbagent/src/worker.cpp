// Work threads: each waits for an item handed over to its slot, runs the
// notify function and reports the item done. Pool threads (slots 0-2) loop;
// one-shot threads (slots 3-15) end after one item.
#include <sys/ioctl.h>
#include <sys/prctl.h>

#include <cstdio>
#include <cstring>

#include "agent.h"

using namespace cba;

namespace {

// The slot whose tid is this thread's, or CBA_WORK_THREADS.
int32_t own_slot()
{
    pthread_t self = pthread_self();
    for (int32_t slot = 0; slot < CBA_WORK_THREADS; ++slot) {
        if (_arWork_Thread[slot].tid && pthread_equal(_arWork_Thread[slot].tid, self)) {
            return slot;
        }
    }
    return CBA_WORK_THREADS;
}

// Waits for the next hand-over; returns its event.
int32_t wait_hand_over(WorkThread &w, const char *name)
{
    pthread_mutex_lock(&w.lock);
    log(kFlood, "[CBA] wk_th:%s lock done\n", name);
    log(kTrace, "[CBA] wk_th:%s wait signal\n", name);
    while (!w.signalled) {
        pthread_cond_wait(&w.cond, &w.lock);
    }
    log(kFlood, "[CBA] wk_th:%s wait signal done\n", name);
    int32_t event = w.event;
    pthread_mutex_unlock(&w.lock);
    log(kDetail, "[CBA] wk_th:%s wait signal unlock\n", name);
    return event;
}

// A pool thread after its item: idle again, or false when the exit command
// came while it ran. The hand-over is cleared under the slot's lock, and
// only when no exit command was given meanwhile.
bool pool_thread_idle(int32_t slot)
{
    WorkThread &w = _arWork_Thread[slot];
    pthread_mutex_lock(&w.lock);
    bool exit_asked = (w.event & kEventExit) != 0;
    if (!exit_asked) {
        w.event = 0;
        w.signalled = 0;
    }
    pthread_mutex_unlock(&w.lock);
    lock_main();
    _arCbAgentUser.done_index = slot;
    w.busy = 0;
    wake_main();
    unlock_main();
    return !exit_asked;
}

// Every way out passes through the slot's lock after the exit command was
// given, so clean-up never destroys that lock while the dispatcher still
// holds or signals it.
void run_items(int32_t slot)
{
    WorkThread &w = _arWork_Thread[slot];
    for (;;) {
        if (!(wait_hand_over(w, w.name) & kEventRun)) {
            log_line(kTrace, "[CBA] wk_th event exit ");
            return;
        }
        _vCBAgent_Callback_Proc(slot);
        _vCAgent_Callback_Done(slot);
        if (slot >= kExtraFirst || !pool_thread_idle(slot)) {
            return;
        }
    }
}

void log_item(int32_t slot, const CbItem *item, const char *end)
{
    log(kCalls,
        "[CBA]wk_th:%d, caller: 0x%x,drv_type %d,pid: %d,  nfy_fct: 0x%lx, nfy_tag: %d,          cb_info: 0x%lx, "
        "cb_info_sz: %d%s",
        slot, item->caller, static_cast<int>(item->drv_type), static_cast<int>(item->pid),
        static_cast<unsigned long>(item->nfy_fct), static_cast<int>(item->nfy_tag),
        static_cast<unsigned long>(reinterpret_cast<uintptr_t>(item->cb_info)), static_cast<int>(item->cb_info_sz),
        end);
}

} // namespace

int cba::return_item(int32_t index, int32_t slot)
{
    CbaRequest request = {{_arCbAgentUser.hmem, static_cast<uint32_t>(index)}};
    int rc = ::ioctl(_arCbAgentUser.fd, CB_DONE, &request);
    if (rc < 0) {
        log(kInfo, "[CBA]wk_th:%d,CB_DONE fail\n", slot);
    }
    return rc;
}

extern "C" {

void *_vCBAgent_Work_Main(void *)
{
    lock_main();
    int32_t slot = own_slot();
    char name[sizeof _arWork_Thread[0].name] = "";
    if (slot < CBA_WORK_THREADS) {
        std::snprintf(name, sizeof name, "CBA_U_WK%d_%d", _arCbAgentUser.pid, slot);
        std::memcpy(_arWork_Thread[slot].name, name, sizeof name);
    }
    unlock_main();
    if (slot == CBA_WORK_THREADS) {
        log(kInfo, "[CBA] work  thread :%d not reg\n", CBA_WORK_THREADS);
        return nullptr;
    }
    ::prctl(PR_SET_NAME, name);
    mark_agent_thread();
    log(kDetail, "[CBA] wk_th:%s,_ar[].tid:%ld,,self_tid:%ld\n", name, static_cast<long>(_arWork_Thread[slot].tid),
        static_cast<long>(pthread_self()));
    pthread_cleanup_push(_vcleanup, &slot);
    run_items(slot);
    pthread_cleanup_pop(1);
    return nullptr;
}

void _vCBAgent_Callback_Proc(int32_t i4_slot)
{
    CbItem *items = _arCbAgentUser.items;
    CbItem *item = items ? items + _arWork_Thread[i4_slot].mem_index : nullptr;
    log(kFlood, "[CBA] ptr:0x%lx\n", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(item)));
    uintptr_t fct = item ? item->nfy_fct : 0; // an unmapped block runs nothing
    log(kFlood, "[CBA] wk_th:%d cbNfyFct :0x%lx\n", i4_slot, static_cast<unsigned long>(fct));
    if (fct == 0) {
        log(kInfo, "[CBA] wk_th::%d cbNfyFct NULL error\n", i4_slot);
        return;
    }
    log_item(i4_slot, item, "\n");
    reinterpret_cast<CbNfyFct>(fct)(item->cb_info, item->nfy_tag);
    log_item(i4_slot, item, " done\n ");
}

int32_t _vCAgent_Callback_Done(int32_t i4_slot)
{
    int32_t index = _arWork_Thread[i4_slot].mem_index;
    int rc = return_item(index, i4_slot);
    log(kTrace, "[CBA] wk_th:%d mem_index:%d, available\n", i4_slot, index);
    return rc;
}

void _vcleanup(void *pv_slot)
{
    int32_t slot = *static_cast<int32_t *>(pv_slot);
    if (slot > kLastSlot) {
        log(kDetail, "[CBA] no find exit  wth:%d\n", slot);
        return;
    }
    log(kTrace, "[cba]clean up %d\n", slot);
    WorkThread &w = _arWork_Thread[slot];
    lock_main();
    w.reserved = 0;
    w.event = 0;
    w.busy = 0;
    store_flag(w.alive, 0);
    w.tid = 0;
    w.signalled = 0;
    --_arCbAgentUser.thread_num;
    log(kTrace, "[CBA]cur thread num  :%d\n", _arCbAgentUser.thread_num);
    _arCbAgentUser.done_index = slot;
    destroy_lock_and_cond(&w.lock, &w.cond);
    wake_main();
    unlock_main();
}

} // extern "C"
