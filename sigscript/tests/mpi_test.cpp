// The modular multiplication against a bit-by-bit reference (shift in one
// bit of the product, subtract the modulus when it fits), and the division
// step against the compiler's 64-bit division. Both oracles are slow and
// obvious, so they run on every tier, the board's 32-bit code included.
#include "mpi.h"
#include "mpi_cases.h"

#include <gtest/gtest.h>

#include <cstring>

using mpi_cases::Number;

namespace {

using Wide = std::array<uint32_t, kLimbs + 1>;

bool at_least(const Wide &r, const Number &n)
{
    if (r[kLimbs] != 0)
        return true;
    for (int i = kLimbs - 1; i >= 0; --i)
        if (r[i] != n[i])
            return r[i] > n[i];
    return true;
}

Number reference_mod_mult(const Number &a, const Number &b, const Number &n)
{
    uint32_t product[kProductLimbs] = {};
    for (int j = 0; j < kLimbs; ++j)
        for (int i = 0; i < kLimbs; ++i) {
            uint64_t carry = uint64_t(a[i]) * b[j];
            for (int k = i + j; carry != 0; ++k) {
                uint64_t t = uint64_t(product[k]) + uint32_t(carry);
                product[k] = uint32_t(t);
                carry = (carry >> 32) + (t >> 32);
            }
        }
    Wide r{};
    for (int bit = kProductLimbs * 32 - 1; bit >= 0; --bit) {
        for (int i = kLimbs; i > 0; --i)
            r[i] = (r[i] << 1) | (r[i - 1] >> 31);
        r[0] = (r[0] << 1) | ((product[bit / 32] >> (bit % 32)) & 1);
        if (at_least(r, n)) {
            uint64_t borrow = 0;
            for (int i = 0; i <= kLimbs; ++i) {
                uint64_t t = uint64_t(r[i]) - (i < kLimbs ? n[i] : 0) - borrow;
                r[i] = uint32_t(t);
                borrow = t >> 63;
            }
        }
    }
    Number out;
    std::copy(r.begin(), r.begin() + kLimbs, out.begin());
    return out;
}

Number mod_mult(const Number &a, const Number &b, const Number &n)
{
    Number r;
    r.fill(0xA5A5A5A5);
    EXPECT_EQ(modMultTemp(r.data(), a.data(), b.data(), n.data()), 0);
    return r;
}

TEST(ModMult, HardCasesEqualTheReference)
{
    for (const auto &c : mpi_cases::hard_cases())
        EXPECT_EQ(mod_mult(c.a, c.b, c.n), reference_mod_mult(c.a, c.b, c.n)) << c.name;
}

TEST(ModMult, SpikyOperandsOfEveryLengthEqualTheReference)
{
    std::mt19937 rng(2024);
    for (int k = 0; k < 60; ++k) {
        int nlen = 1 + int(rng() % kLimbs);
        Number a = mpi_cases::spiky_number(rng, 1 + int(rng() % kLimbs));
        Number b = mpi_cases::spiky_number(rng, 1 + int(rng() % kLimbs));
        Number n = mpi_cases::spiky_number(rng, nlen);
        if (n[nlen - 1] == 0)
            n[nlen - 1] = 0x80000000;
        ASSERT_EQ(mod_mult(a, b, n), reference_mod_mult(a, b, n))
            << "case " << k << ", modulus of " << nlen << " limbs";
    }
}

TEST(ModMult, ResultMayOverwriteAnOperand)
{
    std::mt19937 rng(5);
    Number a = mpi_cases::random_number(rng, kLimbs), n = mpi_cases::random_number(rng, kLimbs);
    Number expected = reference_mod_mult(a, a, n);
    ASSERT_EQ(modMultTemp(a.data(), a.data(), a.data(), n.data()), 0);
    EXPECT_EQ(a, expected);
}

TEST(ModMult, ZeroModulusIsRefused)
{
    Number a{}, r{};
    a[0] = 7;
    r[0] = 42;
    Number zero{};
    EXPECT_EQ(modMultTemp(r.data(), a.data(), a.data(), zero.data()), -1);
    EXPECT_EQ(r[0], 42u);

    uint8_t signature[kNumberBytes] = {1}, modulus[kNumberBytes] = {}, out[kNumberBytes];
    memset(out, 0xFF, sizeof out);
    EXPECT_EQ(RSADecryption65537(signature, modulus, out), -1);
    EXPECT_EQ(std::count(out, out + kNumberBytes, 0), int(kNumberBytes));
}

TEST(ModMult, PublicOperationIsSixteenSquaringsAndOneProduct)
{
    std::mt19937 rng(11);
    Number s = mpi_cases::random_number(rng, kLimbs), n = mpi_cases::random_number(rng, kLimbs);
    Number r = reference_mod_mult(s, s, n);
    for (int i = 1; i < 16; ++i)
        r = reference_mod_mult(r, r, n);
    r = reference_mod_mult(r, s, n);

    uint8_t sig[kNumberBytes], mod[kNumberBytes], out[kNumberBytes], expected[kNumberBytes];
    for (int i = 0; i < kLimbs; ++i)
        for (int k = 0; k < 4; ++k) {
            sig[4 * i + k] = uint8_t(s[i] >> (8 * k));
            mod[4 * i + k] = uint8_t(n[i] >> (8 * k));
            expected[4 * i + k] = uint8_t(r[i] >> (8 * k));
        }
    ASSERT_EQ(RSADecryption65537(sig, mod, out), 0);
    EXPECT_EQ(memcmp(out, expected, kNumberBytes), 0);
}

TEST(SpDivide, EqualsTheCompilersDivision)
{
    struct Case {
        uint32_t u1, u0, v;
    };
    std::vector<Case> cases = {
        {0, 0, 0x80000000},          {0x7FFFFFFF, 0xFFFFFFFF, 0x80000000}, {0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFF},
        {0x80000000, 0, 0x80000001}, {0xFFFF0000, 0x0000FFFF, 0xFFFF0001}, {0x8000FFFF, 0xFFFF0000, 0x80010000},
    };
    std::mt19937 rng(3);
    for (int k = 0; k < 20000; ++k) {
        uint32_t v = uint32_t(rng()) | 0x80000000u;
        cases.push_back({uint32_t(rng()) % v, uint32_t(rng()), v});
    }
    for (const auto &c : cases) {
        uint64_t u = (uint64_t(c.u1) << 32) | c.u0;
        uint32_t q, r;
        spDivide(&q, &r, c.u1, c.u0, c.v);
        ASSERT_EQ(q, uint32_t(u / c.v)) << std::hex << c.u1 << ":" << c.u0 << " / " << c.v;
        ASSERT_EQ(r, uint32_t(u % c.v)) << std::hex << c.u1 << ":" << c.u0 << " / " << c.v;
    }
}

} // namespace
