// What the simulated panels show: the panel view (text and picture files) and the live web page.
#include "simulator/simulator.h"

#include <cstdio>

namespace vexlan::sim {

void Simulator::StartShowingLocked() {
  if (showing_) return;
  showing_ = true;
  std::string error;
  if (!view_.Configure(&error)) std::fprintf(stderr, "vexlan_sim: %s\n", error.c_str());
  view_.Start();
  if (!web_.Configure(&error)) std::fprintf(stderr, "vexlan_sim: %s\n", error.c_str());
  web_.Show(devices_);
  if (!player_.Load(static_cast<int>(devices_.size()), &error))
    std::fprintf(stderr, "vexlan_sim: %s; playing no scenario\n", error.c_str());
  player_.Start(*this);
}

void Simulator::ShowLocked(const Device& device, const std::string& what) {
  view_.Note(device, what);
  web_.Show(devices_);
}

void Simulator::ShowPictureLocked(const Device& device, uint32_t page, uint32_t index,
                                  const std::vector<uint8_t>& picture) {
  view_.Picture(device, page, index, picture);
  web_.Picture(device, page, index, picture);
  web_.Show(devices_);
}

}  // namespace vexlan::sim
