#include "tulka/protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

namespace {

using namespace tulka;

message key_event_bytes(const std::string &name_field)
{
    const uint8_t head[] = {44, 0, 0, 0, 4, 0, 0, 0, 116, 0, 0, 0, 1, 0, 0, 0};
    message expected(4 + 44, 0);
    std::copy(std::begin(head), std::end(head), expected.begin());
    std::copy(name_field.begin(), name_field.end(), expected.begin() + sizeof head);
    return expected;
}

TEST(Protocol, FramedMessagesHaveTheirExactBytes)
{
    EXPECT_EQ(frame(pack_learn_complete(false)), (message{8, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(frame(pack_learn_complete(true)), (message{8, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(frame(pack_learn_activity()), (message{4, 0, 0, 0, 6, 0, 0, 0}));
    EXPECT_EQ(frame(pack_learn_cancel()), (message{4, 0, 0, 0, 2, 0, 0, 0}));
    EXPECT_EQ(frame(pack_clear_learned()), (message{4, 0, 0, 0, 5, 0, 0, 0}));
    EXPECT_EQ(frame(pack_learn_start(0x01020304)), (message{8, 0, 0, 0, 1, 0, 0, 0, 4, 3, 2, 1}));
    EXPECT_EQ(frame(pack_learn_start(-2)), (message{8, 0, 0, 0, 1, 0, 0, 0, 0xfe, 0xff, 0xff, 0xff}));
    EXPECT_EQ(frame(pack_key_event(116, 1, "learned_KEY_POWER")), key_event_bytes("learned_KEY_POWER"));
}

TEST(Protocol, RemoteNameAlwaysKeepsATerminatingZero)
{
    const std::string n31(31, 'a'), n32(32, 'b'), n40(40, 'c');
    EXPECT_EQ(frame(pack_key_event(116, 1, n31)), key_event_bytes(n31));
    EXPECT_EQ(frame(pack_key_event(116, 1, n32)), key_event_bytes(n32.substr(0, 31)));
    EXPECT_EQ(frame(pack_key_event(116, 1, n40)), key_event_bytes(n40.substr(0, 31)));
    EXPECT_EQ(frame(pack_key_event(116, 1, "")), key_event_bytes(""));
}

TEST(Protocol, FieldsAreReadInOrderUntilTooFewBytesRemain)
{
    const message payload = {1, 0, 0, 0, 0xff, 0xff, 0xff, 0x7f, 9, 9, 9};
    size_t pos = 0;
    int32_t value = 0;
    ASSERT_EQ(read_field(payload, pos, value), 0);
    EXPECT_EQ(value, 1);
    ASSERT_EQ(read_field(payload, pos, value), 0);
    EXPECT_EQ(value, 0x7fffffff);
    EXPECT_EQ(read_field(payload, pos, value), -1);
    EXPECT_EQ(pos, 8u);
    pos = 100;
    EXPECT_EQ(read_field(payload, pos, value), -1);
    pos = 0;
    EXPECT_EQ(read_field(message{}, pos, value), -1);
}

TEST(Protocol, ServerEventsDecodeAndRejectShortPayloads)
{
    server_event event;
    message key = pack_key_event(164, 2, "repeat");
    key.push_back(0x55); // extra bytes are ignored
    ASSERT_EQ(unpack_server_event(key, event), 0);
    EXPECT_EQ(event.type, TULKA_MSG_KEY_EVENT);
    EXPECT_EQ(event.code, 164);
    EXPECT_EQ(event.value, 2);
    EXPECT_EQ(event.remote, "repeat");

    ASSERT_EQ(unpack_server_event(pack_learn_complete(true), event), 0);
    EXPECT_EQ(event.type, TULKA_MSG_LEARN_COMPLETE);
    EXPECT_EQ(event.result, 1);
    EXPECT_TRUE(event.remote.empty());

    ASSERT_EQ(unpack_server_event(message{99, 0, 0, 0}, event), 0);
    EXPECT_EQ(event.type, 99);

    message short_key = pack_key_event(116, 1, "x");
    short_key.pop_back();
    EXPECT_EQ(unpack_server_event(short_key, event), -1);
    EXPECT_EQ(unpack_server_event(message{3, 0, 0, 0}, event), -1);
    EXPECT_EQ(unpack_server_event(message{3, 0}, event), -1);
    EXPECT_EQ(unpack_server_event(message{}, event), -1);
}

TEST(Protocol, KeyValueWords)
{
    EXPECT_STREQ(key_value_word(0), "release");
    EXPECT_STREQ(key_value_word(1), "press");
    EXPECT_STREQ(key_value_word(2), "repeat");
    EXPECT_STREQ(key_value_word(3), "");
    EXPECT_STREQ(key_value_word(-1), "");
}

} // namespace
