#include "image_tables.h"
#include "raw_bytes.h"
#include "upgimage.h"
#include "vboard/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace upg {
extern uint32_t test_nand_size;
}

namespace {

class UpgImage : public testing::Test {
protected:
    void SetUp() override
    {
        write("kernel.bin", std::string(3000, 'K'));
        write("rootfs.bin", std::string(0x20000 + 5, 'R'));
    }

    void write(const std::string &name, const std::string &bytes)
    {
        std::ofstream(temp_.file(name), std::ios::binary) << bytes;
    }
    int build(const std::string &text, std::vector<uint8_t> *img, std::string *err)
    {
        t_image_desc d;
        if (parse_description(text, dir, &d, err) != 0)
            return -1;
        return build_image(d, img, err);
    }
    std::string refusal(const std::string &text)
    {
        std::vector<uint8_t> img;
        std::string err;
        EXPECT_EQ(build(text, &img, &err), -1) << text;
        return err;
    }
    int scan(std::vector<uint8_t> &img, uint32_t nand)
    {
        upg::test_nand_size = nand;
        FILE *f = fmemopen(img.data(), img.size(), "rb");
        testing::internal::CaptureStdout();
        int rc = upg_scan_image(f);
        testing::internal::GetCapturedStdout();
        std::fclose(f);
        return rc;
    }

