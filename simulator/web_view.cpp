#include "simulator/web_view.h"

#include <microhttpd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "devices/device_kinds.h"
#include "output/picture_format.h"
#include "simulator/scenario.h"
#include "simulator/simulator.h"
#include "simulator/web_files.h"
#include "simulator/web_socket.h"

namespace vexlan::sim {
namespace {

// Beyond this many connections a new one is closed at once. Set far above what the page and the
// head deadline leave open, so that a flood of idle connections, each dropped as the next arrives
// (kMaxWaiting), never fills it ahead of the page's own requests.
constexpr unsigned kMaxConnections = 512;
constexpr size_t kConnectionMemory = 16384;  // a connection's request line and headers must fit in this
constexpr unsigned kIdleTimeoutS = 2;      // a connection that moves no byte for this long is closed
constexpr int64_t kHeadDeadlineMs = 2000;  // and one that has not sent its whole request head this long
constexpr size_t kMaxWaiting = 8;          // connections waiting for a head at once; the oldest goes
constexpr int kMaxStreams = 4;             // event streams at once; a page beyond them waits its turn
// Picture answers in flight at once: each holds the pixels it sends, so a client that does not read
// would otherwise keep old pictures alive. The page has one in flight per tab.
constexpr int kMaxPictureAnswers = 8;
constexpr int kIdleMs = 1000;              // an idle stream sends a comment this often, to notice a closed page
constexpr size_t kStreamBlock = 65536;
constexpr size_t kPictureBlock = 256 * 1024;  // a whole picture and its line per call: fewer rounds of the server loop
constexpr size_t kMaxKeys = 64;  // characters one request may send to the script's input


void AppendJsonString(std::string& out, const std::string& text) {
  out.push_back('"');
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (byte < 0x20 || c == '<' || c == '>' || c == '&') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
}

// The catalogue of device kinds and the picture format, for the page: it draws a screen, text lines and
// the plug control from these rather than from tags of its own.
std::string CatalogueJson() {
  std::string out = ",\"kinds\":[";
  for (const DeviceKind& kind : kDeviceKinds) {
    out += &kind == kDeviceKinds ? "{\"tag\":" : ",{\"tag\":";
    AppendJsonString(out, kind.name);
    out += std::string(",\"screen\":") + (kind.has_screen ? "true" : "false") +
           ",\"display_lines\":" + std::to_string(kind.display_lines) +
           ",\"display_columns\":" + std::to_string(kind.display_columns) + "}";
  }
  return out + "],\"picture\":{\"width\":" + std::to_string(kImageWidth) + ",\"height\":" +
         std::to_string(kImageHeight) + ",\"bytes\":" + std::to_string(kDeviceImageBytes) + "}";
}

std::string Json(const std::vector<DeviceRecord>& devices, uint64_t version, const std::string& run, bool keys) {
  static const std::string catalogue = CatalogueJson();
  std::string out = "{\"version\":" + std::to_string(version) + ",\"run\":";
  AppendJsonString(out, run);
  out += std::string(",\"keys\":") + (keys ? "true" : "false") + catalogue + ",\"devices\":[";
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

// Header names compare without regard to case.
bool SameName(const char* a, const char* b) {
  for (; *a != 0 && *b != 0; ++a, ++b)
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
  return *a == *b;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Sixteen hexadecimal digits that tell one run of the library from the next on the same port.
std::string NewRunName() {
  std::random_device entropy;
  const uint64_t value = (static_cast<uint64_t>(entropy()) << 32) ^ entropy() ^ static_cast<uint64_t>(NowMs());
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

// Headers every answer carries: nothing is cached, sniffed, framed or sent on as a referrer.
void AddCommonHeaders(MHD_Response* response) {
  MHD_add_response_header(response, "Cache-Control", "no-store");
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  MHD_add_response_header(response, "X-Frame-Options", "DENY");
  MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
}

int Queue(MHD_Connection* connection, unsigned status, MHD_Response* response) {
  AddCommonHeaders(response);
  const int queued = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return queued;
}

// 200 with a body that `read` produces from `state` as the client takes it; `end` frees `state`, also when
// the answer cannot be made.
int QueueProduced(MHD_Connection* connection, const char* content_type, uint64_t size, size_t block,
                  MHD_ContentReaderCallback read, void* state, MHD_ContentReaderFreeCallback end) {
  MHD_Response* response = MHD_create_response_from_callback(size, block, read, state, end);
  if (response == nullptr) {
    end(state);
    return MHD_NO;
  }
  MHD_add_response_header(response, "Content-Type", content_type);
  return Queue(connection, 200, response);
}

// 503 with Retry-After: the page asks again in a second.
int TryAgainLater(MHD_Connection* connection) {
  MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, "Retry-After", "1");
  return Queue(connection, 503, response);
}

}  // namespace

// One request as the routes see it: its connection, method and path, and the checks on its headers
// and arguments.
class WebRequest {
 public:
  WebRequest(MHD_Connection* connection, const char* method, const char* path)
      : connection(connection), method(method), path(path) {}

  MHD_Connection* const connection;
  const std::string method;
  const std::string path;

  // How many times header `name` was sent, and the first value.
  int Header(const char* name, std::string* value) const {
    struct Search {
      const char* name;
      std::string* value;
      int count;
    } search{name, value, 0};
    MHD_get_connection_values(
        connection, MHD_HEADER_KIND,
        [](void* closure, MHD_ValueKind, const char* key, const char* found) -> MHD_Result {
          auto* s = static_cast<Search*>(closure);
          if (key == nullptr || !SameName(key, s->name)) return MHD_YES;
          if (s->count++ == 0 && s->value != nullptr) *s->value = found == nullptr ? "" : found;
          return MHD_YES;
        },
        &search);
    return search.count;
  }

  bool Number(const char* name, uint64_t max, uint64_t* out) const {
    const char* value = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, name);
    return value != nullptr && ParseNumber(value, max, out);
  }
  bool Has(const char* name) const {
    return MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, name) != nullptr;
  }
  // An argument's bytes, zeros included.
  std::string Text(const char* name) const {
    const char* value = nullptr;
    size_t length = 0;
    if (MHD_lookup_connection_value_n(connection, MHD_GET_ARGUMENT_KIND, name, std::strlen(name), &value, &length) !=
            MHD_YES ||
        value == nullptr)
      return {};
    return std::string(value, length);
  }

