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
  const SlotName name = DeviceManager::Instance().UpdateDeviceTable(device, added != 0);
  if (name.slot < 0) return;
  DeliverToClients(
      ClientEvent{ClientEvent::Kind::kDeviceChange, added != 0, name.slot, name.tag, name.ordinal, 0, 0, 0});
}

void PageHandler(void* device, uint32_t page, uint8_t activated, void* /*context*/) {
  const SlotName name = Table().PresentSlotOfHandle(device);
  if (name.slot < 0) return;
  DeliverToClients(
      ClientEvent{ClientEvent::Kind::kPage, activated != 0, name.slot, name.tag, name.ordinal, page, 0, 0});
}

void SoftButtonHandler(void* device, uint32_t buttons, void* /*context*/) {
  // The new mask is stored before any callback runs, whether or not anybody listens.
  uint32_t old = 0;
  const SlotName name = Table().ExchangeButtonState(device, buttons, &old);
  if (name.slot < 0) return;
  DeliverToClients(ClientEvent{ClientEvent::Kind::kSoftButton, false, name.slot, name.tag, name.ordinal, buttons,
                               buttons & ~old, old & ~buttons});
}

}  // namespace vexlan
