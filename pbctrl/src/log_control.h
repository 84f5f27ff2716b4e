// The three functions handed to the engine's command line.
#ifndef PBCTRL_LOG_CONTROL_H
#define PBCTRL_LOG_CONTROL_H

#include <cstdint>

namespace pbctrl {

int32_t x_QivPb_Ctrl_ClientSetDbgLevel(int32_t i4_level);
int32_t x_QivPb_Ctrl_ClientPrintDbgLevel(int32_t i4_unused);
int32_t x_QivPb_Ctrl_ClientForceOpenLog(int32_t i4_unused);

} // namespace pbctrl

#endif
