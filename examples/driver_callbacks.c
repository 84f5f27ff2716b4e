/*
 * driver_callbacks: runs callbacks that a driver queues for this process.
 * The callback agent waits on "/dev/cbagent" and calls each notify function
 * on one of its real-time threads. A notify function should be short: this
 * one copies the information (it is valid only during the call) and hands
 * it to the main thread, which prints it and, after COUNT callbacks, stops
 * the agent (never from a callback: uninit waits for the agent's threads).
 *
 * Build (the agent finds libkorm's block functions in the process, so
 * libkorm is linked even though no call names it):
 *   cc driver_callbacks.c -pthread $(pkg-config --cflags --libs cbagent) \
 *      -Wl,--no-as-needed $(pkg-config --libs korm) -o driver_callbacks
 * Run as root (SCHED_RR): driver_callbacks [COUNT]. It prints the address
 * of its notify function, which a driver is given to queue callbacks; on
 * the virtual board `vboard cba-raise PID FCT TAG [INFO [COUNT]]` does that.
 * Exit status: 0 after COUNT callbacks (default 3), 1 when they did not
 * come within a minute.
 */
#include <errno.h>
#include <pthread.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "cbagent.h"

#define MAX_CALLBACKS 16
#define TEXT_BYTES 64
#define WAIT_SECONDS 60

struct note {
    uint32_t tag;
    char text[TEXT_BYTES];
};

/* Filled by the agent's threads, emptied by the main thread. */
static struct {
    pthread_mutex_t lock;
    pthread_cond_t added;
    struct note notes[MAX_CALLBACKS];
    int count;
} inbox = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, {{0, ""}}, 0};

static void on_notify(void *pv_cb_info, uint32_t nfy_tag)
{
    /* The item's header, just before the information, says how long it is. */
    const CbItem *item = (const CbItem *)((uint8_t *)pv_cb_info - offsetof(CbItem, cb_info));
    size_t len = item->cb_info_sz < TEXT_BYTES - 1 ? item->cb_info_sz : TEXT_BYTES - 1;

    pthread_mutex_lock(&inbox.lock);
    if (inbox.count < MAX_CALLBACKS) {
        struct note *n = &inbox.notes[inbox.count++];
        n->tag = nfy_tag;
        memcpy(n->text, pv_cb_info, len);
        n->text[len] = '\0';
        pthread_cond_signal(&inbox.added);
    }
    pthread_mutex_unlock(&inbox.lock);
}

/* Prints the notes as they come; 0 once `wanted` came, -1 on time-out. */
static int print_notes(int wanted)
{
    struct timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += WAIT_SECONDS;
    int printed = 0;
    pthread_mutex_lock(&inbox.lock);
    while (printed < wanted) {
        for (; printed < inbox.count && printed < wanted; printed++)
            printf("driver_callbacks: tag %u info \"%s\"\n", inbox.notes[printed].tag, inbox.notes[printed].text);
        if (printed < wanted && pthread_cond_timedwait(&inbox.added, &inbox.lock, &until) == ETIMEDOUT &&
            printed == inbox.count)
            break;
    }
    pthread_mutex_unlock(&inbox.lock);
    return printed == wanted ? 0 : -1;
}

int main(int argc, char **argv)
{
    int wanted = argc > 1 ? atoi(argv[1]) : 3;
    if (argc > 2 || wanted < 1 || wanted > MAX_CALLBACKS) {
        fprintf(stderr, "usage: driver_callbacks [COUNT], COUNT 1 to %d\n", MAX_CALLBACKS);
        return 1;
    }
    setvbuf(stdout, NULL, _IOLBF, 0);

    vCBAgent_User_Init();
    printf("driver_callbacks: pid %d notify 0x%lx\n", (int)getpid(), (unsigned long)(uintptr_t)&on_notify);
    int rc = print_notes(wanted);
    vCBAgent_User_Uninit();

    if (rc != 0) {
        fprintf(stderr, "driver_callbacks: fewer than %d callbacks came\n", wanted);
        return 1;
    }
    return 0;
}
