// The recorder's trace writer under a full buffer and a disk that refuses to write.
#include "recorder/trace_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>

#include "output/picture_format.h"
#include "recorder/trace_record.h"

namespace vexlan::recorder {
namespace {

using namespace std::chrono_literals;

// A disk that takes the first line only when let go, and then everything; or that refuses every line.
class HeldSink : public TraceSink {
 public:
  explicit HeldSink(bool refuses = false) : refuses_(refuses) {}
  bool Write(const std::string& line) override {
    std::unique_lock<std::mutex> lock(mutex_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return released_; });
    lines_.push_back(line);
    return !refuses_;
  }
  bool Flush() override { return !refuses_; }
  bool WaitEntered() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 10s, [this] { return entered_; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  const bool refuses_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool entered_ = false, released_ = false;
  std::vector<std::string> lines_;
};

PendingRecord Led(uint32_t value) {
  PendingRecord record;
  record.name = "SetLed";
  record.device = 1;
  record.Add("value", value);
  record.has_result = true;
  return record;
}

TEST(TraceWriter, AFullBufferDropsRecordsAndSaysHowManyWithoutWaitingForTheDisk) {
  auto owned = std::make_unique<HeldSink>();
  HeldSink& sink = *owned;
  TraceWriter writer(std::move(owned), 4, false, "# header");
  writer.Start();
  ASSERT_TRUE(sink.WaitEntered());  // the writer is stuck on the header
  int accepted = 0;
  for (uint32_t value = 0; value < 10; ++value) accepted += writer.Push(Led(value));
  EXPECT_EQ(accepted, 4);
  EXPECT_EQ(writer.dropped(), 6u);
  sink.Release();
  writer.Stop();
  const std::vector<std::string> lines = sink.lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "# header");
  EXPECT_NE(lines[1].find("call SetLed d1 value=0 -> 0x00000000"), std::string::npos) << lines[1];
  EXPECT_NE(lines[4].find("call SetLed d1 value=3 -> 0x00000000"), std::string::npos) << lines[4];
  EXPECT_NE(lines[5].find(" dropped count=6"), std::string::npos) << lines[5];
}

TEST(TraceWriter, PicturesBeyondTheSlotsAreDroppedAndEveryCopyIsTheCallersPicture) {
  auto owned = std::make_unique<HeldSink>();
  HeldSink& sink = *owned;
  TraceWriter writer(std::move(owned), 100, false, "# header");
  writer.Start();
  ASSERT_TRUE(sink.WaitEntered());
  std::vector<uint8_t> picture(kDeviceImageBytes, 0);
  std::vector<std::string> hashes;
  int accepted = 0;
  for (int i = 0; i < TraceWriter::kPictureSlots + 1; ++i) {
    picture[0] = static_cast<uint8_t>(i);
    hashes.push_back(PictureHash(picture.data(), picture.size()));
    PendingRecord record;
    record.name = "SetImage";
    record.has_picture = true;
    record.picture_bytes = kDeviceImageBytes;
    accepted += writer.Push(std::move(record), picture.data());
  }
  EXPECT_EQ(accepted, TraceWriter::kPictureSlots);
  sink.Release();
  writer.Stop();
  const std::vector<std::string> lines = sink.lines();
  ASSERT_EQ(lines.size(), size_t{TraceWriter::kPictureSlots} + 2);
  for (int i = 0; i < TraceWriter::kPictureSlots; ++i)
    EXPECT_NE(lines[1 + i].find("hash=" + hashes[i]), std::string::npos) << lines[1 + i];
  EXPECT_NE(lines.back().find(" dropped count=1"), std::string::npos);
}

TEST(TraceWriter, ADiskThatRefusesEveryWriteIsCountedAndNothingElse) {
  auto owned = std::make_unique<HeldSink>(true);
  HeldSink& sink = *owned;
  sink.Release();
  TraceWriter writer(std::move(owned), 8, false, "# header");
  writer.Start();
  EXPECT_TRUE(writer.Push(Led(1)));
  writer.Stop();
  EXPECT_GE(writer.failed_writes(), 2u);
  EXPECT_EQ(writer.dropped(), 0u);
  // A file in a folder that cannot be written (under a file): every write fails, pushes are accepted.
  TraceWriter unwritable(OpenTraceFile(std::string(VEXLAN_TEST_DATA) + "/images/golden.txt/vexlan.trace"), 8, false,
                         "# header");
  unwritable.Start();
  EXPECT_TRUE(unwritable.Push(Led(1)));
  unwritable.Stop();
  EXPECT_GE(unwritable.failed_writes(), 2u);
}

}  // namespace
}  // namespace vexlan::recorder
