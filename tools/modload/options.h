// The option text that modload hands to the kernel with the module.
#ifndef TOOLS_MODLOAD_OPTIONS_H
#define TOOLS_MODLOAD_OPTIONS_H

#include <cstddef>

namespace modload {

constexpr size_t kOptionArea = 1024; // the text is at most 1023 characters

// Joins the options with single spaces into area, cut so that the text
// never passes the area's 1023rd character.
void build_options(int count, char *const options[], char area[kOptionArea]);

} // namespace modload

#endif
