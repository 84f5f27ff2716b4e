// tulkactl: command-line client of tulkad's socket, for people and scripts.
#include "common/help_option.h"
#include "tulka/key_table.h"
#include "tulka/protocol.h"
#include "tulka/socket_io.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace tulka;

enum exit_status {
    EXIT_OK = 0,
    EXIT_NOT_LEARNED = 1,
    EXIT_USAGE = 2,
    EXIT_NO_DAEMON = 3,
};

constexpr int default_timeout_s = 60;
// After a timed-out learn, how long to wait for the answer to our cancel.
constexpr int cancel_answer_ms = 2000;

const char usage[] =
    "usage: tulkactl [-S PATH] [-t SECONDS] COMMAND\n"
    "commands:\n"
    "  learn KEY_NAME|CODE  learn the button for a key (KEY_POWER or 116); prints the\n"
    "                       learn activity; exit status 0 when learned, 1 when not\n"
    "  cancel               cancel a learn and wait for tulkad's answer\n"
    "  clear                delete every learned button; waits until tulkad took\n"
    "                       the request\n"
    "  watch                print every key event, learn activity and learn result,\n"
    "                       one line each, until interrupted\n"
    "options:\n"
    "  -S PATH              tulkad's socket (default /tmp/tulka_socket)\n"
    "  -t SECONDS           how long learn, cancel and clear wait (default 60)\n"
    "  -h                   show this message\n"
    "Lines: 'key CODE NAME press|repeat|release REMOTE', 'learn activity',\n"
    "'learn complete 0|1'. Exit status 3 when tulkad cannot be reached.\n";

struct command_line {
    std::string socket_path = default_socket_path;
    int timeout_ms = default_timeout_s * 1000;
    std::string command;
    std::string key;
    int32_t code = 0;
};

int fail(int status, const std::string &text)
{
    std::fprintf(stderr, "tulkactl: %s\n", text.c_str());
    return status;
}

int parse_seconds(const char *text, int &ms)
{
    char *end = nullptr;
    errno = 0;
    const long seconds = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || seconds <= 0 || seconds > 86400)
        return -1;
    ms = static_cast<int>(seconds * 1000);
    return 0;
}

// 0 on success, EXIT_USAGE (after a message) otherwise, -1 for -h.
int parse_command_line(int argc, char *argv[], command_line &cl)
{
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string option = argv[i];
        if (option == "-h" || option == "--help")
            return -1;
        if ((option != "-S" && option != "-t") || i + 1 == argc)
            return fail(EXIT_USAGE, "bad option " + option + " (tulkactl -h for help)");
        const char *value = argv[++i];
        if (option == "-S")
            cl.socket_path = value;
        else if (parse_seconds(value, cl.timeout_ms) != 0)
            return fail(EXIT_USAGE, std::string("bad timeout ") + value);
    }
    if (i == argc)
        return fail(EXIT_USAGE, "no command given (tulkactl -h for help)");
    cl.command = argv[i++];
    const int operands = cl.command == "learn" ? 1 : 0;
    if (cl.command != "learn" && cl.command != "cancel" && cl.command != "clear" && cl.command != "watch")
        return fail(EXIT_USAGE, "unknown command " + cl.command + " (tulkactl -h for help)");
    if (argc - i != operands)
        return fail(EXIT_USAGE, "wrong number of arguments for " + cl.command);
    if (operands)
        cl.key = argv[i];
    return 0;
}

// The code for a key name or a decimal code of the table; -1 when unknown.
int32_t key_code_of(const std::string &key)
{
    const auto by_name = key_codes.find(key);
    if (by_name != key_codes.end())
        return by_name->second;
    char *end = nullptr;
    errno = 0;
    const long long code = std::strtoll(key.c_str(), &end, 10);
    // Checked before narrowing, so that 4294967412 is not taken for 116.
    if (key.empty() || *end != '\0' || errno != 0 || code < INT32_MIN || code > INT32_MAX ||
        key_names.count(static_cast<int32_t>(code)) == 0)
        return -1;
    return static_cast<int32_t>(code);
}

// One message from tulkad. 0 on success, -1 on a lost or broken
// connection, -2 on timeout.
int read_message(int fd, message &payload, int timeout_ms)
{
    switch (recv_message(fd, payload, timeout_ms)) {
    case read_status::ok:
        return 0;
    case read_status::timed_out:
        return -2;
    default:
        return -1;
    }
}

int send_message(int fd, const message &payload) { return send_all(fd, frame(payload)); }

