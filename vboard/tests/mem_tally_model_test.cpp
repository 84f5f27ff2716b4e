// The page-owner table generator and its board-file keys.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <map>
#include <sstream>

#include "vboard/board.h"
#include "vboard/mem_tally.h"

using namespace vboard;

namespace {

const char kNand[] = "nand.size = 4M\nnand.erasesize = 128K\nnand.writesize = 2K\nnand.oobsize = 64\n";

TEST(MemTallyKeys, SizesSeedsAndFiles)
{
    const struct {
        const char *lines;
        bool ok;
        uint64_t pages;
    } cases[] = {
        {"", true, 128 * 1024},
        {"mem_tally.size = 4G\nmem_tally.seed = 7\n", true, 1u << 20},
        {"mem_tally.size = 64K\nmem_tally.file = t.bin\nkallsyms.file = /k\n", true, 16},
        {"mem_tally.size = 8G\n", false, 0},
        {"mem_tally.size = 6000\n", false, 0},
        {"mem_tally.seed = x\n", false, 0},
        {"kallsyms.file =\n", false, 0},
    };
    for (const auto &c : cases) {
        BoardConfig board;
        std::string error;
        EXPECT_EQ(parse_board(std::string(kNand) + c.lines, &board, &error) == 0, c.ok) << c.lines << error;
        if (c.ok) {
            EXPECT_EQ(board.mem_tally.pages, c.pages) << c.lines;
        }
    }
}

// Kernel words lie inside functions of the served symbols, task
// words are the board's threads, and file and device words those of the view.
TEST(MemTallyGenerator, WordsNameWhatTheBoardAndItsSymbolsHold)
{
    KernelSymbols symbols = generate_kallsyms(3);
    EXPECT_EQ(generate_kallsyms(3).text, symbols.text);
    std::map<uint32_t, std::string> functions; // start of each named function
    std::istringstream lines(symbols.text);
    std::string line;
    while (std::getline(lines, line)) {
        unsigned address = 0;
        char type = 0, name[128];
        ASSERT_EQ(std::sscanf(line.c_str(), "%8x %c %127s", &address, &type, name), 3) << line;
        if ((type == 'T' || type == 't') && name[0] != '$') {
            functions[address] = name;
        }
    }
    BoardView view;
    view.threads = {1, 7, 8};
    view.file_words = {file_owner_word(8, 1, 12)};
    view.device_words = {device_owner_word(7, 0)};
    EXPECT_EQ(file_owner_word(8, 1, 1024), 0u);
    EXPECT_EQ(device_owner_word(8, 64), 0u);
    MemTallyConfig config;
    config.pages = 64 * 1024;
    std::string bytes = generate_mem_tally(config, view, symbols);
    ASSERT_EQ(bytes.size(), config.pages * 4);
    std::map<std::string, int> kinds;
    for (size_t i = 0; i < bytes.size(); i += 4) {
        uint32_t w = static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8 |
                     static_cast<uint8_t>(bytes[i + 2]) << 16 |
                     static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 3])) << 24;
        if (w == kOwnerFree || w == kOwnerNonBuddy) {
            ++kinds[w == kOwnerFree ? "free" : "non-buddy"];
        } else if (w < kOwnerKernelBase) {
            ASSERT_TRUE(w == 1 || w == 7 || w == 8) << w;
            ++kinds["task"];
        } else if (w >> 24 == 0xFF || w >> 24 == 0xFE) {
            ASSERT_TRUE(w == view.file_words[0] || w == view.device_words[0]) << std::hex << w;
            ++kinds[w >> 24 == 0xFF ? "file" : "device"];
        } else {
            auto f = functions.upper_bound(w);
            ASSERT_NE(f, functions.begin()) << std::hex << w;
            ASSERT_LT(w - std::prev(f)->first, 1024u) << std::hex << w; // inside the function's body
            ASSERT_NE(std::prev(f)->second, "_etext") << std::hex << w;
            ++kinds[w < 0xC0000000 ? "module" : "kernel"];
        }
    }
    for (const char *kind : {"free", "non-buddy", "task", "file", "device", "module", "kernel"}) {
        EXPECT_GT(kinds[kind], 0) << kind;
    }
}

} // namespace
