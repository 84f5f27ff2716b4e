// SHA-256 and the modular arithmetic against OpenSSL's libcrypto.
#include "mpi.h"
#include "mpi_cases.h"
#include "sha256.h"

#include <openssl/bn.h>
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

using mpi_cases::Number;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes openssl_sha256(const Bytes &data)
{
    Bytes digest(kSha256DigestSize);
    unsigned int len = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), digest.data(), &len, EVP_sha256(), nullptr), 1);
    return digest;
}

Bytes random_bytes(std::mt19937 &rng, size_t n)
{
    Bytes b(n);
    for (auto &byte : b)
        byte = uint8_t(rng());
    return b;
}

TEST(Sha256VersusOpenssl, EveryLengthUpTo520)
{
    std::mt19937 rng(1);
    for (size_t len = 0; len <= 520; ++len) {
        Bytes data = random_bytes(rng, len);
        Bytes digest(kSha256DigestSize);
        sha256(data.data(), data.size(), digest.data());
        ASSERT_EQ(digest, openssl_sha256(data)) << "length " << len;
    }
}

TEST(Sha256VersusOpenssl, RandomInputsInRandomPieces)
{
    std::mt19937 rng(2);
    for (int k = 0; k < 300; ++k) {
        Bytes data = random_bytes(rng, rng() % 5000);
        sha256_state md;
        sha256_init(&md);
        for (size_t at = 0; at < data.size();) {
            size_t piece = std::min<size_t>(rng() % 200, data.size() - at); // 0 included
            sha256_process(&md, data.data() + at, piece);
            at += piece;
        }
        Bytes digest(kSha256DigestSize);
        sha256_done(&md, digest.data());
        ASSERT_EQ(digest, openssl_sha256(data)) << "input " << k << " of " << data.size() << " bytes";
    }
}

struct BnFree {
    void operator()(BIGNUM *b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

class ModArithVersusOpenssl : public ::testing::Test {
protected:
    ModArithVersusOpenssl() : ctx_(BN_CTX_new()) {}
    ~ModArithVersusOpenssl() override { BN_CTX_free(ctx_); }

    static Bn bn(const Number &n)
    {
        return Bn(BN_lebin2bn(reinterpret_cast<const uint8_t *>(limbs_le(n).data()), int(kNumberBytes), nullptr));
    }
    static Bytes limbs_le(const Number &n)
    {
        Bytes b(kNumberBytes);
        for (int i = 0; i < kLimbs; ++i)
            for (int k = 0; k < 4; ++k)
                b[4 * i + k] = uint8_t(n[i] >> (8 * k));
        return b;
    }
    static Bytes le(const BIGNUM *n)
    {
        Bytes b(kNumberBytes);
        EXPECT_EQ(BN_bn2lebinpad(n, b.data(), int(b.size())), int(kNumberBytes));
        return b;
    }

    Bytes openssl_mod_mult(const Number &a, const Number &b, const Number &n)
    {
        Bn r(BN_new());
        EXPECT_EQ(BN_mod_mul(r.get(), bn(a).get(), bn(b).get(), bn(n).get(), ctx_), 1);
        return le(r.get());
    }
    static Bytes mod_mult(const Number &a, const Number &b, const Number &n)
    {
        Number r;
        EXPECT_EQ(modMultTemp(r.data(), a.data(), b.data(), n.data()), 0);
        return limbs_le(r);
    }

    BN_CTX *ctx_;
};

TEST_F(ModArithVersusOpenssl, HardCases)
{
    for (const auto &c : mpi_cases::hard_cases())
        EXPECT_EQ(mod_mult(c.a, c.b, c.n), openssl_mod_mult(c.a, c.b, c.n)) << c.name;
}

TEST_F(ModArithVersusOpenssl, Random2048BitOperands)
{
    std::mt19937 rng(3);
    for (int k = 0; k < 3000; ++k) {
        Number a = mpi_cases::random_number(rng, kLimbs), b = mpi_cases::random_number(rng, kLimbs);
        Number n = mpi_cases::random_number(rng, kLimbs);
        ASSERT_EQ(mod_mult(a, b, n), openssl_mod_mult(a, b, n)) << "case " << k;
    }
}

TEST_F(ModArithVersusOpenssl, SpikyOperandsAndShortModuli)
{
    std::mt19937 rng(4);
    for (int k = 0; k < 3000; ++k) {
        int nlen = 1 + int(rng() % kLimbs);
        Number a = mpi_cases::spiky_number(rng, kLimbs), b = mpi_cases::spiky_number(rng, 1 + int(rng() % kLimbs));
        Number n = mpi_cases::spiky_number(rng, nlen);
        if (n[nlen - 1] == 0)
            n[nlen - 1] = 1u << (rng() % 32);
        ASSERT_EQ(mod_mult(a, b, n), openssl_mod_mult(a, b, n)) << "case " << k << ", modulus of " << nlen << " limbs";
    }
}

TEST_F(ModArithVersusOpenssl, PublicOperationEqualsModExp)
{
    std::mt19937 rng(5);
    Bn e(BN_new());
    ASSERT_EQ(BN_set_word(e.get(), 65537), 1);
    for (int k = 0; k < 200; ++k) {
        Number s = mpi_cases::random_number(rng, kLimbs), n = mpi_cases::random_number(rng, kLimbs);
        n[kLimbs - 1] |= 0x80000000u; // as a 2048-bit key's modulus
        Bn expected(BN_new());
        ASSERT_EQ(BN_mod_exp(expected.get(), bn(s).get(), e.get(), bn(n).get(), ctx_), 1);
        Bytes out(kNumberBytes);
        ASSERT_EQ(RSADecryption65537(limbs_le(s).data(), limbs_le(n).data(), out.data()), 0);
        ASSERT_EQ(out, le(expected.get())) << "case " << k;
    }
}

} // namespace
