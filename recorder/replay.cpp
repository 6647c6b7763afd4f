#include "recorder/replay.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>

#include "devices/device_kinds.h"
#include "simulator/scenario.h"

namespace vexlan::recorder {
namespace {

bool SameCall(const TraceRecord& a, const TraceRecord& b) {
  return a.name == b.name && a.device == b.device && a.arguments == b.arguments;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

std::string TagOf(const Guid& type) { return KindOfType(type).name; }

const std::string* Field(const Fields& fields, const std::string& key) {
  for (const auto& field : fields)
    if (field.first == key) return &field.second;
  return nullptr;
}

// What the trace says of each device handle: its type and instance, from the module's questions.
struct HandleFacts {
  std::map<int, std::string> tag;
  std::map<int, std::string> instance;
};

HandleFacts LearnHandles(const std::vector<TraceRecord>& records) {
  HandleFacts facts;
  for (const TraceRecord& record : records) {
    if (record.kind != "call" || record.result != kS_OK) continue;
    const std::string* guid = Field(record.outputs, "guid");
    Guid parsed{};
    if (guid == nullptr || !ParseGuid(*guid, &parsed)) continue;
    if (record.name == "GetDeviceType") facts.tag.emplace(record.device, TagOf(parsed));
    if (record.name == "GetDeviceInstance") facts.instance.emplace(record.device, *guid);
  }
  return facts;
}

}  // namespace

bool ReadTrace(const std::string& text, std::vector<TraceRecord>* records, std::string* error) {
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    TraceRecord record;
    if (ParseRecord(line, &record, error)) {
      record.line = number;
      records->push_back(std::move(record));
    } else if (!error->empty()) {
      *error = std::to_string(number) + ": " + *error;
      return false;
    }
  }
  return true;
}

// ---- the check ------------------------------------------------------------------------------------

namespace {

// Each event of the trace (enumerations excepted: they come inside a call) with the number of calls that
// had started before it. All calls count: those a callback makes run on the library's thread or, when the
// script was busy, later on the script's own, and either way they were made.
template <typename Turn>
std::vector<Turn> TurnsOf(const std::vector<TraceRecord>& records) {
  std::vector<double> starts;
  for (const TraceRecord& record : records)
    if (record.kind == "call") starts.push_back(record.time);
  std::sort(starts.begin(), starts.end());
  std::vector<Turn> turns;
  for (const TraceRecord& record : records) {
    if (record.kind != "arrival" && record.kind != "removal" && record.kind != "page" && record.kind != "buttons")
      continue;
    const auto before = std::lower_bound(starts.begin(), starts.end(), record.time) - starts.begin();
    turns.push_back({CallbackKey(record.kind, record.device, record.number), static_cast<uint64_t>(before)});
  }
  return turns;
}

constexpr auto kLongestTurn = std::chrono::seconds(1);
// How many of the calls not yet matched a call may match, from the earliest on: calls from a callback
// run on the library's thread or, when the script was busy, on its own inside Listen, so they may come
// a little before or after the script's own calls.
constexpr size_t kLookAhead = 32;

}  // namespace

ReplayCheck::ReplayCheck(const std::vector<TraceRecord>& records) {
  for (const TraceRecord& record : records) {
    if (record.kind == "call") calls_.push_back(record);
    if (record.kind == "dropped")
      if (const std::string* count = Field(record.arguments, "count")) dropped_ += std::stoull(*count);
  }
  platform::FastMutexLock lock(mutex_);
  matched_.assign(calls_.size(), false);
  instead_.assign(calls_.size(), std::string());
  turns_ = TurnsOf<Turn>(records);
}

bool ReplayCheck::WaitOnce(std::chrono::steady_clock::time_point deadline) {
  const auto now = std::chrono::steady_clock::now();
  if (now >= deadline) return false;
  turn_.WaitFor(mutex_, deadline - now);
  return true;
}

void ReplayCheck::BeforeCall() {
  platform::FastMutexLock lock(mutex_);
  ++started_;
  turn_.NotifyAll();
}

void ReplayCheck::BeforeCallback(const std::string& key) {
  platform::FastMutexLock lock(mutex_);
  size_t at = next_turn_;
  while (at < turns_.size() && (turns_[at].done || turns_[at].key != key)) ++at;
  if (at == turns_.size()) return;  // not in the trace: handed on at once
  const auto deadline = std::chrono::steady_clock::now() + kLongestTurn;
  while (started_ < turns_[at].calls_before && WaitOnce(deadline)) continue;
  if (started_ < turns_[at].calls_before) ++late_;
  turns_[at].done = true;
  while (next_turn_ < turns_.size() && turns_[next_turn_].done) ++next_turn_;
  turn_.NotifyAll();
}

std::string ReplayCheck::Where(size_t index) const {
  const TraceRecord& call = calls_[index];
  return "call " + std::to_string(index + 1) + " (trace line " + std::to_string(call.line) + ", at " +
         Seconds(call.time) + " s" + (call.context.empty() ? "" : ", from callback " + call.context) + ")";
}

void ReplayCheck::Note(double position, std::string text) {
  if (!first_ || position < first_->position) first_ = Difference{position, std::move(text)};
}

const TraceRecord* ReplayCheck::Check(const TraceRecord& actual) {
  platform::FastMutexLock lock(mutex_);
  ++compared_;
  size_t looked = 0;
  for (size_t i = first_unmatched_; i < calls_.size() && looked < kLookAhead; ++i) {
    if (matched_[i]) continue;
    ++looked;
    if (!SameCall(calls_[i], actual)) continue;
    matched_[i] = true;
    for (size_t skipped = first_unmatched_; skipped < i; ++skipped)  // what came while they were due
      if (!matched_[skipped] && instead_[skipped].empty()) instead_[skipped] = DescribeCall(actual);
    while (first_unmatched_ < calls_.size() && matched_[first_unmatched_]) ++first_unmatched_;
    return &calls_[i];
  }
  if (first_unmatched_ == calls_.size()) {
    Note(static_cast<double>(calls_.size()), "the end of the trace: expected nothing more, got " + DescribeCall(actual));
  } else {
    const std::string& instead = instead_[first_unmatched_];
  Note(static_cast<double>(first_unmatched_), Where(first_unmatched_) + ": expected " +
                                                  DescribeCall(calls_[first_unmatched_]) + ", got " +
                                                  (instead.empty() ? DescribeCall(actual) : instead));
  }
  return nullptr;
}

void ReplayCheck::CloseSession(const TraceRecord* deinitialize) {
  if (deinitialize == nullptr) return;
  const size_t limit = static_cast<size_t>(deinitialize - calls_.data());
  platform::FastMutexLock lock(mutex_);
  for (size_t i = first_unmatched_; i < limit; ++i) {
    if (matched_[i]) continue;
    Note(static_cast<double>(i), Where(i) + ": expected " + DescribeCall(calls_[i]) + ", got " +
                                     (instead_[i].empty() ? "nothing (the script never made it)" : instead_[i]));
    break;
  }
  for (size_t i = first_unmatched_; i < limit; ++i) matched_[i] = true;
  while (first_unmatched_ < calls_.size() && matched_[first_unmatched_]) ++first_unmatched_;
}

bool ReplayCheck::HasDifference() const {
  platform::FastMutexLock lock(mutex_);
  return first_.has_value();
}

std::string ReplayCheck::Report() const {
  platform::FastMutexLock lock(mutex_);
  std::string report = first_ ? "first difference at " + first_->text
                              : "no difference (" + std::to_string(compared_) + " calls compared with " +
                                    std::to_string(calls_.size()) + " recorded)";
  if (late_ > 0)
    report += "\n" + std::to_string(late_) + " device events waited a second for calls that had come before them while recording";
  if (dropped_ > 0)
    report += "\nthe trace lost " + std::to_string(dropped_) + " records to a full buffer: the comparison is incomplete";
  return report + "\n";
}

// ---- the scenario ---------------------------------------------------------------------------------

bool TraceToScenario(const std::string& trace, const std::string& keys, std::string* scenario, std::string* devices,
                     std::string* error) {
  std::vector<TraceRecord> records;
  if (!ReadTrace(trace, &records, error)) return false;
  sim::Scenario key_scenario;
  if (!sim::ParseScenario(keys, "keys", &key_scenario, error)) return false;
  const HandleFacts facts = LearnHandles(records);
  double start = 0;
  for (const TraceRecord& record : records)
    if (record.kind == "call" && record.name == "Initialize") {
      start = record.time;
      break;
    }

  struct Unit {
    std::string instance;
    bool present = true;
  };
  std::vector<Unit> units;           // unit i is the scenario's device i + 1
  std::map<int, size_t> unit_of;     // handle -> unit
  std::vector<std::pair<double, std::string>> events;
  auto tag_of = [&](int device) {
    auto found = facts.tag.find(device);
    return found == facts.tag.end() ? std::string(kUnknownKind.name) : found->second;
  };
  auto instance_of = [&](int device) {
    auto found = facts.instance.find(device);
    return found == facts.instance.end() ? std::string() : found->second;
  };
  auto add_unit = [&](int device) {
    units.push_back({instance_of(device), true});
    unit_of[device] = units.size() - 1;
  };
  double last = 0;
  bool enumerated = false;
  for (const TraceRecord& record : records) {
    const double at = std::max(last, record.time - start);
    if (record.kind == "call" && record.name == "Enumerate") enumerated = true;
    const auto known = unit_of.find(record.device);
    const std::string id = known == unit_of.end() ? "" : std::to_string(known->second + 1);
    std::string event;
    if (record.kind == "enumerate" && known == unit_of.end()) {
      if (!enumerated && events.empty()) {
        *devices += (devices->empty() ? "" : ",") + tag_of(record.device);
        add_unit(record.device);
        continue;
      }
      event = "plug " + tag_of(record.device);  // a device first reported by a later enumeration
      add_unit(record.device);
    } else if (record.kind == "arrival" && known != unit_of.end()) {
      // An arrival of a unit still present: its removal came before the module listened. The replay
      // removes it at the same moment, so that the module gets the arrival as it did.
      if (units[known->second].present) events.emplace_back(at, "unplug " + id);
      units[known->second].present = true;
      event = "replug " + id;
    } else if (record.kind == "arrival") {
      const std::string instance = instance_of(record.device);
      auto same = std::find_if(units.begin(), units.end(), [&](const Unit& unit) {
        return !unit.present && !instance.empty() && unit.instance == instance;
      });
      if (same != units.end()) {
        same->present = true;
        unit_of[record.device] = static_cast<size_t>(same - units.begin());
        event = "replug " + std::to_string(same - units.begin() + 1) + " new";
      } else {
        event = "plug " + tag_of(record.device);
        add_unit(record.device);
      }
    } else if (record.kind == "removal" && known != unit_of.end() && units[known->second].present) {
      units[known->second].present = false;
      event = "unplug " + id;
    } else if (record.kind == "page" && known != unit_of.end()) {
      const std::string* page = Field(record.arguments, "page");
      const std::string* active = Field(record.arguments, "active");
      if (page == nullptr || active == nullptr) continue;
      event = "page " + id + " " + *page + (*active == "0" ? " off" : " on");
    } else if (record.kind == "buttons" && known != unit_of.end()) {
      const std::string* mask = Field(record.arguments, "mask");
      if (mask == nullptr) continue;
      event = "buttons " + id + " " + *mask;
    } else {
      if (record.kind != "call" && record.kind != "dropped") last = at;
      continue;
    }
    last = at;
    events.emplace_back(at, event);
  }
  for (const sim::ScenarioEvent& key : key_scenario.events)
    if (key.kind == sim::ScenarioEvent::Kind::kKey)
      events.emplace_back(key.at, key.text == "\n" ? "key" : "key " + key.text);
  std::stable_sort(events.begin(), events.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  double end = std::max(last, key_scenario.end);
  if (!records.empty()) end = std::max(end, records.back().time - start);
  std::ostringstream out;
  out << "# the device events of a trace" << (keys.empty() ? "" : ", with the keys of a scenario") << "\n";
  char time[32];
  for (const auto& [at, event] : events) {
    std::snprintf(time, sizeof time, "%.6f", at);
    out << time << "  " << event << "\n";
  }
  std::snprintf(time, sizeof time, "%.6f", end);
  out << time << "  end\n";
  *scenario = out.str();
  if (devices->empty()) *devices = "";
  return true;
}

}  // namespace vexlan::recorder
