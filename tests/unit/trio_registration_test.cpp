#include "events/trio_registration.h"

#include <gtest/gtest.h>

namespace vexlan {
namespace {

// The soft-button trio: when one member changes, what DirectOutput is asked.
struct TrioCase {
  bool old_set, new_set, others_set;
  TrioRegistration expected;
};
class TrioTest : public testing::TestWithParam<TrioCase> {};
TEST_P(TrioTest, RegistersOnFirstMemberAndEndsOnLast) {
  const TrioCase& c = GetParam();
  EXPECT_EQ(DecideTrioRegistration(c.old_set, c.new_set, c.others_set), c.expected);
}
INSTANTIATE_TEST_SUITE_P(DecisionTable, TrioTest,
                         testing::Values(TrioCase{false, false, false, TrioRegistration::kUnregister},
                                         TrioCase{false, false, true, TrioRegistration::kNone},
                                         TrioCase{false, true, false, TrioRegistration::kRegister},
                                         TrioCase{false, true, true, TrioRegistration::kNone},
                                         TrioCase{true, false, false, TrioRegistration::kUnregister},
                                         TrioCase{true, false, true, TrioRegistration::kNone},
                                         TrioCase{true, true, false, TrioRegistration::kNone},
                                         TrioCase{true, true, true, TrioRegistration::kNone}));

}  // namespace
}  // namespace vexlan
