#include "sha256.h"

#include <cstring>

namespace {

const uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

const uint32_t kInitialHash[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t load_be32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void store_be32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

inline uint32_t sigma0(uint32_t x) { return rotr(x, 7) ^ rotr(x, 18) ^ (x >> 3); }
inline uint32_t sigma1(uint32_t x) { return rotr(x, 17) ^ rotr(x, 19) ^ (x >> 10); }

// One round: d and h are the two working variables that change.
inline void round(uint32_t a, uint32_t b, uint32_t c, uint32_t &d, uint32_t e, uint32_t f, uint32_t g, uint32_t &h,
                  uint32_t k_plus_w)
{
    uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + (g ^ (e & (f ^ g))) + k_plus_w;
    uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) | (c & (a | b)));
    d += t1;
    h = t1 + t2;
}

} // namespace

void sha256_init(sha256_state *md)
{
    md->length = 0;
    md->curlen = 0;
    memcpy(md->h, kInitialHash, sizeof md->h);
}

void sha256_compress(sha256_state *md, const uint8_t block[kSha256BlockSize])
{
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = load_be32(block + 4 * i);
    for (int i = 16; i < 64; ++i)
        w[i] = w[i - 16] + sigma0(w[i - 15]) + w[i - 7] + sigma1(w[i - 2]);
    uint32_t a = md->h[0], b = md->h[1], c = md->h[2], d = md->h[3];
    uint32_t e = md->h[4], f = md->h[5], g = md->h[6], h = md->h[7];
    // Eight rounds per pass with the roles of the variables rotated, so no
    // round has to move all eight of them.
    for (int i = 0; i < 64; i += 8) {
        round(a, b, c, d, e, f, g, h, kRoundConstants[i] + w[i]);
        round(h, a, b, c, d, e, f, g, kRoundConstants[i + 1] + w[i + 1]);
        round(g, h, a, b, c, d, e, f, kRoundConstants[i + 2] + w[i + 2]);
        round(f, g, h, a, b, c, d, e, kRoundConstants[i + 3] + w[i + 3]);
        round(e, f, g, h, a, b, c, d, kRoundConstants[i + 4] + w[i + 4]);
        round(d, e, f, g, h, a, b, c, kRoundConstants[i + 5] + w[i + 5]);
        round(c, d, e, f, g, h, a, b, kRoundConstants[i + 6] + w[i + 6]);
        round(b, c, d, e, f, g, h, a, kRoundConstants[i + 7] + w[i + 7]);
    }
    md->h[0] += a;
    md->h[1] += b;
    md->h[2] += c;
    md->h[3] += d;
    md->h[4] += e;
    md->h[5] += f;
    md->h[6] += g;
    md->h[7] += h;
}

void sha256_process(sha256_state *md, const uint8_t *in, size_t len)
{
    while (len > 0) {
        if (md->curlen == 0 && len >= kSha256BlockSize) {
            sha256_compress(md, in);
            md->length += kSha256BlockSize * 8;
            in += kSha256BlockSize;
            len -= kSha256BlockSize;
            continue;
        }
        size_t n = kSha256BlockSize - md->curlen;
        if (n > len)
            n = len;
        memcpy(md->buf + md->curlen, in, n);
        md->curlen += uint32_t(n);
        in += n;
        len -= n;
        if (md->curlen == kSha256BlockSize) {
            sha256_compress(md, md->buf);
            md->length += kSha256BlockSize * 8;
            md->curlen = 0;
        }
    }
}

void sha256_done(sha256_state *md, uint8_t digest[kSha256DigestSize])
{
    constexpr uint32_t kLengthField = 8;
    uint64_t bits = md->length + uint64_t(md->curlen) * 8;
    md->buf[md->curlen++] = 0x80;
    if (md->curlen > kSha256BlockSize - kLengthField) {
        memset(md->buf + md->curlen, 0, kSha256BlockSize - md->curlen);
        sha256_compress(md, md->buf);
        md->curlen = 0;
    }
    memset(md->buf + md->curlen, 0, kSha256BlockSize - kLengthField - md->curlen);
    for (uint32_t i = 0; i < kLengthField; ++i)
        md->buf[kSha256BlockSize - 1 - i] = uint8_t(bits >> (8 * i));
    sha256_compress(md, md->buf);
    for (int i = 0; i < 8; ++i)
        store_be32(digest + 4 * i, md->h[i]);
}

void sha256(const uint8_t *data, size_t len, uint8_t digest[kSha256DigestSize])
{
    sha256_state md;
    sha256_init(&md);
    sha256_process(&md, data, len);
    sha256_done(&md, digest);
}
