#include "events/event_handlers.h"

#include "devices/device_manager.h"
#include "events/dispatch.h"

namespace vexlan {
namespace {

DeviceTable& Table() { return DeviceManager::Instance().table(); }

}  // namespace

void EnumerationHandler(void* device, void* /*context*/) {
  // Devices present at the first open are recorded without telling anybody.
  DeviceManager::Instance().UpdateDeviceTable(device, true);
}

void DeviceChangeHandler(void* device, uint8_t added, void* /*context*/) {
  const int32_t slot = DeviceManager::Instance().UpdateDeviceTable(device, added != 0);
  if (slot >= 0) FanOutDeviceChange(slot, added != 0);
}

void PageHandler(void* device, uint32_t page, uint8_t activated, void* /*context*/) {
  const SlotName name = Table().PresentSlotOfHandle(device);
  if (name.slot >= 0) FanOutPageEvent(name.slot, page, activated != 0);
}

void SoftButtonHandler(void* device, uint32_t buttons, void* /*context*/) {
  const SlotName name = Table().PresentSlotOfHandle(device);
  if (name.slot >= 0) FanOutSoftButtonEvent(name.slot, buttons);
}

void FanOutDeviceChange(int32_t slot, bool added) {
  const SlotName name = Table().NameOfSlot(slot);
  if (name.slot < 0) return;
  const ClientEvent event{ClientEvent::Kind::kDeviceChange, added, slot, name.tag, name.ordinal, 0, 0, 0};
  DeliverToClients(event);
}

void FanOutPageEvent(int32_t slot, uint32_t page, bool active) {
  const SlotName name = Table().NameOfSlot(slot);
  if (name.slot < 0) return;
  const ClientEvent event{ClientEvent::Kind::kPage, active, slot, name.tag, name.ordinal, page, 0, 0};
  DeliverToClients(event);
}

void FanOutSoftButtonEvent(int32_t slot, uint32_t buttons) {
  // The new mask is stored before any callback runs, whether or not anybody listens.
  SlotName name;
  const uint32_t old = Table().ExchangeButtonState(slot, buttons, &name);
  if (name.slot < 0) return;
  const uint32_t down = buttons & ~old;
  const uint32_t up = old & ~buttons;
  const ClientEvent event{
      ClientEvent::Kind::kSoftButton, false, slot, name.tag, name.ordinal, buttons, down, up};
  DeliverToClients(event);
}

}  // namespace vexlan
