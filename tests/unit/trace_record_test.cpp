// The recorder's trace lines: read back as written.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>

#include "devices/device_kinds.h"
#include "output/picture_format.h"
#include "recorder/trace_record.h"

namespace vexlan::recorder {
namespace {

TEST(TraceRecord, ALineReadsBackAsItWasWritten) {
  TraceRecord call;
  call.time = 1.5;
  call.thread = 3;
  call.kind = "call";
  call.name = "SetString";
  call.device = 2;
  call.context = CallbackKey("buttons", 2, 7);
  const char16_t text[] = {u'a', u'"', u'\\', u'\n', 0x00E9, 0xD800, u'b', 0x1F};
  call.arguments = {{"page", "1"}, {"text", Quote(text, 8)}};
  call.result = kE_PAGENOTACTIVE;
  call.outputs = {{"guid", FormatGuid(kDeviceTypeFip)}};
  const std::string line = FormatRecord(call);
  EXPECT_EQ(line,
            "1.500000 3 call SetString d2 in=buttons:d2:7 page=1 text=\"a\\\"\\\\\\n\xC3\xA9\\uD800b\\x1F\" -> 0xFF040001 "
            "guid={3E083CD8-6A37-4A58-80A8-3D6A2C07513E}");
  TraceRecord read;
  std::string error;
  ASSERT_TRUE(ParseRecord(line, &read, &error)) << error;
  EXPECT_EQ(FormatRecord(read), line);
  Guid guid{};
  ASSERT_TRUE(ParseGuid(read.outputs[0].second, &guid));
  EXPECT_EQ(FormatGuid(guid), FormatGuid(kDeviceTypeFip));
  EXPECT_FALSE(ParseRecord("# a comment", &read, &error));
  EXPECT_EQ(error, "");
  EXPECT_FALSE(ParseRecord("1.0 1 call SetLed d1 page", &read, &error));
  EXPECT_NE(error, "");
}

TEST(TraceRecord, PicturesByHashDifferInAnyByte) {
  std::vector<uint8_t> picture(kDeviceImageBytes, 7);
  const std::string hash = PictureHash(picture.data(), picture.size());
  EXPECT_EQ(hash.size(), 16u);
  for (size_t at : {size_t{0}, size_t{12345}, picture.size() - 1}) {
    picture[at] ^= 1;
    EXPECT_NE(PictureHash(picture.data(), picture.size()), hash) << at;
    picture[at] ^= 1;
  }
  EXPECT_EQ(Base64(reinterpret_cast<const uint8_t*>("vexla"), 5), "dmV4bGE=");
}

}  // namespace
}  // namespace vexlan::recorder
