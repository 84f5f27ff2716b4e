// The refresh of the owner table and its two uses: the full-screen display
// steered by keys, and the dump.
#ifndef TOOLS_MEMTALLY_MONITOR_H
#define TOOLS_MEMTALLY_MONITOR_H

#include <string>

#include "labels.h"
#include "settings.h"

namespace memtally {

struct Monitor {
    Sources src;
    Settings settings;
    long total_pages = 0;
    OwnerTable table;
    RowText rows[kWindowRows];
    int offset = 0; // first row of the window
};

// Scan, thread and file merges, sort.
void collect(Monitor *m);
// Symbols, names, files and devices of the window; returns the frame.
std::string label_and_render(Monitor *m);

// Both end with status 0.
int run_dump(Monitor *m);
int run_display(Monitor *m);

} // namespace memtally

#endif
