// Feeds arbitrary signed-script files and arguments to the header and
// length handling and to the command builder. Input: one byte n, n bytes of
// NUL-separated arguments, then the file. A script read must be exactly the
// file's bytes after the header; a refused length must lie beyond the file;
// a built command must split back into "sh", the path and the arguments,
// with nothing the shell would interpret outside quotes.
#include "signed_script.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

const char kPath[] = "/tmp/Ab12Cd";

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// Shell words of a command made of plain characters, blanks, '...' and \'.
std::vector<std::string> shell_words(const char *command)
{
    static const char kPlain[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_@%+=:,./-";
    std::vector<std::string> words;
    std::string word;
    bool in_word = false, quoted = false;
    for (const char *c = command; *c; ++c) {
        if (quoted) {
            if (*c == '\'')
                quoted = false;
            else
                word += *c;
        } else if (*c == ' ') {
            if (in_word)
                words.push_back(word);
            word.clear();
            in_word = false;
        } else if (*c == '\'') {
            quoted = in_word = true;
        } else if (*c == '\\') {
            check(c[1] == '\'');
            word += *++c;
            in_word = true;
        } else {
            check(strchr(kPlain, *c) != nullptr);
            word += *c;
            in_word = true;
        }
    }
    check(!quoted);
    if (in_word)
        words.push_back(word);
    return words;
}

void fuzz_file(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> copy(size + 1); // fmemopen wants a buffer even for an empty file
    memcpy(copy.data(), data, size);
    FILE *file = fmemopen(copy.data(), size, "rb");
    if (!file)
        return;
    signed_script_t s;
    int status = read_header(file, &s);
    check((status == kScriptOk) == (size >= script_format::kMagicSize && memcmp(data, "SIGNEDSCRIPT", 12) == 0));
    if (status == kScriptOk) {
        status = read_script(file, &s);
        size_t body = size >= script_format::kHeaderSize ? size - script_format::kHeaderSize : 0;
        if (status == kScriptOk)
            check(s.length <= body && memcmp(s.script, data + script_format::kHeaderSize, s.length) == 0);
        else
            check(status == kScriptShort && s.length > body && s.script == nullptr);
    }
    fclose(file);
    free_script(&s);
}

void fuzz_command(const uint8_t *data, size_t size)
{
    std::vector<std::string> args;
    std::string arg;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(arg);
            arg.clear();
        } else {
            arg += char(data[i]);
        }
    }
    args.push_back(arg);
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(&a[0]);
    char buff[1024];
    if (build_command(buff, sizeof buff, kPath, int(argv.size()), argv.data()) != 0)
        return;
    std::vector<std::string> expected = {"sh", kPath};
    expected.insert(expected.end(), args.begin(), args.end());
    check(shell_words(buff) == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    size_t n = data[0];
    if (n > size - 1)
        n = size - 1;
    fuzz_command(data + 1, n);
    fuzz_file(data + 1 + n, size - 1 - n);
    return 0;
}
