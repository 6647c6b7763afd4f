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

#include "simulator/call_log.h"
#include "simulator/forced_failures.h"
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

  // Stops the scenario player and waits for it (the library's unloading).
  void StopPlaying();
  // Whether a scenario plays in step with the calls: a replay, whose device events are the recorded ones.
  bool PlaysInStep();

 private:
  Simulator();
  // The devices (simulator.cpp).
  int AttachLocked(const std::string& tag);
  void AttachTagsLocked(const std::string& tags);  // comma-separated
  void* NewHandleLocked();  // never one given before
  Device* FindByHandleLocked(void* handle);
  Device* FindByIdLocked(int id);
  const PageState* PageLocked(int id, uint32_t page);  // null when the device or the page is unknown
  // The opening every entry point shares (entry_points.cpp): the lock, the device `handle` names, the
  // call's record (`describe` adds the arguments), a forced failure, and the device's presence; then
  // `act` on the present device gives the result, which is recorded.
  template <typename Describe, typename Act>
  HResult DeviceCall(const char* name, void* handle, Describe describe, Act act);
  // The same for the entry points that name no device; `act` gets the lock and may release it.
  template <typename Describe, typename Act>
  HResult LibraryCall(const char* name, Describe describe, Act act);
  // The event thread (event_thread.cpp).
  void QueueLocked(const Event& event);
  void EventLoop();
  void StopThread(std::unique_lock<std::mutex>& lock);
  // What the panels show (views.cpp). At the first Initialize: what the panels show becomes visible,
  // and a scenario starts playing.
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
  CallLog calls_;
  ForcedFailures failures_;
  PanelView view_;
  WebView web_;  // started and stopped with no lock held: its requests take this one
  ScenarioPlayer player_;  // plays until its scenario ends, or StopPlaying
  bool showing_ = false;
};

std::string Utf16ToUtf8(const WideChar* text, size_t units);

}  // namespace vexlan::sim
