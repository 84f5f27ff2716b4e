// Row texts and frames, on small files standing in for /proc and /tmp.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "frame.h"
#include "vboard/temp_dir.h"

using namespace memtally;
namespace fs = std::filesystem;

namespace {

class Labels : public ::testing::Test {
protected:
    void SetUp() override
    {
        src_.kallsyms = dir_ + "/kallsyms";
        src_.proc = dir_ + "/proc";
        src_.dev_list = dir_ + "/dev.txt";
        src_.inum_list = dir_ + "/inum.txt";
        src_.find_root = dir_ + "/files";
        fs::create_directories(dir_ + "/files/sub");
    }
    void write(const std::string &name, const std::string &text)
    {
        fs::create_directories(fs::path(dir_ + "/" + name).parent_path());
        std::ofstream(dir_ + "/" + name) << text;
    }
    Window window(std::initializer_list<uint32_t> keys)
    {
        table_.count = 0;
        for (uint32_t key : keys) {
            table_.entries[table_.count++] = Owner{key, 3, 1};
        }
        return Window{&table_, 0, rows_};
    }
    vboard::testkit::TempDir temp_{"memtally-labels"};
    const std::string dir_ = temp_.path();
    Sources src_;
    OwnerTable table_;
    RowText rows_[kWindowRows];
};

TEST_F(Labels, SymbolAtOrBelowTheKeySkippingMappingSymbolsAndWithModules)
{
    write("kallsyms",
          "c0008000 T stext\n"
          "c0008100 t $a\n"
          "c0008100 T alloc_one\n"
          "c0008180 t $d\n"
          "c0009000 T later\n"
          "bf000000 t $a\t[vdec]\n"
          "bf000000 t vdec_alloc\t[vdec]\n");
    Window w = window({0xC0008104, 0xC0008180, 0xBF000010, 0xC0008000, 5});
    find_symbols(src_, w);
    const char *expected[][2] = {{"alloc_one", ""}, {"$d", ""}, {"vdec_alloc", "[vdec]"}, {"stext", ""}, {"", ""}};
    for (int r = 0; r < 5; ++r) {
        EXPECT_STREQ(rows_[r].symbol, expected[r][0]) << r;
        EXPECT_STREQ(rows_[r].module, expected[r][1]) << r;
    }
}

TEST_F(Labels, ThreadAndProcessNamesWithOrWithoutUmaskLine)
{
    write("proc/42/stat", "42 (worker) S 1\n");
    write("proc/42/status", "Name:\tworker\nUmask:\t0022\nState:\tS (sleeping)\nTgid:\t40\nPid:\t42\n");
    write("proc/40/stat", "40 (player_with_a_very_long_name_over_39_chars) S 1\n");
    write("proc/43/stat", "43 (old) S 1\n");
    write("proc/43/status", "Name:\told\nState:\tS (sleeping)\nTgid:\t40\nPid:\t43\n");
    write("proc/45/status", "Name:\tTgid: 1\nUmask:\t0022\nState:\tS (sleeping)\nTgid:\t40\nPid:\t45\n");
    EXPECT_EQ(thread_group(src_, 42), 40u);
    EXPECT_EQ(thread_group(src_, 43), 40u);
    EXPECT_EQ(thread_group(src_, 45), 40u); // the label inside its name is not the line
    EXPECT_EQ(thread_group(src_, 44), 44u);
    Window w = window({42, 44});
    find_symbols(src_, w);
    find_names(src_, w, 1);
    EXPECT_STREQ(rows_[0].module, "(worker)(player_with_a_very_long_name_over_39_c");
    EXPECT_STREQ(rows_[1].module, "");
    find_names(src_, w, 0);
    EXPECT_STREQ(rows_[0].module, "(worker)");
}

TEST_F(Labels, FilesAndDevicesByFileMode)
{
    // A file of the search tree whose inode bits and device make the key.
    write("files/sub/movie.ts", "x");
    struct stat st;
    ASSERT_EQ(::stat((dir_ + "/files/sub/movie.ts").c_str(), &st), 0);
    if (major(st.st_dev) > 0xFF || minor(st.st_dev) > 0x3F) {
        GTEST_SKIP() << "device numbers of " << dir_ << " do not fit an owner word";
    }
    uint32_t file = 0xFF000000 | major(st.st_dev) << 16 | minor(st.st_dev) << 10 | (st.st_ino & 0x3FF);
    uint32_t null_device = 0xFE000000 | 1 << 16 | 3 << 10;
    src_.dev_dir = dir_ + "/devnodes";
    fs::create_directories(src_.dev_dir);
    Window w = window({file, null_device, 0xFFFFFFFF});
    struct Case {
        int mode;
        std::string file_module, device_module;
    } cases[] = {{0, "", ""},
                 {2,
                  "(" + std::to_string(major(st.st_dev)) + "," + std::to_string(minor(st.st_dev)) + "," +
                      std::to_string(st.st_ino & 0x3FF) + ")",
                  "(1,3)"}};
    for (const Case &c : cases) {
        find_symbols(src_, w);
        find_files(src_, w, c.mode);
        EXPECT_STREQ(rows_[0].symbol, "[FILE CACHE]");
        EXPECT_EQ(rows_[0].module, c.file_module);
        EXPECT_STREQ(rows_[1].symbol, "[DEVICE BUFFER]");
        EXPECT_EQ(rows_[1].module, c.device_module);
    }
    // Mode 1: the search finds the file only when its inode bits are its
    // whole inode number; the device list is `ls -l` of a directory holding
    // a block node with the key's numbers (and a character node with the same
    // numbers, listed later). A planted link under the list's name is replaced.
    ASSERT_EQ(::mknod((src_.dev_dir + "/null").c_str(), S_IFBLK | 0666, makedev(1, 3)), 0);
    ASSERT_EQ(::mknod((src_.dev_dir + "/z_char").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    ASSERT_EQ(::symlink((dir_ + "/victim").c_str(), src_.dev_list.c_str()), 0);
    find_symbols(src_, w);
    find_files(src_, w, 1);
    EXPECT_STREQ(rows_[0].symbol, "[FILE CACHE]");
    EXPECT_STREQ(rows_[0].module, st.st_ino < 1024 ? "movie.ts" : "");
    EXPECT_STREQ(rows_[1].symbol, "[DEVICE BUFFER]");
    EXPECT_STREQ(rows_[1].module, "null");
    EXPECT_FALSE(fs::exists(dir_ + "/victim"));
    EXPECT_FALSE(fs::is_symlink(src_.dev_list));
}

// A look-up file that cannot be made ends the look-ups: the later rows
// keep their labels, not the kernel symbol below their keys.
TEST_F(Labels, RowsAfterAFailedLookUpKeepTheirLabels)
{
    write("kallsyms", "c0008000 T stext\n");
    src_.inum_list = dir_ + "/missing/inum.txt";
    src_.dev_dir = dir_ + "/devnodes";
    fs::create_directories(src_.dev_dir);
    Window w = window({0xFF080401, 0xFF080402, 0xFE010C00});
    find_symbols(src_, w);
    find_files(src_, w, 1);
    const char *labels[] = {"[FILE CACHE]", "[FILE CACHE]", "[DEVICE BUFFER]"};
    for (int r = 0; r < 3; ++r) {
        EXPECT_STREQ(rows_[r].symbol, labels[r]) << r;
        EXPECT_STREQ(rows_[r].module, "") << r;
    }
}

TEST(Frame, RowsBlankRowsAndFooterInBothViews)
{
    OwnerTable table;
    table.count = 3;
    table.entries[0] = Owner{0, 100, 2};
    table.entries[1] = Owner{1234, 7, 1};
    table.entries[2] = Owner{0xC0123456, 1, 1};
    RowText rows[kWindowRows];
    std::snprintf(rows[1].module, kTextBytes, "%s", "(thread_name_long)(process_name_longer_xx)");
    std::snprintf(rows[2].symbol, kTextBytes, "%s", "a_symbol_longer_than_26_chars");
    Window w{&table, 0, rows};
    std::string blanks;
    for (int n = 4; n <= 20; ++n) {
        char line[96];
        std::snprintf(line, sizeof line, "%4d%73s\n", n, "");
        blanks += line;
    }
    const std::string footer =
        "Use 'memtally --help' to see more help. Total memory: 4096K\n"
        "Use 'memtally -d=1' to print only one time.\n"
        "'Q': Quit. 'P': Prev page. 'N': Next page. 'T': Thread. 'F': File";
    EXPECT_EQ(render_frame(w, 1, 1024),
              "\033[0;0H IDX CALLER/PID     SIZE              SYMBOL        MODULE/THREAD(PROCESS)\n"
              "   1 0x00000000:    400K,      [FREE PAGES],                              \n"
              "   2       1234:     28K,                  , (thread_name_long)(process_na\n"
              "   3 0xC0123456:      4K, a_symbol_longer_t,                              \n" +
                  blanks + footer);
    EXPECT_EQ(render_frame(w, 0, 1024),
              "\033[0;0H IDX CALLER/PID     SIZE   FRAG                      SYMBOL  MODULE/PROCESS\n"
              "   1 0x00000000:    400K,     2,               [FREE PAGES],               \n"
              "   2       1234:     28K,     1,                           , (thread_name_l\n"
              "   3 0xC0123456:      4K,     1, a_symbol_longer_than_26_ch,               \n" +
                  blanks + footer);
}

} // namespace
