// Captures for the infrared receiver: the text and raw forms, and when each
// word reaches a reader.
#include <gtest/gtest.h>

#include "vboard/lirc.h"

using namespace vboard;

TEST(IrCapture, TextWithCommentsAndRawWordsGiveTheSameWords)
{
    std::vector<uint32_t> words;
    std::string error;
    ASSERT_EQ(parse_ir_capture("# a press\n  pulse 9000\nspace\t4500 # header\n\npulse 560\n"
                               "space 16777215\ntimeout 130000\n",
                               IrFormat::Detect, &words, &error),
              0)
        << error;
    std::vector<uint32_t> expected = {0x01002328, 0x00001194, 0x01000230, 0x00FFFFFF, 0x0301FBD0};
    EXPECT_EQ(words, expected);

    std::string raw = {'\x28', '\x23', '\x00', '\x01', '\x94', '\x11', '\x00', '\x00'};
    ASSERT_EQ(parse_ir_capture(raw, IrFormat::Detect, &words, &error), 0) << error;
    EXPECT_EQ(words, (std::vector<uint32_t>{0x01002328, 0x00001194}));
    // Forced text: the same bytes are not text.
    EXPECT_EQ(parse_ir_capture(raw, IrFormat::Text, &words, &error), -1);
}

TEST(IrCapture, BadInputNamesTheLineAndKeepsNothingPartial)
{
    std::vector<uint32_t> words;
    std::string error;
    for (const char *text : {"pulse 9000\nspace\n", "pulse 9000\nspace -1\n", "pulse 9000\nspace 16777216\n",
                             "pulse 9000\nmark 10\n", "pulse 9000\nspace 10 20\n", "pulse 9000\nspace 10us\n"}) {
        EXPECT_EQ(parse_ir_capture(text, IrFormat::Text, &words, &error), -1) << text;
        EXPECT_EQ(error.rfind("line 2:", 0), 0u) << error;
    }
    EXPECT_EQ(parse_ir_capture(std::string("\x28\x23\x00\x01\x94", 5), IrFormat::Detect, &words, &error), -1);
    EXPECT_NE(error.find("5 bytes"), std::string::npos) << error;
}

TEST(IrCapture, WordsArriveWhenTheirPulseOrSpaceEnds)
{
    std::vector<uint32_t> words = {0x01002328, 0x00001194, kIrTimeoutSpace, 0x03000064, 0x02009C40};
    EXPECT_EQ(ir_schedule(words, 1),
              (std::vector<uint64_t>{9000, 13500, 13500 + kIrReceiverTimeoutUs, 13600 + kIrReceiverTimeoutUs,
                                     13600 + kIrReceiverTimeoutUs}));
    EXPECT_EQ(ir_schedule(words, 10)[1], 1350u);
}
