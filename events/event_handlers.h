// The handlers the module gives DirectOutput, and the fan-out that turns each event into calls of every
// client's callbacks. All run on whatever thread DirectOutput notifies on.
#pragma once

#include <cstdint>

namespace vexlan {

void EnumerationHandler(void* device, void* context);
void DeviceChangeHandler(void* device, uint8_t added, void* context);
void PageHandler(void* device, uint32_t page, uint8_t activated, void* context);
void SoftButtonHandler(void* device, uint32_t buttons, void* context);

void FanOutDeviceChange(int32_t slot, bool added);
void FanOutPageEvent(int32_t slot, uint32_t page, bool active);
void FanOutSoftButtonEvent(int32_t slot, uint32_t buttons);

}  // namespace vexlan
