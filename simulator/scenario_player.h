// Plays a scenario file (VEXLAN_SIM_SCENARIO) on a thread of its own from the library's first Initialize:
// each event at its time, through the simulator's own controls, and its key events into standard input,
// which it ends when the scenario is over. With VEXLAN_SIM_SCENARIO_IN_STEP=1 (a replay) it also waits
// for each device event to be handled before it plays the next line, so that no key overtakes an event
// that came before it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "simulator/scenario.h"
#include "simulator/stdin_feed.h"

namespace vexlan::sim {

class Simulator;

class ScenarioPlayer {
 public:
  // Reads and checks the file that VEXLAN_SIM_SCENARIO names, for a simulator that started with
  // `devices_at_start` devices; true, with nothing loaded, when it is unset.
  bool Load(int devices_at_start, std::string* error);
  // Takes over standard input and starts playing, until the scenario ends or Stop. Once only.
  void Start(Simulator& simulator);
  // Plays no more of the scenario, ends the input and waits for the player's thread. For the library's
  // unloading: the simulator is never destroyed, so nothing stops the player earlier.
  void Stop();
  // Whether the loaded scenario plays in step with the calls (a replay).
  bool in_step() const { return in_step_; }

 private:
  void Play(Simulator& simulator);
  // Waits until `seconds` after `start`; false when stopped first.
  bool WaitUntil(std::chrono::steady_clock::time_point start, double seconds);

  Scenario scenario_;
  bool loaded_ = false;
  bool in_step_ = false;
  bool started_ = false;
  StdinFeed input_;
  std::mutex mutex_;
  std::condition_variable stop_changed_;
  bool stop_ = false;  // guarded by mutex_
  std::thread thread_;  // guarded by mutex_
};

// Reads a whole file; false when it cannot be read.
bool ReadFile(const std::filesystem::path& path, std::string* text);

// Reads, parses and checks the scenario in `file` (called `name` in what is wrong) for a simulator that
// started with `devices_at_start` devices.
bool LoadScenario(const std::filesystem::path& file, const std::string& name, int devices_at_start,
                  Scenario* scenario, std::string* error);

// Reads and checks a scenario file for the devices attached now: "" and its end time, or what is wrong.
std::string CheckScenario(const std::string& path, double* end);

}  // namespace vexlan::sim
