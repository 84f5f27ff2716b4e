#include "monitor.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>

#include "frame.h"

namespace memtally {

namespace {

constexpr int kKeyWaitMs = 1000;
constexpr tcflag_t kRawLocalModes = ISIG | ICANON | ECHO | ECHONL;
static_assert(kRawLocalModes == 0x4B, "local-mode mask");

void put(const std::string &text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

uint32_t group_from_proc(uint32_t tid, const void *context)
{
    return thread_group(*static_cast<const Sources *>(context), tid);
}

void refresh(Monitor *m)
{
    collect(m);
    put(label_and_render(m));
}

constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT};

// The terminal of standard input, switched to single keys without echo
// and signals for the display's lifetime.
struct Terminal {
    termios saved{};
    bool is_terminal = false;

    void enter();
    void leave() const
    {
        if (is_terminal) {
            ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        }
    }
    bool is_interrupt(unsigned char c) const
    {
        return is_terminal && saved.c_cc[VINTR] != _POSIX_VDISABLE && c == saved.c_cc[VINTR];
    }
};

// The terminal to put back when a signal ends the display.
const Terminal *shown_terminal = nullptr;

// Puts the console back, then lets the signal end the process as it would
// have: the handler was reset to the default on entry.
void leave_and_end(int sig)
{
    shown_terminal->leave();
    ::raise(sig);
}

void Terminal::enter()
{
    is_terminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (!is_terminal) {
        return;
    }
    shown_terminal = this;
    struct sigaction action {};
    action.sa_handler = leave_and_end;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int sig : kEndingSignals) {
        sigaddset(&action.sa_mask, sig);
    }
    for (int sig : kEndingSignals) {
        struct sigaction before {};
        // A signal ignored by whoever started the tool stays ignored.
        if (::sigaction(sig, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            ::sigaction(sig, &action, nullptr);
        }
    }
    termios keys = saved;
    keys.c_lflag &= ~kRawLocalModes;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &keys);
}

enum class Wait { kKey, kTimeout, kBroken };

// Waits for standard input to become readable; poll failing for want of
// time or memory is tried again with a little less time.
Wait wait_for_key()
{
    pollfd in{STDIN_FILENO, POLLIN, 0};
    int timeout = kKeyWaitMs;
    for (;;) {
        int rc = ::poll(&in, 1, timeout);
        if (rc > 0) {
            return Wait::kKey;
        }
        if (rc == 0) {
            return Wait::kTimeout;
        }
        if (errno != EINTR && errno != ENOMEM) {
            return Wait::kBroken;
        }
        if (timeout > 0) {
            --timeout;
        }
    }
}

// Acts on one key; false when it quits.
bool act_on_key(Monitor *m, const Terminal &terminal, unsigned char c)
{
    Settings &s = m->settings;
    if (terminal.is_interrupt(c)) {
        return false;
    }
    switch (std::toupper(c)) {
    case 'Q':
        return false;
    case 'P':
        if (m->offset > 0) {
            m->offset -= kWindowRows;
        }
        break;
    case 'N':
        if (m->offset + kWindowRows < m->table.count) {
            m->offset += kWindowRows;
        }
        break;
    case 'T':
        put(clear_screen_text());
        s.thread_mode = s.thread_mode == 0 ? 1 : 0;
        break;
    case 'F':
        put(clear_screen_text());
        s.file_mode = s.file_mode == 0 ? 1 : s.file_mode == 1 ? 2 : 0;
        break;
    default:
        break;
    }
    return true;
}

} // namespace

void collect(Monitor *m)
{
    const Settings &s = m->settings;
    // Without the page file the previous table stays.
    scan_owners(m->src.mem_tally, s.range_start, s.range_end, &m->table);
    if (s.thread_mode == 0) {
        merge_threads(&m->table, group_from_proc, &m->src);
    }
    if (s.file_mode != 1 && s.file_mode != 2) {
        merge_file_classes(&m->table);
    }
    sort_owners(&m->table);
}

std::string label_and_render(Monitor *m)
{
    Window w{&m->table, m->offset, m->rows};
    find_symbols(m->src, w);
    find_names(m->src, w, m->settings.thread_mode);
    find_files(m->src, w, m->settings.file_mode);
    return render_frame(w, m->settings.thread_mode, m->total_pages);
}

int run_dump(Monitor *m)
{
    const Settings &s = m->settings;
    for (int n = 0; n < s.dump_count; ++n) {
        collect(m);
        // A start index below the first row would show entries before the table.
        for (m->offset = s.dump_start < 0 ? 0 : s.dump_start; m->offset < m->table.count && m->offset <= s.dump_end;
             m->offset += kWindowRows) {
            put(label_and_render(m) + "\n");
        }
        ::sleep(1);
    }
    return 0;
}

int run_display(Monitor *m)
{
    Terminal terminal;
    terminal.enter();
    put(first_screen_text());
    refresh(m);
    bool reading_keys = true;
    for (;;) {
        Wait wait = reading_keys ? wait_for_key() : Wait::kBroken;
        unsigned char c = 0;
        if (wait == Wait::kKey && ::read(STDIN_FILENO, &c, 1) != 1) {
            wait = Wait::kBroken;
        }
        if (wait == Wait::kBroken) {
            // Standard input is gone: no more keys, a frame every second.
            if (!reading_keys) {
                ::sleep(1);
            }
            reading_keys = false;
        } else if (wait == Wait::kKey && !act_on_key(m, terminal, c)) {
            break;
        }
        refresh(m);
    }
    terminal.leave();
    return 0;
}

} // namespace memtally
