// Broken, hostile and missing picture files through the resized path: a black image and a ResultCode,
// never a crash. This suite runs under AddressSanitizer too.
#include <algorithm>
#include <string>

#include "tests/support/module_fixture.h"

namespace vexlan::test {
namespace {

class ImageFiles : public ModuleTest, public testing::WithParamInterface<const char*> {};

TEST_P(ImageFiles, ABrokenFileSendsABlackImage) {
  LuaState state;
  ASSERT_EQ(state.Number("vexlan.AddPage('SFIP', 1, 1, true)"), 0);
  const std::string images = std::string(VEXLAN_TEST_DATA) + "/images/";
  ASSERT_EQ(state.Number("vexlan.SetImageFromFile('SFIP', 1, 1, 1, '" + images + "gradient_100x50.png', true)"), 0);
  ASSERT_EQ(state.Number("vexlan.SetImageFromFile('SFIP', 1, 1, 1, '" + images + GetParam() + "', true)"), 0);
  const auto image = sim::Image(kFip, 1, 0);
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(image->size(), 230400u);
  EXPECT_TRUE(std::all_of(image->begin(), image->end(), [](uint8_t byte) { return byte == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Broken, ImageFiles,
                         testing::Values("broken_truncated.png", "broken_garbage.png", "broken_text.png",
                                         "broken_empty.png", "broken_oversized.png", "no_such_file.png"));

TEST_F(ModuleTest, AGoodFileFillsTheWholePanel) {
  LuaState state;
  ASSERT_EQ(state.Number("vexlan.AddPage('SFIP', 1, 1, true)"), 0);
  const std::string file = std::string(VEXLAN_TEST_DATA) + "/images/transparent_80x60.png";
  ASSERT_EQ(state.Number("vexlan.SetImageFromFile('SFIP', 1, 1, 1, '" + file + "', true)"), 0);
  const auto image = sim::Image(kFip, 1, 0);
  ASSERT_TRUE(image.has_value());
  // Left half: the colour stored under full transparency (10, 200, 30); right half: opaque (200, 10, 30).
  EXPECT_EQ((*image)[0], 30);
  EXPECT_EQ((*image)[1], 200);
  EXPECT_EQ((*image)[2], 10);
  EXPECT_EQ((*image)[957], 30);
  EXPECT_EQ((*image)[958], 10);
  EXPECT_EQ((*image)[959], 200);
}

}  // namespace
}  // namespace vexlan::test
