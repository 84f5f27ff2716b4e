// No exception may leave an exported function or a thread of a library:
// a failed allocation or thread start becomes an error result.
#ifndef COMMON_CONTAIN_H
#define COMMON_CONTAIN_H

template <typename R, typename F> R contain(R on_failure, F &&body) noexcept
{
    try {
        return body();
    } catch (...) {
        return on_failure;
    }
}

#endif
