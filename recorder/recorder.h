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

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "directoutput/binding.h"
#include "platform/mutex.h"
#include "recorder/replay.h"
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

  Recorder();
  PendingRecord Begin(const char* name);
  PendingRecord Begin(const char* name, void* device);
  // Records (or checks) the call and gives the module its answer.
  HResult Finish(PendingRecord&& record, HResult result, const void* picture = nullptr, Guid* guid = nullptr);
  int DeviceIdLocked(void* handle) REQUIRES(mutex_);
  // Stamps a callback's record: time, thread, kind, device and its number among its kind's for the device.
  void NumberLocked(CallbackKind kind, void* device, PendingRecord* record) REQUIRES(mutex_);
  // Records the callback and runs `forward` (the module's handler) with it as the calls' context.
  template <typename Forward>
  void Deliver(CallbackKind kind, PendingRecord&& record, Forward forward);
  void WriteReport();

  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  DirectOutputBinding real_;
  bool whole_pictures_ = false;
  std::unique_ptr<TraceWriter> writer_;  // recording
  std::unique_ptr<ReplayCheck> check_;   // replaying
  std::string report_path_;
  platform::FastMutex mutex_;
  std::map<void*, int> ids_ GUARDED_BY(mutex_);
  std::map<int, uint32_t> callbacks_[kCallbackKinds] GUARDED_BY(mutex_);  // per device, counted from 1
  DeviceChangeHandlerFn device_handler_ GUARDED_BY(mutex_) = nullptr;
  std::map<void*, PageChangeHandlerFn> page_handlers_ GUARDED_BY(mutex_);
  std::map<void*, SoftButtonHandlerFn> button_handlers_ GUARDED_BY(mutex_);
};

}  // namespace vexlan::recorder
