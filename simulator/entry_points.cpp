// The entry points of the simulated library, as the exported C functions reach them.
#include "simulator/simulator.h"

#include "output/picture_format.h"
#include "simulator/panel_view.h"

namespace vexlan::sim {
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

// The record of a call on one field of a page (and of a text's length, when it sends one).
CallRecord& Describe(CallRecord& record, uint32_t page, uint32_t index, std::optional<uint32_t> length = {}) {
  record.page = page;
  record.index = index;
  record.length = length;
  return record;
}

PageState* FindPage(Device& device, uint32_t page) {
  auto it = device.pages.find(page);
  return it == device.pages.end() ? nullptr : &it->second;
}

// The record's text: what was sent, as UTF-8, built only when recording.
void RecordText(CallRecord& record, const WideChar* text, uint32_t length, bool recording) {
  if (!recording) return;
  const std::u16string sent = SentText(text, length);
  record.text = Utf16ToUtf8(sent.data(), sent.size());
}

auto NoArguments = [](CallRecord&) {};

// A device's handler of one kind set, or with a null handler cleared.
template <typename Handler>
HResult Register(std::map<void*, std::pair<Handler, void*>>& handlers, void* device, Handler handler, void* context) {
  if (handler == nullptr)
    handlers.erase(device);
  else
    handlers[device] = {handler, context};
  return kS_OK;
}

}  // namespace

template <typename Describe, typename Act>
HResult Simulator::DeviceCall(const char* name, void* handle, Describe describe, Act act) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* found = FindByHandleLocked(handle);
  CallRecord record = MakeRecord(name, found, calls_.recording());
  describe(record);
  HResult forced;
  if (failures_.Applies(name, &forced)) return calls_.Add(std::move(record), forced);
  if (found == nullptr || !found->present) return calls_.Add(std::move(record), kE_HANDLE);
  return calls_.Add(std::move(record), act(*found));
}

template <typename Describe, typename Act>
HResult Simulator::LibraryCall(const char* name, Describe describe, Act act) {
  std::unique_lock<std::mutex> lock(mutex_);
  CallRecord record = MakeRecord(name, nullptr, calls_.recording());
  describe(record);
  HResult forced;
  if (failures_.Applies(name, &forced)) return calls_.Add(std::move(record), forced);
  const HResult result = act(lock);
  if (!lock.owns_lock()) lock.lock();
  return calls_.Add(std::move(record), result);
}

HResult Simulator::Initialize(const WideChar* plugin_name) {
  size_t units = 0;
  if (plugin_name != nullptr)
    while (plugin_name[units] != 0) ++units;
  bool initialized = false;
  const HResult result = LibraryCall(
      "Initialize", [&](CallRecord& record) { record.text = Utf16ToUtf8(plugin_name, units); },
      [&](std::unique_lock<std::mutex>&) {
        plugin_name_.assign(plugin_name == nullptr ? u"" : plugin_name, units);
        initialized_ = true;
        StartShowingLocked();
        if (thread_ == nullptr) {
          stop_ = false;
          thread_ = new std::thread([this] { EventLoop(); });
        }
        initialized = true;
        return kS_OK;
      });
  if (initialized) web_.Start();  // with no lock held: its requests take this one
  return result;
}

HResult Simulator::Deinitialize() {
  bool deinitialized = false;
  const HResult result = LibraryCall("Deinitialize", NoArguments, [&](std::unique_lock<std::mutex>& lock) {
    initialized_ = false;
    view_.Summary(devices_);
    device_handler_ = nullptr;
    page_handlers_.clear();
    button_handlers_.clear();
    StopThread(lock);
    deinitialized = true;
    return kS_OK;
  });
  if (deinitialized) web_.Stop();
  return result;
}

HResult Simulator::RegisterDeviceCallback(DeviceChangeHandlerFn handler, void* context) {
  return LibraryCall(
      "RegisterDeviceCallback", [&](CallRecord& record) { record.handler = handler != nullptr; },
      [&](std::unique_lock<std::mutex>&) {
        device_handler_ = handler;
        device_context_ = context;
        return kS_OK;
      });
}

HResult Simulator::Enumerate(EnumerateHandlerFn handler, void* context) {
  std::vector<void*> handles;
  HResult result = kS_OK;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    CallRecord record = MakeRecord("Enumerate", nullptr, calls_.recording());
    record.handler = handler != nullptr;
    for (const Device& device : devices_)
      if (device.present) handles.push_back(device.handle);
    // A forced failure counts devices reported, not calls.
    size_t reported = handles.size();
    result = failures_.Report("Enumerate", &reported);
    handles.resize(reported);
    calls_.Add(std::move(record), result);
  }
  // Synchronously, in attachment order, with no lock held: the handler calls back into the library.
  if (handler != nullptr)
    for (void* handle : handles) handler(handle, context);
  return result;
}

HResult Simulator::RegisterPageCallback(void* device, PageChangeHandlerFn handler, void* context) {
  return DeviceCall(
      "RegisterPageCallback", device, [&](CallRecord& record) { record.handler = handler != nullptr; },
      [&](Device&) { return Register(page_handlers_, device, handler, context); });
}

