#include "simulator/scenario_player.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "simulator/output_file.h"
#include "simulator/simulator.h"

namespace vexlan::sim {

bool ReadFile(const std::filesystem::path& path, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream contents;
  contents << file.rdbuf();
  *text = contents.str();
  return true;
}

bool LoadScenario(const std::filesystem::path& file, const std::string& name, int devices_at_start,
                  Scenario* scenario, std::string* error) {
  std::string text;
  if (!ReadFile(file, &text)) {
    *error = "cannot read the scenario " + name;
    return false;
  }
  return ParseScenario(text, name, scenario, error) && CheckDeviceIds(*scenario, devices_at_start, name, error);
}

std::string CheckScenario(const std::string& path, double* end) {
  Scenario scenario;
  std::string error;
  if (!LoadScenario(path, path, static_cast<int>(Simulator::Instance().Devices().size()), &scenario, &error))
    return error;
  *end = scenario.end;
  return "";
}

bool ScenarioPlayer::Load(int devices_at_start, std::string* error) {
  const std::filesystem::path file = EnvironmentPath("VEXLAN_SIM_SCENARIO");
  if (file.empty() || loaded_) return true;
  if (!LoadScenario(file, file.u8string(), devices_at_start, &scenario_, error)) return false;
  loaded_ = true;
  const char* in_step = std::getenv("VEXLAN_SIM_SCENARIO_IN_STEP");
  in_step_ = in_step != nullptr && std::string(in_step) == "1";
  return true;
}

void ScenarioPlayer::Start(Simulator& simulator) {
  if (!loaded_ || started_) return;
  started_ = true;
  input_.Open();
  std::lock_guard<std::mutex> lock(mutex_);
  thread_ = std::thread([this, &simulator] { Play(simulator); });
}

void ScenarioPlayer::Stop() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    thread.swap(thread_);
  }
  stop_changed_.notify_all();
  if (thread.joinable()) thread.join();
}

bool ScenarioPlayer::WaitUntil(std::chrono::steady_clock::time_point start, double seconds) {
  const auto at = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds));
  std::unique_lock<std::mutex> lock(mutex_);
  return !stop_changed_.wait_until(lock, at, [this] { return stop_; });
}

void ScenarioPlayer::Play(Simulator& simulator) {
  const auto start = std::chrono::steady_clock::now();
  using Kind = ScenarioEvent::Kind;
  for (const ScenarioEvent& event : scenario_.events) {
    if (!WaitUntil(start, event.at)) break;
    switch (event.kind) {
      case Kind::kPlug: simulator.Plug(event.text); break;
      case Kind::kUnplug: simulator.Unplug(event.id); break;
      case Kind::kReplug: simulator.Replug(event.id, event.flag); break;
      case Kind::kButtons: simulator.Buttons(event.id, event.value); break;
      case Kind::kPage: simulator.PageChange(event.id, event.value, event.flag); break;
      case Kind::kKey: input_.Write(event.text); break;
      case Kind::kEnd: break;
    }
    if (in_step_ && event.kind != Kind::kKey) simulator.Flush();
  }
  if (WaitUntil(start, scenario_.end))
    simulator.Flush();  // what the scenario caused has reached the script before its input ends
  input_.Close();
}

}  // namespace vexlan::sim
