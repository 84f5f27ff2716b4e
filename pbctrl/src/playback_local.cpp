// Stream headers built locally, without the engine.
#include "client_info.h"

#include <cstring>

using namespace pbctrl;

namespace {

constexpr uint8_t kP0Magic[] = {0x3E, 0xD1, 0xA7, 0xE4};
constexpr uint32_t kP0ValuesAt = 4;
constexpr uint32_t kP0FlagsAt = 16;

constexpr uint8_t kFlagsStream0 = 0x02;
constexpr uint8_t kFlagsStream1 = 0x01;
constexpr uint8_t kFlagsSub1[] = {0, 0x09, 0x11}; // by first sub-type; 0 leaves 0x01
constexpr uint8_t kFlagsSub2[] = {0, 0x20, 0x40}; // ORed in by second sub-type

constexpr uint32_t kPprValue12 = 0x380000;

void put_le32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Byte 16 of a P0 header; false for a value the header cannot carry.
bool p0_flags(const IQIV_PB_CTRL_PKT_INFO_T &t, uint8_t &flags)
{
    if (t.eStreamType == 0) {
        flags = kFlagsStream0;
        return true;
    }
    if (t.eStreamType != 1) {
        CLIENT_LOG(kLogEntry, "Invalid eStreamType, please check\r\n");
        return false;
    }
    if (t.eSubType1 >= sizeof kFlagsSub1 || t.eSubType2 >= sizeof kFlagsSub2)
        return false;
    flags = t.eSubType1 ? kFlagsSub1[t.eSubType1] : kFlagsStream1;
    flags |= kFlagsSub2[t.eSubType2];
    return true;
}

void log_invalid(const void *pv_buf, const void *pv_info)
{
    CLIENT_LOG(kLogEntry, "Invalid pu1PktHdrBuf 0x%lx ptPktInfo 0x%lx, please check\r\n",
               static_cast<unsigned long>(reinterpret_cast<uintptr_t>(pv_buf)),
               static_cast<unsigned long>(reinterpret_cast<uintptr_t>(pv_info)));
}

} // namespace

extern "C" {

int32_t IQivPb_Ctrl_GenerateP0Header(uint8_t *pu1PktHdrBuf, const IQIV_PB_CTRL_PKT_INFO_T *ptPktInfo)
{
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", __func__, __LINE__);
    if (!pu1PktHdrBuf || !ptPktInfo) {
        log_invalid(pu1PktHdrBuf, ptPktInfo);
        return IQIVPB_INV_ARG;
    }
    uint8_t flags = 0;
    if (!p0_flags(*ptPktInfo, flags))
        return IQIVPB_INV_ARG;
    std::memcpy(pu1PktHdrBuf, kP0Magic, sizeof kP0Magic);
    for (uint32_t i = 0; i < 3; ++i)
        put_le32(pu1PktHdrBuf + kP0ValuesAt + 4 * i, ptPktInfo->au4Value[i]);
    pu1PktHdrBuf[kP0FlagsAt] = flags;
    return 0;
}

int32_t IQivPb_Ctrl_GenerateRVPicHdr(uint8_t *pu1PktHdrBuf, const IQIV_PB_CTRL_RV_PIC_INFO_T *ptPicInfo)
{
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", __func__, __LINE__);
    if (!pu1PktHdrBuf || !ptPicInfo) {
        log_invalid(pu1PktHdrBuf, ptPicInfo);
        return IQIVPB_INV_ARG;
    }
    const uint32_t n = ptPicInfo->u1TotalSliceNum;
    if (n < 1 || n > IQIV_PB_CTRL_RV_MAX_SLICES) {
        CLIENT_LOG(kLogEntry, "Invalid u1TotalSliceNum %d\r\n", n);
        return IQIVPB_INV_ARG;
    }
    pu1PktHdrBuf[0] = static_cast<uint8_t>(n);
    for (uint32_t i = 0; i < IQIV_PB_CTRL_RV_MAX_SLICES; ++i) {
        const uint16_t v = i < n ? ptPicInfo->au2Slice[i] : 0;
        pu1PktHdrBuf[1 + 2 * i] = static_cast<uint8_t>(v >> 8);
        pu1PktHdrBuf[2 + 2 * i] = static_cast<uint8_t>(v);
    }
    return 0;
}

int32_t IQivPb_Ctrl_GetP0PPRInfo(uint32_t e_type, IQIV_PB_CTRL_PPR_INFO_T *ptPPRInfo)
{
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", __func__, __LINE__);
    if (!ptPPRInfo) {
        CLIENT_LOG(kLogEntry, "ptPPRInfo is NULL\r\n");
        return IQIVPB_INV_ARG;
    }
    if ((e_type >= 1 && e_type <= 5) || e_type == 13) {
        ptPPRInfo->u1Flag1 = 1;
        ptPPRInfo->u1Flag2 = 1;
        ptPPRInfo->u1Flag3 = 0;
    } else if (e_type >= 6 && e_type <= 11) {
        ptPPRInfo->u1Flag1 = 0;
        ptPPRInfo->u1Flag2 = 1;
        ptPPRInfo->u1Flag3 = 0;
    } else if (e_type == 12) {
        ptPPRInfo->u1Flag1 = 0;
        ptPPRInfo->u1Flag2 = 1;
        ptPPRInfo->u1Flag3 = 1;
        ptPPRInfo->u4Value = kPprValue12;
    }
    return 0;
}

} // extern "C"
