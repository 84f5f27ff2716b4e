#include "image_tables.h"
#include "mtd_geometry.h"
#include "raw_bytes.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace upg {

uint32_t test_nand_size = 0x10000000;

int whole_nand_info(mtd_info_user *info)
{
    *info = {};
    info->size = test_nand_size;
    info->erasesize = 0x20000;
    info->writesize = 2048;
    return kNandInfoOk;
}

} // namespace upg

namespace {

constexpr uint32_t kIdxHead = 0x50495469, kIdxTail = 0x69544950;
constexpr uint32_t kPitHead = 0x8530EADC, kPitTail = 0xC0CAC01A;
constexpr uint32_t kBitHead = 0x8530ABCD, kBitTail = 0x8530EFEF;
constexpr uint32_t k256M = 0x10000000, k128M = 0x8000000;

struct ScanResult {
    int rc;
    std::string out;
};

ScanResult scan(raw::Bytes &img, uint32_t nand = k256M)
{
    upg::test_nand_size = nand;
    FILE *f = fmemopen(img.b.data(), img.b.size(), "rb");
    testing::internal::CaptureStdout();
    int rc = upg_scan_image(f);
    std::fclose(f);
    return {rc, testing::internal::GetCapturedStdout()};
}

// An ntblfmt PIT at `at` with unusual record placement: first record at
// 48, 44 bytes apart. Size 0xA0.
void ntbl_pit(raw::Bytes &img, size_t at, const std::string &first_name)
{
    img.words(at, 2, kPitHead);
    img.u32(at + 12, 48);
    img.u32(at + 16, 44);
    img.u32(at + 20, 2);
    raw::pit_record(img, at + 48, first_name, 1, 0x8, 0, 0x100000);
    img.u32(at + 48 + 32, 0x11);
    img.u32(at + 48 + 36, 0x22);
    raw::pit_record(img, at + 92, "rootfs", 2, 0x3000, 0x100000, 0x400000);
}

// The BIT at `at` with records (id, image offset, length, partition offset).
size_t bit_table(raw::Bytes &img, size_t at, const std::vector<std::array<uint32_t, 4>> &recs)
{
    img.words(at, 5, kBitHead);
    size_t pos = at + 20;
    for (const auto &r : recs) {
        raw::bit_record(img, pos, r[0], r[1], r[2], r[3]);
        pos += 20;
    }
    img.words(pos, 5, kBitTail);
    return pos + 20 - at;
}

// Index of two NAND sizes in the ntblfmt layout (and `extra` entries for
// other sizes), PITs at 0x1000 and 0x1100, BITs at 0x1200 and 0x1300.
raw::Bytes ntbl_image(int extra = 0)
{
    raw::Bytes img;
    img.words(0, 2, kIdxHead);
    size_t e0 = 16, e1 = 48;
    for (int i = 0; i < 2 + extra; ++i)
        img.u32(16 + 32 * i, 0x1000 + i);
    img.u32(e0, k256M);
    img.u32(e0 + 4, 0x1000);
    img.u32(e0 + 8, 0xA0);
    img.u32(e0 + 12, 0x77);
    img.u32(e1, k128M);
    img.u32(e1 + 4, 0x1100);
    img.u32(e1 + 8, 0xA0);
    img.words(16 + 32 * (2 + extra), 4, kIdxTail);
    ntbl_pit(img, 0x1000, "big_nand");
    ntbl_pit(img, 0x1100, "small_nand");
    size_t b0 = bit_table(img, 0x1200, {{{2, 0x2000, 0x10, 0x800}}, {{1, 0x2010, 4, 0}}});
    size_t b1 = bit_table(img, 0x1300, {{{1, 0x2000, 8, 0}}});
    img.u32(e0 + 16, 0x1200);
    img.u32(e0 + 20, static_cast<uint32_t>(b0));
    img.u32(e1 + 16, 0x1300);
    img.u32(e1 + 20, static_cast<uint32_t>(b1));
    img.grow(0x2100);
    return img;
}

// Old layout: 4-word index head, 16-byte entries (`extra` of them for other
// sizes), old PIT at 0x1000, BIT found by its signatures at `bit_at`.
raw::Bytes old_image(size_t bit_at = 0x1200, int extra = 0)
{
    raw::Bytes img;
    img.words(0, 4, kIdxHead);
    for (int i = 0; i < extra; ++i)
        img.u32(32 + 16 * i, 0x2000 + i);
    img.u32(16, k256M);
    img.u32(20, 0x1000);
    img.u32(24, 4 * 32);
    img.words(32 + 16 * extra, 4, kIdxTail);
    img.words(0x1000, 8, kPitHead);
    raw::pit_record(img, 0x1020, "part_info", 1, 0, 0, 0x100000);
    raw::pit_record(img, 0x1040, "upg_status", 2, 8, 0x100000, 0x40000);
    img.words(0x1060, 8, kPitTail);
    bit_table(img, bit_at, {{{2, 0x3000, 0x100, 0x40}}});
    img.grow(bit_at + 0x1000);
    return img;
}

TEST(ImageScan, NtblfmtImageFillsEveryTableForThisNand)
{
    raw::Bytes img = ntbl_image();
    ScanResult r = scan(img);
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_NE(r.out.find("<UPG_PROG> upg sw is new version."), std::string::npos);
    EXPECT_NE(r.out.find("<UPG_PROG> pitIndexTable[1].u4NandSize = 0x8000000\n"), std::string::npos);
    EXPECT_NE(r.out.find("<UPG_PROG> bitIndexTable[0].u4BitOffsetFromBin = 0x1200\n"), std::string::npos);
    EXPECT_NE(r.out.find("<UPG_PROG> new version build_bit ok!"), std::string::npos);
    EXPECT_EQ(pitIndexTable[0].u4PrivateData2, 0x77u);
    EXPECT_EQ(pitIndexTable[2].u4NandSize, 0xFFFFFFFFu) << "unused entries stay 0xFF";
    EXPECT_EQ(bitIndexTable[1].u4BitOffsetFromBin, 0x1300u);

    EXPECT_STREQ(imagePitNtbl[0].acName, "big_nand");
    EXPECT_EQ(imagePitNtbl[0].u4Flags, 8u);
    EXPECT_EQ(imagePitNtbl[0].u4Extra1, 0x11u);
    EXPECT_EQ(imagePitNtbl[0].u4Extra2, 0x22u);
    EXPECT_EQ(imagePitNtbl[1].i4PartId, 2);
    EXPECT_EQ(imagePitNtbl[1].u4Offset, 0x100000u);
    EXPECT_EQ(imagePitNtbl[1].u4Size, 0x400000u);
    EXPECT_EQ(imagePitNtbl[2].i4PartId, -1);
    EXPECT_EQ(imagePitOld[0].i4PartId, -1);

    EXPECT_EQ(bitTable[0].i4PartId, 2);
    EXPECT_EQ(bitTable[0].u4ImageOffset, 0x2000u);
    EXPECT_EQ(bitTable[0].u4Length, 0x10u);
    EXPECT_EQ(bitTable[0].u4PartOffset, 0x800u);
    EXPECT_EQ(bitTable[1].i4PartId, 1);
    EXPECT_EQ(bitTable[2].i4PartId, -1);

    ASSERT_EQ(rawPitSize, 0xA0u);
    EXPECT_EQ(0, std::memcmp(rawPitBuffer, img.b.data() + 0x1000, 0xA0));
}

TEST(ImageScan, PicksThePitAndBitOfTheNandSize)
{
    raw::Bytes img = ntbl_image();
    ASSERT_EQ(scan(img, k128M).rc, 0);
    EXPECT_STREQ(imagePitNtbl[0].acName, "small_nand");
    EXPECT_EQ(bitTable[0].u4Length, 8u);
    EXPECT_EQ(bitTable[1].i4PartId, -1);

    ScanResult none = scan(img, 0x4000000);
    EXPECT_EQ(none.rc, -1);
}

TEST(ImageScan, OldLayoutTakesTheBitFromItsSignatures)
{
    raw::Bytes img = old_image();
    ScanResult r = scan(img);
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_NE(r.out.find("<UPG_PROG> upg sw is old version."), std::string::npos);
    EXPECT_NE(r.out.find("the upg bin is  0 version(old is 0,new is 1)!"), std::string::npos);
    EXPECT_EQ(r.out.find("pitIndexTable[0]"), std::string::npos) << "the old layout prints no entries";
    EXPECT_STREQ(imagePitOld[1].acName, "upg_status");
    EXPECT_EQ(imagePitOld[1].i4PartId, 2);
    EXPECT_EQ(imagePitOld[2].i4PartId, -1);
    EXPECT_EQ(imagePitNtbl[0].i4PartId, -1);
    EXPECT_EQ(bitTable[0].u4PartOffset, 0x40u);
    EXPECT_TRUE(upg_linux_check_if_oldfmt_pit_valid(imagePitOld));
}

TEST(ImageScan, FourHeadWordsMeanOldLayoutEvenWithBitIndexData)
{
    raw::Bytes img = ntbl_image();
    img.words(0, 4, kIdxHead);
    ScanResult r = scan(img);
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_NE(r.out.find("upg sw is old version"), std::string::npos);
    // 16-byte entries: the BIT index half of entry 0 reads as entry 1.
    EXPECT_EQ(pitIndexTable[1].u4NandSize, 0x1200u);
    EXPECT_EQ(pitIndexTable[2].u4NandSize, k128M);
    EXPECT_EQ(bitIndexTable[0].u4BitOffsetFromBin, 0xFFFFFFFFu);
    EXPECT_EQ(bitTable[0].i4PartId, 2) << "the first BIT by signature";
}

TEST(ImageScan, IndexKeepsTenEntries)
{
    raw::Bytes img = ntbl_image(9);
    ScanResult r = scan(img);
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_NE(r.out.find("<UPG_PROG> PIT index table too many entrys @Line "), std::string::npos);
    EXPECT_EQ(pitIndexTable[9].u4NandSize, 0x1009u);
    EXPECT_EQ(r.out.find("pitIndexTable[10]"), std::string::npos);

    raw::Bytes old = old_image(0x1200, 10);
    ScanResult o = scan(old);
    ASSERT_EQ(o.rc, 0) << o.out;
    EXPECT_NE(o.out.find("<UPG_PROG> PIT index table too many entrys \n"), std::string::npos);
    EXPECT_EQ(pitIndexTable[9].u4NandSize, 0x2008u);
}

TEST(ImageScan, PitSizeWordIsChecked)
{
    raw::Bytes img = ntbl_image();
    img.u32(16 + 8, 0xA4);
    ScanResult bad = scan(img);
    EXPECT_EQ(bad.rc, -1);
    size_t at = bad.out.find("<UPG_PROG> Err: invalid pit size! @Line ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(bad.out.find("<UPG_PROG> Err: ret value -1! @Line ", at), bad.out.find('\n', at) + 1)
        << "the failed PIT build is reported next: " << bad.out;

    img.u32(16 + 8, 0x70A0); // only the low 12 bits give the size
    ASSERT_EQ(scan(img).rc, 0);
    EXPECT_EQ(rawPitSize, 0xA0u);
}

TEST(ImageScan, TablesOutsideTheImageFail)
{
    raw::Bytes img = ntbl_image();
    img.u32(16 + 16, 0x5000); // BIT beyond the end of the file
    EXPECT_EQ(scan(img).rc, -1);

    raw::Bytes pit_gone = ntbl_image();
    pit_gone.u32(16 + 4, 0x8000);
    EXPECT_EQ(scan(pit_gone).rc, -1);
    pit_gone.u32(16 + 4, 0x2100 - 0x40); // PIT cut short by the end of the file
    EXPECT_EQ(scan(pit_gone).rc, -1);

    raw::Bytes truncated = old_image();
    truncated.b.resize(0x1200 + 30); // BIT tail missing
    EXPECT_EQ(scan(truncated).rc, -1);

    raw::Bytes empty;
    EXPECT_EQ(scan(empty).rc, -1);
}

TEST(ImageScan, OversizedTablesAreRefused)
{
    raw::Bytes many = ntbl_image();
    many.u32(0x1000 + 20, 101);
    EXPECT_EQ(scan(many).rc, -1);

    raw::Bytes outside = ntbl_image();
    outside.u32(0x1000 + 16, 200); // second record beyond the PIT's 0xA0 bytes
    EXPECT_EQ(scan(outside).rc, -1);

    raw::Bytes long_bit = old_image();
    std::vector<std::array<uint32_t, 4>> recs(101, {{2, 0x3000, 1, 0}});
    bit_table(long_bit, 0x1200, recs);
    long_bit.grow(0x4000);
    EXPECT_EQ(scan(long_bit).rc, -1);
    recs.pop_back();
    bit_table(long_bit, 0x1200, recs);
    EXPECT_EQ(scan(long_bit).rc, 0) << "100 records fit";
}

TEST(ImageScan, OldLayoutBitMustCloseInsideItsChunk)
{
    // Head just before the 1 MiB boundary, tail after it.
    raw::Bytes img = old_image(0x100000 - 32);
    ScanResult r = scan(img);
    EXPECT_EQ(r.rc, -1);

    raw::Bytes later = old_image(0x100000 + 0x40);
    EXPECT_EQ(scan(later).rc, 0) << "a BIT wholly in the second chunk is found";
    EXPECT_EQ(bitTable[0].u4PartOffset, 0x40u);
}

TEST(ImageScan, IndexTableMayStraddleAChunkBoundary)
{
    raw::Bytes ref = ntbl_image();
    uint32_t base = 0x100000 - 32;
    raw::Bytes img(0x110000, 0);
    std::copy(ref.b.begin(), ref.b.begin() + 96, img.b.begin() + base);
    std::copy(ref.b.begin() + 0x1000, ref.b.begin() + 0x2100, img.b.begin() + 0x1000);
    ScanResult r = scan(img);
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_NE(r.out.find("the upg bin is  1 version"), std::string::npos) << "the remembered head keeps its layout";
    EXPECT_STREQ(imagePitNtbl[0].acName, "big_nand");
}

TEST(NandPit, ParsesEitherLayoutFromABlock)
{
    raw::Bytes block(0x20000, 0xFF);
    block.words(0, 8, kPitHead);
    raw::pit_record(block, 32, "part_info", 1, 0, 0, 0x100000);
    raw::pit_record(block, 64, "mac_addr", 2, 0, 0x100000, 0x20000);
    block.words(96, 8, kPitTail);
    testing::internal::CaptureStdout();
    ASSERT_EQ(upg_parse_nand_pit(block.b.data(), block.b.size()), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ(nandPitOld[1].acName, "mac_addr");
    EXPECT_EQ(nandPitOld[2].i4PartId, -1);

    raw::Bytes ntbl(0x20000, 0xFF);
    ntbl_pit(ntbl, 0, "part_info");
    testing::internal::CaptureStdout();
    ASSERT_EQ(upg_parse_nand_pit(ntbl.b.data(), ntbl.b.size()), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(nandPitNtbl[1].u4Size, 0x400000u);

    raw::Bytes erased(0x20000, 0xFF);
    testing::internal::CaptureStdout();
    EXPECT_EQ(upg_parse_nand_pit(erased.b.data(), erased.b.size()), kNoPitInBlock);
    testing::internal::GetCapturedStdout();
}

TEST(LoadData, StopsAtEndOfFile)
{
    uint8_t data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, buf[32] = {};
    FILE *f = fmemopen(data, sizeof data, "rb");
    testing::internal::CaptureStdout();
    EXPECT_EQ(load_data_to_buff(buf, sizeof buf, f), 10);
    EXPECT_EQ(load_data_to_buff(buf, sizeof buf, f), 0);
    testing::internal::GetCapturedStdout();
    std::fclose(f);
    EXPECT_EQ(buf[9], 10);
}

// Image offsets are 32-bit words: one at 2 GiB must reach its bytes on the
// 32-bit board too, and a seek that cannot be made is a failure.
TEST(LoadData, SeeksReachOffsetsFrom2GiBAndFailuresAreSeen)
{
    char path[] = "/tmp/upg-image.XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const uint64_t at = 0x80000000u;
    const char mark[] = "past 2 GiB";
    bool made = ftruncate(fd, static_cast<off_t>(at)) == 0 &&
                pwrite(fd, mark, sizeof mark, static_cast<off_t>(at)) == static_cast<ssize_t>(sizeof mark);
    close(fd);
    FILE *f = std::fopen(path, "rb");
    unlink(path);
    ASSERT_TRUE(made && f != nullptr);
    uint8_t buf[sizeof mark] = {};
    testing::internal::CaptureStdout();
    ASSERT_TRUE(seek_image(f, at));
    EXPECT_EQ(load_data_to_buff(buf, sizeof buf, f), static_cast<long>(sizeof mark));
    EXPECT_STREQ(reinterpret_cast<const char *>(buf), mark);
    EXPECT_FALSE(seek_image(f, UINT64_MAX)) << "beyond any file position";
    testing::internal::GetCapturedStdout();
    std::fclose(f);
}

} // namespace
