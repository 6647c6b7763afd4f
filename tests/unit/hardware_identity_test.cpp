#include "devices/hardware_identity.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "devices/hardware_identity_testing.h"

namespace vexlan {
namespace {

std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

struct FakeInterface {
  std::string instance_id;
  std::string path;
  bool opens = true;
  bool product_read = true;
  std::string product;
  bool serial_read = true;
  std::string serial;
};

// Stands in for DirectInput, SetupAPI and HID with a scripted set of devices.
class FakeIdentitySource final : public IdentitySource {
 public:
  bool Start() override { return true; }
  void Stop() override {}
  bool DevicePath(const Guid&, platform::Mutex& lock, char16_t* path) override {
    lock.Lock();  // the creation happens under the DirectInput lock
    lock.Unlock();
    if (!device_path) return false;
    const std::u16string wide = U16(*device_path);
    std::copy(wide.begin(), wide.end(), path);
    path[wide.size()] = 0;
    return true;
  }
  void ForEachHidInterface(HidInterfaceVisitor& visitor) override {
    ++walks;
    for (const FakeInterface& hid : interfaces) {
      const std::u16string id = U16(hid.instance_id);
      const std::u16string path = U16(hid.path);
      visitor.Visit(id.c_str(), id.size(), path.c_str());
    }
  }
  HidStrings ReadStrings(const char16_t* interface_path) override {
    HidStrings strings;
    for (const FakeInterface& hid : interfaces) {
      if (U16(hid.path) != interface_path || !hid.opens) continue;
      strings.opened = true;
      strings.product_read = hid.product_read;
      strings.serial_read = hid.serial_read;
      const std::u16string product = U16(hid.product).substr(0, kHidStringUnits);
      const std::u16string serial = U16(hid.serial).substr(0, kHidStringUnits);
      std::copy(product.begin(), product.end(), strings.product);
      std::copy(serial.begin(), serial.end(), strings.serial);
    }
    return strings;
  }

  std::optional<std::string> device_path;
  std::vector<FakeInterface> interfaces;
  int walks = 0;
};

constexpr char kPath[] = "\\\\?\\hid#vid_1234&pid_5678#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
constexpr char kInstanceId[] = "HID\\VID_1234&PID_5678\\7&1A2B3C4D&0&0000";

class HardwareIdentityTest : public testing::Test {
 protected:
  HardwareIdentity LookUp() {
    HardwareIdentity identity;
    std::memset(&identity, 'x', sizeof identity);  // the lookup must clear what it does not find
    LookUpHardwareIdentity(source_, lock_, Guid{}, &identity);
    return identity;
  }
  FakeIdentitySource source_;
  platform::Mutex lock_;
};

TEST_F(HardwareIdentityTest, NoDirectInputDeviceGivesEmptyStringsWithoutWalkingHid) {
  source_.interfaces.push_back({kInstanceId, "p", true, true, "Panel", true, "S1"});
  const HardwareIdentity identity = LookUp();
  EXPECT_STREQ(identity.product, "");
  EXPECT_STREQ(identity.instance_id, "");
  EXPECT_STREQ(identity.serial, "");
  EXPECT_EQ(source_.walks, 0);
}

TEST_F(HardwareIdentityTest, MatchesTheInterfaceWhoseLowerCasedIdLiesInThePath) {
  source_.device_path = kPath;
  source_.interfaces.push_back({"HID\\VID_9999&PID_0001\\1&2&3", "other", true, true, "Other", true, "O"});
  source_.interfaces.push_back({kInstanceId, "mine", true, true, "Flight Panel", true, "SN42"});
  const HardwareIdentity identity = LookUp();
  EXPECT_STREQ(identity.instance_id, "hid\\vid_1234&pid_5678\\7&1a2b3c4d&0&0000");
  EXPECT_STREQ(identity.product, "Flight Panel");
  EXPECT_STREQ(identity.serial, "SN42");
}

TEST_F(HardwareIdentityTest, APathInCapitalsMatchesNothing) {
  std::string upper = kPath;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  source_.device_path = upper;
  source_.interfaces.push_back({kInstanceId, "mine", true, true, "Panel", true, "S"});
  EXPECT_STREQ(LookUp().instance_id, "");
}

TEST_F(HardwareIdentityTest, LongStringsAreCutToTheirFields) {
  source_.device_path = kPath;
  source_.interfaces.push_back({kInstanceId, "mine", true, true, std::string(40, 'p'), true, std::string(64, 's')});
  const HardwareIdentity identity = LookUp();
  EXPECT_EQ(std::string(identity.product), std::string(31, 'p'));
  EXPECT_EQ(std::string(identity.serial), std::string(31, 's'));
}

TEST_F(HardwareIdentityTest, TheLastMatchWinsWhereItsReadsSucceed) {
  source_.device_path = kPath;
  source_.interfaces.push_back({kInstanceId, "first", true, true, "First", true, "S1"});
  source_.interfaces.push_back({"HID\\VID_1234&PID_5678", "second", true, true, "Second", false, "never"});
  const HardwareIdentity identity = LookUp();
  EXPECT_STREQ(identity.instance_id, "hid\\vid_1234&pid_5678");
  EXPECT_STREQ(identity.product, "Second");
  EXPECT_STREQ(identity.serial, "S1") << "the failed read leaves the earlier value";
}

TEST_F(HardwareIdentityTest, FailedReadsLeaveFieldsEmpty) {
  source_.device_path = kPath;
  source_.interfaces.push_back({kInstanceId, "mine", true, true, "Panel", false, "x"});
  HardwareIdentity identity = LookUp();
  EXPECT_STREQ(identity.product, "Panel");
  EXPECT_STREQ(identity.serial, "");
  source_.interfaces[0].opens = false;
  identity = LookUp();
  EXPECT_STREQ(identity.instance_id, "hid\\vid_1234&pid_5678\\7&1a2b3c4d&0&0000") << "the id is kept";
  EXPECT_STREQ(identity.product, "");
}

TEST_F(HardwareIdentityTest, AnInstanceIdTooLongForItsBufferIsSkipped) {
  const std::string long_id(64, 'a');
  source_.device_path = "x" + long_id;
  source_.interfaces.push_back({long_id, "long", true, true, "Long", true, "L"});
  source_.interfaces.push_back({long_id.substr(0, 63), "fits", true, true, "Fits", true, "F"});
  const HardwareIdentity identity = LookUp();
  EXPECT_EQ(std::string(identity.instance_id), long_id.substr(0, 63));
  EXPECT_STREQ(identity.product, "Fits");
}

TEST(AnsiString, UsesItsInlineBufferUpTo31CharactersAndTheHeapBeyond) {
  const std::u16string thirty_one(31, u'a');
  AnsiString small(thirty_one.c_str());
  EXPECT_FALSE(AnsiStringTesting::on_heap(small));
  EXPECT_EQ(std::string(small.c_str()), std::string(31, 'a'));
  const std::u16string thirty_two(32, u'b');
  AnsiString large(thirty_two.c_str());
  EXPECT_TRUE(AnsiStringTesting::on_heap(large));
  EXPECT_EQ(AnsiStringTesting::storage_size(large), 132u);
  EXPECT_EQ(std::string(large.c_str()), std::string(32, 'b'));
  EXPECT_EQ(AnsiString(nullptr).c_str(), nullptr);
  EXPECT_STREQ(AnsiString(u"").c_str(), "");
}

}  // namespace
}  // namespace vexlan
