/*
 * libcbagent: runs the callbacks that the driver "/dev/cbagent" queues for
 * this process in a pool of user-space threads.
 *
 * An application calls vCBAgent_User_Init once at start and
 * vCBAgent_User_Uninit at the end, and may set CBA_debug_level at any time.
 * The block functions x_kmem_block_map and x_kmem_block_unmap must be present
 * in the process (libkorm.so); the agent looks them up when it runs.
 *
 * What a notify function can rely on:
 * - It runs on one of the agent's threads (three permanent, up to thirteen
 *   more for a burst), under SCHED_RR at priority 70, with no lock of the
 *   agent held. A callback that spins keeps lower-priority threads of the
 *   whole system from running: keep it short, or hand the work on.
 * - pv_cb_info points into the driver's shared block and is valid only
 *   during the call: the item is given back to the driver as soon as the
 *   function returns. Copy what must outlive the call.
 * - vCBAgent_User_Uninit called from a notify function is refused (a line
 *   "[CBA] uninit refused: called from a callback"): uninit waits for every
 *   agent thread to end, its own caller included. Call it from another thread.
 * - Uninit runs an item that was already handed to a thread before it
 *   returns; notifications still queued in the driver are dropped.
 *
 * The process needs the right to use SCHED_RR at priority 70 (CAP_SYS_NICE,
 * or RLIMIT_RTPRIO of at least 70). Without it init still returns and marks
 * the agent initialised, but no callback ever runs; the log says so at level
 * 0 and above (" main set thread pri fail", then a line that names the
 * missing right).
 */
#ifndef CBAGENT_H
#define CBAGENT_H

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Driver requests: read/write, type 'c', declared size 4. */
#define CBA_GET_CB_INFO 0xC0046301u
#define CBA_FINISH 0xC0046302u
#define CB_DONE 0xC0046303u

#define CBA_DEVICE_PATH "/dev/cbagent"
#define CBA_WORK_THREADS 16
#define CBA_POOL_THREADS 3
#define CBA_ITEM_SIZE 2048
#define CBA_THREAD_PRIORITY 70

/* The words of a driver request: {pid, 0} in and {hmem, index} out for
 * CBA_GET_CB_INFO, {hmem, index} for CB_DONE. */
typedef struct {
    uint32_t word[2];
} CbaRequest;

typedef void (*CbNfyFct)(void *pv_cb_info, uint32_t nfy_tag);

/* One item of the driver's block: exactly 2048 bytes. nfy_fct is a
 * function address of this process (a 32-bit word on the board, where
 * cb_info starts at offset 24 and holds 2024 bytes). */
#define CBA_INFO_SIZE (CBA_ITEM_SIZE - sizeof(uintptr_t) - 5 * sizeof(uint32_t))
typedef struct {
    uintptr_t nfy_fct;
    uint32_t nfy_tag;
    uint32_t cb_info_sz;
    uint32_t caller;
    uint32_t pid;
    uint32_t drv_type;
    uint8_t cb_info[CBA_INFO_SIZE];
} CbItem;

typedef struct {
    uint8_t running;
    int32_t fd;
    uint8_t mapped;
    uint32_t hmem;
    CbItem *items;
    int32_t cur_index;
    int32_t thread_num;
    int32_t done_index;
    int32_t pid;
    pthread_mutex_t lock;
    pthread_cond_t cond;
} CbAgentUser;

typedef struct {
    char name[20];
    pthread_t tid;
    pthread_mutex_t lock;
    pthread_cond_t cond;
    uint8_t alive;
    uint8_t busy;
    int32_t mem_index;
    int32_t event;
    uint8_t reserved;
    uint8_t signalled;
} WorkThread;

/* Process-global state. */
extern uint8_t _fgCbAgentUserInit;
extern int32_t CBA_debug_level;
extern CbAgentUser _arCbAgentUser;
extern WorkThread _arWork_Thread[CBA_WORK_THREADS];

/* Public operations. */
void vCBAgent_User_Init(void);
void vCBAgent_User_Uninit(void);

/* Operations the agent calls itself. */
int32_t _i4CBAgent_Create_EX(int32_t i4_pid);
void _vCBAgent_Finish_EX(void);
int32_t _vCBAgent_Cli_Init(void);
int32_t _vCBAgent_Cli_Uninit(void);
void *_vCBAgent_User_Thread_Main_fct(void *pv_pid);
int32_t _i4Create_Cb_Work_Thread_Pool(int32_t i4_num);
int32_t _i4Create_A_Cb_Work_Thread(int32_t i4_pool);
int32_t _iGet_a_free_index(void);
int32_t _i4Get_A_Work_Thread_EX(void);
int32_t _iWait_A_Work_Thread_Done(void);
int32_t _i4Run_A_Work_Thread(int32_t i4_slot, int32_t i4_index);
void *_vCBAgent_Work_Main(void *pv_arg);
void _vCBAgent_Callback_Proc(int32_t i4_slot);
int32_t _vCAgent_Callback_Done(int32_t i4_slot);
void _vcleanup(void *pv_slot);

#ifdef __cplusplus
}
#endif

#endif
