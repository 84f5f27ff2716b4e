// sigscript: runs a shell script only if its signature checks out against
// the device key "/etc/shpub".
//
//   sigscript SIGNED-SCRIPT [ARGS...]
//
// Exit status 0 once the shell has run the script (whatever the script's
// own status), 255 on every failure before that. Nothing is written under
// /tmp before the signature has been accepted.
#include "mpi.h"
#include "sha256.h"
#include "signed_script.h"

#include "common/help_option.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#define TAG "[secure-script]"

namespace {

constexpr int kFailure = 255; // exit(-1)
constexpr size_t kPathSize = 256;
constexpr size_t kCommandSize = 1024;
constexpr char kTempTemplate[] = "/tmp/XXXXXX";
constexpr char kUsage[] =
    "usage: sigscript SIGNED-SCRIPT [ARGS...]\n"
    "Runs the shell script in SIGNED-SCRIPT with ARGS if its signature checks out\n"
    "against the key in /etc/shpub.\n"
    "Exit status: 0 once the shell has run the script, 255 on every failure before.\n";

uint8_t pubkey[script_format::kKeySize];
signed_script_t signed_script;
uint8_t pre_checksum[kNumberBytes];
uint8_t cal_checksum[kNumberBytes];
char command_buff[kCommandSize];

int fail(const char *line)
{
    puts(line);
    return kFailure;
}

// Reads the key; a short file leaves the rest of the modulus zero.
bool load_key()
{
    FILE *file = fopen(script_format::kKeyPath, "rb");
    if (!file)
        return false;
    size_t got = fread(pubkey, 1, sizeof pubkey, file);
    (void)got;
    fclose(file);
    return true;
}

bool signature_matches()
{
    // A zero modulus (empty key file) has no result: it matches nothing.
    if (RSADecryption65537(signed_script.signature, pubkey, pre_checksum) != 0)
        return false;
    sha256(signed_script.script, signed_script.length, cal_checksum);
    return memcmp(pre_checksum, cal_checksum, sizeof cal_checksum) == 0;
}

// Writes the script into the open temporary file; false if any byte failed.
bool write_script(FILE *tmp)
{
    size_t n = fwrite(signed_script.script, 1, signed_script.length, tmp);
    bool flushed = fflush(tmp) == 0;
    return fclose(tmp) == 0 && flushed && n == signed_script.length;
}

int run(int argc, char **argv)
{
    char path[kPathSize] = {};
    if (!load_key())
        return fail(TAG "Can not open secure-script public key!");

    const char *script_path = argc > 1 ? argv[1] : nullptr;
    FILE *file = script_path ? fopen(script_path, "rb") : nullptr;
    if (!file) {
        printf(TAG "Can not open script %s!\n", script_path ? script_path : "(none given)");
        return kFailure;
    }
    int status = read_header(file, &signed_script);
    if (status == kScriptOk)
        status = read_script(file, &signed_script);
    fclose(file);
    if (status == kScriptBadMagic)
        return fail(TAG "Maigc number is error!Not a signed script!");
    if (status == kScriptShort)
        return fail(TAG "Script length is larger than the file!Not a signed script!");
    if (status == kScriptNoMemory)
        return fail(TAG "Can not allocate memory for the script!");

    if (!signature_matches())
        return fail(TAG "Signature check is error!Not a signed script!");

    // The template is as long as the path mkstemp makes of it, so the
    // command is known to fit before anything is written.
    const int extra = argc > 2 ? argc - 2 : 0;
    if (build_command(command_buff, sizeof command_buff, kTempTemplate, extra, argv + 2) != 0)
        return fail(TAG "Command is too long!");

    strcpy(path, kTempTemplate);
    int fd = mkstemp(path);
    if (fd < 0) {
        printf(TAG "Can not create temp file %s\n", path);
        return kFailure;
    }
    printf(TAG "Create tmp file %s\n", path);
    FILE *tmp = fdopen(fd, "w");
    if (!tmp) {
        close(fd);
        unlink(path);
        return fail(TAG "Can not open tmp file");
    }
    if (!write_script(tmp)) {
        unlink(path);
        return fail(TAG "Can not write tmp file");
    }

    memset(command_buff, 0, sizeof command_buff);
    build_command(command_buff, sizeof command_buff, path, extra, argv + 2);
    fflush(stdout); // our lines come before the script's
    if (system(command_buff) == -1)
        return fail(TAG "Can not start the shell");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (answered_help_or_version(argc, argv, "sigscript", kUsage))
        return 0;
    int status = run(argc, argv);
    free_script(&signed_script);
    return status;
}