    vboard::testkit::TempDir temp_{"upgimage_test"};
    const std::string dir = temp_.path();
};

const char kLayout[] =
    "nand 256M block=128K start=0x100000\n"
    "part part_info 1M\n"
    "part upg_status 256K status\n"
    "part boot_a 256K type=1\n"
    "part kernel 1M type=3\n"
    "part app 2M type=2\n"
    "part app_a 1M type=4 in=app\n"
    "part app_b 512K type=4 in=app\n"
    "part mac_addr 128K\n"
    "bin kernel kernel.bin at=0x800\n"
    "bin app_b rootfs.bin\n";

TEST_F(UpgImage, NtblfmtImageScansAsDescribed)
{
    std::vector<uint8_t> img;
    std::string err;
    ASSERT_EQ(build(std::string("layout ntblfmt\n") + kLayout + "nand 128M\npart part_info 1M\n", &img, &err), 0)
        << err;
    raw::Bytes bytes;
    bytes.b = img;
    EXPECT_EQ(bytes.get32(0), 0x50495469u);
    EXPECT_NE(bytes.get32(8), 0x50495469u) << "two head words only";
    EXPECT_EQ(bytes.get32(16), 0x10000000u);
    EXPECT_EQ(bytes.get32(48), 0x8000000u);

    ASSERT_EQ(scan(img, 0x10000000), 0);
    // ids count from 1; offsets follow one another from start; nested ones
    // start inside their container.
    EXPECT_STREQ(imagePitNtbl[3].acName, "kernel");
    EXPECT_EQ(imagePitNtbl[3].i4PartId, 4);
    EXPECT_EQ(imagePitNtbl[3].u4Offset, 0x100000u + 0x100000 + 0x40000 + 0x40000);
    EXPECT_EQ(imagePitNtbl[3].u4Flags, 0x3000u);
    EXPECT_EQ(imagePitNtbl[1].u4Flags, 0x8u);
    EXPECT_EQ(imagePitNtbl[5].u4Offset, imagePitNtbl[4].u4Offset);
    EXPECT_EQ(imagePitNtbl[5].u4Flags, 0x4000u | (5u << 16));
    EXPECT_EQ(imagePitNtbl[6].u4Offset, imagePitNtbl[4].u4Offset + 0x100000);
    EXPECT_EQ(imagePitNtbl[7].u4Offset, imagePitNtbl[4].u4Offset + 0x200000) << "after the container";

    ASSERT_EQ(bitTable[0].i4PartId, 4);
    EXPECT_EQ(bitTable[0].u4Length, 3000u);
    EXPECT_EQ(bitTable[0].u4PartOffset, 0x800u);
    EXPECT_EQ(img[bitTable[0].u4ImageOffset], 'K');
    EXPECT_EQ(bitTable[1].i4PartId, 7);
    EXPECT_EQ(bitTable[1].u4Length, 0x20005u);
    EXPECT_EQ(img[bitTable[1].u4ImageOffset + 0x20004], 'R');
    EXPECT_EQ(bitTable[2].i4PartId, -1);

    ASSERT_EQ(scan(img, 0x8000000), 0);
    EXPECT_EQ(imagePitNtbl[1].i4PartId, -1);
    EXPECT_EQ(bitTable[0].i4PartId, -1);
}

TEST_F(UpgImage, OldLayoutImageScansAsDescribed)
{
    std::vector<uint8_t> img;
    std::string err;
    ASSERT_EQ(build(std::string("layout old\npit ntblfmt\n") + kLayout, &img, &err), 0) << err;
    raw::Bytes bytes;
    bytes.b = img;
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(bytes.get32(4 * i), 0x50495469u);
    ASSERT_EQ(scan(img, 0x10000000), 0);
    EXPECT_EQ(imagePitOld[0].i4PartId, -1) << "PIT in the ntblfmt layout";
    EXPECT_STREQ(imagePitNtbl[7].acName, "mac_addr");
    EXPECT_EQ(bitTable[1].i4PartId, 7);

    ASSERT_EQ(build(std::string("layout old\n") + kLayout, &img, &err), 0) << err;
    ASSERT_EQ(scan(img, 0x10000000), 0);
    EXPECT_STREQ(imagePitOld[7].acName, "mac_addr");
    EXPECT_EQ(imagePitOld[8].i4PartId, -1);
}

TEST_F(UpgImage, InconsistentDescriptionsAreRefusedWithTheirLine)
{
    const std::string head = "layout ntblfmt\nnand 16M\n";
    EXPECT_EQ(refusal("nand 16M\n"), "line 1: the layout line must come before the first nand line");
    EXPECT_EQ(refusal("layout new\n"), "line 1: expected 'layout old' or 'layout ntblfmt'");
    EXPECT_EQ(refusal(head + "part a 128K\npart a 128K\n"), "line 4: partition 'a' given twice (first on line 3)");
    EXPECT_EQ(refusal(head + "part a_very_long_name_x 128K\n"),
              "line 3: partition name 'a_very_long_name_x' is longer than 16 characters");
    EXPECT_EQ(refusal(head + "part a 100K\n"), "nand table of line 2: size of 'a' is not a whole number of blocks");
    EXPECT_EQ(refusal(head + "part a 8M\npart b 9M\n"),
              "nand table of line 2: partition 'b' ends past the end of the NAND");
    EXPECT_EQ(refusal(head + "part a 1M\nbin b kernel.bin\n"),
              "nand table of line 2: bin of line 4 names no partition 'b'");
    EXPECT_EQ(refusal(head + "part a 128K\nbin a rootfs.bin\n"),
              "nand table of line 2: bin of line 4: 131077 bytes at 0 do not fit in 'a'");
    EXPECT_EQ(refusal(head + "part a 1M\nbin a kernel.bin\nbin a kernel.bin at=2048\n"),
              "nand table of line 2: bin of line 5 overlaps an earlier bin of 'a'");
    EXPECT_EQ(refusal(head + "part a 1M\nbin a missing.bin\n"),
              "nand table of line 2: bin of line 4: cannot read " + dir + "/missing.bin");
    EXPECT_EQ(refusal(head + "part n 128K type=4 in=c\npart c 1M\n"),
              "nand table of line 2: partition 'n' (line 3) lies in 'c', which is not given before it");
    EXPECT_EQ(refusal(head + "part n 128K type=4\n"),
              "line 3: a type-4 partition and only that names its container with in=NAME");
    EXPECT_EQ(refusal(head + "part a 1M\nnand 16M\n"), "line 4: a second table for NAND size 16M (first on line 2)");
    EXPECT_EQ(refusal("layout old\nnand 16M\npart a 1M\nbin a kernel.bin\nnand 32M\npart a 1M\nbin a kernel.bin\n"),
              "the old layout carries one BIT: give bin lines under one nand line only");
    EXPECT_EQ(refusal(head + "part a 1M\nfrob\n"), "line 4: unknown statement 'frob'");
    EXPECT_EQ(refusal("layout old\n"), "the description has no nand table");
}

TEST_F(UpgImage, DumpShowsTablesOfRawImages)
{
    // Written by hand: old index, old PIT with one partition, one BIT record.
    raw::Bytes img;
    img.words(0, 4, 0x50495469);
    img.u32(16, 0x10000000);
    img.u32(20, 0x40);
    img.u32(24, 0x60);
    img.words(32, 4, 0x69544950);
    img.words(0x40, 8, 0x8530EADC);
    raw::pit_record(img, 0x60, "rootfs", 1, 0x2008, 0x100000, 0x200000);
    img.words(0x80, 8, 0xC0CAC01A);
    img.words(0xA0, 5, 0x8530ABCD);
    raw::bit_record(img, 0xB4, 1, 0x100, 0x10, 0x800);
    img.words(0xC8, 5, 0x8530EFEF);
    img.grow(0x110);
    char *text = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&text, &len);
    std::string err;
    EXPECT_EQ(dump_image(img.b, out, &err), 0) << err;
    std::fclose(out);
    std::string s(text, len);
    std::free(text);
    EXPECT_NE(s.find("layout old: index table at 0x0\n"), std::string::npos) << s;
    EXPECT_NE(s.find("nand 0x10000000 (256 MiB): PIT at 0x40, private 0x60 0x0\n"), std::string::npos) << s;
    EXPECT_NE(s.find("[ 0] rootfs           id 1   flags 0x00002008 type 2 status offset 0x00100000 size "
                     "0x00200000\n"),
              std::string::npos)
        << s;
    EXPECT_NE(s.find("part 1   image 0x00000100 length 0x00000010 -> partition offset 0x00000800\n"), std::string::npos)
        << s;
    EXPECT_EQ(s.find("[ 1]"), std::string::npos) << "the tail is no record";

