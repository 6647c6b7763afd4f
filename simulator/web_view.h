// The simulated panels, live in a browser: one page served on the loopback interface that shows every
// device as it stands (screen, LEDs, display lines, pages, plugged or not) and carries controls that act
// through the simulator's own controls (soft buttons, page turns, plugging), so a script's callbacks run
// as they would with the hardware.
//
// Configured from the environment at the library's first Initialize:
//   VEXLAN_SIM_WEB   a port on 127.0.0.1 to serve the page on (0: any free one); unset or empty: off
//
// The simulator hands its devices over under its own lock (Show, Picture); they are copied into plain
// records under this view's lock and encoded and sent on the server's threads, never the simulator's.
// Each picture is kept once, the latest per device, page and index: a browser that falls behind skips
// to the newest state instead of building a backlog.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/mutex.h"

namespace httplib {
class Server;
}

namespace vexlan::sim {

struct Device;

// What the page shows of one device: plain copies, no pixels.
struct PageRecord {
  uint32_t number = 0;
  std::map<uint32_t, bool> leds;
  std::map<uint32_t, std::string> strings;  // UTF-8
  std::map<uint32_t, uint64_t> pictures;    // index -> version of the picture kept for it
};

struct DeviceRecord {
  int id = 0;
  std::string tag;
  bool present = false;
  std::optional<uint32_t> active_page;
  std::optional<std::string> profile;
  std::vector<PageRecord> pages;
};

class WebView {
 public:
  WebView();
  ~WebView();
  WebView(const WebView&) = delete;
  WebView& operator=(const WebView&) = delete;

  // Reads the environment once; false with `error` set when VEXLAN_SIM_WEB is not a port number.
  bool Configure(std::string* error);
  bool enabled() const { return configured_port_.has_value(); }

  // Starts serving (when configured and not serving yet) on the port asked for, or on the one chosen at
  // the first start, so that an open page finds the library again. Prints the address at the first start.
  // Call with no simulator lock held.
  void Start();
  // Stops serving: wakes every open event stream, stops the server and joins its thread. Call with no
  // simulator lock held: requests in flight may be waiting for it.
  void Stop();
  // The port served on, 0 when not serving.
  int port() const { return port_.load(); }

  // Under the simulator's lock: the devices as they stand now, after any change.
  void Show(const std::vector<Device>& devices);
  // Under the simulator's lock: a picture sent to a page (230400 bytes, the device's own format).
  void Picture(const Device& device, uint32_t page, uint32_t index, const std::vector<uint8_t>& picture);

  // The state as the page reads it, in JSON; `version` counts changes.
  std::string StateJson(uint64_t* version);

 private:
  struct Kept {
    uint64_t version = 0;
    int64_t sent_at_ms = 0;  // wall-clock milliseconds when the script sent it
    std::shared_ptr<const std::vector<uint8_t>> pixels;
  };
  using PictureKey = std::tuple<int, uint32_t, uint32_t>;  // device id, page, index

  void Route(httplib::Server& server);
  // Blocks until the state has moved past `seen`, the view stops or `timeout_ms` passes; the state version.
  uint64_t WaitForChange(uint64_t seen, int timeout_ms);

  std::optional<int> configured_port_;

  platform::FastMutex lifecycle_;  // Start and Stop, one at a time
  bool announced_ GUARDED_BY(lifecycle_) = false;
  int port_chosen_ GUARDED_BY(lifecycle_) = 0;
  std::unique_ptr<httplib::Server> server_ GUARDED_BY(lifecycle_);
  std::thread listener_ GUARDED_BY(lifecycle_);
  std::atomic<bool> listening_done_{false};
  std::atomic<int> port_{0};

  platform::FastMutex mutex_;
  platform::FastCondition changed_;
  bool stopping_ GUARDED_BY(mutex_) = false;
  int streams_ GUARDED_BY(mutex_) = 0;
  uint64_t version_ GUARDED_BY(mutex_) = 1;
  uint64_t next_picture_ GUARDED_BY(mutex_) = 1;
  std::vector<DeviceRecord> devices_ GUARDED_BY(mutex_);
  std::map<PictureKey, Kept> pictures_ GUARDED_BY(mutex_);
};

}  // namespace vexlan::sim
