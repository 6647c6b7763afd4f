// What the simulated panels show, made visible while a script runs: every picture a page receives as a
// PNG file (one per device, page and picture, overwritten as it changes, or a numbered sequence), every
// change of lines, LEDs, pages, profiles and plugging as a line of text, and a summary of every device
// when the library is deinitialised.
//
// Configured from the environment at the library's first Initialize:
//   VEXLAN_SIM_OUTPUT    a folder for the PNG files and panels.log (created if missing); unset: off
//   VEXLAN_SIM_LOG       "stderr" (the default) or "none": where the text goes besides panels.log
//   VEXLAN_SIM_SEQUENCE  "1": numbered PNG files as well, one per picture sent
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace vexlan::sim {

struct Device;

class PanelView {
 public:
  // Reads the environment; false with `error` set when the output folder cannot be written.
  bool Configure(std::string* error);
  bool enabled() const { return log_ != nullptr; }
  // Times in the text count from here.
  void Start();

  // One line about `device` (its id and tag lead it).
  void Note(const Device& device, const std::string& what);
  // A picture sent to a page, in the device layout of output/picture_format.h.
  void Picture(const Device& device, uint32_t page, uint32_t index, const std::vector<uint8_t>& picture);
  void Summary(const std::vector<Device>& devices);
  // UTF-16 text as a quoted UTF-8 string.
  static std::string Quote(const std::u16string& text);

 private:
  void Write(const std::string& line);
  std::string PictureName(const Device& device, uint32_t page, uint32_t index) const;

  std::filesystem::path folder_;
  FILE* log_ = nullptr;
  bool to_stderr_ = true;
  bool sequence_ = false;
  std::map<std::string, int> sent_;  // pictures sent per file name, for the sequence
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace vexlan::sim