  int Reply(unsigned status, const std::string& text, const char* type = "text/plain; charset=utf-8") const {
    MHD_Response* response =
        MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, "Content-Type", type);
    return Queue(connection, status, response);
  }
  int Refuse(unsigned status, const char* why) const { return Reply(status, std::string(why) + "\n"); }
};

// An event stream: what it has still to send of its current message.
struct WebView::Stream {
  WebView* view;
  MHD_Connection* connection;
  uint64_t seen = 0;
  int64_t sent_at_ms = 0;
  std::string pending;
  size_t sent = 0;
  bool ended = false;
};

// libmicrohttpd's callbacks, each with the view as its closure.
class WebServer {
 public:
  static MHD_Result OnRequest(void* closure, MHD_Connection* connection, const char* url, const char* method,
                              const char*, const char*, size_t* upload_size, void** request_state) {
    auto* view = static_cast<WebView*>(closure);
    if (*request_state != nullptr) {
      // Only a request with a body comes back, and every such request was answered at once: its body is
      // read no further.
      *upload_size = 0;
      return MHD_YES;
    }
    *request_state = view;
    {
      platform::FastMutexLock lock(view->mutex_);
      auto found = view->links_.find(connection);
      if (found != view->links_.end()) found->second.in_request = true;
    }
    WebRequest request(connection, method, url);
    return view->Answer(request) == MHD_YES ? MHD_YES : MHD_NO;
  }

