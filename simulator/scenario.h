// Scenario files: what the simulated devices do while a script runs, one event a line.
//
//   # a comment; blank lines are ignored
//   TIME  EVENT  ARGUMENTS
//
// TIME is seconds from the start (the library's first Initialize), or +SECONDS after the line before.
// Events:
//   plug TAG             a new device of a kind in devices/device_kinds.h (UNKN: of another type)
//   unplug ID            the unit leaves
//   replug ID [new]      the same unit comes back, under a new handle with "new"
//   buttons ID MASK      the soft buttons' new state (decimal, or hexadecimal with 0x)
//   page ID PAGE on|off  the device reports a page becoming active or inactive
//   key [TEXT]           characters for Listen on standard input (one newline without TEXT)
//   end                  the scenario ends here (otherwise at its last event)
// Device ids are the simulator's: the devices attached at start are 1, 2, ... and each plug takes the next.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexlan::sim {

struct ScenarioEvent {
  enum class Kind { kPlug, kUnplug, kReplug, kButtons, kPage, kKey, kEnd };
  double at = 0;  // seconds from the start
  Kind kind = Kind::kEnd;
  std::string text;  // plug: the tag; key: the characters
  int id = 0;
  uint32_t value = 0;  // buttons: the mask; page: the page
  bool flag = false;   // replug: new handle; page: on
  int line = 0;
};

struct Scenario {
  std::vector<ScenarioEvent> events;  // in time order
  double end = 0;
};

// A whole decimal (or 0x hexadecimal) number of at most `max`: no sign, no spaces, no octal.
bool ParseNumber(const char* text, uint64_t max, uint64_t* out);

// The tags a scenario may name: those of the catalogue of device kinds.
bool IsDeviceTag(const std::string& tag);

// Parses a scenario's text. On a line it cannot read, returns false with `error` set to
// "NAME:LINE: what is wrong".
bool ParseScenario(const std::string& text, const std::string& name, Scenario* scenario, std::string* error);

// Every id the scenario names exists when its line plays, given the devices attached at start.
bool CheckDeviceIds(const Scenario& scenario, int devices_at_start, const std::string& name, std::string* error);

}  // namespace vexlan::sim
