// sigscript on the virtual board with keys made by `openssl genrsa`, scripts
// signed by sigsign and by `openssl pkeyutl` directly, and every refusal.
// Each run lists the board's /tmp before and after sigscript and copies
// out whatever appeared there.
#include "vboard/temp_dir.h"
#include "vboard/testkit.h"

#include "common/le_bytes.h"

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>

using vboard::testkit::Board;

namespace {

const char kKeyPath[] = "/etc/shpub";
const char kScriptPath[] = "/root/job.sig";
const char kNewTmpDir[] = "/root/tmp-new"; // what sigscript left in /tmp, copied out
const char kRefusalScript[] = "touch /tmp/ran\n";

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void spill(const std::string &path, const std::string &bytes) { std::ofstream(path, std::ios::binary) << bytes; }

int host(const std::string &command) { return WEXITSTATUS(system(command.c_str())); }

std::string reversed(std::string s)
{
    std::reverse(s.begin(), s.end());
    return s;
}

std::string digest(const std::string &data)
{
    unsigned char d[32];
    unsigned int len = 0;
    EVP_Digest(data.data(), data.size(), d, &len, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<char *>(d), len);
}

std::string signed_file(uint32_t length, const std::string &signature_le, const std::string &script)
{
    std::string header = "SIGNEDSCRIPT" + std::string(4, '\0') + signature_le;
    le::store32(&header[12], length);
    return header + script;
}

struct Outcome {
    int status = -1;
    std::string out;
    std::map<std::string, std::string> new_tmp_files; // name -> contents
};

class SigscriptBoard : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        keys_dir_ = std::make_unique<vboard::testkit::TempDir>("sigscript-keys");
        keys_ = keys_dir_->path();
    }
    static void TearDownTestSuite() { keys_dir_.reset(); }

    // A key made by `openssl genrsa` (of bits bits) when first asked for.
    static std::string key(const std::string &name = "key.pem", int bits = 2048)
    {
        std::string path = keys_ + "/" + name;
        if (access(path.c_str(), R_OK) != 0) {
            EXPECT_EQ(host("openssl genrsa -out " + path + " " + std::to_string(bits) + " 2>/dev/null"), 0);
        }
        return path;
    }
    static std::string sigsign(const std::string &args) { return vboard::testkit::bin_path("sigsign") + " " + args; }

    // Key file and signed script made by sigsign.
    static std::string sigsign_shpub(const std::string &pem = "key.pem")
    {
        EXPECT_EQ(host(sigsign("pubkey " + key(pem) + " " + keys_ + "/shpub")), 0);
        return slurp(keys_ + "/shpub");
    }
    static std::string sigsign_signed(const std::string &script, const std::string &pem = "key.pem")
    {
        spill(keys_ + "/script.sh", script);
        EXPECT_EQ(host(sigsign("sign " + key(pem) + " " + keys_ + "/script.sh " + keys_ + "/script.sig")), 0);
        return slurp(keys_ + "/script.sig");
    }
    // What `sigsign verify` says of a key file and signed file: 0 valid, 1 not.
    static int sigsign_verify(const std::string &shpub, const std::string &signed_bytes)
    {
        spill(keys_ + "/verify.pub", shpub);
        spill(keys_ + "/verify.sig", signed_bytes);
        return host(sigsign("verify " + keys_ + "/verify.pub " + keys_ + "/verify.sig >/dev/null"));
    }

    // The same two straight from the openssl tool: the modulus that `openssl
    // rsa` prints, and the raw private operation of `openssl pkeyutl` on a
    // 256-byte big-endian message (`-sign` takes no input longer than a
    // hash, so it is `-decrypt` without padding).
    static std::string openssl_shpub()
    {
        EXPECT_EQ(host("openssl rsa -in " + key() + " -noout -modulus > " + keys_ + "/modulus.txt"), 0);
        std::string text = slurp(keys_ + "/modulus.txt");
        std::string hex = text.substr(text.find('=') + 1, 512), be;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            be += char(std::stoi(hex.substr(i, 2), nullptr, 16));
        return reversed(be);
    }
    static std::string pkeyutl_signature(const std::string &message_be)
    {
        spill(keys_ + "/message.bin", message_be);
        EXPECT_EQ(host("openssl pkeyutl -decrypt -inkey " + key() + " -pkeyopt rsa_padding_mode:none -in " + keys_ +
                       "/message.bin -out " + keys_ + "/signature.bin"),
                  0);
        std::string signature = reversed(slurp(keys_ + "/signature.bin"));
        EXPECT_EQ(signature.size(), 256u);
        return signature;
    }
    // The digest as the low 32 bytes of a 256-byte number, big-endian.
    static std::string digest_message(const std::string &script)
    {
        return std::string(224, '\0') + reversed(digest(script));
    }

    void put(const std::string &path, const std::string &bytes)
    {
        std::string host_path = board_.written_path(path);
        host("mkdir -p $(dirname " + host_path + ")");
        spill(host_path, bytes);
    }
    void remove(const std::string &path) { ::unlink(board_.written_path(path).c_str()); }

    // Runs sigscript with args after setup (shell commands), and collects
    // what it left in /tmp.
    Outcome run(const std::vector<std::string> &args, const std::string &setup = "true")
    {
        std::vector<std::string> argv = {
            "sh", "-c",
            setup + " && ls -A /tmp > /root/tmp-before && \"$@\"; st=$?; rm -rf " + kNewTmpDir + "; mkdir -p " +
                kNewTmpDir + "; for f in $(ls -A /tmp); do grep -qxF \"$f\" /root/tmp-before || cp -rp \"/tmp/$f\" " +
                kNewTmpDir + "/; done; exit $st",
            "sh", vboard::testkit::bin_path("sigscript")};
        argv.insert(argv.end(), args.begin(), args.end());
        auto r = board_.run(argv);
        EXPECT_FALSE(r.timed_out);
        Outcome o;
        o.status = r.status;
        o.out = r.out;
        std::string dir = board_.written_path(kNewTmpDir);
        if (DIR *d = opendir(dir.c_str())) {
            while (dirent *e = readdir(d))
                if (e->d_name[0] != '.')
                    o.new_tmp_files[e->d_name] = slurp(dir + "/" + e->d_name);
            closedir(d);
        }
        return o;
    }

    // An accepted run: status 0, the temp-file line, then the script's output.
    static void expect_ran(const Outcome &o, const std::string &script, const std::string &script_out)
    {
        EXPECT_EQ(o.status, 0) << o.out;
        std::smatch m;
        ASSERT_TRUE(
            std::regex_match(o.out, m, std::regex("\\[secure-script\\]Create tmp file /tmp/([A-Za-z0-9]{6})\n([^]*)")))
            << o.out;
        EXPECT_EQ(m[2].str(), script_out);
        ASSERT_EQ(o.new_tmp_files.size(), 1u) << o.out;
        EXPECT_EQ(o.new_tmp_files.begin()->first, m[1].str());
        EXPECT_EQ(o.new_tmp_files.begin()->second, script);
    }

    static std::unique_ptr<vboard::testkit::TempDir> keys_dir_;
    static std::string keys_;
    Board board_;
};

