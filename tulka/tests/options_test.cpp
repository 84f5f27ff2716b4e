#include "options.h"

#include <boost/lexical_cast.hpp>
#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <vector>

namespace {

using namespace tulka;

settings read(std::vector<const char *> args)
{
    args.insert(args.begin(), "tulkad");
    return read_settings(static_cast<int>(args.size()), args.data());
}

bool help(std::vector<const char *> args)
{
    args.insert(args.begin(), "tulkad");
    return wants_help(static_cast<int>(args.size()), args.data());
}

TEST(Options, DefaultsWithoutOptions)
{
    const settings s = read({});
    EXPECT_EQ(s.repeat_ms, 300u);
    EXPECT_EQ(s.config_dir, "/etc/lirc/learned.d/");
    EXPECT_EQ(s.sample_ms, 3000u);
}

TEST(Options, ValuesAnywhereAndFirstOccurrenceWins)
{
    const settings s = read({"x", "-s", "1500", "-r", "100", "-r", "200", "-c", "/data/ir"});
    EXPECT_EQ(s.repeat_ms, 100u);
    EXPECT_EQ(s.sample_ms, 1500u);
    EXPECT_EQ(s.config_dir, "/data/ir/");
    EXPECT_EQ(read({"-c", "/data/ir/"}).config_dir, "/data/ir/");
    EXPECT_EQ(read({"-c", ""}).config_dir, "");
}

TEST(Options, NumbersConvertAsUnsigned32Bit)
{
    EXPECT_EQ(read({"-r", "+25"}).repeat_ms, 25u);
    EXPECT_EQ(read({"-r", "-1"}).repeat_ms, 4294967295u);
    EXPECT_EQ(read({"-r", "4294967295"}).repeat_ms, 4294967295u);
    for (const char *bad : {"1x", "", " 5", "4294967296", "0x10", "1.5", "--1"}) {
        try {
            read({"-s", bad});
            ADD_FAILURE() << "accepted " << bad;
        } catch (const boost::bad_lexical_cast &e) {
            EXPECT_STREQ(e.what(), "bad lexical cast: source type value could not be interpreted as target");
        }
    }
}

TEST(Options, OptionAsLastArgumentExpectsAParameter)
{
    for (const char *option : {"-r", "-c", "-s"}) {
        try {
            read({"-x", "5", option});
            ADD_FAILURE() << option << " accepted without a value";
        } catch (const std::invalid_argument &e) {
            EXPECT_EQ(std::string(e.what()), std::string(option) + " expects parameter");
        }
    }
}

TEST(Options, HelpIsAnExactArgument)
{
    EXPECT_TRUE(help({"-h"}));
    EXPECT_TRUE(help({"-r", "5", "-h"}));
    EXPECT_FALSE(help({}));
    EXPECT_FALSE(help({"-hx", "--h"}));
}

TEST(Options, UsageText)
{
    const std::string text = usage_text("./tulkad");
    const std::regex expected(
        "Tulka Server 2\\.7-rc2\n"
        "Build Date [A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-6][0-9]\n"
        "usage: \\./tulkad \\[OPTION\\]\\.\\.\\.\n"
        "  -h             Show this message\\.\n"
        "  -r MS          Key event repeat in milliseconds\\. Default: 300\n"
        "  -c DIR         lircd remote config dir\\. Default: /etc/lirc/learned\\.d/\n"
        "  -s MS          Sample milliseconds for learn\\. Default: 3000\n"
        "\n");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

} // namespace
