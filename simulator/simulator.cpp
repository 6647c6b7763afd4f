#include "simulator/simulator.h"

#include "devices/device_kinds.h"
#include "platform/utf16.h"
#include "simulator/panel_view.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <cstring>

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

namespace {
// With recording off, nothing is built: the simulator stays out of allocation counts.
CallRecord MakeRecord(const char* name, const Device* device, bool recording) {
  CallRecord record;
  if (recording) record.name = name;
  record.id = device != nullptr ? device->id : 0;
  return record;
}

// Text as the device received it: `length` units, less a terminating zero at the end.
std::u16string SentText(const WideChar* text, uint32_t length) {
  if (text == nullptr) return {};
  std::u16string out(text, length);
  if (!out.empty() && out.back() == 0) out.pop_back();
  return out;
}
}  // namespace

Simulator& Simulator::Instance() {
  // Never destroyed: the event thread may outlive static destruction in a process that exits without
  // deinitialising, and a destroyed instance would then be used after free.
  static Simulator* instance = new Simulator();
  return *instance;
}

Simulator::Simulator() {
  const char* tags = std::getenv("VEXLAN_SIM_DEVICES");
  for (const std::string& tag : SplitTags(tags == nullptr ? "X52P,SFIP" : tags)) AttachLocked(tag);
}

int Simulator::AttachLocked(const std::string& tag) {
  Device device;
  device.id = next_id_++;
  device.tag = tag;
  device.type = TypeOfTag(tag);
  device.instance = InstanceOfId(device.id);
  device.handle = reinterpret_cast<void*>(kFirstHandle + 0x100 * next_handle_++);
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

Device* Simulator::PresentDeviceLocked(void* handle) {
  Device* device = FindByHandleLocked(handle);
  return device != nullptr && device->present ? device : nullptr;
}

bool Simulator::ForcedLocked(const char* name, HResult* result) {
  auto it = failures_.find(name);
  if (it == failures_.end()) return false;
  if (it->second.steps_before > 0) {
    --it->second.steps_before;
    return false;
  }
  *result = it->second.result;
  return true;
}

HResult Simulator::RecordLocked(CallRecord record, HResult result) {
  if (!recording_) return result;
  record.result = result;
  if (call_count_ == kMaxRecordedCalls) ForgetOldestCallLocked();
  calls_text_bytes_ += record.text ? record.text->size() : 0;
  const size_t slot = (oldest_call_ + call_count_) % kMaxRecordedCalls;
  if (calls_.empty()) calls_.reserve(kMaxRecordedCalls);
  if (slot == calls_.size())
    calls_.push_back(std::move(record));
  else
    calls_[slot] = std::move(record);
  ++call_count_;
  while (calls_text_bytes_ > kMaxRecordedTextBytes && call_count_ > 1) ForgetOldestCallLocked();
  return result;
}

void Simulator::ForgetOldestCallLocked() {
  CallRecord& oldest = calls_[oldest_call_];
  if (oldest.text) {
    calls_text_bytes_ -= oldest.text->size();
    oldest.text.reset();
  }
  oldest_call_ = (oldest_call_ + 1) % kMaxRecordedCalls;
  --call_count_;
  ++forgotten_calls_;
}

// ---- entry points ---------------------------------------------------------------------------------

HResult Simulator::Initialize(const WideChar* plugin_name) {
  std::unique_lock<std::mutex> lock(mutex_);
  CallRecord record = MakeRecord("Initialize", nullptr, recording_);
  size_t units = 0;
  if (plugin_name != nullptr)
    while (plugin_name[units] != 0) ++units;
  record.text = Utf16ToUtf8(plugin_name, units);
  HResult forced;
  if (ForcedLocked("Initialize", &forced)) return RecordLocked(record, forced);
  plugin_name_.assign(plugin_name == nullptr ? u"" : plugin_name, units);
  initialized_ = true;
  StartShowingLocked();
  if (thread_ == nullptr) {
    stop_ = false;
    thread_ = new std::thread([this] { EventLoop(); });
  }
  const HResult result = RecordLocked(record, kS_OK);
  lock.unlock();
  web_.Start();
  return result;
}

void Simulator::StopThread(std::unique_lock<std::mutex>& lock) {
  if (thread_ == nullptr) return;
  stop_ = true;
  queue_changed_.notify_all();
  std::thread* thread = thread_;
  thread_ = nullptr;
  if (std::this_thread::get_id() == thread->get_id()) {
    thread->detach();  // a handler deinitialised from the event thread: it ends once the handler returns
    delete thread;
    return;
  }
  lock.unlock();
  thread->join();
  lock.lock();
  delete thread;
}

HResult Simulator::Deinitialize() {
  std::unique_lock<std::mutex> lock(mutex_);
  HResult forced;
  if (ForcedLocked("Deinitialize", &forced))
    return RecordLocked(MakeRecord("Deinitialize", nullptr, recording_), forced);
  initialized_ = false;
  view_.Summary(devices_);
  device_handler_ = nullptr;
  page_handlers_.clear();
  button_handlers_.clear();
  StopThread(lock);
  const HResult result = RecordLocked(MakeRecord("Deinitialize", nullptr, recording_), kS_OK);
  lock.unlock();
  web_.Stop();
  return result;
}

HResult Simulator::RegisterDeviceCallback(DeviceChangeHandlerFn handler, void* context) {
  std::lock_guard<std::mutex> lock(mutex_);
  CallRecord record = MakeRecord("RegisterDeviceCallback", nullptr, recording_);
  record.handler = handler != nullptr;
  HResult forced;
  if (ForcedLocked("RegisterDeviceCallback", &forced)) return RecordLocked(record, forced);
  device_handler_ = handler;
  device_context_ = context;
  return RecordLocked(record, kS_OK);
}

HResult Simulator::Enumerate(EnumerateHandlerFn handler, void* context) {
  std::vector<void*> handles;
  HResult result = kS_OK;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    CallRecord record = MakeRecord("Enumerate", nullptr, recording_);
    record.handler = handler != nullptr;
    for (const Device& device : devices_)
      if (device.present) handles.push_back(device.handle);
    // A forced failure counts devices reported, not calls: the call that uses up what is left of the
    // count reports that many and then fails.
    auto failure = failures_.find("Enumerate");
    if (failure != failures_.end()) {
      uint32_t& left = failure->second.steps_before;
      if (handles.size() >= left) {
        handles.resize(left);
        result = failure->second.result;
      }
      left -= static_cast<uint32_t>(handles.size());
    }
    RecordLocked(record, result);
  }
  // Synchronously, in attachment order, with no lock held: the handler calls back into the library.
  if (handler != nullptr)
    for (void* handle : handles) handler(handle, context);
  return result;
}