std::unique_ptr<vboard::testkit::TempDir> SigscriptBoard::keys_dir_;
std::string SigscriptBoard::keys_;

TEST_F(SigscriptBoard, RunsScriptSignedBySigsignWithItsArguments)
{
    // The script shows the command line the shell was started with.
    const std::string script = "echo \"$(tr '\\000' ' ' < /proc/$$/cmdline)\"\necho \"args:$#:$1:$2\"\nexit 3\n";
    put(kKeyPath, sigsign_shpub());
    put(kScriptPath, sigsign_signed(script));
    Outcome o = run({kScriptPath, "a", "b"});
    std::string path = "/tmp/" + (o.new_tmp_files.empty() ? std::string("?") : o.new_tmp_files.begin()->first);
    expect_ran(o, script, "sh " + path + " a b \nargs:2:a:b\n");
}

TEST_F(SigscriptBoard, AcceptsRawOpensslSignatureAndEmptyScript)
{
    const std::string shpub = openssl_shpub();
    put(kKeyPath, shpub);
    for (const std::string script : {"echo raw signature\n", ""}) {
        std::string file = signed_file(uint32_t(script.size()), pkeyutl_signature(digest_message(script)), script);
        put(kScriptPath, file);
        expect_ran(run({kScriptPath}), script, script.empty() ? "" : "raw signature\n");
        EXPECT_EQ(sigsign_verify(shpub, file), 0) << "sigsign verify of '" << script << "'";
    }
}

// sigscript takes a key file shorter than 256 bytes as the modulus with
// zeros above; sigsign signs with such keys and verifies such files alike.
TEST_F(SigscriptBoard, ShorterKeysSignRunAndVerify)
{
    const std::string script = "echo short key\n";
    for (int bits : {1024, 520}) {
        const std::string pem = "key" + std::to_string(bits) + ".pem";
        key(pem, bits);
        const std::string shpub = sigsign_shpub(pem), file = sigsign_signed(script, pem);
        const std::string short_shpub = shpub.substr(0, size_t(bits) / 8);
        put(kKeyPath, short_shpub);
        put(kScriptPath, file);
        expect_ran(run({kScriptPath}), script, "short key\n");
        EXPECT_EQ(sigsign_verify(short_shpub, file), 0) << bits;
        EXPECT_EQ(sigsign_verify(shpub, file), 0) << bits;
    }
}

