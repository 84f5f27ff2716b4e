// Reading the signed-script header and body, and the shell command.
#include "signed_script.h"

#include "common/le_bytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string file_bytes(const std::string &magic, uint32_t length, const std::string &script)
{
    std::string header(script_format::kHeaderSize, '\x5A');
    header.replace(0, magic.size(), magic);
    le::store32(&header[script_format::kLengthOffset], length);
    return header + script;
}

TEST(SignedScript, HeaderAndLengthHandling)
{
    const std::string magic = "SIGNEDSCRIPT";
    struct Case {
        const char *name;
        std::string bytes;
        int status;
        std::string script;
    } cases[] = {
        {"script of its length", file_bytes(magic, 5, "echo!"), kScriptOk, "echo!"},
        {"bytes after the script are ignored", file_bytes(magic, 4, "echo!"), kScriptOk, "echo"},
        {"empty script", file_bytes(magic, 0, ""), kScriptOk, ""},
        {"length one beyond the file", file_bytes(magic, 6, "echo!"), kScriptShort, ""},
        {"length near 4 GiB", file_bytes(magic, 0xFFFFFFFF, "echo!"), kScriptShort, ""},
        {"wrong magic", file_bytes("SIGNEDSCRIPt", 5, "echo!"), kScriptBadMagic, ""},
        {"header cut inside the magic", "SIGNED", kScriptBadMagic, ""},
        {"empty file", "", kScriptBadMagic, ""},
    };
    for (auto &c : cases) {
        FILE *file = fmemopen(c.bytes.empty() ? nullptr : &c.bytes[0], c.bytes.size(), "rb");
        ASSERT_NE(file, nullptr) << c.name;
        signed_script_t s;
        int status = read_header(file, &s);
        if (status == kScriptOk)
            status = read_script(file, &s);
        fclose(file);
        EXPECT_EQ(status, c.status) << c.name;
        if (status == kScriptOk) {
            EXPECT_EQ(std::string(reinterpret_cast<char *>(s.script), s.length), c.script) << c.name;
            EXPECT_EQ(s.signature[0], 0x5A) << c.name;
        } else {
            EXPECT_EQ(s.script, nullptr) << c.name;
        }
        free_script(&s);
    }
}

TEST(SignedScript, BufferGrowthStopsAtTheLengthWithoutWrapping)
{
    const size_t kTop = SIZE_MAX / 2 + 1; // doubling it wraps to 0
    struct Case {
        size_t capacity, want, next;
    } cases[] = {
        {0, 10, 10},
        {0, 1 << 20, kFirstScriptChunk},
        {kFirstScriptChunk, 1 << 20, 2 * kFirstScriptChunk},
        {1 << 19, 1 << 20, 1 << 20},
        {1 << 19, (1 << 20) - 1, (1 << 20) - 1},
        {0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFFu}, // the board's 2 GiB step
        {kTop, SIZE_MAX, SIZE_MAX},
    };
    for (const auto &c : cases)
        EXPECT_EQ(next_script_capacity(c.capacity, c.want), c.next) << c.capacity << " of " << c.want;
}

TEST(SignedScript, CommandQuotesWhatTheShellWouldInterpret)
{
    struct Case {
        std::vector<std::string> args;
        const char *command;
    } cases[] = {
        {{}, "sh /tmp/Ab12Cd"},
        {{"a", "b"}, "sh /tmp/Ab12Cd a b"},
        {{"--mode=fast", "/dev/mtd3", "user@host:1,2", "50%+1"},
         "sh /tmp/Ab12Cd --mode=fast /dev/mtd3 user@host:1,2 50%+1"},
        {{"two words"}, "sh /tmp/Ab12Cd 'two words'"},
        {{"$(reboot)", "`id`", "a;b", "x|y", "*"}, "sh /tmp/Ab12Cd '$(reboot)' '`id`' 'a;b' 'x|y' '*'"},
        {{"it's"}, "sh /tmp/Ab12Cd 'it'\\''s'"},
        {{""}, "sh /tmp/Ab12Cd ''"},
        {{"line\nbreak"}, "sh /tmp/Ab12Cd 'line\nbreak'"},
    };
    for (const auto &c : cases) {
        std::vector<char *> argv;
        for (const auto &a : c.args)
            argv.push_back(const_cast<char *>(a.c_str()));
        char buff[1024];
        ASSERT_EQ(build_command(buff, sizeof buff, "/tmp/Ab12Cd", int(argv.size()), argv.data()), 0) << c.command;
        EXPECT_STREQ(buff, c.command);
    }
}

TEST(SignedScript, CommandMustFitTheBuffer)
{
    const std::string head = "sh /tmp/Ab12Cd ";
    for (size_t total : {1023u, 1024u, 5000u}) {
        std::string arg(total - head.size(), 'x');
        char *argv[] = {&arg[0]};
        char buff[1024];
        memset(buff, 'z', sizeof buff);
        int status = build_command(buff, sizeof buff, "/tmp/Ab12Cd", 1, argv);
        if (total < sizeof buff) {
            EXPECT_EQ(status, 0) << total;
            EXPECT_EQ(strlen(buff), total);
        } else {
            EXPECT_EQ(status, -1) << total;
            EXPECT_EQ(buff[0], '\0') << total;
        }
    }
}

} // namespace
