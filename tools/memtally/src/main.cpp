// memtally: who holds the board's memory, page by page.
#include <cstdio>

#include "common/help_option.h"
#include "monitor.h"

int main(int argc, char **argv)
{
    // --help stays with the other arguments: it is read after all of them.
    if (asks_version(argc, argv)) {
        return print_version("memtally");
    }
    static memtally::Monitor monitor;
    monitor.settings = memtally::parse_arguments(argc, argv);
    if (monitor.settings.help) {
        std::puts(memtally::kUsageText);
        return 0;
    }
    monitor.total_pages = memtally::count_pages(monitor.src.mem_tally);
    return monitor.settings.dump ? memtally::run_dump(&monitor) : memtally::run_display(&monitor);
}
