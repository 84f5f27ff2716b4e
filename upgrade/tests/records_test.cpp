#include "led.h"
#include "raw_bytes.h"
#include "records.h"

#include <gtest/gtest.h>

namespace {

TEST(Records, StatusRecordBytes)
{
    t_upg_status s{};
    s.u4_head_sign = upg::kStatusHeadSig;
    s.u4_progress = 0x80000001;
    s.au4_part_id[0] = 4;
    s.au4_part_id[31] = 0x1234;
    s.u4_part_count = 2;
    s.u4_tail_sign = upg::kStatusTailSig;
    raw::Bytes b(upg::kStatusBytes, 0xEE);
    upg::encode_status(b.b.data(), s);
    EXPECT_EQ(std::string(b.b.begin(), b.b.begin() + 4), "SGPU");
    EXPECT_EQ(b.get32(4), 0x80000001u);
    EXPECT_EQ(b.get32(8), 4u);
    EXPECT_EQ(b.get32(8 + 31 * 4), 0x1234u);
    EXPECT_EQ(b.get32(136), 2u);
    EXPECT_EQ(std::string(b.b.begin() + 140, b.b.begin() + 144), "UPGS");
    for (size_t i = 144; i < 176; ++i)
        EXPECT_EQ(b.b[i], 0) << i;
    t_upg_status back = upg::decode_status(b.b.data());
    EXPECT_EQ(0, std::memcmp(&back, &s, sizeof s));
}

TEST(Records, PitAndBitRecordsReadInTheirFileOrder)
{
    raw::Bytes b;
    raw::pit_record(b, 0, "sixteen_chars_ab", 7, 0x43008, 0x1000, 0x2000);
    b.u32(32, 0xAA);
    b.u32(36, 0xBB);
    t_pit_entry_ntbl n = upg::decode_ntbl_pit_record(b.b.data());
    EXPECT_EQ(std::string(n.acName, 16), "sixteen_chars_ab");
    EXPECT_EQ(n.i4PartId, 7);
    EXPECT_EQ(upg::pit_type(n.u4Flags), 3u);
    EXPECT_EQ(upg::pit_container(n.u4Flags), 4u);
    EXPECT_EQ(n.u4Offset, 0x1000u);
    EXPECT_EQ(n.u4Extra2, 0xBBu);
    t_pit_entry_old o = upg::decode_old_pit_record(b.b.data());
    EXPECT_EQ(o.u4Size, 0x2000u);

    raw::Bytes r;
    raw::bit_record(r, 0, 5, 0x100, 0x200, 0x300);
    t_bit_entry e = upg::decode_bit_record(r.b.data());
    EXPECT_EQ(e.i4PartId, 5);
    EXPECT_EQ(e.u4ImageOffset, 0x100u);
    EXPECT_EQ(e.u4Length, 0x200u);
    EXPECT_EQ(e.u4PartOffset, 0x300u);
    raw::Bytes again(20);
    upg::encode_bit_record(again.b.data(), e);
    EXPECT_EQ(again.b, r.b);
}

TEST(Records, NameFields)
{
    char field[16] = {'f', 'e', '_', 'b', 'i', 'n', '_', 'x'};
    EXPECT_TRUE(upg::name_contains(field, "fe_bin"));
    EXPECT_FALSE(upg::name_is(field, "fe_bin"));
    EXPECT_TRUE(upg::name_is(field, "fe_bin_x"));
    char full[16];
    std::memcpy(full, "boot_loader_0123", 16); // no terminator
    EXPECT_TRUE(upg::name_starts_with(full, "boot_"));
    EXPECT_TRUE(upg::name_is(full, "boot_loader_0123"));
    EXPECT_FALSE(upg::name_contains(full, "0123x"));
}

TEST(Records, I2cRequestForTheLedController)
{
    uint8_t value = 0x5A;
    t_i2c_request r = upg::i2c_write_request(0xA8, 0x0F, &value);
    EXPECT_EQ(r.u1DevAddr, 0x54);
    EXPECT_EQ(r.u2RegAddr, 0x0F);
    EXPECT_EQ(r.u1RegAddrLen, 1);
    EXPECT_EQ(r.pu1Data, &value);
    EXPECT_EQ(r.u4AddrMode, 0u);
    EXPECT_EQ(r.u4Clock, 50u);
    EXPECT_EQ(r.u4Enable, 1u);
    EXPECT_EQ(upg::i2c_write_request(0x88, 0, &value).u4AddrMode, 1u) << "7-bit 0x44";
    EXPECT_EQ(upg::i2c_write_request(0xC8, 0, &value).u4Clock, 250u) << "7-bit 0x64";
#if BOARD_TARGET_ILP32
    raw::Bytes b(sizeof r);
    std::memcpy(b.b.data(), &r, sizeof r);
    EXPECT_EQ(b.b[0], 0x54);
    EXPECT_EQ(b.b[2], 0x0F);
    EXPECT_EQ(b.b[4], 1);
    EXPECT_EQ(b.get32(8), static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&value)));
    EXPECT_EQ(b.get32(24), 50u);
    EXPECT_EQ(b.b[28], 5);
    EXPECT_EQ(b.b[29], 6);
    EXPECT_EQ(b.get32(32), 1u);
#endif
    t_i2c_request setup = upg::i2c_bus_setup_request();
    EXPECT_EQ(setup.u1BusSetup0, 5);
    EXPECT_EQ(setup.u1BusSetup1, 6);
    EXPECT_EQ(setup.u4Enable, 0u);
    EXPECT_EQ(setup.pu1Data, nullptr);
}

} // namespace
