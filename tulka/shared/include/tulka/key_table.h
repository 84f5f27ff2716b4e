// Key code table: Linux input key codes and their KEY_ names.
#ifndef TULKA_KEY_TABLE_H
#define TULKA_KEY_TABLE_H

#include <cstdint>
#include <map>
#include <string>

namespace tulka {

// Built during static initialisation, before main runs, and never changed.
extern const std::map<int32_t, std::string> key_names;
extern const std::map<std::string, int32_t> key_codes;

} // namespace tulka

#endif
