// The recorder's trace: its lines read back as written, its writer under a full buffer and a disk that
// refuses to write, and the sample trace of docs/reference.md read, turned into a scenario and replayed.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>

#include "devices/device_kinds.h"
#include "recorder/replay.h"
#include "recorder/trace_record.h"
#include "recorder/trace_writer.h"

namespace vexlan::recorder {
namespace {

using namespace std::chrono_literals;

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
  std::vector<uint8_t> picture(directoutput::kImageBytes, 7);
  const std::string hash = PictureHash(picture.data(), picture.size());
  EXPECT_EQ(hash.size(), 16u);
  for (size_t at : {size_t{0}, size_t{12345}, picture.size() - 1}) {
    picture[at] ^= 1;
    EXPECT_NE(PictureHash(picture.data(), picture.size()), hash) << at;
    picture[at] ^= 1;
  }
  EXPECT_EQ(Base64(reinterpret_cast<const uint8_t*>("vexla"), 5), "dmV4bGE=");
}

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
  std::vector<uint8_t> picture(directoutput::kImageBytes, 0);
  std::vector<std::string> hashes;
  int accepted = 0;
  for (int i = 0; i < TraceWriter::kPictureSlots + 1; ++i) {
    picture[0] = static_cast<uint8_t>(i);
    hashes.push_back(PictureHash(picture.data(), picture.size()));
    PendingRecord record;
    record.name = "SetImage";
    record.has_picture = true;
    record.picture_bytes = directoutput::kImageBytes;
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

// The sample trace of the reference: the first ```trace block of docs/reference.md.
std::string ReferenceSample() {
  std::ifstream file(std::string(VEXLAN_TEST_DATA) + "/../docs/reference.md", std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  const std::string reference = text.str();
  const size_t start = reference.find("```trace\n");
  if (start == std::string::npos) return "";
  const size_t end = reference.find("```", start + 9);
  return reference.substr(start + 9, end - start - 9);
}

TEST(TraceSample, TheReferencesSampleReadsReplaysAndBecomesAScenario) {
  const std::string sample = ReferenceSample();
  ASSERT_NE(sample, "") << "docs/reference.md has no ```trace block";
  std::vector<TraceRecord> records;
  std::string error;
  ASSERT_TRUE(ReadTrace(sample, &records, &error)) << error;
  ASSERT_GT(records.size(), 10u);

  std::string scenario, devices;
  ASSERT_TRUE(TraceToScenario(sample, "0.5 key\n", &scenario, &devices, &error)) << error;
  EXPECT_EQ(devices, "X52P,SFIP");
  EXPECT_NE(scenario.find("  buttons 2 0x00000002\n"), std::string::npos) << scenario;
  EXPECT_NE(scenario.find("0.500000  key\n"), std::string::npos) << scenario;
  EXPECT_NE(scenario.find("  unplug 2\n"), std::string::npos) << scenario;
  EXPECT_NE(scenario.find("  replug 2 new\n"), std::string::npos) << scenario;

  // Its own calls replayed: no difference; one string changed: caught at that call.
  for (bool change : {false, true}) {
    ReplayCheck check(records);
    const TraceRecord* deinitialize = nullptr;
    bool changed = false;
    for (TraceRecord record : records) {
      if (record.kind != "call") continue;
      if (change && !changed && record.name == "SetString") {
        record.arguments.back().second = "\"changed\"";
        changed = true;
      }
      const TraceRecord* matched = check.Check(record);
      if (record.name == "Deinitialize") deinitialize = matched;
    }
    check.CloseSession(deinitialize);
    EXPECT_EQ(check.HasDifference(), change) << check.Report();
    if (change) {
      EXPECT_NE(check.Report().find(", got SetString d2 page=1 index=0 length=6 text=\"changed\""), std::string::npos)
          << check.Report();
    }
  }
}

TEST(TraceSample, AnArrivalOfAUnitStillPresentIsReplayedAsARemovalAndAReturn) {
  // The unit left before the module registered for device changes, so only its return was recorded.
  const std::string trace =
      "0.1 1 call Initialize text=\"x\" -> 0x00000000\n"
      "0.2 1 enumerate d1 n=1\n"
      "0.2 1 call GetDeviceType d1 in=enumerate:d1:1 -> 0x00000000 guid={3E083CD8-6A37-4A58-80A8-3D6A2C07513E}\n"
      "0.2 1 call Enumerate handler=1 -> 0x00000000\n"
      "0.6 2 arrival d1 n=1 added=1\n";
  std::string scenario, devices, error;
  ASSERT_TRUE(TraceToScenario(trace, "", &scenario, &devices, &error)) << error;
  EXPECT_EQ(devices, "SFIP");
  EXPECT_NE(scenario.find("0.500000  unplug 1\n0.500000  replug 1\n"), std::string::npos) << scenario;
}

}  // namespace
}  // namespace vexlan::recorder
