// The sample trace of docs/reference.md read, turned into a scenario and replayed.
#include "recorder/replay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>

#include "recorder/trace_record.h"

namespace vexlan::recorder {
namespace {

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