    img.u32(0xB4 + 8, 0x1000); // data past the end of the image
    out = open_memstream(&text, &len);
    EXPECT_EQ(dump_image(img.b, out, &err), -1);
    std::fclose(out);
    std::free(text);
    EXPECT_EQ(err, "the image's tables are inconsistent (see above)");
}

} // namespace

// The tables a board flashed with a layout holds: the image's PIT as it is,
// the adaptive PIT with the type-3 kernel grown by one block, the status
// record listing the partitions marked status.
TEST_F(UpgImage, FlashTablesOfALayout)
{
    std::string text = std::string("layout ntblfmt\n") + kLayout;
    t_image_desc d;
    std::string err;
    ASSERT_EQ(parse_description(text, dir, &d, &err), 0) << err;
    t_flash_tables t;
    ASSERT_EQ(build_flash_tables(d, 0, &t, &err), 0) << err;
    std::vector<uint8_t> img;
    ASSERT_EQ(build_image(d, &img, &err), 0) << err;
    raw::Bytes image;
    image.b = img;
    ASSERT_EQ(t.pit.size(), image.get32(24));
    EXPECT_TRUE(std::equal(t.pit.begin(), t.pit.end(), img.begin() + image.get32(20))) << "the image's own PIT";

    raw::Bytes adaptive;
    adaptive.b = t.adaptive_pit;
    EXPECT_EQ(adaptive.b.size(), 9u * 64) << "(count + 1) x 64 bytes";
    EXPECT_EQ(adaptive.get32(0), 0x8530AAAAu);
    EXPECT_EQ(adaptive.get32(4), 0x8530AAAAu);
    const uint32_t kernel = 0x100000 + 0x100000 + 0x40000 + 0x40000;
    EXPECT_EQ(adaptive.get32(4 * 64 + 24), kernel);
    EXPECT_EQ(adaptive.get32(4 * 64 + 28), 0x100000u + 0x20000) << "type 3 grows by one block";
    EXPECT_EQ(adaptive.get32(5 * 64 + 24), kernel + 0x120000) << "the next partition moves with it";

    raw::Bytes status;
    status.b = t.status;
    ASSERT_EQ(status.b.size(), 176u);
    EXPECT_EQ(status.get32(0), 0x55504753u);
    EXPECT_EQ(status.get32(4), 0u) << "no upgrade in progress";
    EXPECT_EQ(status.get32(8), 2u) << "upg_status is partition 2";
    EXPECT_EQ(status.get32(136), 1u);
    EXPECT_EQ(status.get32(140), 0x53475055u);
    EXPECT_NE(build_flash_tables(d, 1, &t, &err), 0);
    EXPECT_EQ(err, "no nand table 2");
}
