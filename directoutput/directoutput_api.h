// The binary interface of the DirectOutput library: its types, result codes, the four handler types it
// calls, and the signature of each of its 22 entry points. The module's binding and the simulated library
// both compile against this header, so a mismatch is a compile error rather than a stack fault.
#pragma once

#include <cstdint>

namespace vexlan {

using HResult = int32_t;
using WideChar = char16_t;  // UTF-16 code unit; wchar_t on Windows has the same size and layout

struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
static_assert(sizeof(Guid) == 16, "a GUID is 16 bytes");

inline constexpr HResult kS_OK = 0;
inline constexpr HResult kE_HANDLE = static_cast<HResult>(0x80070006u);
inline constexpr HResult kE_NOTIMPL = static_cast<HResult>(0x80004001u);
inline constexpr HResult kE_INVALIDARG = static_cast<HResult>(0x80070057u);
inline constexpr HResult kE_OUTOFMEMORY = static_cast<HResult>(0x8007000Eu);
inline constexpr HResult kE_PAGENOTACTIVE = static_cast<HResult>(0xFF040001u);

// Handlers the module hands to the library. The flags are one byte; non-zero means true.
extern "C" {
using EnumerateHandlerFn = void (*)(void* device, void* context);
using DeviceChangeHandlerFn = void (*)(void* device, uint8_t added, void* context);
using PageChangeHandlerFn = void (*)(void* device, uint32_t page, uint8_t activated, void* context);
using SoftButtonHandlerFn = void (*)(void* device, uint32_t buttons, void* context);
}

// Entry-point signatures, in the library's table order. Each is exported as "DirectOutput_" + name.
namespace directoutput {
using InitializeFn = HResult(const WideChar* plugin_name);
using DeinitializeFn = HResult();
using RegisterDeviceCallbackFn = HResult(DeviceChangeHandlerFn handler, void* context);
using EnumerateFn = HResult(EnumerateHandlerFn handler, void* context);
using RegisterPageCallbackFn = HResult(void* device, PageChangeHandlerFn handler, void* context);
using RegisterSoftButtonCallbackFn = HResult(void* device, SoftButtonHandlerFn handler, void* context);
using GetDeviceTypeFn = HResult(void* device, Guid* type);
using GetDeviceInstanceFn = HResult(void* device, Guid* instance);
using SetProfileFn = HResult(void* device, uint32_t length, const WideChar* path);
using AddPageFn = HResult(void* device, uint32_t page, uint32_t flags);
using RemovePageFn = HResult(void* device, uint32_t page);
using SetLedFn = HResult(void* device, uint32_t page, uint32_t index, uint32_t value);
using SetStringFn = HResult(void* device, uint32_t page, uint32_t index, uint32_t length, const WideChar* text);
using SetImageFn = HResult(void* device, uint32_t page, uint32_t index, uint32_t bytes, const void* data);
using SetImageFromFileFn = HResult(void* device, uint32_t page, uint32_t index, uint32_t length, const WideChar* file);
using StartServerFn = HResult(void* device, uint32_t, void*, void*, void*);
using CloseServerFn = HResult(void* device, uint32_t, void*);
using SendServerMsgFn = HResult(void* device, uint32_t, uint32_t, uint32_t, uint32_t, void*, uint32_t, void*, void*);
using SendServerFileFn = HResult(void* device, uint32_t, uint32_t, uint32_t, uint32_t, void*, uint32_t, void*, uint32_t,
                                 void*, void*);
using SaveFileFn = HResult(void* device, uint32_t, uint32_t, uint32_t, void*, void*);
using DisplayFileFn = HResult(void* device, uint32_t, uint32_t, uint32_t, void*);
using DeleteFileFn = HResult(void* device, uint32_t, uint32_t, void*);

inline constexpr uint32_t kAddPageSetActive = 1;
}  // namespace directoutput

}  // namespace vexlan
