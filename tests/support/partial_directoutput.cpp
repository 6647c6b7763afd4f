// A DirectOutput library that exports only three of the entry points, and counts the calls they get.
#include "directoutput/directoutput_api.h"
#include "directoutput/directoutput_api_testing.h"

using vexlan::HResult;

extern "C" {
VEXLAN_EXPORT int partial_calls = 0;
VEXLAN_EXPORT HResult DirectOutput_Initialize(const vexlan::WideChar*) { return ++partial_calls, vexlan::kS_OK; }
VEXLAN_EXPORT HResult DirectOutput_AddPage(void*, uint32_t page, uint32_t flags) {
  ++partial_calls;
  return static_cast<HResult>(page * 16 + flags);  // echoes what it got
}
VEXLAN_EXPORT HResult DirectOutput_SetLed(void*, uint32_t, uint32_t, uint32_t) {
  return ++partial_calls, vexlan::kS_FALSE;
}
}
