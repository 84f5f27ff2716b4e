// Multi-precision numbers for the RSA-2048 public operation: 64 limbs of
// 32 bits, least significant limb first, so that a 256-byte little-endian
// buffer is the number itself. Products have 128 limbs.
#ifndef SIGSCRIPT_MPI_H
#define SIGSCRIPT_MPI_H

#include <cstddef>
#include <cstdint>

constexpr int kLimbs = 64;
constexpr int kProductLimbs = 2 * kLimbs;
constexpr size_t kNumberBytes = kLimbs * 4;

// dst = src, n limbs.
void mpSetEqual(uint32_t *dst, const uint32_t *src, int n);
// dst = src << shift (0..31) over n limbs; returns the bits shifted out at the top.
uint32_t mpShiftLeft(uint32_t *dst, const uint32_t *src, int shift, int n);
// dst = src >> shift (0..31) over n limbs; returns the bits shifted out at the bottom.
uint32_t mpShiftRight(uint32_t *dst, const uint32_t *src, int shift, int n);
// Limbs up to and including the highest non-zero one (0 for zero).
int mpSizeof(const uint32_t *a, int n);

// rem = rem * 2^16 + half - q * v, for a quotient half-digit q. Returns
// the new remainder, and sets *borrow when it went below zero (the
// remainder is then taken modulo 2^64, ready for adding v back).
uint64_t spMultSub(uint64_t rem, uint32_t half, uint32_t q, uint32_t v, int *borrow);
// (u1:u0) / v for a normalised v (top bit set) and u1 < v, as two
// 32-by-16 steps. Sets *q and *r.
void spDivide(uint32_t *q, uint32_t *r, uint32_t u1, uint32_t u0, uint32_t v);

// r = a * b mod n (64 limbs each; r may alias a or b). Returns 0, or -1
// (r untouched) for a zero modulus.
int modMultTemp(uint32_t *r, const uint32_t *a, const uint32_t *b, const uint32_t *n);

// out = signature^65537 mod modulus; all three 256-byte little-endian
// numbers. Returns 0, or -1 (out zeroed) for a zero modulus.
int RSADecryption65537(const uint8_t *signature, const uint8_t *modulus, uint8_t *out);

#endif
