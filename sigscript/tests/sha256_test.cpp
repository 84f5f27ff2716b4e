// SHA-256 against the FIPS 180 examples, fed whole and in pieces that
// straddle the 64-byte blocks.
#include "sha256.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string hex(const uint8_t *bytes, size_t n)
{
    std::string out;
    char two[3];
    for (size_t i = 0; i < n; ++i) {
        snprintf(two, sizeof two, "%02x", bytes[i]);
        out += two;
    }
    return out;
}

std::string digest_in_pieces(const std::string &message, size_t piece)
{
    sha256_state md;
    sha256_init(&md);
    const auto *p = reinterpret_cast<const uint8_t *>(message.data());
    for (size_t at = 0; at < message.size(); at += piece)
        sha256_process(&md, p + at, std::min(piece, message.size() - at));
    uint8_t digest[kSha256DigestSize];
    sha256_done(&md, digest);
    return hex(digest, sizeof digest);
}

struct Vector {
    const char *name;
    std::string message;
    const char *digest;
};

TEST(Sha256, FipsExamplesWholeAndInPieces)
{
    const Vector vectors[] = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"896 bits",
         "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {"a million a", std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    const size_t pieces[] = {1, 55, 63, 64, 65, 1000};
    for (const auto &v : vectors) {
        uint8_t digest[kSha256DigestSize];
        sha256(reinterpret_cast<const uint8_t *>(v.message.data()), v.message.size(), digest);
        EXPECT_EQ(hex(digest, sizeof digest), v.digest) << v.name;
        for (size_t piece : pieces)
            EXPECT_EQ(digest_in_pieces(v.message, piece), v.digest) << v.name << " in pieces of " << piece;
    }
}

} // namespace
