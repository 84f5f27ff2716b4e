#include "options.h"

#include <cstring>

namespace modload {

void build_options(int count, char *const options[], char area[kOptionArea])
{
    const size_t limit = kOptionArea - 1;
    size_t used = 0;
    for (int i = 0; i < count && used < limit; ++i) {
        size_t n = std::strlen(options[i]);
        n = n < limit - used ? n : limit - used;
        std::memcpy(area + used, options[i], n);
        used += n;
        if (used < limit) {
            area[used++] = ' ';
        }
    }
    // The space after the last option ends the text.
    if (used > 0 && area[used - 1] == ' ') {
        --used;
    }
    area[used] = '\0';
}

} // namespace modload
