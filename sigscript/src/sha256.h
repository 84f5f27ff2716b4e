// SHA-256 (FIPS 180-4): a running state fed with any number of byte runs.
#ifndef SIGSCRIPT_SHA256_H
#define SIGSCRIPT_SHA256_H

#include <cstddef>
#include <cstdint>

constexpr size_t kSha256BlockSize = 64;
constexpr size_t kSha256DigestSize = 32;

struct sha256_state {
    uint64_t length; // bits hashed so far, whole blocks only
    uint32_t h[8];
    uint32_t curlen; // bytes waiting in buf
    uint8_t buf[kSha256BlockSize];
};

void sha256_init(sha256_state *md);
// Hashes len bytes; a partial block waits in md->buf for the next call.
void sha256_process(sha256_state *md, const uint8_t *in, size_t len);
// Pads, hashes the last block and writes the digest in the standard byte order.
void sha256_done(sha256_state *md, uint8_t digest[kSha256DigestSize]);
// One 64-byte block into md->h.
void sha256_compress(sha256_state *md, const uint8_t block[kSha256BlockSize]);
void sha256(const uint8_t *data, size_t len, uint8_t digest[kSha256DigestSize]);

#endif
