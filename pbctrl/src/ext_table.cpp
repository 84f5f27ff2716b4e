// The records of disc navigation and the extensions, and the exported
// functions of the plain ones, all made from the rows of ext_members.def.
#include "client_info.h"
#include "ext_members.h"
#include "rpc_desc.h"

namespace pbctrl {

namespace {

constexpr uint8_t H = ARG_TYPE_UINT32;
constexpr uint8_t U8 = ARG_TYPE_UINT8;
constexpr uint8_t ENUM = ARG_TYPE_ENUM;
constexpr uint8_t BOOL = ARG_TYPE_BOOL;
constexpr uint8_t TEXT = ARG_TYPE_TEXT;
constexpr uint8_t FUNC = ARG_TYPE_FUNC;
constexpr uint8_t TAG = ARG_TYPE_TAG;
constexpr uint8_t ENC = ARG_TYPE_ENC_PARAM;
constexpr uint8_t IN = ARG_TYPE_DESC_IN;
constexpr uint8_t OUT = ARG_TYPE_DESC_OUT;
constexpr uint8_t OUT32 = ARG_TYPE_REF_UINT32_OUT;
constexpr uint8_t INOUT32 = ARG_TYPE_UINT32_OUT;

constexpr uint32_t kDrmUnion = offsetof(IQIV_PB_CTRL_DRM_INFO_T, u);
#define MLN(m) ref_text_at(1, offsetof(IQIV_PB_CTRL_DRM_INFO_T, u.t_mln_drm_inf.m))

} // namespace

const Member kExtMembers[] = {
#define MEMBER PBCTRL_ROW_RECORD
#define OWN_MEMBER PBCTRL_ROW_RECORD
#include "ext_members.def"
#undef MEMBER
#undef OWN_MEMBER
};

} // namespace pbctrl

using namespace pbctrl;

extern "C" {

#define PBCTRL_LOOKUP(id) ext_member(ExtId::id)
#define MEMBER PBCTRL_ROW_FUNCTION
#define OWN_MEMBER PBCTRL_ROW_DECLARED
#include "ext_members.def"
#undef MEMBER
#undef OWN_MEMBER
#undef PBCTRL_LOOKUP

} // extern "C"
