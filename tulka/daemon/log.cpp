#include "log.h"

#include <cinttypes>
#include <cstdlib>
#include <ctime>

namespace tulka {

int32_t log_flags = 0;

std::string log_stamp()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const int64_t ms = static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    char text[32];
    std::snprintf(text, sizeof text, "%10" PRId64 " ", ms);
    return text;
}

void write_line(std::FILE *stream, const std::string &text)
{
    std::fputs(text.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

int exec_sync(const std::string &command)
{
    log_info("exec_sync: ", command);
    return std::system(command.c_str());
}

} // namespace tulka
