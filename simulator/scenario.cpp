#include "simulator/scenario.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "devices/device_kinds.h"

namespace vexlan::sim {
namespace {

bool ReadNumber(const std::string& word, double* value) {
  if (word.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *value = std::strtod(word.c_str(), &end);
  return errno == 0 && *end == '\0' && *value >= 0 && *value < 1e9;
}

bool ReadUnsigned(const std::string& word, uint32_t* value) {
  uint64_t parsed = 0;
  if (!ParseNumber(word.c_str(), 0xFFFFFFFFu, &parsed)) return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

bool ReadId(const std::string& word, int* id) {
  uint32_t value = 0;
  if (!ReadUnsigned(word, &value) || value == 0 || value > 1000000) return false;
  *id = static_cast<int>(value);
  return true;
}

// Reads one line's event after its time; "" or what is wrong.
std::string ReadEvent(std::istringstream& words, ScenarioEvent* event) {
  std::string name, first, second, extra;
  words >> name >> first >> second;
  std::getline(words, extra);
  const bool has_extra = extra.find_first_not_of(" \t\r") != std::string::npos;
  using Kind = ScenarioEvent::Kind;
  if (name == "plug") {
    if (first.empty() || !second.empty()) return "plug takes one device tag";
    if (!IsDeviceTag(first)) return "unknown device tag \"" + first + "\" (" + KindNameList() + ")";
    event->kind = Kind::kPlug;
    event->text = first;
  } else if (name == "unplug") {
    if (!ReadId(first, &event->id) || !second.empty()) return "unplug takes one device id";
    event->kind = Kind::kUnplug;
  } else if (name == "replug") {
    if (!ReadId(first, &event->id) || !(second.empty() || second == "new") || has_extra)
      return "replug takes a device id and optionally \"new\"";
    event->kind = Kind::kReplug;
    event->flag = second == "new";
  } else if (name == "buttons") {
    if (!ReadId(first, &event->id) || !ReadUnsigned(second, &event->value) || has_extra)
      return "buttons takes a device id and a mask";
    event->kind = Kind::kButtons;
  } else if (name == "page") {
    std::string state;
    std::istringstream rest(extra);
    rest >> state;
    std::string more;
    rest >> more;
    if (!ReadId(first, &event->id) || !ReadUnsigned(second, &event->value) || (state != "on" && state != "off") ||
        !more.empty())
      return "page takes a device id, a page and on or off";
    event->kind = Kind::kPage;
    event->flag = state == "on";
  } else if (name == "key") {
    event->kind = Kind::kKey;
    std::string text = first;
    if (!second.empty()) text += " " + second;
    if (has_extra) text += extra;
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
    event->text = text.empty() ? "\n" : text;
  } else if (name == "end") {
    if (!first.empty()) return "end takes nothing";
    event->kind = Kind::kEnd;
  } else {
    return name.empty() ? "an event is missing after the time" : "unknown event \"" + name + "\"";
  }
  return "";
}

}  // namespace

bool ParseNumber(const char* text, uint64_t max, uint64_t* out) {
  const size_t length = std::strlen(text);
  if (length == 0 || length > 20) return false;
  const bool hex = length > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  uint64_t value = 0;
  for (size_t at = hex ? 2 : 0; at < length; ++at) {
    const char c = text[at];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (value > max) return false;
  }
  *out = value;
  return true;
}

bool CheckDeviceIds(const Scenario& scenario, int devices_at_start, const std::string& name, std::string* error) {
  int devices = devices_at_start;
  for (const ScenarioEvent& event : scenario.events) {
    if (event.kind == ScenarioEvent::Kind::kPlug) {
      ++devices;
    } else if (event.kind != ScenarioEvent::Kind::kKey && event.id > devices) {
      *error = name + ":" + std::to_string(event.line) + ": there is no device " + std::to_string(event.id) + " (" +
               std::to_string(devices_at_start) + " at start, " + std::to_string(devices - devices_at_start) +
               " plugged before this line)";
      return false;
    }
  }
  return true;
}

bool IsDeviceTag(const std::string& tag) { return tag == KindOfName(tag.c_str()).name; }

bool ParseScenario(const std::string& text, const std::string& name, Scenario* scenario, std::string* error) {
  scenario->events.clear();
  scenario->end = 0;
  std::istringstream lines(text);
  std::string line;
  double previous = 0;
  bool ended = false;
  for (int number = 1; std::getline(lines, line); ++number) {
    const size_t comment = line.find('#');
    if (comment != std::string::npos) line.erase(comment);
    std::istringstream words(line);
    std::string time;
    if (!(words >> time)) continue;
    auto fail = [&](const std::string& what) {
      *error = name + ":" + std::to_string(number) + ": " + what;
      return false;
    };
    if (ended) return fail("nothing may follow end");
    ScenarioEvent event;
    event.line = number;
    const bool relative = time[0] == '+';
    double seconds = 0;
    if (!ReadNumber(relative ? time.substr(1) : time, &seconds))
      return fail("\"" + time + "\" is not a time (seconds, or +seconds after the line before)");
    event.at = relative ? previous + seconds : seconds;
    if (event.at < previous) return fail("time goes backwards");
    const std::string problem = ReadEvent(words, &event);
    if (!problem.empty()) return fail(problem);
    previous = event.at;
    scenario->end = event.at;
    if (event.kind == ScenarioEvent::Kind::kEnd)
      ended = true;
    else
      scenario->events.push_back(event);
  }
  return true;
}

}  // namespace vexlan::sim
