// libFuzzer target over vexlan.canvas's methods, called from Lua's C API on canvases the input sizes.
// The input is read as a program: each step picks a method and its arguments, numbers taken either as
// raw doubles (NaN, infinities, huge and tiny values) or as small whole values; polygons of up to 6000
// points; text of any bytes; fonts made from the built-in font with bytes of the input written over it
// (and from the input's own bytes), and pictures from the input's bytes, loaded through canvas.font and
// canvas.load. A method may raise on misuse (the canvas does); it must never crash, write out of
// bounds or take longer than ctest's -timeout.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/lua_api.h"

extern "C" {
#include <lualib.h>
}

extern "C" int luaopen_vexlan_canvas(lua_State* state);
extern "C" const uint8_t vexlan_default_font[];
extern "C" const uint8_t vexlan_default_font_end[];

namespace {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t Short() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  // A raw double half the time; otherwise a small whole or halved value around a 320x240 canvas.
  double Number() {
    const uint8_t kind = Byte();
    if (kind < 64) {
      uint64_t bits = 0;
      for (int i = 0; i < 8; ++i) bits = bits << 8 | Byte();
      double value;
      std::memcpy(&value, &bits, sizeof value);
      return value;
    }
    return (static_cast<int>(Short()) - 16384) / (kind < 160 ? 2.0 : 64.0);
  }
  std::string Bytes(size_t most) {
    const size_t length = std::min<size_t>(Byte() % (most + 1), size_ - std::min(at_, size_));
    std::string text(reinterpret_cast<const char*>(data_ + at_), length);
    at_ += length;
    return text;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

const char* const kMethods[] = {"fill",   "pixel",     "rect", "round_rect", "line",    "polyline", "polygon",
                                "circle", "arc",       "ring", "blit",       "draw",    "text",     "measure",
                                "clip",   "antialias", "font", "raw",        "blit_raw"};
const char* const kWords[] = {"butt",  "round", "square", "miter",    "bevel",  "left",   "centre",
                              "right", "top",   "middle", "baseline", "circle", "bitmap", "pointy"};

std::string temporary;

void WriteFile(const std::string& bytes) {
  FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

void PushPoints(lua_State* state, Input& input) {
  const int count = input.Byte() < 16 ? input.Short() % 6000 : input.Byte() % 24;
  lua_createtable(state, count * 2, 0);
  const double step = input.Number(), start = input.Number();
  for (int i = 1; i <= 2 * count; ++i) {
    lua_pushnumber(state, input.empty() ? start + step * i * (i % 3) : input.Number());
    lua_rawseti(state, -2, i);
  }
}

void PushArgument(lua_State* state, Input& input) {
  const uint8_t kind = input.Byte() % 16;
  if (kind < 9) return lua_pushnumber(state, input.Number());
  if (kind == 9) return lua_pushstring(state, kWords[input.Byte() % (sizeof kWords / sizeof *kWords)]);
  if (kind == 10) return PushPoints(state, input);
  if (kind == 11) {  // contours
    const int contours = input.Byte() % 5;
    lua_createtable(state, contours, 0);
    for (int i = 1; i <= contours; ++i) PushPoints(state, input), lua_rawseti(state, -2, i);
    return;
  }
  if (kind == 12) return lua_pushboolean(state, input.Byte() & 1);
  if (kind == 13) {
    const std::string text = input.Bytes(40);
    return lua_pushlstring(state, text.data(), text.size());
  }
  if (kind == 14) return lua_pushvalue(state, 2 + input.Byte() % 3);  // the canvases, the font
  lua_pushnil(state);
}

// A font from the built-in one with bytes of the input written over it, or from the input alone.
void PushFont(lua_State* state, Input& input) {
  std::string bytes;
  if (input.Byte() % 6 == 0) {  // one input in six: checking a whole font is the slowest step
    bytes.assign(reinterpret_cast<const char*>(vexlan_default_font),
                 static_cast<size_t>(vexlan_default_font_end - vexlan_default_font));
    for (int changes = input.Byte() % 12; changes > 0; --changes) {
      // Mostly in the tables' directory and the first tables, where one byte moves a whole table.
      const size_t at = (input.Byte() & 1) ? input.Short() % 1024 : (size_t{input.Short()} * 12) % bytes.size();
      bytes[at] = static_cast<char>(input.Byte());
    }
  } else {
    bytes = input.Bytes(255);
  }
  WriteFile(bytes);
  lua_getfield(state, 1, "font");
  lua_pushstring(state, temporary.c_str());
  if (lua_pcall(state, 1, 1, 0) != 0) lua_pushnil(state);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char name[] = "/tmp/vexlan_canvas_fuzz_XXXXXX";
  const int file = mkstemp(name);
  if (file >= 0) close(file);
  temporary = name;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input input(data, size);
  lua_State* state = luaL_newstate();
  if (state == nullptr) return 0;
  luaL_openlibs(state);
  lua_pushcfunction(state, luaopen_vexlan_canvas);
  lua_call(state, 0, 1);         // 1: the canvas table
  for (int i = 0; i < 2; ++i) {  // 2 and 3: two canvases
    lua_getfield(state, 1, "new");
    const bool standard = input.Byte() & 1;
    if (!standard) {
      lua_pushnumber(state, 1 + input.Short() % 512);
      lua_pushnumber(state, 1 + input.Short() % 512);
    }
    if (lua_pcall(state, standard ? 0 : 2, 1, 0) != 0) {
      lua_close(state);
      return 0;
    }
  }
  PushFont(state, input);  // 4: a font or nil
  if (input.Byte() & 1) {
    WriteFile(input.Bytes(255));
    lua_getfield(state, 1, "load");
    lua_pushstring(state, temporary.c_str());
    lua_pcall(state, 1, 0, 0);
  }
  for (int step = 0; step < 48 && !input.empty(); ++step) {
    const char* method = kMethods[input.Byte() % (sizeof kMethods / sizeof *kMethods)];
    const int target = 2 + (input.Byte() & 1);
    lua_getfield(state, target, method);
    lua_pushvalue(state, target);
    const int arguments = input.Byte() % 11;
    for (int i = 0; i < arguments; ++i) PushArgument(state, input);
    lua_pcall(state, arguments + 1, 0, 0);  // misuse may raise; nothing else may go wrong
    lua_settop(state, 4);
  }
  lua_close(state);
  return 0;
}
