// sigscript_bench: the RSA-2048 public operation and SHA-256 of sigscript
// against OpenSSL's libcrypto, measured in the same run (in processor time
// of the measuring thread), with ratios.
//
// OpenSSL reads OPENSSL_ia32cap once, when it starts, so its SHA-256 without
// the SHA extensions (and without any SIMD code) is measured by this program
// started again with that variable set and --openssl-sha256.
#include "mpi.h"
#include "sha256.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr double kSecondsPerBurst = 0.05;
constexpr int kBursts = 10;
constexpr size_t kShaBuffer = 1 << 20;
constexpr double kMegabyte = 1e6;

struct Variant {
    const char *name;
    const char *ia32cap; // OPENSSL_ia32cap for the child, or null
};

// OPENSSL_ia32cap: the first word is CPUID.1 EDX:ECX, the second CPUID.7 EBX:ECX.
const Variant kOpensslVariants[] = {
    {"OpenSSL SHA-256 (as it chooses)", nullptr},
    {"OpenSSL SHA-256 without SHA extensions", ":~0x20000000"},
    {"OpenSSL SHA-256 integer code (no SHA, AVX, SSSE3)", "~0x1000020000000000:~0x20000020"},
};

// Processor time of this thread, so that other work on a shared machine
// does not count.
double cpu_seconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// Operations per processor second: the best of several short bursts.
double rate(const std::function<void()> &op)
{
    double best = 0;
    for (int burst = 0; burst < kBursts; ++burst) {
        long n = 0;
        double start = cpu_seconds(), spent = 0;
        do {
            op();
            ++n;
            spent = cpu_seconds() - start;
        } while (spent < kSecondsPerBurst);
        best = std::max(best, n / spent);
    }
    return best;
}

std::vector<uint8_t> pattern(size_t n)
{
    std::vector<uint8_t> b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(i * 131 + 7);
    return b;
}

double openssl_sha256_mbps()
{
    std::vector<uint8_t> data = pattern(kShaBuffer);
    EVP_MD *md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    uint8_t digest[32];
    double per_second = rate([&] { EVP_Digest(data.data(), data.size(), digest, nullptr, md, nullptr); });
    EVP_MD_free(md);
    return per_second * kShaBuffer / kMegabyte;
}

double own_sha256_mbps()
{
    std::vector<uint8_t> data = pattern(kShaBuffer);
    uint8_t digest[32];
    return rate([&] { sha256(data.data(), data.size(), digest); }) * kShaBuffer / kMegabyte;
}

// The OpenSSL figure from a child started with OPENSSL_ia32cap; -1 if it failed.
double child_openssl_sha256_mbps(const char *self, const char *ia32cap)
{
    std::string command = std::string("OPENSSL_ia32cap='") + ia32cap + "' '" + self + "' --openssl-sha256";
    FILE *child = popen(command.c_str(), "r");
    double mbps = -1;
    if (child) {
        if (fscanf(child, "%lf", &mbps) != 1)
            mbps = -1;
        pclose(child);
    }
    return mbps;
}

void bench_rsa()
{
    EVP_PKEY *key = EVP_RSA_gen(2048);
    BIGNUM *n = nullptr;
    if (!key || !EVP_PKEY_get_bn_param(key, "n", &n)) {
        fprintf(stderr, "sigscript_bench: cannot make an RSA key\n");
        exit(1);
    }
    uint8_t modulus[kNumberBytes], signature[kNumberBytes], ours[kNumberBytes];
    BN_bn2lebinpad(n, modulus, sizeof modulus);
    BN_free(n);
    std::vector<uint8_t> s = pattern(kNumberBytes);
    memcpy(signature, s.data(), sizeof signature);
    signature[kNumberBytes - 1] = 0x3F; // below the modulus, whose top bit is set

    // OpenSSL's public operation without padding is the same S^65537 mod N.
    uint8_t signature_be[kNumberBytes], theirs_be[kNumberBytes];
    for (size_t i = 0; i < kNumberBytes; ++i)
        signature_be[i] = signature[kNumberBytes - 1 - i];
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_encrypt_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING);
    auto openssl_op = [&] {
        size_t len = sizeof theirs_be;
        EVP_PKEY_encrypt(ctx, theirs_be, &len, signature_be, sizeof signature_be);
    };
    openssl_op();
    RSADecryption65537(signature, modulus, ours);
    for (size_t i = 0; i < kNumberBytes; ++i)
        if (ours[i] != theirs_be[kNumberBytes - 1 - i]) {
            fprintf(stderr, "sigscript_bench: RSADecryption65537 differs from OpenSSL\n");
            exit(1);
        }
    double own = rate([&] { RSADecryption65537(signature, modulus, ours); });
    double theirs = rate(openssl_op);
    printf("RSA-2048 public operation (e = 65537)\n");
    printf("  RSADecryption65537        %10.0f ops/s  (%.1f us)\n", own, 1e6 / own);
    printf("  OpenSSL, same key         %10.0f ops/s  (%.1f us)\n", theirs, 1e6 / theirs);
    printf("  ratio OpenSSL / ours      %10.2fx\n", theirs / own);
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
}

void bench_sha256(const char *self)
{
    double own = own_sha256_mbps();
    printf("SHA-256 over 1 MiB buffers\n");
    printf("  sha256 (this module)      %10.1f MB/s\n", own);
    for (const auto &v : kOpensslVariants) {
        double theirs = v.ia32cap ? child_openssl_sha256_mbps(self, v.ia32cap) : openssl_sha256_mbps();
        if (theirs <= 0) {
            printf("  %s: not measured\n", v.name);
            continue;
        }
        printf("  %-50s %8.1f MB/s, ours/OpenSSL %.2fx\n", v.name, theirs, own / theirs);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "--openssl-sha256") == 0) {
        printf("%.1f\n", openssl_sha256_mbps());
        return 0;
    }
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        fprintf(stderr, "sigscript_bench: cannot find its own program file\n");
        return 1;
    }
    self[n] = '\0';
    bench_rsa();
    bench_sha256(self);
    return 0;
}