  static void OnConnection(void* closure, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode what) {
    auto* view = static_cast<WebView*>(closure);
    platform::FastMutexLock lock(view->mutex_);
    if (what == MHD_CONNECTION_NOTIFY_CLOSED) {
      view->links_.erase(connection);
      return;
    }
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info == nullptr) return;
    view->links_[connection] = {static_cast<intptr_t>(info->connect_fd), SteadyMs(), ++view->waits_, false};
    // Too many connections waiting for a head: the one that waited longest makes room.
    std::vector<std::map<const MHD_Connection*, WebView::Link>::iterator> waiting;
    for (auto at = view->links_.begin(); at != view->links_.end(); ++at)
      if (!at->second.in_request && at->second.socket >= 0) waiting.push_back(at);
    if (waiting.size() <= kMaxWaiting) return;
    auto oldest = *std::min_element(waiting.begin(), waiting.end(), [](const auto& a, const auto& b) {
      return a->second.waiting_order < b->second.waiting_order;
    });
    ShutdownSocket(oldest->second.socket);
    oldest->second.socket = -1;  // shut once; the entry goes when the connection closes
  }

  static void OnCompleted(void* closure, MHD_Connection* connection, void**, MHD_RequestTerminationCode) {
    auto* view = static_cast<WebView*>(closure);
    platform::FastMutexLock lock(view->mutex_);
    auto found = view->links_.find(connection);
    if (found == view->links_.end()) return;
    found->second.in_request = false;
    found->second.waiting_since_ms = SteadyMs();
    found->second.waiting_order = ++view->waits_;
  }

  // An event stream: the whole state each time it changes, a comment when idle. It never blocks the
  // server's thread: with nothing to send it is suspended, and resumed by the next change (Show), by the
  // watch when a comment is due, or by Stop.
  using Stream = WebView::Stream;

  static ssize_t ReadStream(void* closure, uint64_t, char* buffer, size_t room) {
    auto* stream = static_cast<Stream*>(closure);
    WebView* view = stream->view;
    if (stream->sent == stream->pending.size()) {
      if (stream->ended) return MHD_CONTENT_READER_END_OF_STREAM;
      stream->sent = 0;
      stream->pending.clear();
      bool changed = false;
      {
        platform::FastMutexLock lock(view->mutex_);
        if (view->stopping_) {
          stream->pending = "event: stopped\ndata: {}\n\n";  // the library stops serving
          stream->ended = true;
        } else if (view->version_ != stream->seen) {
          changed = true;
        } else if (SteadyMs() - stream->sent_at_ms >= kIdleMs) {
          stream->pending = ": idle\n\n";
        } else {
          // Suspended under the lock that Show and the watch resume under: no change slips between.
          view->suspended_.insert(stream);
          MHD_suspend_connection(stream->connection);
          return 0;
        }
      }
      if (changed) stream->pending = "data: " + view->StateJson(&stream->seen) + "\n\n";
      stream->sent_at_ms = SteadyMs();
    }
    const size_t count = std::min(room, stream->pending.size() - stream->sent);
    std::memcpy(buffer, stream->pending.data() + stream->sent, count);
    stream->sent += count;
    return static_cast<ssize_t>(count);
  }

  // The pictures of one answer, each after its line.
  struct Pictures {
    WebView* view;
    struct Part {
      std::string line;
      std::shared_ptr<const std::vector<uint8_t>> pixels;
    };
    std::vector<Part> parts;
    size_t part = 0;
    size_t offset = 0;  // within the part's line, then its pixels
  };

  static ssize_t ReadPictures(void* closure, uint64_t, char* buffer, size_t room) {
    auto* pictures = static_cast<Pictures*>(closure);
    size_t written = 0;
    while (written < room && pictures->part < pictures->parts.size()) {
      const Pictures::Part& part = pictures->parts[pictures->part];
      const size_t line = part.line.size();
      const size_t total = line + part.pixels->size();
      const size_t count = std::min(room - written, (pictures->offset < line ? line : total) - pictures->offset);
      const char* from = pictures->offset < line
                             ? part.line.data() + pictures->offset
                             : reinterpret_cast<const char*>(part.pixels->data()) + (pictures->offset - line);
      std::memcpy(buffer + written, from, count);
      written += count;
      pictures->offset += count;
      if (pictures->offset == total) {
        ++pictures->part;
        pictures->offset = 0;
      }
    }
    return written == 0 ? MHD_CONTENT_READER_END_OF_STREAM : static_cast<ssize_t>(written);
  }

  static void EndPictures(void* closure) {
    auto* pictures = static_cast<Pictures*>(closure);
    {
      platform::FastMutexLock lock(pictures->view->mutex_);
      --pictures->view->picture_answers_;
    }
    delete pictures;
  }

  static void EndStream(void* closure) {
    auto* stream = static_cast<Stream*>(closure);
    {
      platform::FastMutexLock lock(stream->view->mutex_);
      --stream->view->streams_;
      stream->view->suspended_.erase(stream);
    }
    delete stream;
  }
};

