// The remote members of the playback API by id (rows in playback_members.def).
#ifndef PBCTRL_PLAYBACK_MEMBERS_H
#define PBCTRL_PLAYBACK_MEMBERS_H

#include "member_rows.h"

namespace pbctrl {

enum class Id {
#define MEMBER PBCTRL_ROW_ID
#define OWN_MEMBER PBCTRL_ROW_ID
#include "playback_members.def"
#undef MEMBER
#undef OWN_MEMBER
};

extern const Member kMembers[];

inline const Member &member(Id id) { return kMembers[static_cast<int>(id)]; }

} // namespace pbctrl

#endif
