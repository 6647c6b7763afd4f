// vexlan.canvas: drawing surfaces for panel pictures, as a userdata over output/raster.h. Loaded with
// `require "vexlan.canvas"` from the same library as the module (Lua's all-in-one C loader finds
// luaopen_vexlan_canvas in it); needs no DirectOutput and touches neither the `vexlan` table nor any
// global.
//
// Unlike the module's functions, which never raise, misuse here raises a Lua error: a wrong type, a
// self that is not a canvas, a bad size, colour or scale, a raw string of the wrong length. Coordinates
// off the canvas are no error: shapes are clipped. Drawing methods return the canvas (for chaining);
// `text` returns the width it drew; queries return their values.
#include <cmath>
#include <cstring>

#include "output/image_convert.h"
#include "output/raster.h"
#include "platform/lua_api.h"
#include "platform/module_pin.h"

namespace vexlan {
namespace {

constexpr char kCanvasMetatable[] = "vexlan.canvas";

// The userdata: this head, then the surface's bytes in the raw layout, all in one block from Lua's
// allocator (so the collector frees it; there is nothing else to release).
struct CanvasHead {
  int32_t width;
  int32_t height;
};
constexpr size_t kBytesOffset = 16;  // keeps the pixels 16-byte aligned as Lua's blocks are
static_assert(sizeof(CanvasHead) <= kBytesOffset);

Raster ToRaster(CanvasHead* head) {
  return Raster(reinterpret_cast<uint8_t*>(head) + kBytesOffset, head->width, head->height);
}

// The canvas at `index`, or a Lua error. The block's size is checked too: the debug library can give
// the metatable to any other userdata.
CanvasHead* CheckHead(lua_State* state, int index) {
  auto* head = static_cast<CanvasHead*>(luaL_checkudata(state, index, kCanvasMetatable));
  const size_t size = lua_objlen(state, index);
  if (size < kBytesOffset || !RasterSizeValid(head->width, head->height) ||
      size != kBytesOffset + RasterBytes(head->width, head->height))
    luaL_argerror(state, index, "not a canvas");
  return head;
}
Raster CheckCanvas(lua_State* state, int index) { return ToRaster(CheckHead(state, index)); }

uint32_t CheckColour(lua_State* state, int index) {
  const double value = luaL_checknumber(state, index);
  if (!(value >= 0 && value <= 0xFFFFFF)) luaL_argerror(state, index, "colour 0xRRGGBB (0 to 16777215) expected");
  return static_cast<uint32_t>(value);
}

int32_t OptScale(lua_State* state, int index) {
  const double scale = luaL_optnumber(state, index, 1);
  if (!(scale >= 1 && scale <= kTextMaxScale) || scale != std::floor(scale))
    luaL_argerror(state, index, "scale: a whole number from 1 to 64 expected");
  return static_cast<int32_t>(scale);
}

int32_t CheckSide(lua_State* state, int index, double fallback) {
  const double side = luaL_optnumber(state, index, fallback);
  if (!(side >= 1 && side <= kRasterMaxSide) || side != std::floor(side))
    luaL_argerror(state, index, "size: a whole number from 1 to 4096 expected");
  return static_cast<int32_t>(side);
}

int ReturnCanvas(lua_State* state) {
  lua_settop(state, 1);
  return 1;
}

// ---- canvas.* ------------------------------------------------------------------------------------

int CanvasNew(lua_State* state) {
  if (lua_isnoneornil(state, 1) != lua_isnoneornil(state, 2))
    return luaL_error(state, "new: give both width and height, or neither (320x240)");
  const int32_t width = CheckSide(state, 1, kImageWidth);
  const int32_t height = CheckSide(state, 2, kImageHeight);
  const size_t bytes = RasterBytes(width, height);
  auto* block = static_cast<uint8_t*>(lua_newuserdata(state, kBytesOffset + bytes));  // raises when out of memory
  std::memset(block, 0, kBytesOffset + bytes);
  auto* head = reinterpret_cast<CanvasHead*>(block);
  head->width = width;
  head->height = height;
  luaL_getmetatable(state, kCanvasMetatable);
  lua_setmetatable(state, -2);
  return 1;
}

double Channel(double value) {
  if (!(value > 0)) return 0;  // NaN too
  return value >= 255 ? 255 : std::floor(value + 0.5);
}

int CanvasRgb(lua_State* state) {
  const double red = luaL_checknumber(state, 1), green = luaL_checknumber(state, 2), blue = luaL_checknumber(state, 3);
  lua_pushnumber(state, Channel(red) * 65536 + Channel(green) * 256 + Channel(blue));
  return 1;
}

int CanvasTextSize(lua_State* state) {
  size_t length = 0;
  const char* text = luaL_checklstring(state, 1, &length);
  const int32_t scale = OptScale(state, 2);
  const TextSize size = MeasureText(std::string_view(text, length), scale);
  lua_pushnumber(state, static_cast<double>(size.width));
  lua_pushnumber(state, static_cast<double>(size.height));
  return 2;
}

// ---- methods -------------------------------------------------------------------------------------

int CanvasWidth(lua_State* state) {
  lua_pushnumber(state, CheckHead(state, 1)->width);
  return 1;
}

int CanvasHeight(lua_State* state) {
  lua_pushnumber(state, CheckHead(state, 1)->height);
  return 1;
}

int CanvasFill(lua_State* state) {
  Raster canvas = CheckCanvas(state, 1);
  const uint32_t colour = CheckColour(state, 2);
  canvas.Fill(colour);
  return ReturnCanvas(state);
}

// pixel(x, y) gives the colour there (nil off the canvas); pixel(x, y, colour) sets it.
int CanvasPixel(lua_State* state) {
  Raster canvas = CheckCanvas(state, 1);
  const double x = luaL_checknumber(state, 2), y = luaL_checknumber(state, 3);
  if (!lua_isnoneornil(state, 4)) {
    canvas.SetPixel(x, y, CheckColour(state, 4));
    return ReturnCanvas(state);
  }
  uint32_t colour = 0;
  if (!canvas.GetPixel(x, y, &colour)) return lua_pushnil(state), 1;
  lua_pushnumber(state, colour);
  return 1;
}

int CanvasRect(lua_State* state) {
  Raster canvas = CheckCanvas(state, 1);
  const double x = luaL_checknumber(state, 2), y = luaL_checknumber(state, 3);
  const double w = luaL_checknumber(state, 4), h = luaL_checknumber(state, 5);
  const uint32_t colour = CheckColour(state, 6);
  const bool filled = lua_toboolean(state, 7) != 0;
  canvas.Rect(x, y, w, h, colour, filled);
  return ReturnCanvas(state);
}

int CanvasLine(lua_State* state) {
  Raster canvas = CheckCanvas(state, 1);
  const double x0 = luaL_checknumber(state, 2), y0 = luaL_checknumber(state, 3);
  const double x1 = luaL_checknumber(state, 4), y1 = luaL_checknumber(state, 5);
  const uint32_t colour = CheckColour(state, 6);
  const double thickness = luaL_optnumber(state, 7, 1);
  canvas.Line(x0, y0, x1, y1, colour, thickness);
  return ReturnCanvas(state);
}

int CanvasCircle(lua_State* state) {
  Raster canvas = CheckCanvas(state, 1);
  const double x = luaL_checknumber(state, 2), y = luaL_checknumber(state, 3), radius = luaL_checknumber(state, 4);
  const uint32_t colour = CheckColour(state, 5);
  const bool filled = lua_toboolean(state, 6) != 0;
  canvas.Circle(x, y, radius, colour, filled);
  return ReturnCanvas(state);
}

int CanvasArc(lua_State* state) {
  Raster canvas = CheckCanvas(state, 1);
  const double x = luaL_checknumber(state, 2), y = luaL_checknumber(state, 3), radius = luaL_checknumber(state, 4);
  const double from = luaL_checknumber(state, 5), to = luaL_checknumber(state, 6);
  const uint32_t colour = CheckColour(state, 7);
  const double thickness = luaL_optnumber(state, 8, 1);
  canvas.Arc(x, y, radius, from, to, colour, thickness);
  return ReturnCanvas(state);
}

// blit(source, x, y [, sx, sy, w, h]): the source canvas (or its w x h area at sx, sy) drawn at x, y.
int CanvasBlit(lua_State* state) {
  Raster canvas = CheckCanvas(state, 1);
  const Raster source = CheckCanvas(state, 2);
  const double x = luaL_checknumber(state, 3), y = luaL_checknumber(state, 4);
  const double sx = luaL_optnumber(state, 5, 0), sy = luaL_optnumber(state, 6, 0);
  const double w = luaL_optnumber(state, 7, source.width()), h = luaL_optnumber(state, 8, source.height());
  canvas.Blit(source.bytes(), source.width(), source.height(), x, y, sx, sy, w, h);
  return ReturnCanvas(state);
}

int CanvasBlitRaw(lua_State* state) {
  Raster canvas = CheckCanvas(state, 1);
  size_t length = 0;
  const char* raw = luaL_checklstring(state, 2, &length);
  const double x = luaL_optnumber(state, 3, 0), y = luaL_optnumber(state, 4, 0);
  if (length != kRawImageBytes) {
    lua_pushfstring(state, "a raw image of 307224 bytes expected, got %d bytes", static_cast<int>(length));
    luaL_argerror(state, 2, lua_tostring(state, -1));
  }
  canvas.Blit(reinterpret_cast<const uint8_t*>(raw), kImageWidth, kImageHeight, x, y, 0, 0, kImageWidth, kImageHeight);
  return ReturnCanvas(state);
}

int CanvasText(lua_State* state) {
  Raster canvas = CheckCanvas(state, 1);
  const double x = luaL_checknumber(state, 2), y = luaL_checknumber(state, 3);
  size_t length = 0;
  const char* text = luaL_checklstring(state, 4, &length);
  const uint32_t colour = CheckColour(state, 5);
  const int32_t scale = OptScale(state, 6);
  lua_pushnumber(state, static_cast<double>(canvas.Text(x, y, std::string_view(text, length), colour, scale)));
  return 1;
}

int CanvasRaw(lua_State* state) {
  const Raster canvas = CheckCanvas(state, 1);
  if (canvas.width() != kImageWidth || canvas.height() != kImageHeight)
    return luaL_error(state, "raw: only a 320x240 canvas has a raw image; this one is %dx%d",
                      static_cast<int>(canvas.width()), static_cast<int>(canvas.height()));
  lua_pushlstring(state, reinterpret_cast<const char*>(canvas.bytes()), canvas.byte_size());
  return 1;
}

int CanvasToString(lua_State* state) {
  const Raster canvas = CheckCanvas(state, 1);
  lua_pushfstring(state, "vexlan.canvas %dx%d", static_cast<int>(canvas.width()), static_cast<int>(canvas.height()));
  return 1;
}

const luaL_Reg kFunctions[] = {
    {"new", CanvasNew},
    {"rgb", CanvasRgb},
    {"text_size", CanvasTextSize},
    {nullptr, nullptr},
};

const luaL_Reg kMethods[] = {
    {"width", CanvasWidth}, {"height", CanvasHeight},    {"fill", CanvasFill},     {"pixel", CanvasPixel},
    {"rect", CanvasRect},   {"line", CanvasLine},        {"circle", CanvasCircle}, {"arc", CanvasArc},
    {"blit", CanvasBlit},   {"blit_raw", CanvasBlitRaw}, {"text", CanvasText},     {"raw", CanvasRaw},
    {nullptr, nullptr},
};

}  // namespace
}  // namespace vexlan

extern "C" VEXLAN_EXPORT int luaopen_vexlan_canvas(lua_State* state) {
  using namespace vexlan;
  platform::PinThisModule();  // as the module does: the process-wide parts are built once per process
  if (luaL_newmetatable(state, kCanvasMetatable) != 0) {
    lua_newtable(state);
    luaL_register(state, nullptr, kMethods);
    lua_setfield(state, -2, "__index");
    lua_pushcfunction(state, CanvasToString);
    lua_setfield(state, -2, "__tostring");
  }
  lua_pop(state, 1);
  lua_newtable(state);  // returned, not set as a global: require keeps it in package.loaded
  luaL_register(state, nullptr, kFunctions);
  return 1;
}