WebView::WebView() : run_(NewRunName()) {}
WebView::~WebView() { Stop(); }

bool WebView::Configure(std::string* error) {
  const char* keys = std::getenv("VEXLAN_SIM_WEB_KEYS");
  if (keys != nullptr) keys_path_ = keys;
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
  if (daemon_ != nullptr) return;
  const int asked = port_chosen_ != 0 ? port_chosen_ : *configured_port_;
  const LoopbackAddress address(asked);
  {
    platform::FastMutexLock state(mutex_);
    stopping_ = false;
  }
  // One thread serves every connection, none of them waiting on it; strict parsing refuses what a
  // browser never sends (a bare LF, a space before a colon).
  std::vector<MHD_OptionItem> options = {
      {MHD_OPTION_SOCK_ADDR, 0, const_cast<void*>(address.get())},
      {MHD_OPTION_CONNECTION_LIMIT, kMaxConnections, nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutS, nullptr},
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(kConnectionMemory), nullptr},
      {MHD_OPTION_LISTEN_BACKLOG_SIZE, 128, nullptr},
      {MHD_OPTION_STRICT_FOR_CLIENT, 1, nullptr},
      {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&WebServer::OnConnection), this},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&WebServer::OnCompleted), this},
  };
  // libmicrohttpd reads a zero here as "this port alone" (SO_EXCLUSIVEADDRUSE on Windows).
  if (kExclusivePort) options.push_back({MHD_OPTION_LISTENING_ADDRESS_REUSE, 0, nullptr});
  options.push_back({MHD_OPTION_END, 0, nullptr});
  daemon_ = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_ALLOW_SUSPEND_RESUME,
                             static_cast<uint16_t>(asked), nullptr, nullptr, &WebServer::OnRequest, this,
                             MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
  const MHD_DaemonInfo* info = daemon_ ? MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT) : nullptr;
  if (info == nullptr || info->port == 0) {
    if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
    std::fprintf(stderr, "vexlan_sim: cannot serve the panels on 127.0.0.1:%d\n", asked);
    std::fflush(stderr);
    return;
  }
  port_ = info->port;
  port_chosen_ = info->port;
  watcher_ = std::thread([this] { Watch(); });
  if (!announced_) {
    announced_ = true;
    std::fprintf(stderr, "vexlan_sim: panels at http://127.0.0.1:%d/\n", port_chosen_);
    std::fflush(stderr);
  }
}

void WebView::Stop() {
  platform::FastMutexLock lock(lifecycle_);
  if (daemon_ == nullptr) return;
  {
    platform::FastMutexLock state(mutex_);
    stopping_ = true;
    ResumeStreams();  // each sends its last message; none may stay suspended when the server stops
  }
  changed_.NotifyAll();
  watcher_.join();
  MHD_stop_daemon(daemon_);  // closes every connection and joins the server's thread
  daemon_ = nullptr;
  port_ = 0;
}

void WebView::Watch() {
  platform::FastMutexLock lock(mutex_);
  while (!stopping_) {
    const int64_t now = SteadyMs();
    for (auto& [connection, link] : links_) {
      if (link.in_request || link.socket < 0 || now - link.waiting_since_ms < kHeadDeadlineMs) continue;
      ShutdownSocket(link.socket);
      link.socket = -1;
    }
    for (auto at = suspended_.begin(); at != suspended_.end();) {
      if (now - (*at)->sent_at_ms < kIdleMs) {
        ++at;
        continue;
      }
      MHD_resume_connection((*at)->connection);  // a comment is due
      at = suspended_.erase(at);
    }
    changed_.WaitFor(mutex_, std::chrono::milliseconds(100));
  }
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
  ResumeStreams();
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
  return Json(devices, *version, run_, !keys_path_.empty());
}

