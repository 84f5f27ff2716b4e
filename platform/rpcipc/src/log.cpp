// Transport trace log: gated by the level mask given at connection open and
// written only while a trace-log session is open.
#include "rpcipc.h"

#include <atomic>
#include <cerrno>
#include <cstdio>

const char *g_ps_exe_name = program_invocation_short_name;

namespace {

constexpr uint32_t kDefaultLevel = 15;
constexpr size_t kMaxLine = 1024;

std::atomic<rpc_log_fct> g_log_fct{rpcu_default_output_log};
std::atomic<uint32_t> g_level{kDefaultLevel};
std::atomic<int32_t> g_sessions{0};

} // namespace

extern "C" {

void rpcu_set_log(rpc_log_fct pf_log, uint32_t ui4_level)
{
    g_log_fct.store(pf_log ? pf_log : rpcu_default_output_log);
    g_level.store(ui4_level);
}

void rpcu_default_output_log(int32_t, const char *ps_line) { std::fputs(ps_line, stdout); }

void rpcu_log(int32_t i4_level, const char *ps_format, ...)
{
    if (g_sessions.load() <= 0 || !(static_cast<uint32_t>(i4_level) & g_level.load()))
        return;
    char line[kMaxLine];
    va_list ap;
    va_start(ap, ps_format);
    std::vsnprintf(line, sizeof line, ps_format, ap);
    va_end(ap);
    g_log_fct.load()(i4_level, line);
}

int32_t rpcu_tl_log_start(uint32_t)
{
    g_sessions.fetch_add(1);
    return RPCR_OK;
}

int32_t rpcu_tl_log_end(void)
{
    int32_t n = g_sessions.load();
    while (n > 0 && !g_sessions.compare_exchange_weak(n, n - 1)) {
    }
    return RPCR_OK;
}

} // extern "C"
