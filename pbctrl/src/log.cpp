// Client_printf and the log-level functions the engine's command line calls.
#include "client_info.h"
#include "log_control.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>

namespace {

constexpr int32_t kAllClasses = -1;
constexpr int32_t kAllClassesRequest = 10;
constexpr useconds_t kWaitLogUs = 10000;

} // namespace

extern "C" int Client_printf(const char *ps_format, ...)
{
    uint8_t free_flag = 1;
    while (!pbctrl::b_log_free.compare_exchange_strong(free_flag, 0)) {
        free_flag = 1;
        usleep(kWaitLogUs);
        printf("<Client> wait log printf @Line: %d!\n", __LINE__);
        if (!pbctrl::b_client_opened.load())
            return 0;
    }
    va_list ap;
    va_start(ap, ps_format);
    const int n = vprintf(ps_format, ap);
    va_end(ap);
    pbctrl::b_log_free.store(1);
    return n;
}

namespace pbctrl {

int32_t x_QivPb_Ctrl_ClientSetDbgLevel(int32_t i4_level)
{
    const int32_t level = i4_level == kAllClassesRequest ? kAllClasses : i4_level;
    i4_log_level.store(level);
    printf("<Client> %s ------> is Called, set LOG level: %d  @Line: %d\n", __func__, level, __LINE__);
    return 0;
}

int32_t x_QivPb_Ctrl_ClientPrintDbgLevel(int32_t)
{
    printf("<Client> log level is %d now, Line %d\n\r", i4_log_level.load(), __LINE__);
    return 0;
}

int32_t x_QivPb_Ctrl_ClientForceOpenLog(int32_t)
{
    b_log_free.store(1);
    i4_log_level.store(kAllClasses);
    printf("<Client> Force open log level: %d now, Line %d\n\r", kAllClasses, __LINE__);
    return 0;
}

} // namespace pbctrl
