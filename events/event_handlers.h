// The handlers the module gives DirectOutput. Each asks the device table once, under one hold of its
// lock, for everything the event needs (the slot, its tag and ordinal, and for soft buttons the previous
// mask), then fans the event out to every client's callbacks. All run on whatever thread DirectOutput
// notifies on.
#pragma once

#include <cstdint>

namespace vexlan {

void EnumerationHandler(void* device, void* context);
void DeviceChangeHandler(void* device, uint8_t added, void* context);
void PageHandler(void* device, uint32_t page, uint8_t activated, void* context);
void SoftButtonHandler(void* device, uint32_t buttons, void* context);

}  // namespace vexlan
