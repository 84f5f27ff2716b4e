// The remote members of disc navigation and the extensions by id (rows in
// ext_members.def); the slot-side steps that close a playback's extension state.
#ifndef PBCTRL_EXT_MEMBERS_H
#define PBCTRL_EXT_MEMBERS_H

#include "client_info.h"
#include "member_rows.h"

namespace pbctrl {

enum class ExtId {
#define MEMBER PBCTRL_ROW_ID
#define OWN_MEMBER PBCTRL_ROW_ID
#include "ext_members.def"
#undef MEMBER
#undef OWN_MEMBER
};

extern const Member kExtMembers[];

inline const Member &ext_member(ExtId id) { return kExtMembers[static_cast<int>(id)]; }

// Holds the mutex of a slot in use; empty (nothing locked) when it is not.
MutexGuard lock_slot(int slot);

// A closing playback leaves no snapshot record, plane or filter buffer mapped.
// Called with t_info_mutex held, when no call can reach the slot any more.
void release_filter_buffers(int slot);
void release_ext_state(int slot);

} // namespace pbctrl

#endif
