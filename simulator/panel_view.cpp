#include "simulator/panel_view.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include "stb_image_write.h"

#include "output/picture_format.h"
#include "platform/utf16.h"
#include "simulator/output_file.h"
#include "simulator/simulator.h"

namespace vexlan::sim {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The device picture as the PNG wants it: top-down rows of red, green, blue.
std::vector<uint8_t> TopDownRgb(const std::vector<uint8_t>& picture) {
  std::vector<uint8_t> rgb(kDeviceImageBytes);
  for (int y = 0; y < kImageHeight; ++y) {
    const uint8_t* row = picture.data() + (kImageHeight - 1 - y) * kDeviceRowBytes;
    uint8_t* out = rgb.data() + y * kDeviceRowBytes;
    for (int x = 0; x < kImageWidth; ++x) {
      out[3 * x] = row[3 * x + 2];
      out[3 * x + 1] = row[3 * x + 1];
      out[3 * x + 2] = row[3 * x];
    }
  }
  return rgb;
}

void WriteToFile(void* file, void* data, int size) {
  std::fwrite(data, 1, static_cast<size_t>(size), static_cast<std::FILE*>(file));
}

// The PNG goes through a file opened here, not by name through stb, whose names are narrow.
bool WritePng(const std::filesystem::path& path, const std::vector<uint8_t>& rgb) {
  std::FILE* file = OpenForWriting(path);
  if (file == nullptr) return false;
  const bool encoded =
      stbi_write_png_to_func(WriteToFile, file, kImageWidth, kImageHeight, 3, rgb.data(), kDeviceRowBytes) != 0;
  const bool written = !std::ferror(file);
  return (std::fclose(file) == 0) && encoded && written;
}

}  // namespace

std::string PanelView::Quote(const std::u16string& text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    const char32_t code = platform::NextCodePoint(text.data(), text.size(), &at);
    if (code == '"' || code == '\\') out.push_back('\\');
    platform::AppendUtf8(out, platform::IsSurrogate(code) ? 0xFFFD : code);
  }
  return out + "\"";
}

bool PanelView::Configure(std::string* error) {
  folder_ = EnvironmentPath("VEXLAN_SIM_OUTPUT");
  if (folder_.empty() || log_ != nullptr) return true;
  std::error_code failed;
  std::filesystem::create_directories(folder_, failed);
  log_ = OpenForWriting(folder_ / "panels.log");
  if (log_ == nullptr) {
    *error = "cannot write to the output folder " + folder_.u8string();
    return false;
  }
  to_stderr_ = Environment("VEXLAN_SIM_LOG") != "none";
  sequence_ = Environment("VEXLAN_SIM_SEQUENCE") == "1";
  return true;
}

void PanelView::Start() { start_ = std::chrono::steady_clock::now(); }

void PanelView::Write(const std::string& line) {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%8.3f] ", seconds);
  std::fprintf(log_, "%s%s\n", stamp, line.c_str());
  std::fflush(log_);
  if (to_stderr_) std::fprintf(stderr, "%s%s\n", stamp, line.c_str());
}

void PanelView::Note(const Device& device, const std::string& what) {
  if (!enabled()) return;
  Write("device " + std::to_string(device.id) + " " + device.tag + ": " + what);
}

std::string PanelView::PictureName(const Device& device, uint32_t page, uint32_t index) const {
  std::string name = "device" + std::to_string(device.id) + "-" + device.tag + "-page" + std::to_string(page);
  if (index != 0) name += "-picture" + std::to_string(index + 1);
  return name;
}

void PanelView::Picture(const Device& device, uint32_t page, uint32_t index, const std::vector<uint8_t>& picture) {
  if (!enabled() || picture.size() != kDeviceImageBytes) return;
  const std::string name = PictureName(device, page, index);
  const std::vector<uint8_t> rgb = TopDownRgb(picture);
  const std::string file = name + ".png";
  const bool written = WritePng(folder_ / file, rgb);
  std::string note = "page " + std::to_string(page) + " picture -> " + (written ? file : "(not written: " + file + ")");
  if (sequence_) {
    char number[16];
    std::snprintf(number, sizeof number, "-%04d.png", ++sent_[name]);
    WritePng(folder_ / (name + number), rgb);
    note += ", " + name + number;
  }
  Note(device, note);
}

void PanelView::Summary(const std::vector<Device>& devices) {
  if (!enabled()) return;
  Write("== devices");
  for (const Device& device : devices) {
    std::string line = "device " + std::to_string(device.id) + " " + device.tag + (device.present ? "" : " (unplugged)");
    if (device.profile) line += " profile " + Quote(*device.profile);
    line += ", pages:";
    if (device.pages.empty()) line += " none";
    for (const auto& [number, page] : device.pages)
      line += " " + std::to_string(number) + (device.active_page == number ? " (active)" : "");
    Write(line);
    for (const auto& [number, page] : device.pages) {
      std::string content;
      for (const auto& [index, text] : page.strings)
        content += " string " + std::to_string(index + 1) + " " + Quote(text) + ";";
      std::string leds;
      for (const auto& [index, on] : page.leds) leds += " " + std::to_string(index) + (on ? " on" : " off") + ",";
      if (!leds.empty()) content += " LEDs" + leds.substr(0, leds.size() - 1) + ";";
      for (const auto& [index, picture] : page.images)
        content += " picture " + PictureName(device, number, index) + ".png;";
      if (!content.empty()) Write("  page " + std::to_string(number) + ":" + content.substr(0, content.size() - 1));
    }
  }
}

}  // namespace vexlan::sim
