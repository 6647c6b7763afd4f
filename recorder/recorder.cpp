#include "recorder/recorder.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <tuple>

#include "output/picture_format.h"
#include "recorder/recorder_platform.h"

namespace vexlan::recorder {
namespace {

constexpr size_t kDefaultBuffer = 4096;
constexpr long kLargestBuffer = 1 << 20;  // records; a larger setting is taken as this
const char* const kKindNames[] = {"enumerate", "arrival", "removal", "page", "buttons"};

int ThreadNumber(int* number) {
  static std::atomic<int> next{1};
  if (*number == 0) *number = next.fetch_add(1, std::memory_order_relaxed);
  return *number;
}

size_t UnitsOf(const WideChar* text) {
  size_t units = 0;
  if (text != nullptr)
    while (text[units] != 0) ++units;
  return units;
}

// Text as it was sent: `length` units, less one terminating zero at the end.
std::u16string SentText(const WideChar* text, uint32_t length) {
  if (text == nullptr) return {};
  std::u16string sent(text, length);
  if (!sent.empty() && sent.back() == 0) sent.pop_back();
  return sent;
}

bool ReadWholeFile(const std::string& path, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream contents;
  contents << file.rdbuf();
  *text = contents.str();
  return true;
}

// Whether a trace wrote its pictures whole (data=) rather than by hash.
bool HasWholePictures(const std::vector<TraceRecord>& records) {
  for (const TraceRecord& record : records)
    for (const auto& [key, value] : record.arguments)
      if (key == "data" && value != "null") return true;
  return false;
}

}  // namespace

thread_local Recorder::ThreadState Recorder::t_state_;

Recorder& Recorder::Instance() {
  // Never destroyed: the library's callback threads may outlive static destruction.
  static Recorder* instance = new Recorder();
  return *instance;
}

Recorder::Recorder() {
  const std::string library = ReadSetting("VEXLAN_RECORDER_LIBRARY", "RecordedLibrary");
  real_ = BindDirectOutput(OpenRealLibrary(library));
  const std::string replay = ReadSetting("VEXLAN_REPLAY_TRACE", "");
  if (!replay.empty()) {
    report_path_ = ReadSetting("VEXLAN_REPLAY_REPORT", "");
    std::string text, error;
    std::vector<TraceRecord> records;
    if (!ReadWholeFile(replay, &text)) error = "cannot read the trace " + replay;
    if (error.empty() && !ReadTrace(text, &records, &error)) error = replay + ":" + error;
    if (!error.empty()) std::fprintf(stderr, "vexlan recorder: %s\n", error.c_str());
    whole_pictures_ = HasWholePictures(records);
    check_ = std::make_unique<ReplayCheck>(records);
    return;
  }
  std::string trace = ReadSetting("VEXLAN_RECORDER_TRACE", "RecorderTrace");
  if (trace.empty()) trace = "vexlan.trace";
  whole_pictures_ = ReadSetting("VEXLAN_RECORDER_PICTURES", "RecorderPictures") == "whole";
  const long buffer = std::atol(ReadSetting("VEXLAN_RECORDER_BUFFER", "RecorderBuffer").c_str());
  const size_t capacity = buffer > 0 ? static_cast<size_t>(std::min(buffer, kLargestBuffer)) : kDefaultBuffer;
  std::string header = std::string(kTraceHeader) + "\n# library " + library +
                       (real_.loaded() ? "" : " (not loaded: every call answers E_NOTIMPL)") + "\n# pictures " +
                       (whole_pictures_ ? "whole" : "by hash") + "\n# buffer " + std::to_string(capacity) + " records";
  writer_ = std::make_unique<TraceWriter>(OpenTraceFile(trace), capacity, whole_pictures_, std::move(header), clock_);
}

Recorder::Device& Recorder::DeviceLocked(void* handle) {
  auto found = devices_.find(handle);
  if (found != devices_.end()) return found->second;
  const int id = handle == nullptr ? 0 : next_device_id_++;
  return devices_
      .emplace(std::piecewise_construct, std::forward_as_tuple(handle), std::forward_as_tuple(handle, id))
      .first->second;
}

PendingRecord Recorder::Begin(const char* name) {
  if (check_ != nullptr) check_->BeforeCall();
  PendingRecord record;
  record.ticks = ReadTicks();
  ThreadState& state = t_state_;
  record.thread = ThreadNumber(&state.number);
  record.name = name;
  if (state.context.kind != nullptr) {
    record.context_kind = state.context.kind;
    record.context_device = state.context.device;
    record.context_number = state.context.number;
  }
  return record;
}

PendingRecord Recorder::Begin(const char* name, void* device) {
  PendingRecord record = Begin(name);
  platform::FastMutexLock lock(mutex_);
  record.device = DeviceLocked(device).id;
  return record;
}

HResult Recorder::Finish(PendingRecord&& record, HResult result, const void* picture, Guid* guid) {
  if (check_ == nullptr) {
    record.has_result = true;
    record.result = result;
    if (guid != nullptr && result == kS_OK) {
      record.has_guid = true;
      record.guid = *guid;
    }
    writer_->Push(std::move(record), picture);
    return result;
  }
  // The check compares calls, not their times.
  const TraceRecord* recorded = check_->Check(Expand(record, 0, static_cast<const uint8_t*>(picture), whole_pictures_));
  if (recorded == nullptr || !recorded->result) return result;  // a difference: the simulator's own answer
  if (guid != nullptr)
    for (const auto& [key, value] : recorded->outputs)
      if (key == "guid") ParseGuid(value, guid);
  return *recorded->result;
}

Recorder::Device& Recorder::CallbackDevice(ThreadState& state, void* handle) {
  if (state.last_device != nullptr && state.last_device->handle == handle) return *state.last_device;
  platform::FastMutexLock lock(mutex_);
  Device& device = DeviceLocked(handle);
  state.last_device = &device;
  return device;
}

PendingRecord Recorder::BeginItemText(const char* name, void* device, uint32_t page, uint32_t index,
                                      uint32_t length, const WideChar* text) {
  PendingRecord record = Begin(name, device);
  record.Add("page", page);
  record.Add("index", index);
  record.Add("length", length);
  record.has_text = true;
  record.text = SentText(text, length);
  return record;
}

PendingRecord Recorder::CallbackRecord(CallbackKind kind, Device& device) {
  PendingRecord record;
  record.ticks = ReadTicks();
  record.kind = kKindNames[kind];
  record.device = device.id;
  record.number = device.callbacks[kind].fetch_add(1, std::memory_order_relaxed) + 1;
  return record;
}

template <typename Forward>
void Recorder::Deliver(ThreadState& state, CallbackKind kind, PendingRecord&& record, Forward forward) {
  if (check_ != nullptr && kind != kEnumerate)
    check_->BeforeCallback(CallbackKey(kKindNames[kind], record.device, record.number));
  record.thread = ThreadNumber(&state.number);
  const CallbackContext outer = state.context;
  state.context = {kKindNames[kind], record.device, record.number};
  if (writer_ != nullptr) writer_->Push(std::move(record));
  forward();
  state.context = outer;
}

void Recorder::WriteReport() {
  const std::string report = check_->Report();
  if (report_path_.empty()) {
    std::fprintf(stderr, "replay: %s", report.c_str());
    return;
  }
  if (std::FILE* file = CreateTraceFile(report_path_)) {
    std::fwrite(report.data(), 1, report.size(), file);
    std::fclose(file);
  }
}

// ---- callbacks ------------------------------------------------------------------------------------

void Recorder::OnEnumerate(void* device, void* context) {
  Recorder& self = Instance();
  ThreadState& state = t_state_;
  const auto* forward = static_cast<const EnumerateForward*>(context);
  PendingRecord record = CallbackRecord(kEnumerate, self.CallbackDevice(state, device));
  self.Deliver(state, kEnumerate, std::move(record), [&] { forward->handler(device, forward->context); });
}

void Recorder::OnDeviceChange(void* device, uint8_t added, void* context) {
  Recorder& self = Instance();
  ThreadState& state = t_state_;
  const CallbackKind kind = added != 0 ? kArrival : kRemoval;
  const DeviceChangeHandlerFn handler = self.device_handler_.load(std::memory_order_acquire);
  PendingRecord record = CallbackRecord(kind, self.CallbackDevice(state, device));
  record.Add("added", added);
  self.Deliver(state, kind, std::move(record), [&] {
    if (handler != nullptr) handler(device, added, context);
  });
}

void Recorder::OnPage(void* device, uint32_t page, uint8_t activated, void* context) {
  Recorder& self = Instance();
  ThreadState& state = t_state_;
  Device& entry = self.CallbackDevice(state, device);
  const PageChangeHandlerFn handler = entry.page_handler.load(std::memory_order_acquire);
  PendingRecord record = CallbackRecord(kPage, entry);
  record.Add("page", page);
  record.Add("active", activated);
  self.Deliver(state, kPage, std::move(record), [&] {
    if (handler != nullptr) handler(device, page, activated, context);
  });
}

void Recorder::OnSoftButtons(void* device, uint32_t buttons, void* context) {
  Recorder& self = Instance();
  ThreadState& state = t_state_;
  Device& entry = self.CallbackDevice(state, device);
  const SoftButtonHandlerFn handler = entry.button_handler.load(std::memory_order_acquire);
  PendingRecord record = CallbackRecord(kButtons, entry);
  record.Add("mask", buttons, true);
  self.Deliver(state, kButtons, std::move(record), [&] {
    if (handler != nullptr) handler(device, buttons, context);
  });
}

// ---- entry points ---------------------------------------------------------------------------------

HResult Recorder::Initialize(const WideChar* plugin_name) {
  if (writer_ != nullptr) writer_->Start();
  PendingRecord record = Begin("Initialize");
  record.has_text = true;
  record.text.assign(plugin_name == nullptr ? u"" : plugin_name, UnitsOf(plugin_name));
  return Finish(std::move(record), real_->Initialize(plugin_name));
}

HResult Recorder::Deinitialize() {
  PendingRecord record = Begin("Deinitialize");
  const HResult result = real_->Deinitialize();
  if (check_ != nullptr) {
    const TraceRecord* recorded = check_->Check(Expand(record, 0, nullptr, whole_pictures_));
    check_->CloseSession(recorded);
    WriteReport();
    return recorded != nullptr && recorded->result ? *recorded->result : result;
  }
  Finish(std::move(record), result);
  writer_->Stop();  // the trace is complete on disk whenever the module has closed the library
  return result;
}

HResult Recorder::RegisterDeviceCallback(DeviceChangeHandlerFn handler, void* context) {
  PendingRecord record = Begin("RegisterDeviceCallback");
  record.Add("handler", handler != nullptr);
  device_handler_.store(handler, std::memory_order_release);
  return Finish(std::move(record), real_->RegisterDeviceCallback(handler != nullptr ? OnDeviceChange : nullptr, context));
}

HResult Recorder::Enumerate(EnumerateHandlerFn handler, void* context) {
  PendingRecord record = Begin("Enumerate");
  record.Add("handler", handler != nullptr);
  // The library reports the devices before Enumerate returns, so the forward may live on the stack.
  EnumerateForward forward{handler, context};
  const HResult result = handler != nullptr ? real_->Enumerate(OnEnumerate, &forward) : real_->Enumerate(nullptr, context);
  return Finish(std::move(record), result);
}

HResult Recorder::RegisterPageCallback(void* device, PageChangeHandlerFn handler, void* context) {
  PendingRecord record = Begin("RegisterPageCallback", device);
  record.Add("handler", handler != nullptr);
  {
    platform::FastMutexLock lock(mutex_);
    DeviceLocked(device).page_handler.store(handler, std::memory_order_release);
  }
  return Finish(std::move(record), real_->RegisterPageCallback(device, handler != nullptr ? OnPage : nullptr, context));
}

HResult Recorder::RegisterSoftButtonCallback(void* device, SoftButtonHandlerFn handler, void* context) {
  PendingRecord record = Begin("RegisterSoftButtonCallback", device);
  record.Add("handler", handler != nullptr);
  {
    platform::FastMutexLock lock(mutex_);
    DeviceLocked(device).button_handler.store(handler, std::memory_order_release);
  }
  return Finish(std::move(record),
                real_->RegisterSoftButtonCallback(device, handler != nullptr ? OnSoftButtons : nullptr, context));
}

HResult Recorder::GetDeviceType(void* device, Guid* type) {
  PendingRecord record = Begin("GetDeviceType", device);
  return Finish(std::move(record), real_->GetDeviceType(device, type), nullptr, type);
}

HResult Recorder::GetDeviceInstance(void* device, Guid* instance) {
  PendingRecord record = Begin("GetDeviceInstance", device);
  return Finish(std::move(record), real_->GetDeviceInstance(device, instance), nullptr, instance);
}

HResult Recorder::SetProfile(void* device, uint32_t length, const WideChar* path) {
  PendingRecord record = Begin("SetProfile", device);
  record.Add("length", length);
  record.has_text = true;
  record.text = SentText(path, length);
  return Finish(std::move(record), real_->SetProfile(device, length, path));
}

HResult Recorder::AddPage(void* device, uint32_t page, uint32_t flags) {
  PendingRecord record = Begin("AddPage", device);
  record.Add("page", page);
  record.Add("flags", flags);
  return Finish(std::move(record), real_->AddPage(device, page, flags));
}

HResult Recorder::RemovePage(void* device, uint32_t page) {
  PendingRecord record = Begin("RemovePage", device);
  record.Add("page", page);
  return Finish(std::move(record), real_->RemovePage(device, page));
}

HResult Recorder::SetLed(void* device, uint32_t page, uint32_t index, uint32_t value) {
  PendingRecord record = Begin("SetLed", device);
  record.Add("page", page);
  record.Add("index", index);
  record.Add("value", value);
  return Finish(std::move(record), real_->SetLed(device, page, index, value));
}

HResult Recorder::SetString(void* device, uint32_t page, uint32_t index, uint32_t length, const WideChar* text) {
  PendingRecord record = BeginItemText("SetString", device, page, index, length, text);
  return Finish(std::move(record), real_->SetString(device, page, index, length, text));
}

HResult Recorder::SetImage(void* device, uint32_t page, uint32_t index, uint32_t bytes, const void* data) {
  PendingRecord record = Begin("SetImage", device);
  record.Add("page", page);
  record.Add("index", index);
  record.Add("bytes", bytes);
  record.has_picture = true;
  record.picture_null = data == nullptr;
  record.picture_bytes = bytes;
  // Only a whole picture is read: the recorder never reads further than the library would.
  const void* picture = bytes == kDeviceImageBytes ? data : nullptr;
  const HResult result = real_->SetImage(device, page, index, bytes, data);
  return Finish(std::move(record), result, picture);
}

HResult Recorder::SetImageFromFile(void* device, uint32_t page, uint32_t index, uint32_t length,
                                   const WideChar* file) {
  PendingRecord record = BeginItemText("SetImageFromFile", device, page, index, length, file);
  return Finish(std::move(record), real_->SetImageFromFile(device, page, index, length, file));
}

HResult Recorder::Unused(const char* name, void* device, HResult result) {
  return Finish(Begin(name, device), result);
}

}  // namespace vexlan::recorder