void print_event(const message &payload, const server_event &event)
{
    switch (event.type) {
    case TULKA_MSG_KEY_EVENT: {
        const auto name = key_names.find(event.code);
        const std::string word = key_value_word(event.value);
        std::printf("key %d %s %s %s\n", event.code, name == key_names.end() ? "?" : name->second.c_str(),
                    word.empty() ? std::to_string(event.value).c_str() : word.c_str(), event.remote.c_str());
        break;
    }
    case TULKA_MSG_LEARN_ACTIVITY:
        std::printf("learn activity\n");
        break;
    case TULKA_MSG_LEARN_COMPLETE:
        std::printf("learn complete %d\n", event.result);
        break;
    default:
        std::printf("message type %d, %zu bytes\n", event.type, payload.size());
        break;
    }
    std::fflush(stdout);
}

// Prints every message until a learn result arrives; returns it (0 or 1),
// or -1 for a lost connection, -2 for a timeout.
int await_learn_result(int fd, int timeout_ms)
{
    for (;;) {
        message payload;
        const int rc = read_message(fd, payload, timeout_ms);
        if (rc != 0)
            return rc;
        server_event event;
        if (unpack_server_event(payload, event) != 0) {
            std::printf("malformed message of %zu bytes\n", payload.size());
            continue;
        }
        print_event(payload, event);
        if (event.type == TULKA_MSG_LEARN_COMPLETE)
            return event.result == 1 ? 1 : 0;
    }
}

int no_answer(const command_line &cl, int rc)
{
    if (rc == -2)
        return fail(EXIT_NO_DAEMON, "no answer from tulkad on " + cl.socket_path + " (is another client connected?)");
    return fail(EXIT_NO_DAEMON, "connection to tulkad lost");
}

int run_learn(int fd, const command_line &cl)
{
    if (send_message(fd, pack_learn_start(cl.code)) != 0)
        return no_answer(cl, -1);
    const int result = await_learn_result(fd, cl.timeout_ms);
    if (result == -2) {
        // Do not leave lircd stopped for a learn nobody waits for.
        if (send_message(fd, pack_learn_cancel()) == 0)
            await_learn_result(fd, cancel_answer_ms);
        return fail(EXIT_NO_DAEMON, "learn timed out, cancelled");
    }
    if (result < 0)
        return no_answer(cl, result);
    return result == 1 ? EXIT_OK : EXIT_NOT_LEARNED;
}

int run_cancel(int fd, const command_line &cl)
{
    if (send_message(fd, pack_learn_cancel()) != 0)
        return no_answer(cl, -1);
    const int result = await_learn_result(fd, cl.timeout_ms);
    return result < 0 ? no_answer(cl, result) : EXIT_OK;
}

// tulkad does not answer a clear. It serves one client at a time and ends a
// connection when it reads its end, after handling what came before: so
// once our end is sent, tulkad closing the connection means the request
// was taken.
int run_clear(int fd, const command_line &cl)
{
    if (send_message(fd, pack_clear_learned()) != 0 || ::shutdown(fd, SHUT_WR) != 0)
        return no_answer(cl, -1);
    for (;;) {
        message ignored;
        switch (recv_message(fd, ignored, cl.timeout_ms)) {
        case read_status::ok:
            continue; // events meant for the client before us
        case read_status::closed:
            return EXIT_OK;
        case read_status::timed_out:
            return no_answer(cl, -2);
        }
    }
}

int run_watch(int fd, const command_line &cl)
{
    for (;;) {
        const int rc = await_learn_result(fd, wait_forever);
        if (rc < 0)
            return no_answer(cl, rc);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (answered_help_or_version(argc, argv, "tulkactl", usage))
        return EXIT_OK;
    command_line cl;
    const int parsed = parse_command_line(argc, argv, cl);
    if (parsed != 0) {
        if (parsed < 0)
            std::fputs(usage, stdout);
        return parsed < 0 ? EXIT_OK : parsed;
    }
    if (cl.command == "learn" && (cl.code = key_code_of(cl.key)) < 0)
        return fail(EXIT_USAGE, "unknown key " + cl.key + " (a KEY_ name or code of the key table)");
    const int fd = connect_local(cl.socket_path);
    if (fd < 0)
        return fail(EXIT_NO_DAEMON,
                    "cannot connect to " + cl.socket_path + ": " + std::strerror(errno) + " (is tulkad running?)");
    int status = EXIT_OK;
    if (cl.command == "learn")
        status = run_learn(fd, cl);
    else if (cl.command == "cancel")
        status = run_cancel(fd, cl);
    else if (cl.command == "clear")
        status = run_clear(fd, cl);
    else
        status = run_watch(fd, cl);
    close(fd);
    return status;
}
