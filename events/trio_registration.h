#pragma once

namespace vexlan {

// What a change to one member of a client's soft-button trio asks of DirectOutput: the registration is
// made when the first member is set and ended when the last is cleared; nothing else calls.
enum class TrioRegistration { kNone, kRegister, kUnregister };
TrioRegistration DecideTrioRegistration(bool old_set, bool new_set, bool others_set);

}  // namespace vexlan
