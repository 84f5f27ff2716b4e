#include "mpi.h"

#include "common/le_bytes.h"

#include <cstring>

namespace {

constexpr uint32_t kHalfMask = 0xFFFF;
constexpr int kLimbBits = 32;
constexpr int kSquarings = 16; // 65537 = 2^16 + 1

inline uint32_t lo32(uint64_t x) { return uint32_t(x); }
inline uint32_t hi32(uint64_t x) { return uint32_t(x >> 32); }

int leading_zero_bits(uint32_t x)
{
    int n = 0;
    for (uint32_t bit = 0x80000000u; bit != 0 && (x & bit) == 0; bit >>= 1)
        ++n;
    return n;
}

// The schoolbook product of two 64-limb numbers, 128 limbs, summed column by
// column: a column's partial products go into a 96-bit accumulator, so
// each addition waits only for the one before it, not for a carry.
void schoolbook_product(uint32_t *w, const uint32_t *a, const uint32_t *b)
{
    uint64_t acc = 0;
    for (int k = 0; k < kProductLimbs - 1; ++k) {
        const int first = k < kLimbs ? 0 : k - kLimbs + 1;
        const int last = k < kLimbs ? k : kLimbs - 1;
        uint32_t overflow = 0;
        for (int i = first; i <= last; ++i) {
            uint64_t p = uint64_t(a[i]) * b[k - i];
            acc += p;
            overflow += acc < p;
        }
        w[k] = lo32(acc);
        acc = (acc >> kLimbBits) | (uint64_t(overflow) << kLimbBits);
    }
    w[kProductLimbs - 1] = lo32(acc);
}

// -1, 0 or 1 as a is below, equal to or above b (n limbs each).
int compare(const uint32_t *a, const uint32_t *b, int n)
{
    for (int i = n - 1; i >= 0; --i)
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    return 0;
}

// The remainder of u (ulen limbs) by a single normalised limb v.
uint32_t remainder_by_limb(const uint32_t *u, int ulen, uint32_t v)
{
    uint32_t r = 0, q;
    for (int i = ulen - 1; i >= 0; --i)
        spDivide(&q, &r, r, u[i], v);
    return r;
}

// u[0..n] -= q * v[0..n-1]; returns true when it borrowed.
bool mult_sub(uint32_t *u, uint32_t q, const uint32_t *v, int n)
{
    uint64_t carry = 0;
    uint32_t borrow = 0;
    for (int i = 0; i < n; ++i) {
        uint64_t p = uint64_t(q) * v[i] + carry;
        carry = hi32(p);
        uint64_t t = uint64_t(u[i]) - lo32(p) - borrow;
        u[i] = lo32(t);
        borrow = uint32_t(t >> 63);
    }
    uint64_t t = uint64_t(u[n]) - lo32(carry) - borrow;
    u[n] = lo32(t);
    return (t >> 63) != 0;
}

// u[0..n] += v[0..n-1], dropping the carry out of the top limb.
void add_back(uint32_t *u, const uint32_t *v, int n)
{
    uint64_t carry = 0;
    for (int i = 0; i < n; ++i) {
        uint64_t t = uint64_t(u[i]) + v[i] + carry;
        u[i] = lo32(t);
        carry = hi32(t);
    }
    u[n] += lo32(carry);
}

// Knuth's algorithm D (TAOCP 4.3.1): r = w mod v, where w has wlen > vlen
// significant limbs and v has vlen >= 2.
void long_division_remainder(uint32_t *r, const uint32_t *w, int wlen, const uint32_t *v, int vlen)
{
    uint32_t vn[kLimbs];
    uint32_t un[kProductLimbs + 1];
    int shift = leading_zero_bits(v[vlen - 1]);
    mpShiftLeft(vn, v, shift, vlen);
    un[wlen] = mpShiftLeft(un, w, shift, wlen);

    const uint32_t vtop = vn[vlen - 1], vnext = vn[vlen - 2];
    for (int j = wlen - vlen; j >= 0; --j) {
        uint32_t *u = un + j;
        uint32_t qhat, rhat;
        bool rhat_fits = true;
        if (u[vlen] >= vtop) {
            // The remainder's top limb equals v's: the estimate is b - 1.
            qhat = 0xFFFFFFFFu;
            uint64_t sum = uint64_t(u[vlen - 1]) + vtop;
            rhat = lo32(sum);
            rhat_fits = hi32(sum) == 0;
        } else {
            spDivide(&qhat, &rhat, u[vlen], u[vlen - 1], vtop);
        }
        for (int k = 0; k < 2 && rhat_fits; ++k) {
            if (uint64_t(qhat) * vnext <= ((uint64_t(rhat) << kLimbBits) | u[vlen - 2]))
                break;
            --qhat;
            uint64_t sum = uint64_t(rhat) + vtop;
            rhat = lo32(sum);
            rhat_fits = hi32(sum) == 0;
        }
        if (mult_sub(u, qhat, vn, vlen))
            add_back(u, vn, vlen);
    }
    memset(r, 0, kLimbs * sizeof *r);
    mpShiftRight(r, un, shift, vlen);
}

void load_number(uint32_t *limbs, const uint8_t *bytes)
{
    for (int i = 0; i < kLimbs; ++i)
        limbs[i] = le::load32(bytes + 4 * i);
}

void store_number(uint8_t *bytes, const uint32_t *limbs)
{
    for (int i = 0; i < kLimbs; ++i)
        le::store32(bytes + 4 * i, limbs[i]);
}

} // namespace

