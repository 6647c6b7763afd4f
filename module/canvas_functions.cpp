// vexlan.canvas: drawing surfaces for panel pictures, as a userdata over output/raster.h (pixel-exact
// shapes and the bitmap font), output/paint.h (anti-aliased shapes and pictures) and output/truetype.h
// (TrueType text). Loaded with `require "vexlan.canvas"` from the same library as the module (Lua's
// all-in-one C loader finds luaopen_vexlan_canvas in it); needs no DirectOutput and touches neither the
// `vexlan` table nor any global.
//
// Unlike the module's functions, which never raise, misuse here raises a Lua error: a wrong type, a
// self that is not a canvas, a bad size, colour or scale, a raw string of the wrong length. Coordinates
// off the canvas are no error: shapes are clipped. A file that cannot be read gives nil and a message.
// Drawing methods return the canvas (for chaining); `text` returns the canvas and the width it drew;
// queries return their values.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "output/image_convert.h"
#include "output/image_file.h"
#include "output/paint.h"
#include "output/raster.h"
#include "output/truetype.h"
#include "platform/lua_api.h"
#include "platform/module_pin.h"
#include "platform/read_file.h"

namespace vexlan {
namespace {

constexpr char kCanvasMetatable[] = "vexlan.canvas";
constexpr char kFontMetatable[] = "vexlan.canvas.font";
constexpr double kDefaultFontPixels = 12;

// The userdata: this head, then the surface's bytes in the raw layout, all in one block from Lua's
// allocator (so the collector frees it; there is nothing else to release). The font chosen for the
// canvas, if any, is in the userdata's environment table, which keeps it alive.
struct CanvasHead {
  int32_t width;
  int32_t height;
  bool smooth;
  RasterClip clip;
};
constexpr size_t kBytesOffset = 80;  // a multiple of 16: keeps the pixels aligned as Lua's blocks are
static_assert(sizeof(CanvasHead) <= kBytesOffset && kBytesOffset % 16 == 0);

Raster ToRaster(CanvasHead* head) {
  Raster raster(reinterpret_cast<uint8_t*>(head) + kBytesOffset, head->width, head->height);
  raster.SetClip(head->clip);
  return raster;
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

// A font userdata: the font, and whether this userdata owns it (the default font is the module's).
struct FontBox {
  Font* font;
  bool owned;
};

Font* CheckFont(lua_State* state, int index) {
  auto* box = static_cast<FontBox*>(luaL_checkudata(state, index, kFontMetatable));
  if (lua_objlen(state, index) != sizeof(FontBox) || box->font == nullptr) luaL_argerror(state, index, "not a font");
  return box->font;
}

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

template <typename Choice, size_t N>
Choice CheckChoice(lua_State* state, int index, const char* fallback, const char* const (&names)[N],
                   const Choice (&values)[N]) {
  const char* name = luaL_optstring(state, index, fallback);
  for (size_t i = 0; i < N; ++i)
    if (std::strcmp(name, names[i]) == 0) return values[i];
  lua_pushfstring(state, "unknown option '%s'", name);
  luaL_argerror(state, index, lua_tostring(state, -1));
  return values[0];
}

LineCap OptCap(lua_State* state, int index, const char* fallback) {
  static const char* const names[] = {"butt", "round", "square"};
  static const LineCap values[] = {LineCap::kButt, LineCap::kRound, LineCap::kSquare};
  return CheckChoice(state, index, fallback, names, values);
}

LineJoin OptJoin(lua_State* state, int index) {
  static const char* const names[] = {"round", "miter", "bevel"};
  static const LineJoin values[] = {LineJoin::kRound, LineJoin::kMiter, LineJoin::kBevel};
  return CheckChoice(state, index, "round", names, values);
}

double OptWidth(lua_State* state, int index) { return luaL_optnumber(state, index, 1); }

Paint PaintOf(const CanvasHead* head, uint32_t colour) { return Paint{colour, head->smooth}; }

// The points of a table {x1, y1, x2, y2, ...} into `points`; a Lua error if any is not a number.
void ReadPoints(lua_State* state, int table, int arg, std::vector<double>& points) {
  const int count = static_cast<int>(lua_objlen(state, table));
  if (count % 2 != 0) luaL_argerror(state, arg, "points: x, y pairs expected");
  points.resize(static_cast<size_t>(count));
  for (int i = 1; i <= count; ++i) {
    lua_rawgeti(state, table, i);
    if (lua_type(state, -1) != LUA_TNUMBER) luaL_argerror(state, arg, "points: numbers expected");
    points[i - 1] = lua_tonumber(state, -1);
    lua_pop(state, 1);
  }
}

std::vector<double>& PointScratch() {
  static thread_local std::vector<double> points;
  return points;
}

// ---- canvas.* ------------------------------------------------------------------------------------

// A new canvas block of width x height, every pixel opaque black, with its environment table.
CanvasHead* PushCanvas(lua_State* state, int32_t width, int32_t height) {
  const size_t bytes = RasterBytes(width, height);
  auto* block = static_cast<uint8_t*>(lua_newuserdata(state, kBytesOffset + bytes));  // raises when out of memory
  std::memset(block, 0, kBytesOffset + bytes);
  auto* head = new (block) CanvasHead{width, height, true, RasterClip{}};
  luaL_getmetatable(state, kCanvasMetatable);
  lua_setmetatable(state, -2);
  lua_newtable(state);
  lua_setfenv(state, -2);
  return head;
}

int canvas_new(lua_State* state) {
  if (lua_isnoneornil(state, 1) != lua_isnoneornil(state, 2))
    return luaL_error(state, "new: give both width and height, or neither (320x240)");
  const int32_t width = CheckSide(state, 1, kImageWidth);
  const int32_t height = CheckSide(state, 2, kImageHeight);
  PushCanvas(state, width, height);
  return 1;
}

// load(path): the picture file as a canvas of its own size, its transparency kept; nil and a message
// when it cannot be read, is no picture of the six formats, or is larger than 4096 a side.
int canvas_load(lua_State* state) {
  const char* path = luaL_checkstring(state, 1);
  Picture picture;
  if (!DecodePicture(path, &picture))
    return lua_pushnil(state), lua_pushfstring(state, "load: cannot read a picture from '%s'", path), 2;
  if (!RasterSizeValid(picture.width, picture.height))
    return lua_pushnil(state), lua_pushfstring(state, "load: '%s' is larger than 4096 pixels a side", path), 2;
  CanvasHead* head = PushCanvas(state, picture.width, picture.height);
  Raster raster = ToRaster(head);
  for (int32_t y = 0; y < picture.height; ++y)
    for (int32_t x = 0; x < picture.width; ++x) {
      const uint8_t* from = picture.rgba.data() + (static_cast<size_t>(y) * picture.width + x) * 4;
      uint8_t* to = raster.PixelAt(x, y);
      to[0] = from[0], to[1] = from[1], to[2] = from[2], to[3] = static_cast<uint8_t>(255 - from[3]);
    }
  return 1;
}

// font([path]): a TrueType font read from the file, or the module's own (DejaVu Sans) without a path;
// nil and a message when the file cannot be read or is no font that passes the checks.
int canvas_font(lua_State* state) {
  const bool built_in = lua_isnoneornil(state, 1);
  const char* path = built_in ? nullptr : luaL_checkstring(state, 1);
  std::unique_ptr<Font> font;
  if (!built_in) {
    std::vector<uint8_t> bytes;
    if (!platform::ReadFileBytes(path, kMaxFontFileBytes, &bytes))
      return lua_pushnil(state), lua_pushfstring(state, "font: cannot read '%s'", path), 2;
    font = Font::FromBytes(bytes.data(), bytes.size());
    if (font == nullptr)
      return lua_pushnil(state), lua_pushfstring(state, "font: '%s' is no TrueType font this module reads", path), 2;
  } else if (DefaultFont() == nullptr) {
    return luaL_error(state, "font: the module's own font failed its checks");
  }
  // The box is made before the font is handed to it, so that running out of memory here leaks nothing.
  auto* box = static_cast<FontBox*>(lua_newuserdata(state, sizeof(FontBox)));
  *box = FontBox{nullptr, false};
  luaL_getmetatable(state, kFontMetatable);
  lua_setmetatable(state, -2);
  box->owned = !built_in;
  box->font = built_in ? DefaultFont() : font.release();
  return 1;
}

int font_gc(lua_State* state) {
  auto* box = static_cast<FontBox*>(luaL_checkudata(state, 1, kFontMetatable));
  if (box->owned) delete box->font;
  box->font = nullptr;
  return 0;
}

// font:measure(text [, size]): the width and height of the text at `size` pixels (default 12).
int font_measure(lua_State* state) {
  Font* font = CheckFont(state, 1);
  size_t length = 0;
  const char* text = luaL_checklstring(state, 2, &length);
  const TextSize size = font->Measure(std::string_view(text, length), luaL_optnumber(state, 3, kDefaultFontPixels));
  lua_pushnumber(state, static_cast<double>(size.width));
  lua_pushnumber(state, static_cast<double>(size.height));
  return 2;
}

int canvas_rgb(lua_State* state) {
  auto channel = [](double value) {
    if (!(value > 0)) return 0.0;  // NaN too
    return value >= 255 ? 255.0 : std::floor(value + 0.5);
  };
  const double red = luaL_checknumber(state, 1), green = luaL_checknumber(state, 2), blue = luaL_checknumber(state, 3);
  lua_pushnumber(state, channel(red) * 65536 + channel(green) * 256 + channel(blue));
  return 1;
}

int canvas_text_size(lua_State* state) {
  size_t length = 0;
  const char* text = luaL_checklstring(state, 1, &length);
  const int32_t scale = OptScale(state, 2);
  const TextSize size = MeasureText(std::string_view(text, length), scale);
  lua_pushnumber(state, static_cast<double>(size.width));
  lua_pushnumber(state, static_cast<double>(size.height));
  return 2;
}

// point(cx, cy, radius, degrees): the point at that angle, clockwise from 12 o'clock.
int canvas_point(lua_State* state) {
  double x, y;
  PointOnCircle(luaL_checknumber(state, 1), luaL_checknumber(state, 2), luaL_checknumber(state, 3),
                luaL_checknumber(state, 4), &x, &y);
  lua_pushnumber(state, x);
  lua_pushnumber(state, y);
  return 2;
}

// ---- methods -------------------------------------------------------------------------------------

int c_width(lua_State* state) {
  lua_pushnumber(state, CheckHead(state, 1)->width);
  return 1;
}

int c_height(lua_State* state) {
  lua_pushnumber(state, CheckHead(state, 1)->height);
  return 1;
}

// antialias(on): smooth shapes and TrueType text (the default), or pixel-exact shapes and the bitmap
// font as before; antialias() gives whether it is on.
int c_antialias(lua_State* state) {
  CanvasHead* head = CheckHead(state, 1);
  if (lua_isnone(state, 2)) return lua_pushboolean(state, head->smooth), 1;
  head->smooth = lua_toboolean(state, 2) != 0;
  return ReturnCanvas(state);
}

// clip(x, y, w, h) limits drawing to that rectangle, clip("circle", x, y, r) to that disc (its pixels
// whose centres lie within it), clip() lifts the limit.
int c_clip(lua_State* state) {
  CanvasHead* head = CheckHead(state, 1);
  RasterClip clip;
  auto whole = [](double value) {
    return static_cast<int32_t>(std::floor(std::clamp(std::isnan(value) ? 0.0 : value, -1e9, 1e9) + 0.5));
  };
  if (lua_type(state, 2) == LUA_TSTRING) {
    if (std::strcmp(lua_tostring(state, 2), "circle") != 0) luaL_argerror(state, 2, "\"circle\" or x expected");
    clip.circle = true;
    clip.cx = luaL_checknumber(state, 3), clip.cy = luaL_checknumber(state, 4);
    clip.radius = luaL_checknumber(state, 5);
  } else if (!lua_isnoneornil(state, 2)) {
    const double x = luaL_checknumber(state, 2), y = luaL_checknumber(state, 3);
    const double w = luaL_checknumber(state, 4), h = luaL_checknumber(state, 5);
    clip.left = whole(x), clip.top = whole(y), clip.right = whole(x + w), clip.bottom = whole(y + h);
  }
  Raster raster = ToRaster(head);
  raster.SetClip(clip);
  head->clip = raster.clip();
  return ReturnCanvas(state);
}

// fill(colour [, opacity]): every pixel within the clip set to the colour, opaque or at that opacity
// (0 to 1; 0 makes a transparent canvas to draw a sprite on).
int c_fill(lua_State* state) {
  Raster canvas = CheckCanvas(state, 1);
  const uint32_t colour = CheckColour(state, 2);
  canvas.Fill(colour);
  if (!lua_isnoneornil(state, 3)) {
    const double opacity = luaL_checknumber(state, 3);
    const auto transparency =
        static_cast<uint8_t>(255 - std::floor(std::clamp(std::isnan(opacity) ? 1.0 : opacity, 0.0, 1.0) * 255 + 0.5));
    const RasterClip& clip = canvas.clip();
    for (int64_t y = clip.top; y < clip.bottom; ++y) {
      int64_t from, to;
      canvas.ClipRow(y, &from, &to);
      for (int64_t x = from; x < to; ++x) canvas.PixelAt(x, y)[3] = transparency;
    }
  }
  return ReturnCanvas(state);
}

// pixel(x, y) gives the colour there (nil off the canvas); pixel(x, y, colour) sets it, opaque.
int c_pixel(lua_State* state) {
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

// rect(x, y, w, h, colour [, filled [, width]])
int c_rect(lua_State* state) {
  CanvasHead* head = CheckHead(state, 1);
  Raster canvas = ToRaster(head);
  const double x = luaL_checknumber(state, 2), y = luaL_checknumber(state, 3);
  const double w = luaL_checknumber(state, 4), h = luaL_checknumber(state, 5);
  const uint32_t colour = CheckColour(state, 6);
  const bool filled = lua_toboolean(state, 7) != 0;
  const double width = OptWidth(state, 8);
  if (!head->smooth && (filled || width == 1)) {
    canvas.Rect(x, y, w, h, colour, filled);
    return ReturnCanvas(state);
  }
  Outline& outline = ScratchOutline();
  AddRoundedRect(outline, x, y, w, h, 0);
  if (!filled && width * 2 < std::min(w, h))
    AddRoundedRect(outline, x + width, y + width, w - 2 * width, h - 2 * width, 0, true);
  FillOutline(canvas, outline, PaintOf(head, colour));
  return ReturnCanvas(state);
}

// round_rect(x, y, w, h, radius, colour [, filled [, width]])
int c_round_rect(lua_State* state) {
  CanvasHead* head = CheckHead(state, 1);
  Raster canvas = ToRaster(head);
  const double x = luaL_checknumber(state, 2), y = luaL_checknumber(state, 3);
  const double w = luaL_checknumber(state, 4), h = luaL_checknumber(state, 5), radius = luaL_checknumber(state, 6);
  const uint32_t colour = CheckColour(state, 7);
  const bool filled = lua_toboolean(state, 8) != 0;
  const double width = OptWidth(state, 9);
  Outline& outline = ScratchOutline();
  AddRoundedRect(outline, x, y, w, h, radius);
  if (!filled && width * 2 < std::min(w, h))
    AddRoundedRect(outline, x + width, y + width, w - 2 * width, h - 2 * width, radius - width, true);
  FillOutline(canvas, outline, PaintOf(head, colour));
  return ReturnCanvas(state);
}

// line(x0, y0, x1, y1, colour [, width [, cap]])
int c_line(lua_State* state) {
  CanvasHead* head = CheckHead(state, 1);
  Raster canvas = ToRaster(head);
  double xy[4];
  for (int i = 0; i < 4; ++i) xy[i] = luaL_checknumber(state, 2 + i);
  const uint32_t colour = CheckColour(state, 6);
  const double width = OptWidth(state, 7);
  const LineCap cap = OptCap(state, 8, "round");
  if (!head->smooth && lua_isnoneornil(state, 8)) {
    canvas.Line(xy[0], xy[1], xy[2], xy[3], colour, width);
    return ReturnCanvas(state);
  }
  Outline& outline = ScratchOutline();
  AddPolyline(outline, xy, 2, false, std::isnan(width) ? 1 : width, cap, LineJoin::kRound);
  FillOutline(canvas, outline, PaintOf(head, colour));
  return ReturnCanvas(state);
}

// polyline(points, colour [, width [, cap [, join]]]); points {x1, y1, x2, y2, ...}
int c_polyline(lua_State* state) {
  CanvasHead* head = CheckHead(state, 1);
  Raster canvas = ToRaster(head);
  luaL_checktype(state, 2, LUA_TTABLE);
  const uint32_t colour = CheckColour(state, 3);
  const double width = OptWidth(state, 4);
  const LineCap cap = OptCap(state, 5, "butt");
  const LineJoin join = OptJoin(state, 6);
  std::vector<double>& points = PointScratch();
  ReadPoints(state, 2, 2, points);
  Outline& outline = ScratchOutline();
  AddPolyline(outline, points.data(), static_cast<int>(points.size() / 2), false, width, cap, join);
  FillOutline(canvas, outline, PaintOf(head, colour));
  return ReturnCanvas(state);
}

// polygon(points, colour [, filled [, width [, join]]]); points {x1, y1, ...} or a list of such
// contours; filled by non-zero winding, so a contour going the other way round is a hole.
int c_polygon(lua_State* state) {
  CanvasHead* head = CheckHead(state, 1);
  Raster canvas = ToRaster(head);
  luaL_checktype(state, 2, LUA_TTABLE);
  const uint32_t colour = CheckColour(state, 3);
  const bool filled = lua_toboolean(state, 4) != 0;
  const double width = OptWidth(state, 5);
  const LineJoin join = OptJoin(state, 6);
  Outline& outline = ScratchOutline();
  std::vector<double>& points = PointScratch();
  auto add_contour = [&](int table) {
    ReadPoints(state, table, 2, points);
    const int count = static_cast<int>(points.size() / 2);
    if (count < 2) return;
    if (!filled) return AddPolyline(outline, points.data(), count, true, width, LineCap::kButt, join);
    outline.Start();
    for (int i = 0; i < count; ++i) outline.Add(points[2 * i], points[2 * i + 1]);
  };
  lua_rawgeti(state, 2, 1);
  const bool contours = lua_istable(state, -1);
  lua_pop(state, 1);
  if (!contours) {
    add_contour(2);
  } else {
    const int count = static_cast<int>(lua_objlen(state, 2));
    for (int i = 1; i <= count; ++i) {
      lua_rawgeti(state, 2, i);
      if (!lua_istable(state, -1)) luaL_argerror(state, 2, "points: a list of contours expected");
      add_contour(lua_gettop(state));
      lua_pop(state, 1);
    }
  }
  FillOutline(canvas, outline, PaintOf(head, colour));
  return ReturnCanvas(state);
}

// circle(x, y, radius, colour [, filled [, width]])
int c_circle(lua_State* state) {
  CanvasHead* head = CheckHead(state, 1);
  Raster canvas = ToRaster(head);
  const double x = luaL_checknumber(state, 2), y = luaL_checknumber(state, 3), radius = luaL_checknumber(state, 4);
  const uint32_t colour = CheckColour(state, 5);
  const bool filled = lua_toboolean(state, 6) != 0;
  const double width = OptWidth(state, 7);
  if (!head->smooth && (filled || width == 1)) {
    canvas.Circle(x, y, radius, colour, filled);
    return ReturnCanvas(state);
  }
  if (std::isnan(radius) || radius < 0) return ReturnCanvas(state);
  Outline& outline = ScratchOutline();
  if (filled)
    AddDisc(outline, x, y, radius);
  else
    AddRingSector(outline, x, y, radius - width / 2, radius + width / 2, 0, 360);
  FillOutline(canvas, outline, PaintOf(head, colour));
  return ReturnCanvas(state);
}

// arc(x, y, radius, from, to, colour [, width]): clockwise from `from` to `to` degrees, wrapping.
int c_arc(lua_State* state) {
  CanvasHead* head = CheckHead(state, 1);
  Raster canvas = ToRaster(head);
  const double x = luaL_checknumber(state, 2), y = luaL_checknumber(state, 3), radius = luaL_checknumber(state, 4);
  const double from = luaL_checknumber(state, 5), to = luaL_checknumber(state, 6);
  const uint32_t colour = CheckColour(state, 7);
  const double width = OptWidth(state, 8);
  if (!head->smooth) {
    canvas.Arc(x, y, radius, from, to, colour, width);
    return ReturnCanvas(state);
  }
  const double sweep = ClockwiseSweep(from, to), half = std::isnan(width) ? 0.5 : std::max(width, 1.0) / 2;
  if (sweep == 0 || std::isnan(radius) || radius < 0) return ReturnCanvas(state);
  Outline& outline = ScratchOutline();
  AddRingSector(outline, x, y, radius - half, radius + half, from, sweep);
  FillOutline(canvas, outline, PaintOf(head, colour));
  return ReturnCanvas(state);
}

// ring(x, y, inner, outer, colour [, from, to]): the band between the radii, whole or clockwise from
// `from` to `to` degrees; an inner radius of 0 makes a pie slice.
int c_ring(lua_State* state) {
  CanvasHead* head = CheckHead(state, 1);
  Raster canvas = ToRaster(head);
  const double x = luaL_checknumber(state, 2), y = luaL_checknumber(state, 3);
  const double inner = luaL_checknumber(state, 4), outer = luaL_checknumber(state, 5);
  const uint32_t colour = CheckColour(state, 6);
  const double from = luaL_optnumber(state, 7, 0), to = luaL_optnumber(state, 8, from + 360);
  const double sweep = ClockwiseSweep(from, to);
  if (sweep == 0 || std::isnan(inner) || std::isnan(outer)) return ReturnCanvas(state);
  Outline& outline = ScratchOutline();
  AddRingSector(outline, x, y, inner, outer, from, sweep);
  FillOutline(canvas, outline, PaintOf(head, colour));
  return ReturnCanvas(state);
}

// blit(source, x, y [, sx, sy, w, h]): the source canvas (or its w x h area at sx, sy) copied to x, y.
int c_blit(lua_State* state) {
  Raster canvas = CheckCanvas(state, 1);
  const Raster source = CheckCanvas(state, 2);
  const double x = luaL_checknumber(state, 3), y = luaL_checknumber(state, 4);
  const double sx = luaL_optnumber(state, 5, 0), sy = luaL_optnumber(state, 6, 0);
  const double w = luaL_optnumber(state, 7, source.width()), h = luaL_optnumber(state, 8, source.height());
  canvas.Blit(source.bytes(), source.width(), source.height(), x, y, sx, sy, w, h);
  return ReturnCanvas(state);
}

// draw(source, x, y [, degrees [, scale [, px [, py [, opacity [, key]]]]]]): the source's pixel
// (px, py) (default its top-left) placed at (x, y), the picture turned clockwise about it and scaled,
// bilinear; its own transparency applies, times `opacity` (0 to 1); pixels of colour `key` are left out.
int c_draw(lua_State* state) {
  Raster canvas = CheckCanvas(state, 1);
  const Raster source = CheckCanvas(state, 2);
  const double x = luaL_checknumber(state, 3), y = luaL_checknumber(state, 4);
  const double degrees = luaL_optnumber(state, 5, 0), scale = luaL_optnumber(state, 6, 1);
  const double px = luaL_optnumber(state, 7, 0), py = luaL_optnumber(state, 8, 0);
  Compose compose;
  compose.opacity = luaL_optnumber(state, 9, 1);
  if (!lua_isnoneornil(state, 10)) compose.keyed = true, compose.key = CheckColour(state, 10);
  if (source.bytes() == canvas.bytes()) luaL_argerror(state, 2, "draw: a canvas cannot be drawn onto itself");
  DrawPicture(canvas, source, x, y, px, py, degrees, scale, compose);
  return ReturnCanvas(state);
}

int c_blit_raw(lua_State* state) {
  Raster canvas = CheckCanvas(state, 1);
  size_t length = 0;
  const char* raw = luaL_checklstring(state, 2, &length);
  const double x = luaL_optnumber(state, 3, 0), y = luaL_optnumber(state, 4, 0);
  if (length != kRawImageBytes) {
    lua_pushfstring(state, "a raw image of %d bytes expected, got %d bytes", static_cast<int>(kRawImageBytes),
                    static_cast<int>(length));
    luaL_argerror(state, 2, lua_tostring(state, -1));
  }
  canvas.Blit(reinterpret_cast<const uint8_t*>(raw), kImageWidth, kImageHeight, x, y, 0, 0, kImageWidth, kImageHeight);
  // A raw image's fourth byte is unused: its pixels arrive opaque, whatever that byte held.
  if (std::isnan(x) || std::isnan(y)) return ReturnCanvas(state);
  const auto left = static_cast<int64_t>(std::floor(std::clamp(x, -kRasterFar, kRasterFar) + 0.5));
  const auto top = static_cast<int64_t>(std::floor(std::clamp(y, -kRasterFar, kRasterFar) + 0.5));
  const RasterClip& clip = canvas.clip();
  for (int64_t row = std::max<int64_t>(top, clip.top); row < std::min<int64_t>(top + kImageHeight, clip.bottom);
       ++row) {
    int64_t from, to;
    canvas.ClipRow(row, &from, &to);
    for (int64_t column = std::max(from, left); column < std::min<int64_t>(to, left + kImageWidth); ++column)
      canvas.PixelAt(column, row)[3] = 0;
  }
  return ReturnCanvas(state);
}

// font(f) chooses the canvas's font: a font from canvas.font, or "bitmap"; font() goes back to the
// default (DejaVu Sans when anti-aliased, the bitmap font when pixel-exact).
int c_font(lua_State* state) {
  CheckHead(state, 1);
  if (lua_type(state, 2) == LUA_TSTRING) {
    if (std::strcmp(lua_tostring(state, 2), "bitmap") != 0) luaL_argerror(state, 2, "a font or \"bitmap\" expected");
  } else if (!lua_isnoneornil(state, 2)) {
    CheckFont(state, 2);
  }
  lua_settop(state, 2);
  lua_getfenv(state, 1);
  lua_pushvalue(state, 2);
  lua_rawseti(state, -2, 1);
  return ReturnCanvas(state);
}

// The canvas's font: a TrueType font, or nullptr for the bitmap font.
Font* CanvasFont(lua_State* state, const CanvasHead* head) {
  lua_getfenv(state, 1);
  lua_rawgeti(state, -1, 1);
  Font* font = nullptr;
  if (lua_isuserdata(state, -1))
    font = static_cast<FontBox*>(lua_touserdata(state, -1))->font;
  else if (lua_isnil(state, -1) && head->smooth)
    font = DefaultFont();
  lua_pop(state, 2);
  return font;
}

TextAlign OptAlign(lua_State* state, int index) {
  static const char* const names[] = {"left", "centre", "center", "right"};
  static const TextAlign values[] = {TextAlign::kLeft, TextAlign::kCentre, TextAlign::kCentre, TextAlign::kRight};
  return CheckChoice(state, index, "left", names, values);
}

TextBaseline OptBaseline(lua_State* state, int index) {
  static const char* const names[] = {"top", "middle", "baseline"};
  static const TextBaseline values[] = {TextBaseline::kTop, TextBaseline::kMiddle, TextBaseline::kBaseline};
  return CheckChoice(state, index, "top", names, values);
}

// text(x, y, text, colour [, size [, align [, baseline]]]) gives the canvas and the width drawn. Size:
// pixels per em for a TrueType font (default 12), the scale (1 to 64) for the bitmap font.
int c_text(lua_State* state) {
  CanvasHead* head = CheckHead(state, 1);
  Raster canvas = ToRaster(head);
  double x = luaL_checknumber(state, 2), y = luaL_checknumber(state, 3);
  size_t length = 0;
  const char* text = luaL_checklstring(state, 4, &length);
  const std::string_view view(text, length);
  const uint32_t colour = CheckColour(state, 5);
  const TextAlign align = OptAlign(state, 7);
  const TextBaseline baseline = OptBaseline(state, 8);
  Font* font = CanvasFont(state, head);
  int64_t width = 0;
  if (font != nullptr) {
    width = font->Draw(canvas, x, y, view, luaL_optnumber(state, 6, kDefaultFontPixels), colour, align, baseline,
                       head->smooth);
  } else {
    const int32_t scale = OptScale(state, 6);
    const TextSize size = MeasureText(view, scale);
    if (align == TextAlign::kCentre) x -= static_cast<double>(size.width / 2);
    if (align == TextAlign::kRight) x -= static_cast<double>(size.width);
    if (baseline == TextBaseline::kMiddle) y -= static_cast<double>(size.height / 2);
    if (baseline == TextBaseline::kBaseline) y -= 9.0 * scale;  // the bitmap font's baseline
    width = canvas.Text(x, y, view, colour, scale);
  }
  lua_settop(state, 1);
  lua_pushnumber(state, static_cast<double>(width));
  return 2;
}

// measure(text [, size]): the width and height the canvas's font gives the text.
int c_measure(lua_State* state) {
  CanvasHead* head = CheckHead(state, 1);
  size_t length = 0;
  const char* text = luaL_checklstring(state, 2, &length);
  Font* font = CanvasFont(state, head);
  const TextSize size =
      font != nullptr ? font->Measure(std::string_view(text, length), luaL_optnumber(state, 3, kDefaultFontPixels))
                      : MeasureText(std::string_view(text, length), OptScale(state, 3));
  lua_pushnumber(state, static_cast<double>(size.width));
  lua_pushnumber(state, static_cast<double>(size.height));
  return 2;
}

int c_raw(lua_State* state) {
  const Raster canvas = CheckCanvas(state, 1);
  if (canvas.width() != kImageWidth || canvas.height() != kImageHeight)
    return luaL_error(state, "raw: only a 320x240 canvas has a raw image; this one is %dx%d",
                      static_cast<int>(canvas.width()), static_cast<int>(canvas.height()));
  lua_pushlstring(state, reinterpret_cast<const char*>(canvas.bytes()), canvas.byte_size());
  return 1;
}

int c_tostring(lua_State* state) {
  const Raster canvas = CheckCanvas(state, 1);
  lua_pushfstring(state, "vexlan.canvas %dx%d", static_cast<int>(canvas.width()), static_cast<int>(canvas.height()));
  return 1;
}

const luaL_Reg kFunctions[] = {
    {"new", canvas_new},   {"rgb", canvas_rgb},   {"text_size", canvas_text_size},
    {"load", canvas_load}, {"font", canvas_font}, {"point", canvas_point},
    {nullptr, nullptr},
};

const luaL_Reg kMethods[] = {
    {"width", c_width},       {"height", c_height},     {"antialias", c_antialias}, {"clip", c_clip},
    {"fill", c_fill},         {"pixel", c_pixel},       {"rect", c_rect},           {"round_rect", c_round_rect},
    {"line", c_line},         {"polyline", c_polyline}, {"polygon", c_polygon},     {"circle", c_circle},
    {"arc", c_arc},           {"ring", c_ring},         {"blit", c_blit},           {"draw", c_draw},
    {"blit_raw", c_blit_raw}, {"font", c_font},         {"text", c_text},           {"measure", c_measure},
    {"raw", c_raw},           {nullptr, nullptr},
};

const luaL_Reg kFontMethods[] = {
    {"measure", font_measure},
    {nullptr, nullptr},
};

void RegisterMetatable(lua_State* state, const char* name, const luaL_Reg* methods, lua_CFunction tostring,
                       lua_CFunction gc) {
  if (luaL_newmetatable(state, name) != 0) {
    lua_newtable(state);
    luaL_register(state, nullptr, methods);
    lua_setfield(state, -2, "__index");
    if (tostring != nullptr) lua_pushcfunction(state, tostring), lua_setfield(state, -2, "__tostring");
    if (gc != nullptr) lua_pushcfunction(state, gc), lua_setfield(state, -2, "__gc");
  }
  lua_pop(state, 1);
}

}  // namespace
}  // namespace vexlan

extern "C" VEXLAN_EXPORT int luaopen_vexlan_canvas(lua_State* state) {
  using namespace vexlan;
  platform::PinThisModule();  // as the module does: the process-wide parts are built once per process
  RegisterMetatable(state, kCanvasMetatable, kMethods, c_tostring, nullptr);
  RegisterMetatable(state, kFontMetatable, kFontMethods, nullptr, font_gc);
  lua_newtable(state);  // returned, not set as a global: require keeps it in package.loaded
  luaL_register(state, nullptr, kFunctions);
  return 1;
}