HResult Simulator::RegisterPageCallback(void* device, PageChangeHandlerFn handler, void* context) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* found = FindByHandleLocked(device);
  CallRecord record = MakeRecord("RegisterPageCallback", found, recording_);
  record.handler = handler != nullptr;
  HResult forced;
  if (ForcedLocked("RegisterPageCallback", &forced)) return RecordLocked(record, forced);
  if (PresentDeviceLocked(device) == nullptr) return RecordLocked(record, kE_HANDLE);
  if (handler == nullptr)
    page_handlers_.erase(device);
  else
    page_handlers_[device] = {handler, context};
  return RecordLocked(record, kS_OK);
}

HResult Simulator::RegisterSoftButtonCallback(void* device, SoftButtonHandlerFn handler, void* context) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* found = FindByHandleLocked(device);
  CallRecord record = MakeRecord("RegisterSoftButtonCallback", found, recording_);
  record.handler = handler != nullptr;
  HResult forced;
  if (ForcedLocked("RegisterSoftButtonCallback", &forced)) return RecordLocked(record, forced);
  if (PresentDeviceLocked(device) == nullptr) return RecordLocked(record, kE_HANDLE);
  if (handler == nullptr)
    button_handlers_.erase(device);
  else
    button_handlers_[device] = {handler, context};
  return RecordLocked(record, kS_OK);
}

HResult Simulator::GetDeviceType(void* device, Guid* type) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* found = FindByHandleLocked(device);
  CallRecord record = MakeRecord("GetDeviceType", found, recording_);
  HResult forced;
  if (ForcedLocked("GetDeviceType", &forced)) return RecordLocked(record, forced);
  if (PresentDeviceLocked(device) == nullptr || type == nullptr) return RecordLocked(record, kE_HANDLE);
  *type = found->type;
  return RecordLocked(record, kS_OK);
}

HResult Simulator::GetDeviceInstance(void* device, Guid* instance) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* found = FindByHandleLocked(device);
  CallRecord record = MakeRecord("GetDeviceInstance", found, recording_);
  HResult forced;
  if (ForcedLocked("GetDeviceInstance", &forced)) return RecordLocked(record, forced);
  if (PresentDeviceLocked(device) == nullptr || instance == nullptr) return RecordLocked(record, kE_HANDLE);
  *instance = found->instance;
  return RecordLocked(record, kS_OK);
}