void mpSetEqual(uint32_t *dst, const uint32_t *src, int n) { memmove(dst, src, size_t(n) * sizeof *dst); }

uint32_t mpShiftLeft(uint32_t *dst, const uint32_t *src, int shift, int n)
{
    if (shift == 0) {
        mpSetEqual(dst, src, n);
        return 0;
    }
    uint32_t carry = 0;
    for (int i = 0; i < n; ++i) {
        uint32_t limb = src[i];
        dst[i] = (limb << shift) | carry;
        carry = limb >> (kLimbBits - shift);
    }
    return carry;
}

uint32_t mpShiftRight(uint32_t *dst, const uint32_t *src, int shift, int n)
{
    if (shift == 0) {
        mpSetEqual(dst, src, n);
        return 0;
    }
    uint32_t carry = 0;
    for (int i = n - 1; i >= 0; --i) {
        uint32_t limb = src[i];
        dst[i] = (limb >> shift) | carry;
        carry = limb << (kLimbBits - shift);
    }
    return carry >> (kLimbBits - shift);
}

int mpSizeof(const uint32_t *a, int n)
{
    while (n > 0 && a[n - 1] == 0)
        --n;
    return n;
}

uint64_t spMultSub(uint64_t rem, uint32_t half, uint32_t q, uint32_t v, int *borrow)
{
    uint64_t dividend = (rem << 16) | half;
    uint64_t product = uint64_t(q) * v;
    *borrow = dividend < product;
    return dividend - product;
}

void spDivide(uint32_t *q, uint32_t *r, uint32_t u1, uint32_t u0, uint32_t v)
{
    const uint32_t vtop = v >> 16;
    const uint32_t halves[2] = {u0 >> 16, u0 & kHalfMask};
    uint64_t rem = u1;
    uint32_t quotient = 0;
    for (uint32_t half : halves) {
        // rem < v and v is normalised, so rem / vtop overestimates the
        // half-digit by at most two.
        uint32_t qhat = uint32_t(rem / vtop);
        if (qhat > kHalfMask)
            qhat = kHalfMask;
        int borrow;
        rem = spMultSub(rem, half, qhat, v, &borrow);
        while (borrow) {
            --qhat;
            uint64_t before = rem;
            rem += v;
            borrow = rem >= before; // still negative until the sum wraps past 2^64
        }
        quotient = (quotient << 16) | qhat;
    }
    *q = quotient;
    *r = uint32_t(rem);
}

int modMultTemp(uint32_t *r, const uint32_t *a, const uint32_t *b, const uint32_t *n)
{
    const int nlen = mpSizeof(n, kLimbs);
    if (nlen == 0)
        return -1;
    uint32_t w[kProductLimbs];
    schoolbook_product(w, a, b);
    const int wlen = mpSizeof(w, kProductLimbs);

    if (nlen == 1) {
        uint32_t un[kProductLimbs + 1];
        int shift = leading_zero_bits(n[0]);
        un[wlen] = mpShiftLeft(un, w, shift, wlen);
        uint32_t rem = remainder_by_limb(un, wlen + 1, n[0] << shift);
        memset(r, 0, kLimbs * sizeof *r);
        r[0] = rem >> shift;
        return 0;
    }
    if (wlen < nlen || (wlen == nlen && compare(w, n, nlen) <= 0)) {
        bool equal = wlen == nlen && compare(w, n, nlen) == 0;
        memset(r, 0, kLimbs * sizeof *r);
        if (!equal)
            mpSetEqual(r, w, wlen);
        return 0;
    }
    long_division_remainder(r, w, wlen, n, nlen);
    return 0;
}

int RSADecryption65537(const uint8_t *signature, const uint8_t *modulus, uint8_t *out)
{
    uint32_t s[kLimbs], n[kLimbs], r[kLimbs];
    load_number(s, signature);
    load_number(n, modulus);
    if (modMultTemp(r, s, s, n) != 0) {
        memset(out, 0, kNumberBytes);
        return -1;
    }
    for (int i = 1; i < kSquarings; ++i)
        modMultTemp(r, r, r, n);
    modMultTemp(r, r, s, n);
    store_number(out, r);
    return 0;
}
