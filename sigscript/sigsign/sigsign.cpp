// sigsign: makes the device key file and signed scripts for sigscript, and
// checks signed scripts, with OpenSSL's libcrypto. A host tool: it never
// ships to the board.
#include "script_format.h"

#include "common/help_option.h"
#include "common/le_bytes.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
namespace fmt = script_format;

constexpr int kDone = 0, kInvalid = 1, kUsage = 2, kError = 3;
constexpr int kMaxKeyBits = int(fmt::kKeySize * 8);
constexpr size_t kDigestSize = 32;

const char kUsageText[] =
    "usage: sigsign pubkey KEY.pem SHPUB          write the 256-byte public-key file (\"/etc/shpub\")\n"
    "       sigsign sign KEY.pem SCRIPT SIGNED    sign a shell script into a signed-script file\n"
    "       sigsign verify SHPUB SIGNED           check a signed-script file against a public-key file\n"
    "\n"
    "KEY.pem is an RSA private key of at most 2048 bits with exponent 65537,\n"
    "as made by `openssl genrsa -out KEY.pem 2048`. The signature S is the\n"
    "number whose 65537th power modulo N is the script's SHA-256 digest read\n"
    "as a little-endian number, without padding. Like sigscript, verify takes\n"
    "N from the first 256 bytes of SHPUB; a shorter file is N with zero bytes\n"
    "above.\n"
    "Exit status: 0 done (verify: valid), 1 verify: not valid, 2 usage, 3 error.\n";

struct BnFree {
    void operator()(BIGNUM *b) const { BN_free(b); }
};
struct CtxFree {
    void operator()(BN_CTX *c) const { BN_CTX_free(c); }
};
struct KeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

int error(const std::string &what)
{
    fprintf(stderr, "sigsign: %s\n", what.c_str());
    unsigned long e;
    while ((e = ERR_get_error()) != 0)
        fprintf(stderr, "sigsign:   %s\n", ERR_error_string(e, nullptr));
    return kError;
}

bool read_file(const std::string &path, Bytes *out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool write_file(const std::string &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    return bool(out);
}

// A private key that sigscript's check can serve: RSA of at most 2048 bits
// (the key file's size), e = 65537.
int load_key(const std::string &path, Key *key, Bn *modulus)
{
    FILE *file = fopen(path.c_str(), "r");
    if (!file)
        return error("cannot open " + path);
    key->reset(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
    fclose(file);
    if (!*key)
        return error(path + " holds no PEM private key");
    BIGNUM *n = nullptr, *e = nullptr;
    if (EVP_PKEY_get_base_id(key->get()) != EVP_PKEY_RSA ||
        !EVP_PKEY_get_bn_param(key->get(), OSSL_PKEY_PARAM_RSA_N, &n) ||
        !EVP_PKEY_get_bn_param(key->get(), OSSL_PKEY_PARAM_RSA_E, &e))
        return error(path + " is no RSA key");
    modulus->reset(n);
    Bn exponent(e);
    if (BN_num_bits(n) > kMaxKeyBits || !BN_is_word(e, fmt::kPublicExponent))
        return error(path + " is no RSA key of at most 2048 bits with exponent 65537");
    return kDone;
}

Bytes little_endian(const BIGNUM *n, size_t size)
{
    Bytes out(size);
    BN_bn2lebinpad(n, out.data(), int(size));
    return out;
}

Bytes digest_of(const uint8_t *data, size_t size)
{
    Bytes digest(kDigestSize);
    unsigned int len = 0;
    EVP_Digest(data, size, digest.data(), &len, EVP_sha256(), nullptr);
    return digest;
}

int make_pubkey(const std::string &key_path, const std::string &out_path)
{
    Key key;
    Bn n;
    if (int rc = load_key(key_path, &key, &n))
        return rc;
    if (!write_file(out_path, little_endian(n.get(), fmt::kKeySize)))
        return error("cannot write " + out_path);
    return kDone;
}

// The RSA private operation without padding on the digest, laid out as
// sigscript compares it: a number whose low 32 bytes are the digest, as wide
// as the modulus, stored in the 256 bytes of the signature field.
bool sign_digest(EVP_PKEY *key, const Bytes &digest, Bytes *signature)
{
    size_t len = size_t(EVP_PKEY_get_size(key));
    if (len < digest.size() || len > fmt::kSignatureSize)
        return false;
    Bytes message(len, 0);
    std::reverse_copy(digest.begin(), digest.end(), message.end() - digest.size()); // big-endian input
    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new(key, nullptr));
    Bytes big(len);
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) <= 0 ||
        EVP_PKEY_sign(ctx.get(), big.data(), &len, message.data(), message.size()) <= 0 || len != big.size())
        return false;
    signature->assign(fmt::kSignatureSize, 0);
    std::reverse_copy(big.begin(), big.end(), signature->begin());
    return true;
}

