#include "mpi_cases.h"

namespace mpi_cases {

namespace {

Number limbs_from_top(std::initializer_list<uint32_t> top, uint32_t rest = 0)
{
    Number n;
    n.fill(rest);
    int i = kLimbs - 1;
    for (uint32_t limb : top)
        n[i--] = limb;
    return n;
}

Number small(std::initializer_list<uint32_t> low)
{
    Number n{};
    int i = 0;
    for (uint32_t limb : low)
        n[i++] = limb;
    return n;
}

const Number kOne = small({1});
const Number kZero{};
const Number kOneLimbShift = small({0, 1}); // b: the product is a shifted one limb up

} // namespace

std::vector<MulCase> hard_cases()
{
    std::mt19937 rng(7);
    Number full = random_number(rng, kLimbs);
    Number full_b = random_number(rng, kLimbs);
    Number below_full = full;
    below_full[0] = 0; // full's low limb is random, so this is below full
    std::vector<MulCase> cases = {
        // Remainder top (0x7FFFFFFF, 0x80000000, 0) over (0x80000000, 0xFFFFFFFF):
        // the estimate 0xFFFFFFFF is corrected twice.
        {"two corrections", limbs_from_top({0x7FFFFFFF, 0x80000000}), kOneLimbShift,
         limbs_from_top({0x80000000}, 0xFFFFFFFF)},
        // The same top over (0x80000000, 0, 1, 0...): the estimate passes the
        // two-limb test but the full product overshoots by one.
        {"add back", limbs_from_top({0x7FFFFFFF, 0x80000000}), kOneLimbShift, limbs_from_top({0x80000000, 0, 1})},
        // The remainder's top limb equals the divisor's.
        {"estimate b - 1", limbs_from_top({0x80000000, 0x12345678}), kOneLimbShift,
         limbs_from_top({0x80000000}, 0xFFFFFFFF)},
        {"one-limb modulus", full, full_b, small({0x9E3779B9})},
        {"one-limb modulus, small", full, full_b, small({3})},
        {"one-limb modulus 1", full, full_b, kOne},
        {"two-limb modulus", full, full_b, small({0xFFFFFFFF, 0x00000001})},
        {"three-limb modulus", full, full_b, small({0x00000001, 0x00000000, 0x80000000})},
        {"product equals modulus", full, kOne, full},
        {"product equals one-limb modulus", small({3}), small({5}), small({15})},
        {"product twice the modulus", full, small({2}), full},
        {"product one below one-limb modulus", small({14}), kOne, small({15})},
        {"product below modulus of its length", below_full, kOne, full},
        {"zero a", kZero, full_b, full},
        {"zero b", full, kZero, full},
        {"all ones", limbs_from_top({}, 0xFFFFFFFF), limbs_from_top({}, 0xFFFFFFFF), limbs_from_top({}, 0xFFFFFFFF)},
        {"modulus 2^2047", full, full_b, limbs_from_top({0x80000000})},
    };
    return cases;
}

Number spiky_number(std::mt19937 &rng, int significant)
{
    static const uint32_t kSpikes[] = {0, 0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFF};
    constexpr unsigned kSpikeCount = sizeof kSpikes / sizeof kSpikes[0];
    Number n{};
    for (int i = 0; i < significant; ++i) {
        unsigned pick = rng() % (kSpikeCount + 2);
        n[i] = pick < kSpikeCount ? kSpikes[pick] : uint32_t(rng());
    }
    return n;
}

Number random_number(std::mt19937 &rng, int significant)
{
    Number n{};
    for (int i = 0; i < significant; ++i)
        n[i] = uint32_t(rng());
    if (significant > 0 && n[significant - 1] == 0)
        n[significant - 1] = 1;
    return n;
}

} // namespace mpi_cases
