#include "frame.h"

#include <cstdio>

namespace memtally {

namespace {

constexpr int kScreenLines = 25;
constexpr int kScreenColumns = 79;
constexpr int kBlankRowSpaces = 73;
constexpr const char kHome[] = "\033[0;0H";
constexpr const char kThreadHeader[] = " IDX CALLER/PID     SIZE              SYMBOL        MODULE/THREAD(PROCESS)\n";
constexpr const char kProcessHeader[] = " IDX CALLER/PID     SIZE   FRAG                      SYMBOL  MODULE/PROCESS\n";

void append(std::string *out, const char *text, int n)
{
    if (n > 0) {
        out->append(text, static_cast<size_t>(n));
    }
}

void append_row(std::string *out, const Owner &owner, int number, const RowText &text, int thread_mode)
{
    char caller[16], line[256];
    if (owner.key >= 1 && is_task(owner.key)) {
        std::snprintf(caller, sizeof caller, "  %8ld", static_cast<long>(owner.key));
    } else {
        std::snprintf(caller, sizeof caller, "0x%08lX", static_cast<unsigned long>(owner.key));
    }
    const char *symbol = text.symbol, *module = text.module;
    if (owner.key == kFreePage || owner.key == kNonBuddyPage) {
        symbol = owner.key == kFreePage ? "[FREE PAGES]" : "[NON-BUDDY-SYSTEM PAGES]";
        module = "";
    }
    long size = static_cast<long>(owner.pages) * 4;
    int n = thread_mode != 0 ? std::snprintf(line, sizeof line, "%4d %8s: %6ldK, %17.17s, %29.29s\n", number, caller,
                                             size, symbol, module)
                             : std::snprintf(line, sizeof line, "%4d %8s: %6ldK, %5ld, %26.26s, %14.14s\n", number,
                                             caller, size, static_cast<long>(owner.frag), symbol, module);
    append(out, line, n);
}

} // namespace

std::string render_frame(const Window &w, int thread_mode, long total_pages)
{
    std::string out = kHome;
    out += thread_mode != 0 ? kThreadHeader : kProcessHeader;
    for (int r = 0; r < kWindowRows; ++r) {
        int index = w.offset + r;
        if (index >= w.table->count) {
            char line[96];
            append(&out, line, std::snprintf(line, sizeof line, "%4d%*s\n", index + 1, kBlankRowSpaces, ""));
        } else {
            append_row(&out, w.table->entries[index], index + 1, w.rows[r], thread_mode);
        }
    }
    char footer[96];
    append(&out, footer,
           std::snprintf(footer, sizeof footer, "Use 'memtally --help' to see more help. Total memory: %dK\n",
                         static_cast<int>(total_pages * 4)));
    out += "Use 'memtally -d=1' to print only one time.\n";
    out += "'Q': Quit. 'P': Prev page. 'N': Next page. 'T': Thread. 'F': File";
    return out;
}

std::string clear_screen_text()
{
    std::string out;
    for (int i = 0; i < kScreenLines; ++i) {
        out += std::string(kScreenColumns, ' ') + "\n";
    }
    return out;
}

std::string first_screen_text() { return std::string(kScreenLines, '\n'); }

} // namespace memtally
