#include "directoutput/binding.h"

#include <gtest/gtest.h>

#include "directoutput/binding_testing.h"
#include "directoutput/directoutput_api_testing.h"
#include "directoutput/library_loader.h"
#include "tests/support/directoutput_config.h"

namespace vexlan {
namespace {

std::string LibraryBesideSimulator(const std::string& name) {
  std::string path = test::SimulatorPath();
  const size_t separator = path.find_last_of("/\\");
  return path.substr(0, separator + 1) + name + VEXLAN_LIBRARY_SUFFIX;
}

class BindingTest : public testing::Test {
 protected:
  ~BindingTest() override { test::ConfigureDirectOutput(test::SimulatorPath()); }
};

TEST_F(BindingTest, NothingConfiguredGivesAnEmptyBindingThatAnswersNotImplemented) {
  test::RemoveDirectOutputConfiguration();
  const DirectOutputBinding binding = LoadDirectOutput();
  EXPECT_FALSE(binding.loaded());
  Guid guid{};
  int dummy = 0;
  const HResult answers[] = {binding->Initialize(u"x"),
                             binding->Deinitialize(),
                             binding->RegisterDeviceCallback(nullptr, nullptr),
                             binding->Enumerate(nullptr, nullptr),
                             binding->RegisterPageCallback(&dummy, nullptr, nullptr),
                             binding->RegisterSoftButtonCallback(&dummy, nullptr, nullptr),
                             binding->GetDeviceType(&dummy, &guid),
                             binding->GetDeviceInstance(&dummy, &guid),
                             binding->SetProfile(&dummy, 1, u""),
                             binding->AddPage(&dummy, 1, nullptr, 1),
                             binding->RemovePage(&dummy, 1),
                             binding->SetLed(&dummy, 1, 1, 1),
                             binding->SetString(&dummy, 1, 1, 1, u""),
                             binding->SetImage(&dummy, 1, 1, 1, &dummy),
                             binding->SetImageFromFile(&dummy, 1, 1, 1, u""),
                             binding->StartServer(&dummy, 0, nullptr, nullptr, nullptr),
                             binding->CloseServer(&dummy, 0, nullptr),
                             binding->SendServerMsg(&dummy, 0, 0, 0, 0, nullptr, 0, nullptr, nullptr),
                             binding->SendServerFile(&dummy, 0, 0, 0, 0, nullptr, 0, nullptr, 0, nullptr, nullptr),
                             binding->SaveFile(&dummy, 0, 0, 0, nullptr, nullptr),
                             binding->DisplayFile(&dummy, 0, 0, 0, nullptr),
                             binding->DeleteFile(&dummy, 0, 0, nullptr)};
  EXPECT_EQ(std::size(answers), 22u);
  for (HResult answer : answers) EXPECT_EQ(answer, kE_NOTIMPL);
}

TEST_F(BindingTest, ALibraryWithSomeEntryPointsAnswersNotImplementedForTheRest) {
  test::ConfigureDirectOutput(LibraryBesideSimulator("partial_directoutput"));
  const DirectOutputBinding binding = LoadDirectOutput();
  ASSERT_TRUE(binding.loaded());
  EXPECT_EQ(EntryPointTesting::address(binding->Deinitialize), nullptr);
  int device = 0;
  EXPECT_EQ(binding->Initialize(u"x"), kS_OK);
  // The AddPage wrapper passes device, page and flags, and drops its unused third argument.
  EXPECT_EQ(binding->AddPage(&device, 2, u"ignored", 1), 2 * 16 + 1);
  EXPECT_EQ(binding->SetLed(&device, 0, 0, 0), kS_FALSE);
  EXPECT_EQ(binding->RemovePage(&device, 2), kE_NOTIMPL);
  EXPECT_EQ(binding->Deinitialize(), kE_NOTIMPL);
}

TEST_F(BindingTest, ALongPathIsReadWhole) {
  // 2047 units naming the simulated library through "./" segments.
  std::string path = test::SimulatorPath();
  const size_t separator = path.find_last_of("/\\");
  const std::string directory = path.substr(0, separator + 1);
  const std::string file = path.substr(separator + 1);
  std::string padded = directory;
  while (padded.size() + 2 + file.size() <= 2047) padded += std::string(".") + path[separator];
  padded += file;
  while (padded.size() < 2047) padded.insert(separator + 1, 1, path[separator]);
  ASSERT_EQ(padded.size(), 2047u);
  test::ConfigureDirectOutput(padded);
  const DirectOutputBinding binding = LoadDirectOutput();
  EXPECT_TRUE(binding.loaded());
  EXPECT_NE(EntryPointTesting::address(binding->DeleteFile), nullptr);
}

}  // namespace
}  // namespace vexlan
