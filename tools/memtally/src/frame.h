// One screen of memtally: cursor home, header, 20 rows and the footer.
#ifndef TOOLS_MEMTALLY_FRAME_H
#define TOOLS_MEMTALLY_FRAME_H

#include <string>

#include "labels.h"

namespace memtally {

std::string render_frame(const Window &w, int thread_mode, long total_pages);

// What the keys T and F print before the next frame, and what comes
// before the first frame.
std::string clear_screen_text();
std::string first_screen_text();

} // namespace memtally

#endif
