// What a row of playback_members.def or ext_members.def becomes: an id, a
// Member record, and for a plain member its exported function. That
// function's parameters are the ones its public header declares, so a row
// cannot drift from the prototype applications compile against.
//
// A row is MEMBER(id, exported name, remote name, (argument codes),
// (registrations)[, trace[, own entry line]]); an OWN_MEMBER row has the
// same shape, and its exported function has steps of its own elsewhere.
#ifndef PBCTRL_MEMBER_ROWS_H
#define PBCTRL_MEMBER_ROWS_H

#include "playback_call.h"

#include <cstddef>
#include <tuple>
#include <type_traits>

namespace pbctrl {

template <typename... C> constexpr uint32_t count_codes(C...) { return sizeof...(C); }

// The engine reads these codes' values as addresses; every other code
// carries a number.
constexpr bool is_pointer_code(uint32_t code)
{
    switch (code) {
    case ARG_TYPE_TAG:
    case ARG_TYPE_REF_UINT32_IN:
    case ARG_TYPE_REF_UINT8_IN:
    case ARG_TYPE_TEXT:
    case ARG_TYPE_FUNC:
    case ARG_TYPE_DESC_IN:
    case ARG_TYPE_REF_UINT8_OUT:
    case ARG_TYPE_REF_UINT16_OUT:
    case ARG_TYPE_REF_UINT32_OUT:
    case ARG_TYPE_REF_UINT64_OUT:
    case ARG_TYPE_REF_BYTE_OUT:
    case ARG_TYPE_DESC_OUT:
        return true;
    default:
        return false;
    }
}

template <typename F> struct Signature;
template <typename... A> struct Signature<int32_t(A...)> {
    using Params = std::tuple<A...>;
    // One code per parameter, an address code for each pointer.
    template <typename... C> static constexpr bool fits(C... codes)
    {
        if constexpr (sizeof...(C) != sizeof...(A))
            return false;
        else
            return ((std::is_pointer_v<A> == is_pointer_code(codes)) && ...);
    }
};

template <typename F, size_t I> using Param = std::tuple_element_t<I, typename Signature<F>::Params>;

} // namespace pbctrl

#define PBCTRL_UNPAREN(...) __VA_ARGS__
#define PBCTRL_CAT(a, b) PBCTRL_CAT_(a, b)
#define PBCTRL_CAT_(a, b) a##b
#define PBCTRL_COUNT(...) PBCTRL_COUNT_(__VA_ARGS__, 5, 4, 3, 2, 1, 0)
#define PBCTRL_COUNT_(a1, a2, a3, a4, a5, n, ...) n

#define PBCTRL_PARAMS_1(f) pbctrl::Param<decltype(f), 0> a0
#define PBCTRL_PARAMS_2(f) PBCTRL_PARAMS_1(f), pbctrl::Param<decltype(f), 1> a1
#define PBCTRL_PARAMS_3(f) PBCTRL_PARAMS_2(f), pbctrl::Param<decltype(f), 2> a2
#define PBCTRL_PARAMS_4(f) PBCTRL_PARAMS_3(f), pbctrl::Param<decltype(f), 3> a3
#define PBCTRL_PARAMS_5(f) PBCTRL_PARAMS_4(f), pbctrl::Param<decltype(f), 4> a4
#define PBCTRL_ARGS_1 a0
#define PBCTRL_ARGS_2 PBCTRL_ARGS_1, a1
#define PBCTRL_ARGS_3 PBCTRL_ARGS_2, a2
#define PBCTRL_ARGS_4 PBCTRL_ARGS_3, a3
#define PBCTRL_ARGS_5 PBCTRL_ARGS_4, a4

// What each row becomes, for the includer to define MEMBER and OWN_MEMBER
// as: the enumerator of the member's id, its Member record, and its
// exported function (PBCTRL_ROW_FUNCTION needs PBCTRL_LOOKUP(id) defined).
#define PBCTRL_ROW_ID(id, ...) id,
#define PBCTRL_ROW_RECORD(id, name, remote, codes, refs, ...)                                                          \
    {#name,                                                                                                            \
     #remote,                                                                                                          \
     __LINE__,                                                                                                         \
     pbctrl::count_codes(PBCTRL_UNPAREN codes),                                                                        \
     {PBCTRL_UNPAREN codes},                                                                                           \
     {PBCTRL_UNPAREN refs},                                                                                            \
     __VA_ARGS__},

// A plain row's arguments go to the carrier as they are, so each code must
// suit its parameter.
#define PBCTRL_ROW_FUNCTION(id, name, remote, codes, ...)                                                              \
    static_assert(pbctrl::Signature<decltype(name)>::fits(PBCTRL_UNPAREN codes),                                       \
                  "the codes of " #name " do not fit its prototype");                                                  \
    int32_t name(PBCTRL_CAT(PBCTRL_PARAMS_, PBCTRL_COUNT codes)(name))                                                 \
    {                                                                                                                  \
        return pbctrl::call_member(PBCTRL_LOOKUP(id), PBCTRL_CAT(PBCTRL_ARGS_, PBCTRL_COUNT codes));                   \
    }

// An own row names a function the public header declares.
#define PBCTRL_ROW_DECLARED(id, name, ...)                                                                             \
    static_assert(std::is_function_v<decltype(name)>, #name " is declared by the public header");

#endif