HResult Simulator::SetProfile(void* device, uint32_t length, const WideChar* path) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* found = FindByHandleLocked(device);
  CallRecord record = MakeRecord("SetProfile", found, recording_);
  record.length = length;
  if (recording_) {
    std::u16string text = SentText(path, length);
    record.text = Utf16ToUtf8(text.data(), text.size());
  }
  HResult forced;
  if (ForcedLocked("SetProfile", &forced)) return RecordLocked(record, forced);
  if (PresentDeviceLocked(device) == nullptr) return RecordLocked(record, kE_HANDLE);
  if (!found->profile) found->profile.emplace();
  found->profile->assign(path == nullptr ? u"" : path, path == nullptr ? 0 : length);
  if (!found->profile->empty() && found->profile->back() == 0) found->profile->pop_back();
  ShowLocked(*found, "profile " + PanelView::Quote(*found->profile));
  return RecordLocked(record, kS_OK);
}

HResult Simulator::AddPage(void* device, uint32_t page, uint32_t flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* found = FindByHandleLocked(device);
  CallRecord record = MakeRecord("AddPage", found, recording_);
  record.page = page;
  record.flags = flags;
  HResult forced;
  if (ForcedLocked("AddPage", &forced)) return RecordLocked(record, forced);
  if (PresentDeviceLocked(device) == nullptr) return RecordLocked(record, kE_HANDLE);
  if (found->pages.count(page) != 0) return RecordLocked(record, kE_INVALIDARG);
  found->pages[page];
  if (flags & directoutput::kAddPageSetActive) found->active_page = page;
  ShowLocked(*found, "page " + std::to_string(page) + " added" + (flags & directoutput::kAddPageSetActive ? ", active" : ""));
  return RecordLocked(record, kS_OK);
}

HResult Simulator::RemovePage(void* device, uint32_t page) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* found = FindByHandleLocked(device);
  CallRecord record = MakeRecord("RemovePage", found, recording_);
  record.page = page;
  HResult forced;
  if (ForcedLocked("RemovePage", &forced)) return RecordLocked(record, forced);
  if (PresentDeviceLocked(device) == nullptr) return RecordLocked(record, kE_HANDLE);
  if (found->pages.erase(page) == 0) return RecordLocked(record, kE_PAGENOTACTIVE);
  if (found->active_page == page) found->active_page.reset();
  ShowLocked(*found, "page " + std::to_string(page) + " removed");
  return RecordLocked(record, kS_OK);
}

HResult Simulator::SetLed(void* device, uint32_t page, uint32_t index, uint32_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* found = FindByHandleLocked(device);
  CallRecord record = MakeRecord("SetLed", found, recording_);
  record.page = page;
  record.index = index;
  record.value = value;
  HResult forced;
  if (ForcedLocked("SetLed", &forced)) return RecordLocked(record, forced);
  if (PresentDeviceLocked(device) == nullptr) return RecordLocked(record, kE_HANDLE);
  auto it = found->pages.find(page);
  if (it == found->pages.end()) return RecordLocked(record, kE_PAGENOTACTIVE);
  it->second.leds[index] = value != 0;
  ShowLocked(*found, "page " + std::to_string(page) + " LED " + std::to_string(index) + (value != 0 ? " on" : " off"));
  return RecordLocked(record, kS_OK);
}

HResult Simulator::SetString(void* device, uint32_t page, uint32_t index, uint32_t length, const WideChar* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* found = FindByHandleLocked(device);
  CallRecord record = MakeRecord("SetString", found, recording_);
  record.page = page;
  record.index = index;
  record.length = length;
  if (recording_) {
    std::u16string sent = SentText(text, length);
    record.text = Utf16ToUtf8(sent.data(), sent.size());
  }
  HResult forced;
  if (ForcedLocked("SetString", &forced)) return RecordLocked(record, forced);
  if (PresentDeviceLocked(device) == nullptr) return RecordLocked(record, kE_HANDLE);
  auto it = found->pages.find(page);
  if (it == found->pages.end()) return RecordLocked(record, kE_PAGENOTACTIVE);
  std::u16string& stored = it->second.strings[index];
  stored.assign(text == nullptr ? u"" : text, text == nullptr ? 0 : length);
  if (!stored.empty() && stored.back() == 0) stored.pop_back();
  ShowLocked(*found, "page " + std::to_string(page) + " string " + std::to_string(index + 1) + " " +
                         PanelView::Quote(stored));
  return RecordLocked(record, kS_OK);
}

