// Image table scan over arbitrary bytes: the scan, the PIT found on the
// flash and the adaptive PIT built from the selected PIT must never crash.
#include "adaptive_pit.h"
#include "image_tables.h"
#include "mtd_geometry.h"

#include <cstdio>
#include <unistd.h>

namespace upg {

// The NAND the scan asks about: 256 MiB, or 128 MiB for inputs of odd length.
static uint32_t fuzz_nand_size = 0x10000000;

int whole_nand_info(mtd_info_user *info)
{
    info->size = fuzz_nand_size;
    info->erasesize = 0x20000;
    info->writesize = 2048;
    info->oobsize = 64;
    return kNandInfoOk;
}

} // namespace upg

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool quiet = [] { return std::freopen("/dev/null", "w", stdout) != nullptr; }();
    (void)quiet;
    upg::fuzz_nand_size = (size & 1) ? 0x8000000 : 0x10000000;
    FILE *image = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (image == nullptr)
        return 0;
    if (upg_scan_image(image) == 0) {
        int version = 0;
        uint32_t count = 0;
        adpt_pit_shape(rawPitBuffer, rawPitSize, &version, &count);
        t_adpt_pit pit{};
        if (count > 0 && adpt_pit_build(rawPitBuffer, rawPitSize, version, count, 0x20000, &pit) == 0)
            adpt_pit_free(&pit);
    }
    std::fclose(image);
    upg_parse_nand_pit(data, size);
    return 0;
}
