#include "events/trio_registration.h"

namespace vexlan {

TrioRegistration DecideTrioRegistration(bool old_set, bool new_set, bool others_set) {
  if (others_set || (old_set && new_set)) return TrioRegistration::kNone;
  return new_set ? TrioRegistration::kRegister : TrioRegistration::kUnregister;
}

}  // namespace vexlan
