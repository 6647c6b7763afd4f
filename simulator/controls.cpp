// The control interface: what tests, tools, scenarios and the web page do to the simulated devices,
// and what they read back.
#include "simulator/simulator.h"

#include <cstdio>

namespace vexlan::sim {

// ---- control --------------------------------------------------------------------------------------

void Simulator::Reset(const std::string& tags) {
  std::lock_guard<std::mutex> lock(mutex_);
  devices_.clear();
  next_id_ = 1;  // handles keep counting, so that no old handle is ever given again
  calls_.Clear();
  failures_.Clear();
  calls_.SetRecording(true);
  AttachTagsLocked(tags);
  web_.Show(devices_);
}

int Simulator::Plug(const std::string& tag) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int id = AttachLocked(tag);
  QueueLocked({Event::Kind::kArrival, devices_.back().handle, 0, true});
  ShowLocked(devices_.back(), "plugged");
  return id;
}

bool Simulator::Unplug(int id) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* device = FindByIdLocked(id);
  if (device == nullptr || !device->present) return false;
  device->present = false;
  // A unit that loses power loses what it showed.
  device->pages.clear();
  device->active_page.reset();
  device->profile.reset();
  QueueLocked({Event::Kind::kRemoval, device->handle, 0, false});
  ShowLocked(*device, "unplugged");
  return true;
}

bool Simulator::Replug(int id, bool new_handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* device = FindByIdLocked(id);
  if (device == nullptr || device->present) return false;
  if (new_handle) device->handle = NewHandleLocked();
  device->present = true;
  QueueLocked({Event::Kind::kArrival, device->handle, 0, true});
  ShowLocked(*device, new_handle ? "plugged back in, under a new handle" : "plugged back in");
  return true;
}

bool Simulator::Buttons(int id, uint32_t mask) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* device = FindByIdLocked(id);
  if (device == nullptr || !device->present) return false;
  QueueLocked({Event::Kind::kButtons, device->handle, mask, false});
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%X", mask);
  ShowLocked(*device, std::string("soft buttons ") + hex);
  return true;
}

bool Simulator::PageChange(int id, uint32_t page, bool active) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* device = FindByIdLocked(id);
  if (device == nullptr || !device->present) return false;
  if (active)
    device->active_page = page;
  else if (device->active_page == page)
    device->active_page.reset();
  QueueLocked({Event::Kind::kPage, device->handle, page, active});
  ShowLocked(*device, "turned to page " + std::to_string(page) + (active ? ", active" : ", inactive"));
  return true;
}

std::vector<DeviceInfo> Simulator::Devices() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<DeviceInfo> out;
  for (const Device& device : devices_) out.push_back({device.id, device.tag, device.present});
  return out;
}

void* Simulator::HandleOf(int id) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* device = FindByIdLocked(id);
  return device ? device->handle : nullptr;
}

bool Simulator::Initialized() {
  std::lock_guard<std::mutex> lock(mutex_);
  return initialized_;
}

const PageState* Simulator::PageLocked(int id, uint32_t page) {
  Device* device = FindByIdLocked(id);
  if (device == nullptr) return nullptr;
  auto it = device->pages.find(page);
  return it == device->pages.end() ? nullptr : &it->second;
}

namespace {
// What a page keeps of one kind (LEDs, strings, pictures) at `index`, if anything.
template <typename Value>
std::optional<Value> Kept(const PageState* page, std::map<uint32_t, Value> PageState::*kind, uint32_t index) {
  if (page == nullptr) return std::nullopt;
  auto it = (page->*kind).find(index);
  if (it == (page->*kind).end()) return std::nullopt;
  return it->second;
}
}  // namespace

std::optional<std::string> Simulator::String(int id, uint32_t page, uint32_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::optional<std::u16string> kept = Kept(PageLocked(id, page), &PageState::strings, index);
  if (!kept) return std::nullopt;
  return Utf16ToUtf8(kept->data(), kept->size());
}

std::optional<bool> Simulator::Led(int id, uint32_t page, uint32_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Kept(PageLocked(id, page), &PageState::leds, index);
}

std::optional<std::vector<uint8_t>> Simulator::Image(int id, uint32_t page, uint32_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Kept(PageLocked(id, page), &PageState::images, index);
}

std::vector<uint32_t> Simulator::Pages(int id) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<uint32_t> out;
  if (Device* device = FindByIdLocked(id))
    for (const auto& page : device->pages) out.push_back(page.first);
  return out;
}

std::optional<uint32_t> Simulator::ActivePage(int id) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* device = FindByIdLocked(id);
  return device ? device->active_page : std::nullopt;
}

std::optional<std::string> Simulator::Profile(int id) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* device = FindByIdLocked(id);
  if (device == nullptr || !device->profile) return std::nullopt;
  return Utf16ToUtf8(device->profile->data(), device->profile->size());
}

std::vector<CallRecord> Simulator::Calls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_.Calls();
}

uint64_t Simulator::ForgottenCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_.forgotten();
}

void Simulator::ClearCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.Clear();
}

void Simulator::SetRecording(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.SetRecording(on);
}

void Simulator::Fail(const std::string& name, HResult result) { FailAfter(name, 0, result); }

void Simulator::FailAfter(const std::string& name, uint32_t steps, HResult result) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.Set(name, steps, result);
}

void Simulator::Unfail(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.Remove(name);
}

// ---- the control interface ------------------------------------------------------------------------

void Reset(const std::string& tags) { Simulator::Instance().Reset(tags); }
int Plug(const std::string& tag) { return Simulator::Instance().Plug(tag); }
bool Unplug(int id) { return Simulator::Instance().Unplug(id); }
bool Replug(int id, bool new_handle) { return Simulator::Instance().Replug(id, new_handle); }
bool Buttons(int id, uint32_t mask) { return Simulator::Instance().Buttons(id, mask); }
bool PageChange(int id, uint32_t page, bool active) { return Simulator::Instance().PageChange(id, page, active); }
void Flush() { Simulator::Instance().Flush(); }
std::vector<DeviceInfo> Devices() { return Simulator::Instance().Devices(); }
void* HandleOf(int id) { return Simulator::Instance().HandleOf(id); }
bool Initialized() { return Simulator::Instance().Initialized(); }
std::optional<std::string> String(int id, uint32_t page, uint32_t index) {
  return Simulator::Instance().String(id, page, index);
}
std::optional<bool> Led(int id, uint32_t page, uint32_t index) { return Simulator::Instance().Led(id, page, index); }
std::optional<std::vector<uint8_t>> Image(int id, uint32_t page, uint32_t index) {
  return Simulator::Instance().Image(id, page, index);
}
std::vector<uint32_t> Pages(int id) { return Simulator::Instance().Pages(id); }
std::optional<uint32_t> ActivePage(int id) { return Simulator::Instance().ActivePage(id); }
std::optional<std::string> Profile(int id) { return Simulator::Instance().Profile(id); }
std::vector<CallRecord> Calls() { return Simulator::Instance().Calls(); }
uint64_t ForgottenCalls() { return Simulator::Instance().ForgottenCalls(); }
void ClearCalls() { Simulator::Instance().ClearCalls(); }
void SetRecording(bool on) { Simulator::Instance().SetRecording(on); }
void Fail(const std::string& name, HResult result) { Simulator::Instance().Fail(name, result); }
void FailAfter(const std::string& name, uint32_t steps, HResult result) {
  Simulator::Instance().FailAfter(name, steps, result);
}
void Unfail(const std::string& name) { Simulator::Instance().Unfail(name); }

}  // namespace vexlan::sim