void WebView::ResumeStreams() {
  for (Stream* stream : suspended_) MHD_resume_connection(stream->connection);
  suspended_.clear();
}

// Only the page's own requests. The Host must be this address and port (a page elsewhere that rebinds a
// name of its own to 127.0.0.1 is refused). A browser names the origin of what a page fetches: another
// page's requests (a no-cors fetch, a form, a beacon) carry a foreign Origin or a Sec-Fetch-Site other
// than same-origin, and are refused on every route, so that no other page can read the state or hold
// the event streams. Only a navigation may open the page itself from elsewhere (a link to it). A control
// must name this origin: a program that sends none controls nothing.
int WebView::Answer(WebRequest& request) {
  const std::string self = "http://127.0.0.1:" + std::to_string(port_.load());
  const bool get = request.method == "GET" || request.method == "HEAD";
  if (!get && request.method != "POST") return request.Refuse(405, "GET or POST");
  std::string host, origin, site, mode;
  if (request.Header("Host", &host) != 1 || "http://" + host != self)
    return request.Refuse(403, "only http://127.0.0.1 at this port");
  const int origins = request.Header("Origin", &origin);
  if (origins > 1 || (origins == 1 && origin != self)) return request.Refuse(403, "only from this page");
  if (request.Header("Sec-Fetch-Site", &site) > 0 && site != "same-origin" && site != "none") {
    const bool navigation = get && request.path == "/" && request.Header("Sec-Fetch-Mode", &mode) == 1 &&
                            mode == "navigate";
    if (!navigation) return request.Refuse(403, "only from this page");
  }
  if (!get && origins != 1) return request.Refuse(403, "controls only from this page");
  // The page's requests carry no body: one announced is refused before it is read.
  std::string length;
  if (request.Header("Transfer-Encoding", nullptr) > 0 ||
      (request.Header("Content-Length", &length) > 0 && length != "0"))
    return request.Refuse(413, "no request takes a body");

  if (get) {
    for (size_t at = 0; at < kWebFileCount; ++at) {
      const WebFile& file = kWebFiles[at];
      if (request.path != file.path) continue;
      MHD_Response* response =
          MHD_create_response_from_buffer(file.size, const_cast<unsigned char*>(file.bytes), MHD_RESPMEM_PERSISTENT);
      if (response == nullptr) return MHD_NO;
      MHD_add_response_header(response, "Content-Type", file.content_type);
      MHD_add_response_header(response, "Content-Security-Policy",
                              "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
                              "img-src 'self' data:; frame-ancestors 'none'; base-uri 'none'; form-action 'none'");
      return Queue(request.connection, 200, response);
    }
    if (request.path == "/state") {
      uint64_t version = 0;
      return request.Reply(200, StateJson(&version), "application/json");
    }
    if (request.path == "/events") return AnswerEvents(request);
    if (request.path == "/pictures") return AnswerPictures(request);
    return request.Refuse(404, "no such page");
  }
  if (request.path == "/keys") return AnswerKeys(request);
  return AnswerControl(request);
}

// Server-sent events: the whole state each time it changes. A page that reads slowly gets the newest
// state when it next can, never a queue of old ones. Beyond kMaxStreams, 503: the page tries again.
int WebView::AnswerEvents(WebRequest& request) {
  {
    platform::FastMutexLock lock(mutex_);
    if (stopping_ || streams_ >= kMaxStreams) {
      return TryAgainLater(request.connection);
    }
    ++streams_;
  }
  auto* stream = new Stream{this, request.connection, 0, 0, {}, 0, false};
  return QueueProduced(request.connection, "text/event-stream", MHD_SIZE_UNKNOWN, kStreamBlock, &WebServer::ReadStream,
                       stream, &WebServer::EndStream);
}

