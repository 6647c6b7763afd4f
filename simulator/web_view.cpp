#include "simulator/web_view.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "simulator/simulator.h"
#include "simulator/web_page.h"

namespace vexlan::sim {
namespace {

constexpr size_t kWorkers = 8;     // request threads; an open page holds one for its event stream
constexpr int kMaxStreams = 4;     // event streams at once, so that requests always find a thread
constexpr size_t kMaxBody = 1024;  // the page's requests carry no body
constexpr int kIdleMs = 5000;      // an idle stream sends a comment this often, to notice a closed page

// A whole decimal (or 0x hexadecimal) number of at most `max`.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t* out) {
  if (text.empty() || text.size() > 20) return false;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  uint64_t value = 0;
  for (size_t at = hex ? 2 : 0; at < text.size(); ++at) {
    const char c = text[at];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (value > max) return false;
  }
  *out = value;
  return true;
}

bool Param(const httplib::Request& request, const char* name, uint64_t max, uint64_t* out) {
  return request.has_param(name) && ParseNumber(request.get_param_value(name), max, out);
}

void AppendJsonString(std::string& out, const std::string& text) {
  out.push_back('"');
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
}

std::string Json(const std::vector<DeviceRecord>& devices, uint64_t version) {
  std::string out = "{\"version\":" + std::to_string(version) + ",\"devices\":[";
  for (size_t d = 0; d < devices.size(); ++d) {
    const DeviceRecord& device = devices[d];
    if (d != 0) out += ',';
    out += "{\"id\":" + std::to_string(device.id) + ",\"tag\":";
    AppendJsonString(out, device.tag);
    out += std::string(",\"present\":") + (device.present ? "true" : "false") + ",\"active\":";
    out += device.active_page ? std::to_string(*device.active_page) : "null";
    out += ",\"profile\":";
    if (device.profile)
      AppendJsonString(out, *device.profile);
    else
      out += "null";
    out += ",\"pages\":[";
    for (size_t p = 0; p < device.pages.size(); ++p) {
      const PageRecord& page = device.pages[p];
      if (p != 0) out += ',';
      out += "{\"number\":" + std::to_string(page.number) + ",\"leds\":{";
      const char* comma = "";
      for (const auto& [index, on] : page.leds) {
        out += comma + ("\"" + std::to_string(index) + "\":") + (on ? "true" : "false");
        comma = ",";
      }
      out += "},\"strings\":{";
      comma = "";
      for (const auto& [index, text] : page.strings) {
        out += comma + ("\"" + std::to_string(index) + "\":");
        AppendJsonString(out, text);
        comma = ",";
      }
      out += "},\"pictures\":{";
      comma = "";
      for (const auto& [index, version_kept] : page.pictures) {
        out += comma + ("\"" + std::to_string(index) + "\":") + std::to_string(version_kept);
        comma = ",";
      }
      out += "}}";
    }
    out += "]}";
  }
  return out + "]}";
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void Answer(httplib::Response& response, int status, const char* text) {
  response.status = status;
  response.set_content(std::string(text) + "\n", "text/plain; charset=utf-8");
}

}  // namespace

WebView::WebView() = default;
WebView::~WebView() { Stop(); }

bool WebView::Configure(std::string* error) {
  const char* value = std::getenv("VEXLAN_SIM_WEB");
  if (value == nullptr || *value == 0) return true;
  uint64_t port = 0;
  if (!ParseNumber(value, 65535, &port) || (value[0] == '0' && value[1] == 'x')) {
    *error =
        std::string("VEXLAN_SIM_WEB takes a port number (0 for any free one), not \"") + value + "\"; no panels served";
    return false;
  }
  configured_port_ = static_cast<int>(port);
  return true;
}

void WebView::Start() {
  if (!enabled()) return;
  platform::FastMutexLock lock(lifecycle_);
  if (server_) return;
  auto server = std::make_unique<httplib::Server>();
  server->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  // Short timeouts bound how long a stalled or idle connection keeps a thread, and how long Stop waits.
  server->set_keep_alive_timeout(1);
  server->set_keep_alive_max_count(1000);  // a page fetches a picture per change: keep its connections
  server->set_read_timeout(2, 0);
  server->set_write_timeout(2, 0);
  server->set_payload_max_length(kMaxBody);
  Route(*server);
  const int asked = port_chosen_ != 0 ? port_chosen_ : *configured_port_;
  const int bound =
      asked == 0 ? server->bind_to_any_port("127.0.0.1") : (server->bind_to_port("127.0.0.1", asked) ? asked : -1);
  if (bound <= 0) {
    std::fprintf(stderr, "vexlan_sim: cannot serve the panels on 127.0.0.1:%d\n", asked);
    std::fflush(stderr);
    return;
  }
  {
    platform::FastMutexLock state(mutex_);
    stopping_ = false;
  }
  port_ = bound;
  port_chosen_ = bound;
  listening_done_ = false;
  httplib::Server* serving = server.get();
  listener_ = std::thread([this, serving] {
    serving->listen_after_bind();
    listening_done_ = true;
  });
  server_ = std::move(server);
  if (!announced_) {
    announced_ = true;
    std::fprintf(stderr, "vexlan_sim: panels at http://127.0.0.1:%d/\n", bound);
    std::fflush(stderr);
  }
}

void WebView::Stop() {
  platform::FastMutexLock lock(lifecycle_);
  if (!server_) return;
  {
    platform::FastMutexLock state(mutex_);
    stopping_ = true;
  }
  changed_.NotifyAll();
  // The server stops only once its loop runs; the thread may not have reached it yet.
  while (!server_->is_running() && !listening_done_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  server_->stop();
  listener_.join();
  server_.reset();
  port_ = 0;
}

// ---- the simulator's side ----------------------------------------------------------------------------

void WebView::Show(const std::vector<Device>& devices) {
  if (!enabled()) return;
  std::vector<DeviceRecord> records;
  records.reserve(devices.size());
  for (const Device& device : devices) {
    DeviceRecord& record = records.emplace_back();
    record.id = device.id;
    record.tag = device.tag;
    record.present = device.present;
    record.active_page = device.active_page;
    if (device.profile) record.profile = Utf16ToUtf8(device.profile->data(), device.profile->size());
    for (const auto& [number, page] : device.pages) {
      PageRecord& kept = record.pages.emplace_back();
      kept.number = number;
      kept.leds = page.leds;
      for (const auto& [index, text] : page.strings) kept.strings[index] = Utf16ToUtf8(text.data(), text.size());
      for (const auto& [index, picture] : page.images) kept.pictures[index] = 0;
    }
  }
  platform::FastMutexLock lock(mutex_);
  // Pictures of pages that are gone (removed, or the unit unplugged) are dropped with them.
  std::map<PictureKey, Kept> pictures;
  for (DeviceRecord& record : records)
    for (PageRecord& page : record.pages)
      for (auto& [index, version] : page.pictures) {
        auto found = pictures_.find({record.id, page.number, index});
        if (found == pictures_.end()) continue;
        version = found->second.version;
        pictures.insert(pictures_.extract(found));
      }
  pictures_ = std::move(pictures);
  devices_ = std::move(records);
  ++version_;
  changed_.NotifyAll();
}

void WebView::Picture(const Device& device, uint32_t page, uint32_t index, const std::vector<uint8_t>& picture) {
  if (!enabled()) return;
  auto pixels = std::make_shared<const std::vector<uint8_t>>(picture);
  const int64_t now = NowMs();
  platform::FastMutexLock lock(mutex_);
  Kept& kept = pictures_[{device.id, page, index}];
  kept.version = next_picture_++;
  kept.sent_at_ms = now;
  kept.pixels = std::move(pixels);
}

// ---- the server's side -----------------------------------------------------------------------------

std::string WebView::StateJson(uint64_t* version) {
  std::vector<DeviceRecord> devices;
  {
    platform::FastMutexLock lock(mutex_);
    devices = devices_;
    *version = version_;
  }
  return Json(devices, *version);
}

uint64_t WebView::WaitForChange(uint64_t seen, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  platform::FastMutexLock lock(mutex_);
  while (!stopping_ && version_ == seen && std::chrono::steady_clock::now() < deadline)
    changed_.WaitFor(mutex_, deadline - std::chrono::steady_clock::now());
  return stopping_ ? 0 : version_;
}

void WebView::Route(httplib::Server& server) {
  // Only the page's own requests: the Host must be this address and port (a page elsewhere that
  // rebinds a name of its own to 127.0.0.1 is refused), and a control request from a page must come
  // from this origin.
  server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    const std::string self = "127.0.0.1:" + std::to_string(port_.load());
    if (request.get_header_value("Host") != self) {
      Answer(response, 403, "only http://127.0.0.1 at this port");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (request.method == "POST" && request.has_header("Origin") &&
        request.get_header_value("Origin") != "http://" + self) {
      Answer(response, 403, "controls only from this page");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  server.Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    response.set_header("Content-Security-Policy",
                        "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                        "connect-src 'self'; img-src 'self' data:");
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_header("X-Frame-Options", "DENY");
    response.set_content(kPanelPage, "text/html; charset=utf-8");
  });

  server.Get("/state", [this](const httplib::Request&, httplib::Response& response) {
    uint64_t version = 0;
    response.set_header("Cache-Control", "no-store");
    response.set_content(StateJson(&version), "application/json");
  });

  // Server-sent events: the whole state each time it changes. A page that reads slowly gets the newest
  // state when it next can, never a queue of old ones.
  server.Get("/events", [this](const httplib::Request&, httplib::Response& response) {
    {
      platform::FastMutexLock lock(mutex_);
      if (stopping_ || streams_ >= kMaxStreams) return Answer(response, 503, "too many open pages");
      ++streams_;
    }
    response.set_header("Cache-Control", "no-store");
    auto seen = std::make_shared<uint64_t>(0);
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, seen](size_t, httplib::DataSink& sink) {
          const uint64_t now = WaitForChange(*seen, kIdleMs);
          if (now == 0) return false;
          if (now == *seen) return sink.write(": idle\n\n", 8);
          const std::string message = "data: " + StateJson(seen.get()) + "\n\n";
          return sink.write(message.data(), message.size());
        },
        [this](bool) {
          platform::FastMutexLock lock(mutex_);
          --streams_;
        });
  });

  // The latest picture of a device's page, in the device's own format: 240 bottom-up rows of 320 blue,
  // green, red pixels. Its version and the time the script sent it ride along in headers.
  server.Get("/picture", [this](const httplib::Request& request, httplib::Response& response) {
    uint64_t id, page, index;
    if (!Param(request, "device", 1u << 30, &id) || !Param(request, "page", UINT32_MAX, &page) ||
        !Param(request, "index", UINT32_MAX, &index))
      return Answer(response, 400, "device, page and index are numbers");
    Kept kept;
    {
      platform::FastMutexLock lock(mutex_);
      auto found = pictures_.find({static_cast<int>(id), static_cast<uint32_t>(page), static_cast<uint32_t>(index)});
      if (found == pictures_.end()) return Answer(response, 404, "no such picture");
      kept = found->second;
    }
    response.set_header("Cache-Control", "no-store");
    response.set_header("X-Picture-Version", std::to_string(kept.version));
    response.set_header("X-Sent-At", std::to_string(kept.sent_at_ms));
    response.set_content(reinterpret_cast<const char*>(kept.pixels->data()), kept.pixels->size(),
                         "application/octet-stream");
  });

  // The controls: each is one of the simulator's own, as vexlan_sim's Lua functions call them, so the
  // events reach the module exactly as theirs do. 409 when the device is unknown or not in that state.
  const auto done = [](httplib::Response& response, bool acted) {
    acted ? Answer(response, 200, "ok") : Answer(response, 409, "no such device, or not in that state");
  };
  server.Post("/buttons", [done](const httplib::Request& request, httplib::Response& response) {
    uint64_t id, mask;
    if (!Param(request, "device", 1u << 30, &id) || !Param(request, "mask", UINT32_MAX, &mask))
      return Answer(response, 400, "device and mask are numbers");
    done(response, Simulator::Instance().Buttons(static_cast<int>(id), static_cast<uint32_t>(mask)));
  });
  // Turning to a page: the page shown so far reports itself inactive, then the new one active.
  server.Post("/page", [done](const httplib::Request& request, httplib::Response& response) {
    uint64_t id, page;
    if (!Param(request, "device", 1u << 30, &id) || !Param(request, "page", UINT32_MAX, &page))
      return Answer(response, 400, "device and page are numbers");
    Simulator& simulator = Simulator::Instance();
    const std::optional<uint32_t> shown = simulator.ActivePage(static_cast<int>(id));
    if (shown && *shown != page) simulator.PageChange(static_cast<int>(id), *shown, false);
    done(response, simulator.PageChange(static_cast<int>(id), static_cast<uint32_t>(page), true));
  });
  server.Post("/unplug", [done](const httplib::Request& request, httplib::Response& response) {
    uint64_t id;
    if (!Param(request, "device", 1u << 30, &id)) return Answer(response, 400, "device is a number");
    done(response, Simulator::Instance().Unplug(static_cast<int>(id)));
  });
  server.Post("/replug", [done](const httplib::Request& request, httplib::Response& response) {
    uint64_t id, fresh = 0;
    if (!Param(request, "device", 1u << 30, &id) || (request.has_param("new") && !Param(request, "new", 1, &fresh)))
      return Answer(response, 400, "device is a number, new is 0 or 1");
    done(response, Simulator::Instance().Replug(static_cast<int>(id), fresh == 1));
  });
  server.Post("/plug", [](const httplib::Request& request, httplib::Response& response) {
    const std::string tag = request.get_param_value("tag");
    if (tag != "X52P" && tag != "SFIP" && tag != "UNKN") return Answer(response, 400, "tag is X52P, SFIP or UNKN");
    const int id = Simulator::Instance().Plug(tag);
    response.set_content(std::to_string(id) + "\n", "text/plain; charset=utf-8");
  });
}

}  // namespace vexlan::sim
