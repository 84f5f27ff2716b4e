#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options.h"

namespace {

std::string options_of(std::vector<std::string> args)
{
    std::vector<char *> argv;
    for (std::string &a : args) {
        argv.push_back(&a[0]);
    }
    char area[modload::kOptionArea];
    std::fill(area, area + sizeof area, 'X');
    modload::build_options(static_cast<int>(argv.size()), argv.data(), area);
    return area;
}

} // namespace

TEST(ModloadOptions, JoinedBySingleSpacesAndCutAt1023Characters)
{
    const std::string a1022(1022, 'a'), a1021(1021, 'a'), a1020(1020, 'a'), a2000(2000, 'a');
    struct Case {
        std::vector<std::string> args;
        std::string text;
    } cases[] = {
        {{}, ""},
        {{"x=1"}, "x=1"},
        {{"x=1", "y=2"}, "x=1 y=2"},
        {{a2000}, std::string(1023, 'a')},
        {{a2000, "y=2"}, std::string(1023, 'a')},
        {{a1020, "abcdef"}, a1020 + " ab"}, // the last option is cut too
        {{a1021, "y=2"}, a1021 + " y"},
        {{a1022, "y=2"}, a1022},          // the area ends with the space
        {{"x=1", "", "y=2"}, "x=1  y=2"}, // an empty option keeps its space
    };
    for (const Case &c : cases) {
        std::string text = options_of(c.args);
        EXPECT_EQ(text, c.text) << c.args.size() << " options, text of " << text.size();
        EXPECT_LE(text.size(), 1023u);
    }
}
