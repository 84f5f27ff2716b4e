#include "tulka/key_table.h"

#include <gtest/gtest.h>

namespace {

using tulka::key_codes;
using tulka::key_names;

TEST(KeyTable, HoldsEveryNamedCodeUpTo247ExceptTheGaps)
{
    EXPECT_EQ(key_names.size(), 240u);
    EXPECT_EQ(key_codes.size(), 240u);
    EXPECT_EQ(key_names.begin()->first, 0);
    EXPECT_EQ(key_names.rbegin()->first, 247);
    for (int32_t code : {84, 195, 196, 197, 198, 199, 240, 246, 248, -1, 65535})
        EXPECT_EQ(key_names.count(code), 0u) << code;
}

TEST(KeyTable, NamesAndCodesAgreeBothWays)
{
    for (const auto &[code, name] : key_names) {
        EXPECT_EQ(name.rfind("KEY_", 0), 0u) << name;
        const auto back = key_codes.find(name);
        ASSERT_NE(back, key_codes.end()) << name;
        EXPECT_EQ(back->second, code) << name;
    }
}

TEST(KeyTable, KnownPairsAndPreferredAliases)
{
    const std::pair<int32_t, const char *> pairs[] = {
        {0, "KEY_RESERVED"},     {1, "KEY_ESC"},          {116, "KEY_POWER"},
        {164, "KEY_PLAYPAUSE"},  {113, "KEY_MUTE"},       {122, "KEY_HANGEUL"},
        {152, "KEY_COFFEE"},     {153, "KEY_DIRECTION"},  {204, "KEY_DASHBOARD"},
        {244, "KEY_BRIGHTNESS_ZERO"}, {245, "KEY_DISPLAY_OFF"}, {247, "KEY_RFKILL"},
    };
    for (const auto &[code, name] : pairs) {
        EXPECT_EQ(key_names.at(code), name);
        EXPECT_EQ(key_codes.at(name), code);
    }
}

TEST(KeyTable, NameLookupIsExact)
{
    for (const char *name : {"key_power", "KEY_POWER_EVUP", "KEY_POWER ", "", "KEY_UNKNOWN",
                             "KEY_SCREENLOCK", "BTN_LEFT"})
        EXPECT_EQ(key_codes.count(name), 0u) << name;
}

} // namespace
