#include "qiv_records.h"
#include "rpcipc.h"

#include "common/abi.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <set>

namespace {

// Every record number the playback and misc clients register.
const uint32_t kClientNumbers[] = {22,  23,  24,  25,  68,  69,  70,  78,  80,  81,  82,  83,  84,  85,  86,  96,
                                   97,  98,  99,  100, 103, 107, 108, 114, 115, 118, 135, 140, 143, 156, 157, 170,
                                   171, 173, 174, 176, 188, 189, 191, 195, 200, 201, 205, 240, 253, 254, 255, 256,
                                   264, 272, 273, 275, 279, 280, 281, 282, 296, 298, 299, 301, 304, 305};

TEST(RpcLayout, ArgumentRecordIsSixteenBytesWithTheValueAtEight)
{
    EXPECT_EQ(sizeof(RPC_ARG_T), 16u);
    EXPECT_EQ(offsetof(RPC_ARG_T, u), 8u);
    RPC_ARG_T a{};
    rpc_arg_set(a, ARG_TYPE_INT8, static_cast<uint64_t>(-3));
    EXPECT_EQ(a.u.i1, -3);
    rpc_arg_set(a, ARG_TYPE_UINT32, 0x11223344u);
    EXPECT_EQ(a.u.ui4, 0x11223344u); // the low four bytes
}

TEST(RpcLayout, TableHoldsExactlyTheClientNumbersWithSaneMembers)
{
    std::set<uint32_t> expected(std::begin(kClientNumbers), std::end(kClientNumbers));
    std::set<uint32_t> seen;
    for (uint32_t i = 0; i < rpc_desc_count(); ++i) {
        const RPC_DESC_T *d = rpc_desc_at(i);
        ASSERT_NE(d, nullptr);
        EXPECT_TRUE(seen.insert(d->ui4_num).second) << "twice: " << d->ui4_num;
        EXPECT_EQ(__rpc_get_desc__(d->ui4_num), d);
        EXPECT_GT(d->z_size, 0u);
        ASSERT_GT(d->ui4_num_variants, 0u) << d->ui4_num;
        for (uint32_t v = 0; v < d->ui4_num_variants; ++v) {
            const RPC_DESC_VARIANT_T &var = d->pt_variants[v];
            for (uint32_t p = 0; p < var.ui4_num_ptrs; ++p) {
                EXPECT_LE(var.pui4_ptr_offs[p] + sizeof(void *), d->z_size) << d->ui4_num;
                EXPECT_EQ(var.pui4_ptr_offs[p] % alignof(void *), 0u) << d->ui4_num;
            }
        }
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(__rpc_get_desc__(0), nullptr);
    EXPECT_EQ(__rpc_get_desc__(274), nullptr);
}

TEST(RpcLayout, MemberNamesChooseTheUnionArm)
{
    const RPC_DESC_T *model = __rpc_get_desc__(272);
    const RPC_DESC_VARIANT_T *uri = rpc_desc_variant(model, "uBufferModelParam.tUriInfo");
    ASSERT_NE(uri, nullptr);
    ASSERT_EQ(uri->ui4_num_ptrs, 1u);
    EXPECT_EQ(uri->pui4_ptr_offs[0], offsetof(IQIV_PB_CTRL_URI_INFO_T, pcUrl));
    const RPC_DESC_VARIANT_T *dash = rpc_desc_variant(model, "uBufferModelParam.tDashInfo");
    ASSERT_NE(dash, nullptr);
    EXPECT_EQ(dash->ui4_num_ptrs, 2u);
    // A pure union has no variant of its own: a wrong arm name is refused.
    EXPECT_EQ(rpc_desc_variant(model, "uBufferModelParam.tNoSuch"), nullptr);
    EXPECT_EQ(rpc_desc_variant(model, nullptr), nullptr);
    // A plain record takes any label.
    const RPC_DESC_T *get = __rpc_get_desc__(103);
    EXPECT_EQ(rpc_desc_variant(get, "pv_get_info"), rpc_desc_variant(get, nullptr));
    EXPECT_NE(rpc_desc_variant(__rpc_get_desc__(107), "u.t_raw_drm_info"), nullptr);
}

TEST(RpcLayout, BoardSizesOfTheRecordsTheClientsFill)
{
    if (!BOARD_TARGET_ILP32)
        GTEST_SKIP() << "the board's sizes hold on ILP32 only";
    EXPECT_EQ(__rpc_get_desc__(280)->z_size, 44u);
    EXPECT_EQ(__rpc_get_desc__(279)->z_size, 40u);
    EXPECT_EQ(__rpc_get_desc__(273)->z_size, 52u);
    EXPECT_EQ(__rpc_get_desc__(68)->z_size, 208u);
    EXPECT_EQ(__rpc_get_desc__(281)->z_size, 8u);
    EXPECT_EQ(__rpc_get_desc__(299)->z_size, 88u);
    EXPECT_EQ(__rpc_get_desc__(304)->z_size, 32u);
    EXPECT_EQ(__rpc_get_desc__(305)->z_size, 40u);
    const RPC_DESC_VARIANT_T *mln = rpc_desc_variant(__rpc_get_desc__(107), "u.t_mln_drm_inf");
    ASSERT_EQ(mln->ui4_num_ptrs, 4u);
    // Four texts at 4, 12, 20, 28 of the DRM record, whose union starts at 4.
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_EQ(mln->pui4_ptr_offs[i] + 4, 4 + 8 * i);
}

} // namespace