HResult Simulator::RegisterSoftButtonCallback(void* device, SoftButtonHandlerFn handler, void* context) {
  return DeviceCall(
      "RegisterSoftButtonCallback", device, [&](CallRecord& record) { record.handler = handler != nullptr; },
      [&](Device&) { return Register(button_handlers_, device, handler, context); });
}

HResult Simulator::GetDeviceType(void* device, Guid* type) {
  return DeviceCall("GetDeviceType", device, NoArguments, [&](Device& found) {
    if (type == nullptr) return kE_HANDLE;
    *type = found.type;
    return kS_OK;
  });
}

HResult Simulator::GetDeviceInstance(void* device, Guid* instance) {
  return DeviceCall("GetDeviceInstance", device, NoArguments, [&](Device& found) {
    if (instance == nullptr) return kE_HANDLE;
    *instance = found.instance;
    return kS_OK;
  });
}

HResult Simulator::SetProfile(void* device, uint32_t length, const WideChar* path) {
  return DeviceCall(
      "SetProfile", device,
      [&](CallRecord& record) {
        record.length = length;
        RecordText(record, path, length, calls_.recording());
      },
      [&](Device& found) {
        found.profile = SentText(path, length);
        ShowLocked(found, "profile " + PanelView::Quote(*found.profile));
        return kS_OK;
      });
}

HResult Simulator::AddPage(void* device, uint32_t page, uint32_t flags) {
  return DeviceCall(
      "AddPage", device,
      [&](CallRecord& record) {
        record.page = page;
        record.flags = flags;
      },
      [&](Device& found) {
        if (found.pages.count(page) != 0) return kE_INVALIDARG;
        found.pages[page];
        if (flags & directoutput::kAddPageSetActive) found.active_page = page;
        ShowLocked(found, "page " + std::to_string(page) + " added" +
                              (flags & directoutput::kAddPageSetActive ? ", active" : ""));
        return kS_OK;
      });
}

HResult Simulator::RemovePage(void* device, uint32_t page) {
  return DeviceCall(
      "RemovePage", device, [&](CallRecord& record) { record.page = page; },
      [&](Device& found) {
        if (found.pages.erase(page) == 0) return kE_PAGENOTACTIVE;
        if (found.active_page == page) found.active_page.reset();
        ShowLocked(found, "page " + std::to_string(page) + " removed");
        return kS_OK;
      });
}

HResult Simulator::SetLed(void* device, uint32_t page, uint32_t index, uint32_t value) {
  return DeviceCall(
      "SetLed", device, [&](CallRecord& record) { Describe(record, page, index).value = value; },
      [&](Device& found) {
        PageState* kept = FindPage(found, page);
        if (kept == nullptr) return kE_PAGENOTACTIVE;
        kept->leds[index] = value != 0;
        ShowLocked(found, "page " + std::to_string(page) + " LED " + std::to_string(index) +
                              (value != 0 ? " on" : " off"));
        return kS_OK;
      });
}

HResult Simulator::SetString(void* device, uint32_t page, uint32_t index, uint32_t length, const WideChar* text) {
  return DeviceCall(
      "SetString", device,
      [&](CallRecord& record) { RecordText(Describe(record, page, index, length), text, length, calls_.recording()); },
      [&](Device& found) {
        PageState* kept = FindPage(found, page);
        if (kept == nullptr) return kE_PAGENOTACTIVE;
        const std::u16string& stored = kept->strings[index] = SentText(text, length);
        ShowLocked(found, "page " + std::to_string(page) + " string " + std::to_string(index + 1) + " " +
                              PanelView::Quote(stored));
        return kS_OK;
      });
}

HResult Simulator::SetImage(void* device, uint32_t page, uint32_t index, uint32_t bytes, const void* data) {
  return DeviceCall(
      "SetImage", device, [&](CallRecord& record) { Describe(record, page, index).bytes = bytes; },
      [&](Device& found) {
        if (bytes != kDeviceImageBytes || data == nullptr) return kE_INVALIDARG;
        PageState* kept = FindPage(found, page);
        if (kept == nullptr) return kE_PAGENOTACTIVE;
        const auto* begin = static_cast<const uint8_t*>(data);
        kept->images[index].assign(begin, begin + bytes);
        ShowPictureLocked(found, page, index, kept->images[index]);
        return kS_OK;
      });
}

HResult Simulator::SetImageFromFile(void* device, uint32_t page, uint32_t index, uint32_t length,
                                    const WideChar* file) {
  return DeviceCall(
      "SetImageFromFile", device,
      [&](CallRecord& record) { RecordText(Describe(record, page, index, length), file, length, calls_.recording()); },
      [&](Device& found) {
        if (FindPage(found, page) == nullptr) return kE_PAGENOTACTIVE;
        ShowLocked(found, "page " + std::to_string(page) + " picture from the file " +
                              PanelView::Quote(SentText(file, length)));
        return kS_OK;
      });
}

HResult Simulator::Unused(const char* name, void* device) {
  return DeviceCall(name, device, NoArguments, [](Device&) { return kE_NOTIMPL; });
}

}  // namespace vexlan::sim
