// The simulated DirectOutput library's one instance, shared by its entry points, its control interface
// and its Lua module.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "simulator/panel_view.h"
#include "simulator/scenario_player.h"
#include "simulator/sim_control.h"
#include "simulator/web_view.h"

namespace vexlan::sim {

struct PageState {
  std::map<uint32_t, bool> leds;
  std::map<uint32_t, std::u16string> strings;
  std::map<uint32_t, std::vector<uint8_t>> images;
};

struct Device {
  int id = 0;
  std::string tag;
  Guid type{};
  Guid instance{};
  void* handle = nullptr;
  bool present = false;
  std::map<uint32_t, PageState> pages;
  std::optional<uint32_t> active_page;
  std::optional<std::u16string> profile;
};

struct Event {
  enum class Kind { kArrival, kRemoval, kPage, kButtons } kind;
  void* handle;
  uint32_t value;  // page number or button mask
  bool active;
};

class Simulator {
 public:
  static Simulator& Instance();

  // Entry points (the exported C functions forward here).
  HResult Initialize(const WideChar* plugin_name);
  HResult Deinitialize();
  HResult RegisterDeviceCallback(DeviceChangeHandlerFn handler, void* context);
  HResult Enumerate(EnumerateHandlerFn handler, void* context);
  HResult RegisterPageCallback(void* device, PageChangeHandlerFn handler, void* context);
  HResult RegisterSoftButtonCallback(void* device, SoftButtonHandlerFn handler, void* context);
  HResult GetDeviceType(void* device, Guid* type);
  HResult GetDeviceInstance(void* device, Guid* instance);
  HResult SetProfile(void* device, uint32_t length, const WideChar* path);
  HResult AddPage(void* device, uint32_t page, uint32_t flags);
  HResult RemovePage(void* device, uint32_t page);
  HResult SetLed(void* device, uint32_t page, uint32_t index, uint32_t value);
  HResult SetString(void* device, uint32_t page, uint32_t index, uint32_t length, const WideChar* text);
  HResult SetImage(void* device, uint32_t page, uint32_t index, uint32_t bytes, const void* data);
  HResult SetImageFromFile(void* device, uint32_t page, uint32_t index, uint32_t length, const WideChar* file);
  HResult Unused(const char* name, void* device);

  // Control.
  void Reset(const std::string& tags);
  int Plug(const std::string& tag);
  bool Unplug(int id);
  bool Replug(int id, bool new_handle);
  bool Buttons(int id, uint32_t mask);
  bool PageChange(int id, uint32_t page, bool active);
  void Flush();
  std::vector<DeviceInfo> Devices();
  void* HandleOf(int id);
  bool Initialized();
  std::optional<std::string> String(int id, uint32_t page, uint32_t index);
  std::optional<bool> Led(int id, uint32_t page, uint32_t index);
  std::optional<std::vector<uint8_t>> Image(int id, uint32_t page, uint32_t index);
  std::vector<uint32_t> Pages(int id);
  std::optional<uint32_t> ActivePage(int id);
  std::optional<std::string> Profile(int id);
  std::vector<CallRecord> Calls();
  uint64_t ForgottenCalls();
  void ClearCalls();
  void SetRecording(bool on);
  void Fail(const std::string& name, HResult result);
  void FailAfter(const std::string& name, uint32_t steps, HResult result);
  void Unfail(const std::string& name);

 private:
  Simulator();
  int AttachLocked(const std::string& tag);
  Device* FindByHandleLocked(void* handle);
  Device* FindByIdLocked(int id);
  Device* PresentDeviceLocked(void* handle);
  // Starts a record for `name`; returns true (and fills *result) when a forced failure applies.
  bool ForcedLocked(const char* name, HResult* result);
  HResult RecordLocked(CallRecord record, HResult result);
  void ForgetOldestCallLocked();
  void ClearCallsLocked();
  void QueueLocked(const Event& event);
  void EventLoop();
  void StopThread(std::unique_lock<std::mutex>& lock);
  // At the first Initialize: what the panels show becomes visible, and a scenario starts playing.
  void StartShowingLocked();
  // A change to `device`, shown everywhere it is shown: a line of text, and the live page.
  void ShowLocked(const Device& device, const std::string& what);
  void ShowPictureLocked(const Device& device, uint32_t page, uint32_t index, const std::vector<uint8_t>& picture);

  std::mutex mutex_;
  std::condition_variable queue_changed_;
  std::condition_variable delivered_changed_;
  std::vector<Device> devices_;
  int next_id_ = 1;
  uintptr_t next_handle_ = 0;
  bool initialized_ = false;
  std::u16string plugin_name_;
  DeviceChangeHandlerFn device_handler_ = nullptr;
  void* device_context_ = nullptr;
  std::map<void*, std::pair<PageChangeHandlerFn, void*>> page_handlers_;
  std::map<void*, std::pair<SoftButtonHandlerFn, void*>> button_handlers_;
  std::deque<Event> queue_;
  uint64_t queued_total_ = 0;
  uint64_t delivered_total_ = 0;
  std::thread* thread_ = nullptr;  // deliberately outlives static destruction; stopped by Deinitialize
  std::thread::id thread_id_;
  bool stop_ = false;
  bool recording_ = true;
  // The newest calls only, so that a library left running for hours keeps its size: a ring of up to
  // kMaxRecordedCalls records whose slots are reused in place, so that recording takes no memory of
  // its own once the ring is full (a record freed and another allocated at each call fragments the
  // heap of some C libraries around the pictures' large blocks).
  std::vector<CallRecord> calls_;
  size_t oldest_call_ = 0;  // the ring's first slot
  size_t call_count_ = 0;
  size_t calls_text_bytes_ = 0;  // of the texts in the ring
  uint64_t forgotten_calls_ = 0;  // since the last clear
  struct Failure {
    HResult result;
    uint32_t steps_before;  // calls (Enumerate: devices reported) still to be served normally
  };
  std::map<std::string, Failure> failures_;
  PanelView view_;
  WebView web_;  // started and stopped with no lock held: its requests take this one
  ScenarioPlayer player_;  // plays until the process ends
  bool showing_ = false;
};

std::string Utf16ToUtf8(const WideChar* text, size_t units);

// Reads and checks a scenario file for the devices attached now: "" and its end time, or what is wrong.
std::string CheckScenario(const std::string& path, double* end);

}  // namespace vexlan::sim