HResult Simulator::SetImage(void* device, uint32_t page, uint32_t index, uint32_t bytes, const void* data) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* found = FindByHandleLocked(device);
  CallRecord record = MakeRecord("SetImage", found, recording_);
  record.page = page;
  record.index = index;
  record.bytes = bytes;
  HResult forced;
  if (ForcedLocked("SetImage", &forced)) return RecordLocked(record, forced);
  if (PresentDeviceLocked(device) == nullptr) return RecordLocked(record, kE_HANDLE);
  if (bytes != directoutput::kImageBytes || data == nullptr) return RecordLocked(record, kE_INVALIDARG);
  auto it = found->pages.find(page);
  if (it == found->pages.end()) return RecordLocked(record, kE_PAGENOTACTIVE);
  const auto* begin = static_cast<const uint8_t*>(data);
  it->second.images[index].assign(begin, begin + bytes);
  ShowPictureLocked(*found, page, index, it->second.images[index]);
  return RecordLocked(record, kS_OK);
}

HResult Simulator::SetImageFromFile(void* device, uint32_t page, uint32_t index, uint32_t length,
                                    const WideChar* file) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* found = FindByHandleLocked(device);
  CallRecord record = MakeRecord("SetImageFromFile", found, recording_);
  record.page = page;
  record.index = index;
  record.length = length;
  if (recording_) {
    std::u16string name = SentText(file, length);
    record.text = Utf16ToUtf8(name.data(), name.size());
  }
  HResult forced;
  if (ForcedLocked("SetImageFromFile", &forced)) return RecordLocked(record, forced);
  if (PresentDeviceLocked(device) == nullptr) return RecordLocked(record, kE_HANDLE);
  if (found->pages.count(page) == 0) return RecordLocked(record, kE_PAGENOTACTIVE);
  ShowLocked(*found, "page " + std::to_string(page) + " picture from the file " + PanelView::Quote(SentText(file, length)));
  return RecordLocked(record, kS_OK);
}

HResult Simulator::Unused(const char* name, void* device) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* found = FindByHandleLocked(device);
  CallRecord record = MakeRecord(name, found, recording_);
  HResult forced;
  if (ForcedLocked(name, &forced)) return RecordLocked(record, forced);
  return RecordLocked(record, PresentDeviceLocked(device) == nullptr ? kE_HANDLE : kE_NOTIMPL);
}

// ---- events ---------------------------------------------------------------------------------------

void Simulator::QueueLocked(const Event& event) {
  if (thread_ == nullptr) return;  // not initialised: nobody is listening
  queue_.push_back(event);
  ++queued_total_;
  queue_changed_.notify_all();
}

void Simulator::EventLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  thread_id_ = std::this_thread::get_id();
  for (;;) {
    queue_changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (stop_) break;
    const Event event = queue_.front();
    queue_.pop_front();
    // Look the handler up at delivery, as the hardware's own thread would; call it with no lock held so
    // that it may call any entry point.
    switch (event.kind) {
      case Event::Kind::kArrival:
      case Event::Kind::kRemoval: {
        DeviceChangeHandlerFn handler = device_handler_;
        void* context = device_context_;
        lock.unlock();
        if (handler) handler(event.handle, event.kind == Event::Kind::kArrival ? 1 : 0, context);
        break;
      }
      case Event::Kind::kPage: {
        auto it = page_handlers_.find(event.handle);
        auto entry = it == page_handlers_.end() ? std::pair<PageChangeHandlerFn, void*>{} : it->second;
        lock.unlock();
        if (entry.first) entry.first(event.handle, event.value, event.active ? 1 : 0, entry.second);
        break;
      }
      case Event::Kind::kButtons: {
        auto it = button_handlers_.find(event.handle);
        auto entry = it == button_handlers_.end() ? std::pair<SoftButtonHandlerFn, void*>{} : it->second;
        lock.unlock();
        if (entry.first) entry.first(event.handle, event.value, entry.second);
        break;
      }
    }
    lock.lock();
    ++delivered_total_;
    delivered_changed_.notify_all();
  }
  // Whatever is left is never delivered; flush() must not wait for it.
  delivered_total_ += queue_.size();
  queue_.clear();
  delivered_changed_.notify_all();
}