int sign_script(const std::string &key_path, const std::string &script_path, const std::string &out_path)
{
    Key key;
    Bn n;
    if (int rc = load_key(key_path, &key, &n))
        return rc;
    Bytes script;
    if (!read_file(script_path, &script))
        return error("cannot read " + script_path);
    if (script.size() > UINT32_MAX)
        return error(script_path + " is larger than a signed script can hold");
    Bytes signature;
    if (!sign_digest(key.get(), digest_of(script.data(), script.size()), &signature))
        return error("cannot sign with " + key_path);

    Bytes out(fmt::kHeaderSize);
    memcpy(out.data(), fmt::kMagic, fmt::kMagicSize);
    le::store32(out.data() + fmt::kLengthOffset, uint32_t(script.size()));
    std::copy(signature.begin(), signature.end(), out.begin() + fmt::kSignatureOffset);
    out.insert(out.end(), script.begin(), script.end());
    if (!write_file(out_path, out))
        return error("cannot write " + out_path);
    return kDone;
}

int verify(const std::string &pub_path, const std::string &signed_path)
{
    Bytes pub, file;
    if (!read_file(pub_path, &pub))
        return error("cannot read " + pub_path);
    pub.resize(std::min(pub.size(), fmt::kKeySize)); // what sigscript reads of it
    if (!read_file(signed_path, &file))
        return error("cannot read " + signed_path);
    auto invalid = [&](const char *why) {
        printf("%s: not valid: %s\n", signed_path.c_str(), why);
        return kInvalid;
    };
    if (file.size() < fmt::kHeaderSize || memcmp(file.data(), fmt::kMagic, fmt::kMagicSize) != 0)
        return invalid("no signed-script header");
    uint32_t length = le::load32(file.data() + fmt::kLengthOffset);
    if (length > file.size() - fmt::kHeaderSize)
        return invalid("script length beyond the end of the file");

    Bn n(BN_lebin2bn(pub.data(), int(pub.size()), nullptr));
    Bn s(BN_lebin2bn(file.data() + fmt::kSignatureOffset, int(fmt::kSignatureSize), nullptr));
    Bn e(BN_new()), m(BN_new());
    std::unique_ptr<BN_CTX, CtxFree> ctx(BN_CTX_new());
    if (!n || !s || !e || !m || !ctx || !BN_set_word(e.get(), fmt::kPublicExponent))
        return error("out of memory");
    if (BN_is_zero(n.get()))
        return invalid("zero modulus");
    if (!BN_mod_exp(m.get(), s.get(), e.get(), n.get(), ctx.get()))
        return error("RSA public operation failed");
    Bytes digest = digest_of(file.data() + fmt::kHeaderSize, length);
    Bytes expected(fmt::kSignatureSize, 0);
    std::copy(digest.begin(), digest.end(), expected.begin());
    if (little_endian(m.get(), fmt::kSignatureSize) != expected)
        return invalid("signature does not match the script");
    printf("%s: valid, script of %u bytes\n", signed_path.c_str(), length);
    return kDone;
}

} // namespace

int main(int argc, char **argv)
{
    if (answered_help_or_version(argc, argv, "sigsign", kUsageText))
        return kDone;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "help") {
        fputs(kUsageText, stdout);
        return kDone;
    }
    if (args.size() == 3 && args[0] == "pubkey")
        return make_pubkey(args[1], args[2]);
    if (args.size() == 4 && args[0] == "sign")
        return sign_script(args[1], args[2], args[3]);
    if (args.size() == 3 && args[0] == "verify")
        return verify(args[1], args[2]);
    fputs(kUsageText, stderr);
    return kUsage;
}
