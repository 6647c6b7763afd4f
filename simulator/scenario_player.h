// Plays a scenario file (VEXLAN_SIM_SCENARIO) on a thread of its own from the library's first Initialize:
// each event at its time, through the simulator's own controls, and its key events into standard input,
// which it ends when the scenario is over. With VEXLAN_SIM_SCENARIO_IN_STEP=1 (a replay) it also waits
// for each device event to be handled before it plays the next line, so that no key overtakes an event
// that came before it.
#pragma once

#include <condition_variable>
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
  bool loaded() const { return loaded_; }
  // Takes over standard input and starts playing. Once only.
  void Start(Simulator& simulator);
  // Stops playing (a flag and a join) and ends standard input.
  void Stop();

 private:
  void Play(Simulator& simulator);

  Scenario scenario_;
  bool loaded_ = false;
  bool in_step_ = false;
  bool started_ = false;
  StdinFeed input_;
  std::mutex mutex_;
  std::condition_variable stop_requested_;
  bool stop_ = false;
  std::thread thread_;
};

// Reads a whole file; false when it cannot be read.
bool ReadFile(const std::string& path, std::string* text);

}  // namespace vexlan::sim
