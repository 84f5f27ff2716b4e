// pbplay against the real engine simulator: a file of a few MiB played in
// pull mode arrives byte-exact, and every way out has its exit status.
#include "checksum.h"
#include "engine_harness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace {

using pbharness::Outcome;

// pbplay's exit status and standard output (the library's lines included).
Outcome pbplay(const std::string &args)
{
    return pbharness::run(std::string(PBPLAY_PATH) + " " + args + " 2>/dev/null");
}

class Pbplay : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(engine_.start());
        path_ = pbharness::use_private_rpc_dir() + "/media.bin";
        std::vector<char> data(kBytes);
        std::mt19937 gen(7);
        for (char &c : data)
            c = static_cast<char>(gen());
        std::ofstream(path_, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
        char sum[32];
        std::snprintf(sum, sizeof sum, "%016llx",
                      static_cast<unsigned long long>(pbsim::checksum_of(data.data(), data.size())));
        checksum_ = sum;
    }

    static constexpr size_t kBytes = 4 * 1024 * 1024 + 321;
    pbharness::Engine engine_;
    std::string path_;
    std::string checksum_;
};

TEST_F(Pbplay, PlaysAFileByteExactInPullMode)
{
    const Outcome r = pbplay(path_);
    ASSERT_EQ(r.status, 0) << r.out;
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(r.out, m, std::regex("pbplay: playback ([0-9]+), " + std::to_string(kBytes) + " bytes\n")))
        << r.out;
    EXPECT_EQ(engine_.ok("played " + m[1].str()), std::to_string(kBytes) + " " + checksum_);
    EXPECT_NE(r.out.find("(100%)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("pbplay: engine result 0\n"), std::string::npos) << r.out;
    // Where the engine's events reach pbplay, the checksum they report is the file's.
    const std::regex reported("checksum ([0-9a-f]{16})");
    for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), reported); it != std::sregex_iterator(); ++it)
        EXPECT_EQ((*it)[1].str(), checksum_);
}

TEST_F(Pbplay, ExitStatusesTellWhatWentWrong)
{
    engine_.ok("result x_QivPb_Ctrl_Play -1");
    const struct {
        std::string args;
        int status;
    } cases[] = {
        {"-h", 0},
        {"", 2},
        {"-t 0 " + path_, 2},
        {"-x " + path_, 2},
        {path_ + " " + path_, 2},
        {path_ + ".missing", 3},
        {pbharness::use_private_rpc_dir(), 3},
        {path_, 4}, // the engine refuses Play
    };
    for (const auto &c : cases)
        EXPECT_EQ(pbplay(c.args).status, c.status) << c.args;
    engine_.stop();
    EXPECT_EQ(pbplay(path_).status, 4) << "no engine";
}

TEST(PbplayOptions, HelpAndVersionGoToStandardOutput)
{
    const Outcome help = pbplay("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: pbplay ", 0), 0u) << help.out;
    const Outcome version = pbplay("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("pbplay [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.out;
}

} // namespace
