/*
 * push_file: plays a file in push mode. The application asks the engine for
 * a buffer, reads the file straight into it and sends it; the engine frees
 * each buffer once it has consumed it. At the end of the file the program
 * waits until the engine has consumed everything, then stops and closes.
 *
 * Build:
 *   cc push_file.c $(pkg-config --cflags --libs qivpbctrl) -pthread -o push_file
 * Run, with the engine up:
 *   push_file FILE
 * Exit status: 0 when the engine consumed the whole file, 1 otherwise.
 */
#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <time.h>

#include "qivpbctrl.h"

#define CHUNK_BYTES 4096
#define WAIT_SECONDS 10

/* Event 12 arrives on one of the library's threads; the pushing thread
 * waits for it here when every buffer is taken. */
struct free_space {
    pthread_mutex_t lock;
    pthread_cond_t changed;
    unsigned events;
};

static int32_t on_event(uint32_t event, void *tag, void *data)
{
    struct free_space *space = tag;
    (void)data;
    if (event == IQIV_PB_CTRL_EVENT_BUFFER_FREE) {
        pthread_mutex_lock(&space->lock);
        space->events++;
        pthread_cond_broadcast(&space->changed);
        pthread_mutex_unlock(&space->lock);
    }
    return 0;
}

static unsigned events_seen(struct free_space *space)
{
    pthread_mutex_lock(&space->lock);
    unsigned n = space->events;
    pthread_mutex_unlock(&space->lock);
    return n;
}

/* 0 once an event came after `since`, -1 when none came in time. */
static int wait_for_space(struct free_space *space, unsigned since)
{
    struct timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += WAIT_SECONDS;
    int rc = 0;
    pthread_mutex_lock(&space->lock);
    while (space->events == since && rc != ETIMEDOUT)
        rc = pthread_cond_timedwait(&space->changed, &space->lock, &until);
    int came = space->events != since;
    pthread_mutex_unlock(&space->lock);
    return came ? 0 : -1;
}

/* A buffer of the engine's for the next chunk; waits while all are taken.
 * The count is read before asking, so an event that comes in between is
 * not missed. */
static int32_t next_buffer(IQIV_PB_HANDLE_T h, struct free_space *space, void **buf)
{
    for (;;) {
        unsigned since = events_seen(space);
        int32_t rc = IQivPb_Ctrl_GetBuffer(h, CHUNK_BYTES, buf);
        if (rc != IQIVPB_PENDING)
            return rc;
        if (wait_for_space(space, since) != 0)
            return IQIVPB_FAIL;
    }
}

/* Pushes the whole file; the byte count, or -1. */
static long push(IQIV_PB_HANDLE_T h, struct free_space *space, FILE *in)
{
    long total = 0;
    for (;;) {
        void *buf;
        if (next_buffer(h, space, &buf) != IQIVPB_OK)
            return -1;
        size_t n = fread(buf, 1, CHUNK_BYTES, in);
        if (n == 0) {
            /* End of the file: this buffer is not needed. */
            IQivPb_Ctrl_ReleaseBuffer(h, buf);
            return ferror(in) ? -1 : total;
        }
        if (IQivPb_Ctrl_SendData(h, (uint32_t)n, buf) != IQIVPB_OK)
            return -1;
        total += (long)n;
    }
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: push_file FILE\n");
        return 1;
    }
    FILE *in = fopen(argv[1], "rb");
    if (!in) {
        perror(argv[1]);
        return 1;
    }
    struct free_space space = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, 0};
    IQIV_PB_HANDLE_T h = 0;
    IQIV_PB_CTRL_ENGINE_PARAM_T param = {0};
    long pushed = -1;

    IQivPb_Ctrl_Init();
    /* Buffering model push, open mode 1; the text names the playback in the engine's log. */
    if (IQivPb_Ctrl_Open(&h, IQIV_PB_BUF_MOD_PUSH, 1, "push_file") == IQIVPB_OK) {
        if (IQivPb_Ctrl_SetEngineParam(h, &param) == IQIVPB_OK &&
            IQivPb_Ctrl_RegCallback(h, &space, on_event) == IQIVPB_OK && IQivPb_Ctrl_Play(h, 0) == IQIVPB_OK)
            pushed = push(h, &space, in);
        /* Returns once the engine has consumed all that was sent. */
        if (pushed >= 0 && IQivPb_Ctrl_SetPushModelEOS(h) != IQIVPB_OK)
            pushed = -1;
        IQivPb_Ctrl_Stop(h);
        IQivPb_Ctrl_Close(h);
    }
    IQivPb_Ctrl_Terminate();
    fclose(in);

    if (pushed < 0) {
        fprintf(stderr, "push_file: the engine did not take the whole file\n");
        return 1;
    }
    printf("push_file: %ld bytes consumed by the engine\n", pushed);
    return 0;
}
