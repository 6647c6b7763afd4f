// The recorder's trace writer under a full buffer and a disk that refuses to write.
#include "recorder/trace_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "output/picture_format.h"
#include "recorder/trace_record.h"

namespace vexlan::recorder {
namespace {

using namespace std::chrono_literals;

// Each line of text given to a sink.
void AddLines(const std::string& text, std::vector<std::string>* lines) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines->push_back(line);
}

// A disk that takes the first write only when let go, and then everything; or that refuses every write.
class HeldSink : public TraceSink {
 public:
  explicit HeldSink(bool refuses = false) : refuses_(refuses) {}
  bool Write(const std::string& text) override {
    std::unique_lock<std::mutex> lock(mutex_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return released_; });
    AddLines(text, &lines_);
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

// A disk that keeps every line and refuses none.
class KeptSink : public TraceSink {
 public:
  explicit KeptSink(std::vector<std::string>* lines) : lines_(lines) {}
  bool Write(const std::string& text) override {
    AddLines(text, lines_);
    return true;
  }
  bool Flush() override { return true; }

 private:
  std::vector<std::string>* lines_;  // read once the writer has stopped
};

TEST(TraceWriter, ThreadsPushingAtOnceLoseNothingButWhatIsCountedAndKeepEachThreadsOrder) {
  constexpr int kThreads = 4;
  constexpr uint32_t kEach = 20000;
  std::vector<std::string> lines;
  TraceWriter writer(std::make_unique<KeptSink>(&lines), 64, false, "# header");
  writer.Start();
  std::vector<std::thread> threads;
  for (int thread = 1; thread <= kThreads; ++thread)
    threads.emplace_back([&writer, thread] {
      for (uint32_t value = 0; value < kEach; ++value) {
        PendingRecord record = Led(value);
        record.thread = thread;
        record.ticks = ReadTicks();
        writer.Push(std::move(record));
      }
    });
  for (std::thread& thread : threads) thread.join();
  writer.Stop();
  uint64_t written = 0, dropped = 0;
  int64_t last[kThreads + 1] = {-1, -1, -1, -1, -1};
  double last_time = 0;
  for (size_t at = 1; at < lines.size(); ++at) {
    TraceRecord record;
    std::string error;
    ASSERT_TRUE(ParseRecord(lines[at], &record, &error)) << lines[at] << ": " << error;
    if (record.kind == "dropped") {
      dropped += std::stoull(record.arguments[0].second);
      continue;
    }
    ++written;
    ASSERT_GE(record.thread, 1);
    ASSERT_LE(record.thread, kThreads);
    const int64_t value = std::stoll(record.arguments[0].second);
    EXPECT_GT(value, last[record.thread]) << lines[at];
    last[record.thread] = value;
    EXPECT_GE(record.time, 0);
    last_time = std::max(last_time, record.time);
  }
  EXPECT_EQ(written + dropped, uint64_t{kThreads} * kEach);
  EXPECT_EQ(dropped, writer.dropped());
  EXPECT_LT(last_time, 60.0);
}

TEST(TraceWriter, ItsLinesAreTheFullRecordsFormatted) {
  std::vector<PendingRecord> records(5);
  records[0].name = "SetString";
  records[0].device = 2;
  records[0].Add("page", 1);
  records[0].Add("index", 0);
  records[0].Add("length", 7);
  records[0].has_text = true;
  records[0].text = u"a \"q\"\n\u00e9\xd800";
  records[0].context_kind = "buttons";
  records[0].context_device = 2;
  records[0].context_number = 17;
  records[0].has_result = true;
  records[0].result = static_cast<HResult>(0x80070057u);
  records[1].thread = 3;
  records[1].kind = "buttons";
  records[1].device = 12;
  records[1].number = 4000000000u;
  records[1].Add("mask", 0xDEADBEEF, true);
  records[2].name = "GetDeviceType";
  records[2].device = 0;
  records[2].has_result = true;
  records[2].has_guid = true;
  records[2].guid = Guid{0x29DAD506, 0xF93B, 0x4F20, {0x85, 0xFA, 0x1E, 0x02, 0xC0, 0x4F, 0xAC, 0x17}};
  records[3].name = "SetImage";
  records[3].device = 1;
  records[3].has_picture = true;
  records[3].picture_bytes = kDeviceImageBytes;
  records[3].has_result = true;
  records[4].name = "SetImage";
  records[4].device = 1;
  records[4].has_picture = true;
  records[4].picture_null = true;
  std::vector<uint8_t> picture(kDeviceImageBytes);
  for (size_t at = 0; at < picture.size(); ++at) picture[at] = static_cast<uint8_t>(at * 31);
  const double times[] = {0, 0.000001, 0.06069, 1.5, 12345.678901};
  for (const PendingRecord& record : records)
    for (double time : times)
      for (bool whole : {false, true}) {
        const uint8_t* bytes = record.has_picture && !record.picture_null ? picture.data() : nullptr;
        std::string line;
        AppendRecordLine(line, record, time, bytes, whole);
        EXPECT_EQ(line, FormatRecord(Expand(record, time, bytes, whole)));
      }
}

}  // namespace
}  // namespace vexlan::recorder