TEST_F(SigscriptBoard, ArgumentsReachTheScriptAsTheyAre)
{
    const std::string script = "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\n";
    put(kKeyPath, sigsign_shpub());
    put(kScriptPath, sigsign_signed(script));
    Outcome o = run({kScriptPath, "$(touch /tmp/owned)", "two  words", "it's", ";", "", "`id`>x"});
    expect_ran(o, script, "[$(touch /tmp/owned)]\n[two  words]\n[it's]\n[;]\n[]\n[`id`>x]\n");
}

TEST_F(SigscriptBoard, EveryRefusalSaysWhyExitsWith255AndWritesNothingUnderTmp)
{
    const std::string script = kRefusalScript;
    const std::string good = sigsign_signed(script), shpub = sigsign_shpub(), other_shpub = sigsign_shpub("other.pem");
    std::string other_bytes = good;
    other_bytes.back() = '\t'; // same length, other bytes
    std::string beyond = good;
    le::store32(&beyond[12], uint32_t(script.size() + 1));
    std::string high_bytes = digest_message(script);
    high_bytes[100] = 1; // digest right in the low 32 bytes, but not the rest
    std::string bad_magic = good;
    bad_magic[11] = 't';

    // Expected lines are patterns: "\\[" for the tag's bracket.
    const std::string kCheck = "\\[secure-script\\]Signature check is error!Not a signed script!";
    struct Case {
        const char *name;
        const char *key; // "" for no key file
        std::string key_bytes, file;
        std::vector<std::string> args;
        std::string line;
        const char *setup;
    } cases[] = {
        {"no key file",
         "",
         "",
         good,
         {kScriptPath},
         "\\[secure-script\\]Can not open secure-script public key!",
         "true"},
        {"no script argument",
         kKeyPath,
         shpub,
         good,
         {},
         "\\[secure-script\\]Can not open script \\(none given\\)!",
         "true"},
        {"missing script",
         kKeyPath,
         shpub,
         good,
         {"/root/none.sig"},
         "\\[secure-script\\]Can not open script /root/none\\.sig!",
         "true"},
        {"wrong magic",
         kKeyPath,
         shpub,
         bad_magic,
         {kScriptPath},
         "\\[secure-script\\]Maigc number is error!Not a signed script!",
         "true"},
        {"signature over other bytes", kKeyPath, shpub, other_bytes, {kScriptPath}, kCheck, "true"},
        {"digest with non-zero high bytes",
         kKeyPath,
         shpub,
         signed_file(uint32_t(script.size()), pkeyutl_signature(high_bytes), script),
         {kScriptPath},
         kCheck,
         "true"},
        {"key of another signer", kKeyPath, other_shpub, good, {kScriptPath}, kCheck, "true"},
        {"empty key file", kKeyPath, "", good, {kScriptPath}, kCheck, "true"},
        {"length beyond the file",
         kKeyPath,
         shpub,
         beyond,
         {kScriptPath},
         "\\[secure-script\\]Script length is larger than the file!Not a signed script!",
         "true"},
        {"command longer than 1023 bytes",
         kKeyPath,
         shpub,
         good,
         {kScriptPath, std::string(1010, 'x')},
         "\\[secure-script\\]Command is too long!",
         "true"},
        {"no temporary file possible",
         kKeyPath,
         shpub,
         good,
         {kScriptPath},
         "\\[secure-script\\]Can not create temp file /tmp/[A-Za-z0-9]{6}",
         "mount -o remount,ro /tmp"},
    };
    for (const auto &c : cases) {
        if (*c.key)
            put(kKeyPath, c.key_bytes);
        else
            remove(kKeyPath);
        put(kScriptPath, c.file);
        Outcome o = run(c.args, c.setup);
        EXPECT_EQ(o.status, 255) << c.name;
        EXPECT_TRUE(std::regex_match(o.out, std::regex(c.line + "\n"))) << c.name << ": " << o.out;
        EXPECT_TRUE(o.new_tmp_files.empty()) << c.name << ": " << o.new_tmp_files.begin()->first;
        if (*c.key && c.line == kCheck) {
            EXPECT_EQ(sigsign_verify(c.key_bytes, c.file), 1) << c.name << ": sigsign verify";
        }
    }
}

} // namespace