// ---- what the panels show, and the scenario ----------------------------------------------------

void Simulator::StartShowingLocked() {
  if (showing_) return;
  showing_ = true;
  std::string error;
  if (!view_.Configure(&error)) std::fprintf(stderr, "vexlan_sim: %s\n", error.c_str());
  view_.Start();
  if (!web_.Configure(&error)) std::fprintf(stderr, "vexlan_sim: %s\n", error.c_str());
  web_.Show(devices_);
  if (!player_.Load(static_cast<int>(devices_.size()), &error))
    std::fprintf(stderr, "vexlan_sim: %s; playing no scenario\n", error.c_str());
  player_.Start(*this);
}

void Simulator::ShowLocked(const Device& device, const std::string& what) {
  view_.Note(device, what);
  web_.Show(devices_);
}

void Simulator::ShowPictureLocked(const Device& device, uint32_t page, uint32_t index,
                                  const std::vector<uint8_t>& picture) {
  view_.Picture(device, page, index, picture);
  web_.Picture(device, page, index, picture);
  web_.Show(devices_);
}

std::string CheckScenario(const std::string& path, double* end) {
  std::string text;
  if (!ReadFile(path, &text)) return "cannot read the scenario " + path;
  Scenario scenario;
  std::string error;
  if (!ParseScenario(text, path, &scenario, &error) ||
      !CheckDeviceIds(scenario, static_cast<int>(Simulator::Instance().Devices().size()), path, &error))
    return error;
  *end = scenario.end;
  return "";
}

// ---- control --------------------------------------------------------------------------------------

void Simulator::Reset(const std::string& tags) {
  std::lock_guard<std::mutex> lock(mutex_);
  devices_.clear();
  next_id_ = 1;  // handles keep counting, so that no old handle is ever given again
  ClearCallsLocked();
  failures_.clear();
  recording_ = true;
  for (const std::string& tag : SplitTags(tags)) AttachLocked(tag);
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
  if (new_handle) device->handle = reinterpret_cast<void*>(kFirstHandle + 0x100 * next_handle_++);
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

void Simulator::Flush() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (thread_ != nullptr && std::this_thread::get_id() == thread_id_) return;  // a handler cannot wait for itself
  const uint64_t target = queued_total_;
  delivered_changed_.wait(lock, [&] { return delivered_total_ >= target; });
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

std::optional<std::string> Simulator::String(int id, uint32_t page, uint32_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* device = FindByIdLocked(id);
  if (device == nullptr) return std::nullopt;
  auto p = device->pages.find(page);
  if (p == device->pages.end()) return std::nullopt;
  auto s = p->second.strings.find(index);
  if (s == p->second.strings.end()) return std::nullopt;
  return Utf16ToUtf8(s->second.data(), s->second.size());
}

std::optional<bool> Simulator::Led(int id, uint32_t page, uint32_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* device = FindByIdLocked(id);
  if (device == nullptr) return std::nullopt;
  auto p = device->pages.find(page);
  if (p == device->pages.end()) return std::nullopt;
  auto l = p->second.leds.find(index);
  if (l == p->second.leds.end()) return std::nullopt;
  return l->second;
}

std::optional<std::vector<uint8_t>> Simulator::Image(int id, uint32_t page, uint32_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* device = FindByIdLocked(id);
  if (device == nullptr) return std::nullopt;
  auto p = device->pages.find(page);
  if (p == device->pages.end()) return std::nullopt;
  auto i = p->second.images.find(index);
  if (i == p->second.images.end()) return std::nullopt;
  return i->second;
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
  std::vector<CallRecord> out;
  out.reserve(call_count_);
  for (size_t i = 0; i < call_count_; ++i) out.push_back(calls_[(oldest_call_ + i) % kMaxRecordedCalls]);
  return out;
}

uint64_t Simulator::ForgottenCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return forgotten_calls_;
}

void Simulator::ClearCallsLocked() {
  std::vector<CallRecord>().swap(calls_);  // gives its memory back
  oldest_call_ = call_count_ = calls_text_bytes_ = 0;
  forgotten_calls_ = 0;
}

void Simulator::ClearCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearCallsLocked();
}

void Simulator::SetRecording(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  recording_ = on;
}

void Simulator::Fail(const std::string& name, HResult result) { FailAfter(name, 0, result); }

void Simulator::FailAfter(const std::string& name, uint32_t steps, HResult result) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_[name] = {result, steps};
}

void Simulator::Unfail(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.erase(name);
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
