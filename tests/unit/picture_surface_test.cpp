#include "output/picture_surface.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vexlan {
namespace {

TEST(PictureSurface, StartsBlackAndCopiesOnEndDraw) {
  PictureSurface surface(320, 240, 24);
  ASSERT_TRUE(surface.ok());
  EXPECT_EQ(surface.byte_size(), 230400);
  EXPECT_EQ(SurfaceByteSize(321, 3, 24), 321 * 3 * 3);
  surface.BeginDraw();
  surface.EndDraw();
  const uint8_t* copy = surface.copy_buffer();
  EXPECT_TRUE(std::all_of(copy, copy + surface.byte_size(), [](uint8_t b) { return b == 0; }));
}

TEST(PictureSurface, ASurfaceThatCannotBeCreatedSaysSoAndCanBeDestroyed) {
  PictureSurface surface(-320, 240, 24);
  EXPECT_FALSE(surface.ok());
  EXPECT_EQ(surface.BeginDraw(), nullptr);
  surface.EndDraw();
}

}  // namespace
}  // namespace vexlan
