#include <gtest/gtest.h>

#include <string>

#include "stamp.h"

TEST(TslinesStamp, FieldsHoursWrapAndMilliseconds)
{
    struct Case {
        uint32_t seconds, microseconds;
        const char *stamp;
    } cases[] = {
        {0, 0, "00:00:00.000 "},
        {3725, 42000, "01:02:05.042 "},
        {3725, 42999, "01:02:05.042 "}, // cut, not rounded
        {359999, 999999, "99:59:59.999 "},
        {360000, 0, "00:00:00.000 "}, // 100 hours
        {4294967295u, 7000, "46:28:15.007 "},
        {59, 1250000, "00:00:59.250 "}, // past a whole second: still three digits
    };
    for (const Case &c : cases) {
        char out[tslines::kStampLength];
        tslines::format_stamp(c.seconds, c.microseconds, out);
        EXPECT_EQ(std::string(out, sizeof out), c.stamp) << c.seconds << " s " << c.microseconds << " us";
    }
}
