// Reading a signed-script file and building the shell command that runs it.
#ifndef SIGSCRIPT_SIGNED_SCRIPT_H
#define SIGSCRIPT_SIGNED_SCRIPT_H

#include "script_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct signed_script_t {
    uint8_t magic[script_format::kMagicSize];
    uint32_t length;
    uint8_t signature[script_format::kSignatureSize];
    uint8_t *script; // length bytes (malloc'd), or null before read_script
};

constexpr int kScriptOk = 0;
constexpr int kScriptBadMagic = -1;
constexpr int kScriptShort = -2; // the file ends before length bytes
constexpr int kScriptNoMemory = -3;

constexpr size_t kFirstScriptChunk = 64 * 1024;

// Reads up to 272 header bytes (missing ones stay zero). kScriptOk, or
// kScriptBadMagic.
int read_header(FILE *file, signed_script_t *s);
// Reads s->length script bytes into a fresh buffer that grows with the
// data actually read, so a length beyond the file costs no more memory than
// the file. kScriptOk, kScriptShort or kScriptNoMemory; s->script is null
// on failure.
int read_script(FILE *file, signed_script_t *s);
// The script buffer's next size once capacity bytes are full, for a script
// of want bytes: kFirstScriptChunk, then doubling, never beyond want.
size_t next_script_capacity(size_t capacity, size_t want);
void free_script(signed_script_t *s);

// Writes "sh <path>" and one blank and argument per argv entry into buff
// (size bytes, terminated). Arguments made of plain characters stay as they
// are, any other is single-quoted, so the shell sees each one as a single
// word. Returns 0, or -1 (buff emptied) when it does not fit.
int build_command(char *buff, size_t size, const char *path, int argc, char *const *argv);

#endif
