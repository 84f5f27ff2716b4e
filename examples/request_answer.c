/*
 * request_answer: a request and its answer between an application and the
 * main player program over channel 0 of the app queues. One program plays
 * either end, so both sides can be read together:
 *   request_answer player     waits for one request and answers it
 *   request_answer app TEXT   sends TEXT, waits for the answer, prints it
 * The player answers with the text in capitals. Either may start first:
 * init creates the queues if they do not exist yet, and a message waits in
 * its queue until the peer reads it. The application removes the queues at
 * the end, for both ends.
 *
 * Build:
 *   cc request_answer.c $(pkg-config --cflags --libs appipc) -o request_answer
 * Both ends derive the queue keys from "/usr/local/bin/plrmain", which must
 * exist. Exit status: 0, or 1 when a queue operation failed.
 */
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "appipc.h"

#define CHANNEL 0
/* The two ends agree on the meaning of the type word. */
#define MSG_TO_CAPITALS 1
#define MSG_IN_CAPITALS 2

static int player(void)
{
    AppIpcMsg request, answer;
    memset(&answer, 0, sizeof answer);
    if (init_ipc_message_queue(CHANNEL) != 0 || bdp_recv_ipc_msg(&request, CHANNEL) != 0)
        return 1;
    if (request.type != MSG_TO_CAPITALS)
        return 1;
    answer.type = MSG_IN_CAPITALS;
    /* data always travels whole (512 bytes); the text in it ends with a 0. */
    for (size_t i = 0; i < APP_IPC_DATA_SIZE && request.data[i]; i++)
        answer.data[i] = (uint8_t)toupper(request.data[i]);
    return bdp_send_ipc_msg(&answer, CHANNEL) == 0 ? 0 : 1;
}

static int app(const char *text)
{
    AppIpcMsg request, answer;
    memset(&request, 0, sizeof request);
    request.type = MSG_TO_CAPITALS;
    strncpy((char *)request.data, text, APP_IPC_DATA_SIZE - 1);
    int ok = init_ipc_message_queue(CHANNEL) == 0 && app_send_ipc_msg(&request, CHANNEL) == 0 &&
             app_recv_ipc_msg(&answer, CHANNEL) == 0 && answer.type == MSG_IN_CAPITALS;
    if (ok)
        printf("request_answer: the player answered \"%.*s\"\n", APP_IPC_DATA_SIZE, (const char *)answer.data);
    uninit_ipc_message_queue(CHANNEL);
    return ok ? 0 : 1;
}

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "player") == 0)
        return player();
    if (argc == 3 && strcmp(argv[1], "app") == 0)
        return app(argv[2]);
    fprintf(stderr, "usage: request_answer player | request_answer app TEXT\n");
    return 1;
}
