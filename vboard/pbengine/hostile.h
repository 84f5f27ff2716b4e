// The hostile engine: once on, every answer lies about sizes, counts,
// handles and ids, some answers stall, and call-backs of every kind come
// from threads of their own at any moment, also while a playback closes.
#ifndef PBENGINE_HOSTILE_H
#define PBENGINE_HOSTILE_H

#include "rpcipc.h"

#include <cstdint>
#include <sstream>
#include <string>

namespace pbsim {

// "hostile SEED [CASE...]" (CASE: a lie kept apart, see hostile.cpp),
// "hostile off", "hostile stat" -> "ok ANSWERS LIES CALLBACKS REFUSED STALLED".
std::string hostile_command(std::istringstream &in);

// Notes the functions, tags and handles operation op hands over and, when
// on, turns its answer (already made) into a hostile one.
void hostile_answer(int32_t conn, const std::string &op, uint32_t argc, RPC_ARG_T *args, RPC_ARG_T *result);

// Off, with every call-back thread ended.
void hostile_reset();

} // namespace pbsim

#endif
