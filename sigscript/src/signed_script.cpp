#include "signed_script.h"

#include "common/le_bytes.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool plain_argument(const char *arg)
{
    static const char kPlain[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_@%+=:,./-";
    return *arg != '\0' && strspn(arg, kPlain) == strlen(arg);
}

void append_quoted(std::string *out, const char *arg)
{
    if (plain_argument(arg)) {
        *out += arg;
        return;
    }
    *out += '\'';
    for (const char *c = arg; *c; ++c) {
        if (*c == '\'')
            *out += "'\\''";
        else
            *out += *c;
    }
    *out += '\'';
}

} // namespace

int read_header(FILE *file, signed_script_t *s)
{
    uint8_t raw[script_format::kHeaderSize] = {};
    size_t got = fread(raw, 1, sizeof raw, file);
    (void)got; // a short header leaves zeros, which the magic check refuses
    memcpy(s->magic, raw, script_format::kMagicSize);
    s->length = le::load32(raw + script_format::kLengthOffset);
    memcpy(s->signature, raw + script_format::kSignatureOffset, script_format::kSignatureSize);
    s->script = nullptr;
    return memcmp(s->magic, script_format::kMagic, script_format::kMagicSize) == 0 ? kScriptOk : kScriptBadMagic;
}

size_t next_script_capacity(size_t capacity, size_t want)
{
    if (capacity == 0)
        return want < kFirstScriptChunk ? want : kFirstScriptChunk;
    // Compared before doubling: on the board 2 * 2 GiB wraps to 0, and
    // realloc to 0 bytes would free the buffer.
    if (capacity >= want || want - capacity <= capacity)
        return want;
    return 2 * capacity;
}

int read_script(FILE *file, signed_script_t *s)
{
    const size_t want = s->length;
    size_t capacity = 0, got = 0;
    uint8_t *buffer = static_cast<uint8_t *>(malloc(1)); // valid even for an empty script
    while (buffer && got < want) {
        if (got == capacity) {
            capacity = next_script_capacity(capacity, want);
            auto *grown = static_cast<uint8_t *>(realloc(buffer, capacity));
            if (!grown) {
                free(buffer);
                return kScriptNoMemory;
            }
            buffer = grown;
        }
        size_t n = fread(buffer + got, 1, capacity - got, file);
        got += n;
        if (n == 0)
            break;
    }
    if (!buffer)
        return kScriptNoMemory;
    if (got < want) {
        free(buffer);
        return kScriptShort;
    }
    s->script = buffer;
    return kScriptOk;
}

void free_script(signed_script_t *s)
{
    free(s->script);
    s->script = nullptr;
}

int build_command(char *buff, size_t size, const char *path, int argc, char *const *argv)
{
    std::string command = "sh ";
    command += path;
    for (int i = 0; i < argc; ++i) {
        command += ' ';
        append_quoted(&command, argv[i]);
    }
    if (size == 0)
        return -1;
    if (command.size() >= size) {
        buff[0] = '\0';
        return -1;
    }
    memcpy(buff, command.c_str(), command.size() + 1);
    return 0;
}
