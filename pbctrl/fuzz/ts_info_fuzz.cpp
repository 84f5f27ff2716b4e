// Feeds arbitrary buffers to IQivPb_Ctrl_GetTSInfo. Any read outside the
// buffer is a finding, and so is a result the record cannot hold.
#include "qivpbctrl_ts.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact-size copy, so that the sanitizer sees any read past the end.
    std::vector<uint8_t> buf(data, data + size);
    IQIV_PB_TS_INFO_T info;
    const int32_t rc = IQivPb_Ctrl_GetTSInfo(buf.empty() ? nullptr : buf.data(), static_cast<uint32_t>(size), &info);
    if (rc != 0 && rc != -1 && rc != -3)
        __builtin_trap();
    if (rc != 0)
        return 0;
    if ((info.ui2_pkt_size != 188 && info.ui2_pkt_size != 192) || info.ui1_prog_num > IQIV_PB_TS_MAX_PROGRAMS)
        __builtin_trap();
    for (int k = 0; k < info.ui1_prog_num; ++k)
        if (info.at_program[k].ui1_stream_num > IQIV_PB_TS_MAX_STREAMS)
            __builtin_trap();
    return 0;
}