// Every kept picture newer than `after`, in one answer: for each, a line of five numbers (device, page,
// index, version, and the wall-clock millisecond the script sent it) and then the picture in the device's
// layout (output/picture_format.h). One request brings every panel's new
// picture, and the answer holds references to the pixels, not copies.
int WebView::AnswerPictures(WebRequest& request) {
  uint64_t after;
  if (!request.Number("after", UINT64_MAX >> 1, &after)) return request.Refuse(400, "after is a number");
  auto* pictures = new WebServer::Pictures{this, {}, 0, 0};
  {
    platform::FastMutexLock lock(mutex_);
    if (picture_answers_ >= kMaxPictureAnswers) {
      delete pictures;
      return TryAgainLater(request.connection);
    }
    ++picture_answers_;
    for (const auto& [key, kept] : pictures_) {
      if (kept.version <= after) continue;
      const auto& [device, page, index] = key;
      pictures->parts.push_back({std::to_string(device) + ' ' + std::to_string(page) + ' ' + std::to_string(index) +
                                     ' ' + std::to_string(kept.version) + ' ' + std::to_string(kept.sent_at_ms) + '\n',
                                 kept.pixels});
    }
  }
  uint64_t size = 0;
  for (const auto& part : pictures->parts) size += part.line.size() + part.pixels->size();
  return QueueProduced(request.connection, "application/octet-stream", size, kPictureBlock, &WebServer::ReadPictures,
                       pictures, &WebServer::EndPictures);
}

// The controls: each is one of the simulator's own, as vexlan_sim's Lua functions call them, so the
// events reach the module exactly as theirs do. 409 when the device is unknown or not in that state.
int WebView::AnswerControl(WebRequest& request) {
  const auto done = [&request](bool acted) {
    return acted ? request.Reply(200, "ok\n") : request.Refuse(409, "no such device, or not in that state");
  };
  Simulator& simulator = Simulator::Instance();
  uint64_t id = 0;
  if (request.path == "/buttons") {
    uint64_t mask;
    if (!request.Number("device", 1u << 30, &id) || !request.Number("mask", UINT32_MAX, &mask))
      return request.Refuse(400, "device and mask are numbers");
    return done(simulator.Buttons(static_cast<int>(id), static_cast<uint32_t>(mask)));
  }
  if (request.path == "/page") {
    // Turning to a page: the page shown so far reports itself inactive, then the new one active.
    uint64_t page;
    if (!request.Number("device", 1u << 30, &id) || !request.Number("page", UINT32_MAX, &page))
      return request.Refuse(400, "device and page are numbers");
    const std::optional<uint32_t> shown = simulator.ActivePage(static_cast<int>(id));
    if (shown && *shown != page) simulator.PageChange(static_cast<int>(id), *shown, false);
    return done(simulator.PageChange(static_cast<int>(id), static_cast<uint32_t>(page), true));
  }
  if (request.path == "/unplug") {
    if (!request.Number("device", 1u << 30, &id)) return request.Refuse(400, "device is a number");
    return done(simulator.Unplug(static_cast<int>(id)));
  }
  if (request.path == "/replug") {
    uint64_t fresh = 0;
    if (!request.Number("device", 1u << 30, &id) || (request.Has("new") && !request.Number("new", 1, &fresh)))
      return request.Refuse(400, "device is a number, new is 0 or 1");
    return done(simulator.Replug(static_cast<int>(id), fresh == 1));
  }
  if (request.path == "/plug") {
    const std::string tag = request.Text("tag");
    if (!IsDeviceTag(tag)) return request.Refuse(400, ("tag is " + KindNameList()).c_str());
    return request.Reply(200, std::to_string(simulator.Plug(tag)) + "\n");
  }
  return request.Refuse(404, "no such control");
}

// Characters typed on the page, for the script's standard input, when the run command feeds it from a
// pipe it names (VEXLAN_SIM_WEB_KEYS).
int WebView::AnswerKeys(WebRequest& request) {
  const std::string text = request.Text("text");
  if (text.empty() || text.size() > kMaxKeys) return request.Refuse(400, "text is 1 to 64 bytes");
  if (keys_path_.empty()) return request.Refuse(409, "the script's input is not fed from the page");
  if (!WriteToPipe(keys_path_, text)) return request.Refuse(409, "the script's input has ended, or is full");
  return request.Reply(200, "ok\n");
}

}  // namespace vexlan::sim
