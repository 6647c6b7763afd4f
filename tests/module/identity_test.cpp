// Hardware identity end to end: a unit that comes back under a new handle finds its own slot among
// several absent ones, by instance id and serial number.
#include <cstdio>
#include <string>

#include "devices/device_table_testing.h"
#include "devices/identity_source.h"
#include "tests/support/module_fixture.h"

namespace vexlan::test {
namespace {

std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
  return text;
}

// Every device the simulator knows is a HID unit whose instance id and serial derive from its instance
// GUID, as real units' do from their hardware.
class UnitsByInstance final : public IdentitySource {
 public:
  bool Start() override { return true; }
  void Stop() override {}
  bool DevicePath(const Guid& instance, platform::Mutex&, char16_t* path) override {
    const std::u16string text = U16("\\\\?\\hid#vid_06a3&pid_a2ae#" + Hex(instance.data1) + "#{4d1e55b2}");
    text.copy(path, text.size());
    path[text.size()] = 0;
    return true;
  }
  void ForEachHidInterface(HidInterfaceVisitor& visitor) override {
    for (const sim::DeviceInfo& device : sim::Devices()) {
      const std::string hex = Hex(0x5EED0000u + static_cast<uint32_t>(device.id));
      std::string upper = hex;
      for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      const std::u16string id = U16("HID\\VID_06A3&PID_A2AE\\" + upper);
      const std::u16string path = U16(hex);
      visitor.Visit(id.c_str(), id.size(), path.c_str());
    }
  }
  HidStrings ReadStrings(const char16_t* interface_path) override {
    HidStrings strings;
    strings.opened = strings.product_read = strings.serial_read = true;
    const std::u16string product = u"Flight Panel";
    const std::u16string serial = u"SN" + std::u16string(interface_path);
    product.copy(strings.product, product.size());
    serial.copy(strings.serial, serial.size());
    return strings;
  }
};

class Identity : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    DeviceManager::Instance().SetIdentitySource(&source_);
  }
  void TearDown() override { DeviceManager::Instance().SetIdentitySource(nullptr); }
  UnitsByInstance source_;
};

TEST_F(Identity, AUnitBackUnderANewHandleFindsItsOwnSlotAmongAbsentOnes) {
  LuaState state;
  const int second = sim::Plug("SFIP");
  Deliver(state);
  DeviceTable& table = DeviceManager::Instance().table();
  EXPECT_STREQ(DeviceTableTesting::Snapshot(table, 2).identity.instance_id, ("hid\\vid_06a3&pid_a2ae\\" + Hex(0x5EED0000u + second)).c_str());
  EXPECT_STREQ(DeviceTableTesting::Snapshot(table, 2).identity.product, "Flight Panel");
  sim::Unplug(kFip);
  sim::Unplug(second);
  Deliver(state);
  sim::Replug(second, true);  // the second panel first, under a handle never seen
  Deliver(state);
  EXPECT_EQ(DeviceTableTesting::Snapshot(table, 1).present, 0) << "the first panel's slot stays absent";
  EXPECT_EQ(DeviceTableTesting::Snapshot(table, 2).present, 1);
  EXPECT_EQ(DeviceTableTesting::Snapshot(table, 2).handle, sim::HandleOf(second));
  EXPECT_EQ(state.Number("vexlan.AddPage('SFIP', 2, 1, false)"), 0);
  EXPECT_EQ(LastCall("AddPage").id, second) << "ordinal 2 still names the same unit";
  EXPECT_EQ(state.Count("vexlan.AddPage('SFIP', 1, 1, false)"), 0);
  EXPECT_EQ(DeviceTableTesting::count(table), 3);
}

}  // namespace
}  // namespace vexlan::test
