// The simulated panels, live in a browser: one page served on the loopback interface that shows every
// device as it stands (screens, LEDs, display lines, pages, plugged or not) and carries controls that act
// through the simulator's own controls (soft buttons, page turns, plugging, characters for the script's
// standard input), so a script's callbacks run as they would with the hardware.
//
// Configured from the environment at the library's first Initialize:
//   VEXLAN_SIM_WEB        a port on 127.0.0.1 to serve the page on (0: any free one); unset or empty: off
//   VEXLAN_SIM_WEB_KEYS   a pipe (FIFO) that feeds the script's standard input, set by the run command:
//                         characters typed on the page are written to it; unset: the page sends none
//
// The simulator hands its devices over under its own lock (Show, Picture); they are copied into plain
// records under this view's lock and encoded and sent on the server's threads, never the simulator's.
// Each picture is kept once, the latest per device, page and index: a browser that falls behind skips
// to the newest state instead of building a backlog.
//
// Every request comes from the loopback interface, but not every one from the page: another web page
// in the same browser, or any local program, can reach the port. The server (libmicrohttpd, which
// bounds each connection's memory and parses in place) therefore takes no body, no range and no foreign
// Host, Origin or fetch site; a connection that has not sent its whole request head 2 s after it began
// waiting for one is dropped, and so is the oldest such connection when too many wait at once, so that
// idle or trickling connections never queue in front of the page.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/mutex.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace vexlan::sim {

struct Device;
class WebRequest;

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
  // Stops serving: ends every open event stream, stops the server and joins its threads. Call with no
  // simulator lock held: requests in flight may be waiting for it.
  void Stop();

  // Under the simulator's lock: the devices as they stand now, after any change.
  void Show(const std::vector<Device>& devices);
  // Under the simulator's lock: a picture sent to a page, in the device layout of output/picture_format.h.
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
  // A connection as the head deadline sees it.
  struct Link {
    intptr_t socket = 0;
    int64_t waiting_since_ms = 0;  // when it began waiting for a request head
    uint64_t waiting_order = 0;    // the same as a count, to tell apart those that began in one millisecond
    bool in_request = false;       // its head has arrived; the request is being answered
  };

  friend class WebServer;  // libmicrohttpd's callbacks, in web_view.cpp
  struct Stream;

  // The routes: each queues its answer and returns libmicrohttpd's result.
  int Answer(WebRequest& request);
  int AnswerEvents(WebRequest& request);
  int AnswerPictures(WebRequest& request);
  int AnswerControl(WebRequest& request);
  int AnswerKeys(WebRequest& request);

  // Wakes every suspended event stream to send what changed.
  void ResumeStreams() REQUIRES(mutex_);
  // The head deadline: drops connections that waited too long for their request head.
  void Watch();

  std::optional<int> configured_port_;
  std::string keys_path_;  // VEXLAN_SIM_WEB_KEYS
  const std::string run_;  // tells this process's pictures from another run's on the same port

  platform::FastMutex lifecycle_;  // Start and Stop, one at a time
  bool announced_ GUARDED_BY(lifecycle_) = false;
  int port_chosen_ GUARDED_BY(lifecycle_) = 0;
  MHD_Daemon* daemon_ GUARDED_BY(lifecycle_) = nullptr;
  std::thread watcher_ GUARDED_BY(lifecycle_);
  std::atomic<int> port_{0};

  platform::FastMutex mutex_;
  platform::FastCondition changed_;
  bool stopping_ GUARDED_BY(mutex_) = false;
  int streams_ GUARDED_BY(mutex_) = 0;
  int picture_answers_ GUARDED_BY(mutex_) = 0;
  uint64_t version_ GUARDED_BY(mutex_) = 1;
  uint64_t next_picture_ GUARDED_BY(mutex_) = 1;
  std::vector<DeviceRecord> devices_ GUARDED_BY(mutex_);
  std::map<PictureKey, Kept> pictures_ GUARDED_BY(mutex_);
  std::map<const MHD_Connection*, Link> links_ GUARDED_BY(mutex_);
  uint64_t waits_ GUARDED_BY(mutex_) = 0;
  std::set<Stream*> suspended_ GUARDED_BY(mutex_);  // event streams with nothing to send
};

}  // namespace vexlan::sim
