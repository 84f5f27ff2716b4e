// modload on the virtual board, whose init_module records what it loads.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "vboard/module.h"
#include "vboard/state.h"
#include "vboard/testkit.h"

using namespace vboard::testkit;

namespace {

// The header of a 32-bit relocatable ARM object and its module information.
std::string module_bytes(const std::string &name)
{
    std::string elf(52, '\0');
    elf.replace(0, 7,
                "\x7f"
                "ELF\x01\x01\x01");
    elf[16] = 1;  // ET_REL
    elf[18] = 40; // EM_ARM
    elf[20] = 1;
    return elf + std::string("license=GPL\0name=", 17) + name + std::string(1, '\0');
}

void put_file(Board &board, const std::string &board_path, const std::string &bytes)
{
    std::string path = board.written_path(board_path);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_EQ(vboard::write_text_file(path, bytes), 0);
}

} // namespace

TEST(Modload, FailuresCarryTheSystemsErrorTextAndItsNumberAsStatus)
{
    Board board;
    const std::string notes = "not a module\n";
    put_file(board, "/root/notes.txt", notes);
    std::string modload = bin_path("modload");
    struct Case {
        std::vector<std::string> argv;
        int status;
        std::string err;
    } cases[] = {
        {{modload}, 22, "usage: insmod <module.o>\n"},
        {{modload, "/root/none.ko", "x=1"}, 2, "insmod: can't open '/root/none.ko', No such file or directory\n"},
        {{modload, "/etc"}, 21, "insmod: can't open '/etc', Is a directory\n"},
        {{modload, "/root/notes.txt"}, 8, "insmod: init_module '/root/notes.txt' failed (Exec format error)\n"},
        {{"sh", "-c", "mkfifo /tmp/m.ko && exec " + modload + " /tmp/m.ko"},
         22,
         "insmod: can't open '/tmp/m.ko', not a regular file\n"},
        {{modload, "/dev/zero"}, 22, "insmod: can't open '/dev/zero', not a regular file\n"},
    };
    for (const Case &c : cases) {
        Result r = board.run(c.argv);
        EXPECT_EQ(r.status, c.status) << c.argv.back();
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08x", vboard::inspect_module(notes.data(), notes.size()).crc32);
    EXPECT_EQ(board.journal_lines("init_module"),
              std::vector<std::string>{"init_module - 13 bytes crc32 " + std::string(crc) +
                                       " not-ELF options \"\" = -1 ENOEXEC"});
    EXPECT_TRUE(vboard::loaded_modules(board.dir()).empty());
}

// Files under /proc say they hold 0 bytes: the kernel gets what they hold.
TEST(Modload, ReadsAFileToItsEndWhateverItsSizeSays)
{
    Board board;
    Result r = board.run({bin_path("modload"), "/proc/version"});
    EXPECT_EQ(r.status, 8);
    std::ifstream version("/proc/version");
    std::string text((std::istreambuf_iterator<char>(version)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(text.empty());
    std::vector<std::string> calls = board.journal_lines("init_module");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].rfind("init_module - " + std::to_string(text.size()) + " bytes", 0), 0u) << calls[0];
}

TEST(Modload, LoadsOncePerBootWithTheExactOptionText)
{
    Board board;
    std::string image = module_bytes("pelda_demo");
    put_file(board, "/root/pelda_demo.ko", image);
    std::string modload = bin_path("modload");

    Result r = board.run({"sh", "-c", modload + " /root/pelda_demo.ko x=1 y=2 && " + modload + " /root/pelda_demo.ko"});
    EXPECT_EQ(r.status, 17);
    EXPECT_EQ(r.err, "insmod: init_module '/root/pelda_demo.ko' failed (File exists)\n");
    std::vector<vboard::LoadedModule> loaded = vboard::loaded_modules(board.dir());
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].name, "pelda_demo");
    EXPECT_EQ(loaded[0].size, image.size());
    EXPECT_EQ(loaded[0].crc32, vboard::inspect_module(image.data(), image.size()).crc32);
    EXPECT_EQ(loaded[0].options, "x=1 y=2");
    std::vector<std::string> calls = board.journal_lines("init_module");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_NE(calls[0].find(" ELF options \"x=1 y=2\" = 0"), std::string::npos) << calls[0];
    EXPECT_NE(calls[1].find(" ELF options \"\" = -1 EEXIST"), std::string::npos) << calls[1];

    // A new boot has no modules: the same one loads again, its long option cut.
    r = board.run({modload, "/root/pelda_demo.ko", "p=" + std::string(1500, 'v'), "q=1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    loaded = vboard::loaded_modules(board.dir());
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].options, "p=" + std::string(1021, 'v'));
}
