// The recording DirectOutput library: it stands where the module looks for DirectOutput, loads the real
// library named in a setting of its own, forwards every call and callback unchanged, and writes a trace
// (trace_record.h) through a bounded buffer. With VEXLAN_REPLAY_TRACE set it replays instead: each call is
// checked against the trace and answered as the real library answered it (replay.h).
//
// Settings (recorder_platform.h says where they are read):
//   VEXLAN_RECORDER_LIBRARY  / RecordedLibrary   the real library's path
//   VEXLAN_RECORDER_TRACE    / RecorderTrace     the trace file (default vexlan.trace in the current folder)
//   VEXLAN_RECORDER_PICTURES / RecorderPictures  "whole" to write whole pictures rather than their hash
//   VEXLAN_RECORDER_BUFFER   / RecorderBuffer    records the buffer holds (default 4096)
//   VEXLAN_REPLAY_TRACE, VEXLAN_REPLAY_REPORT    replay: the trace, and where the result goes
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "directoutput/binding.h"
#include "platform/mutex.h"
#include "recorder/replay.h"
#include "recorder/trace_clock.h"
#include "recorder/trace_writer.h"

namespace vexlan::recorder {

class Recorder {
 public:
  static Recorder& Instance();

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
  // The file-server entry points, which the module never calls: forwarded, recorded by name and device.
  HResult Unused(const char* name, void* device, HResult result);
  const DirectOutputBinding& real() const { return real_; }

  // The handlers the real library is given in place of the module's.
  static void OnEnumerate(void* device, void* context);
  static void OnDeviceChange(void* device, uint8_t added, void* context);
  static void OnPage(void* device, uint32_t page, uint8_t activated, void* context);
  static void OnSoftButtons(void* device, uint32_t buttons, void* context);

 private:
  enum CallbackKind { kEnumerate, kArrival, kRemoval, kPage, kButtons, kCallbackKinds };
  struct EnumerateForward {
    EnumerateHandlerFn handler;
    void* context;
  };
  // What the recorder knows of a device handle. Entries are never removed, so a callback keeps the one
  // it found and reads its handlers and counts its callbacks without the lock.
  struct Device {
    Device(void* device_handle, int number) : handle(device_handle), id(number) {}
    void* const handle;
    const int id;
    std::atomic<PageChangeHandlerFn> page_handler{nullptr};
    std::atomic<SoftButtonHandlerFn> button_handler{nullptr};
    std::atomic<uint32_t> callbacks[kCallbackKinds] = {};  // counted from 1
  };
  // The callback a thread is in, if any: the calls it makes are recorded as made from it.
  struct CallbackContext {
    const char* kind = nullptr;
    int device = 0;
    uint32_t number = 0;
  };
  // What the recorder keeps per thread, in one thread-local object (under MinGW each thread-local is
  // reached through a call). Kept small: with a larger one, LeakSanitizer's scan of the threads' storage
  // crashes in the checked Lua host.
  struct ThreadState {
    int number = 0;  // 0 until the thread is first recorded
    CallbackContext context;
    Device* last_device = nullptr;  // the entry of this thread's last callback
  };
  static thread_local ThreadState t_state_;

  Recorder();
  PendingRecord Begin(const char* name);
  PendingRecord Begin(const char* name, void* device);
  // The record of a call that gives a page's item a text: a string, or a picture file's name.
  PendingRecord BeginItemText(const char* name, void* device, uint32_t page, uint32_t index, uint32_t length,
                              const WideChar* text);
  // Records (or checks) the call and gives the module its answer.
  HResult Finish(PendingRecord&& record, HResult result, const void* picture = nullptr, Guid* guid = nullptr);
  // The handle's entry, made (with the next number) when the recorder first sees it; d0 for a null one.
  Device& DeviceLocked(void* handle) REQUIRES(mutex_);
  // The entry of a callback's device: the thread's last one, found again without the lock.
  Device& CallbackDevice(ThreadState& state, void* handle);
  // A callback's record: time, kind, device and its number among its kind's for the device.
  static PendingRecord CallbackRecord(CallbackKind kind, Device& device);
  // Records the callback, with the thread, and runs `forward` (the module's handler) with it as the
  // calls' context.
  template <typename Forward>
  void Deliver(ThreadState& state, CallbackKind kind, PendingRecord&& record, Forward forward);
  void WriteReport();

  const TraceClock clock_;  // where the trace's times count from
  DirectOutputBinding real_;
  bool whole_pictures_ = false;
  std::unique_ptr<TraceWriter> writer_;  // recording
  std::unique_ptr<ReplayCheck> check_;   // replaying
  std::string report_path_;
  platform::FastMutex mutex_;
  std::map<void*, Device> devices_ GUARDED_BY(mutex_);
  int next_device_id_ GUARDED_BY(mutex_) = 1;
  std::atomic<DeviceChangeHandlerFn> device_handler_{nullptr};
};

}  // namespace vexlan::recorder
