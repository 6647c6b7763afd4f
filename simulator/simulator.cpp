// The one simulated library and its devices.
#include "simulator/simulator.h"

#include "devices/device_kinds.h"
#include "platform/utf16.h"

#include <cstdlib>

namespace vexlan::sim {
namespace {

constexpr uintptr_t kFirstHandle = 0x51000000;

Guid TypeOfTag(const std::string& tag) { return KindOfName(tag.c_str()).type; }

Guid InstanceOfId(int id) {
  return Guid{0x5EED0000u + static_cast<uint32_t>(id), 0x0001, 0x4002, {0x80, 0x03, 0, 0, 0, 0, 0, 0x04}};
}

std::vector<std::string> SplitTags(const std::string& tags) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= tags.size() && !tags.empty()) {
    size_t comma = tags.find(',', start);
    if (comma == std::string::npos) comma = tags.size();
    if (comma > start) out.push_back(tags.substr(start, comma - start));
    start = comma + 1;
  }
  return out;
}

}  // namespace

std::string Utf16ToUtf8(const WideChar* text, size_t units) {
  std::string out;
  for (size_t at = 0; at < units;) {
    const char32_t code = platform::NextCodePoint(text, units, &at);
    platform::AppendUtf8(out, platform::IsSurrogate(code) ? 0xFFFD : code);
  }
  return out;
}

Simulator& Simulator::Instance() {
  // Never destroyed: the event thread may outlive static destruction in a process that exits without
  // deinitialising, and a destroyed instance would then be used after free.
  static Simulator* instance = new Simulator();
  return *instance;
}

// At the library's unloading (in practice, the process's exit), the scenario player stops and is joined.
// The event thread is Deinitialize's to stop.
namespace {
struct StopPlayingAtUnload {
  ~StopPlayingAtUnload() { Simulator::Instance().StopPlaying(); }
} stop_playing_at_unload;
}  // namespace

void Simulator::StopPlaying() { player_.Stop(); }

bool Simulator::PlaysInStep() {
  std::lock_guard<std::mutex> lock(mutex_);
  return player_.in_step();
}

Simulator::Simulator() {
  const char* tags = std::getenv("VEXLAN_SIM_DEVICES");
  AttachTagsLocked(tags == nullptr ? "X52P,SFIP" : tags);
}

void Simulator::AttachTagsLocked(const std::string& tags) {
  for (const std::string& tag : SplitTags(tags)) AttachLocked(tag);
}

void* Simulator::NewHandleLocked() { return reinterpret_cast<void*>(kFirstHandle + 0x100 * next_handle_++); }

int Simulator::AttachLocked(const std::string& tag) {
  Device device;
  device.id = next_id_++;
  device.tag = tag;
  device.type = TypeOfTag(tag);
  device.instance = InstanceOfId(device.id);
  device.handle = NewHandleLocked();
  device.present = true;
  devices_.push_back(std::move(device));
  return devices_.back().id;
}

Device* Simulator::FindByHandleLocked(void* handle) {
  for (Device& device : devices_)
    if (device.handle == handle && handle != nullptr) return &device;
  return nullptr;
}

Device* Simulator::FindByIdLocked(int id) {
  for (Device& device : devices_)
    if (device.id == id) return &device;
  return nullptr;
}

}  // namespace vexlan::sim
