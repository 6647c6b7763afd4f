// TrueType text and the coverage rasteriser, both from stb_truetype (public domain or MIT, Debian's
// libstb-dev): its anti-aliased polygon rasteriser fills every shape of the canvas, and its font reader
// draws glyphs. stb_truetype trusts the font it reads, so a font is checked whole before it is used
// (tables, glyph outlines, composites, character map); one that fails is refused.
//
// Nothing here allocates once the thread's scratch and a font's glyph cache have grown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "output/raster.h"

namespace vexlan {

// A w x h coverage mask (0 to 255 a pixel), rows `stride` bytes apart.
struct CoverageMask {
  uint8_t* pixels;
  int width, height, stride;
};

// Writes every byte of `mask` with the coverage, under non-zero winding, of the contours (`counts[i]`
// points each, as x, y pairs in `xy`), the mask's top-left corner being at (left, top) of their plane.
// The points must lie within the mask's rectangle.
void RasterizeCoverage(const CoverageMask& mask, const float* xy, const int* counts, int contours, int left, int top);

enum class TextAlign : uint8_t { kLeft, kCentre, kRight };
enum class TextBaseline : uint8_t { kTop, kMiddle, kBaseline };

inline constexpr double kMinFontPixels = 1;
inline constexpr double kMaxFontPixels = 512;
inline constexpr size_t kMaxFontFileBytes = size_t{32} << 20;

class Font {
 public:
  // A font from the file's bytes (copied), or nullptr when the bytes are no TrueType font that passes
  // the checks.
  static std::unique_ptr<Font> FromBytes(const uint8_t* data, size_t size);
  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  // The width of the widest line and the height of all lines (`pixels` per em, clamped to
  // kMinFontPixels..kMaxFontPixels). Text is UTF-8; a malformed sequence shows as U+FFFD.
  TextSize Measure(std::string_view text, double pixels);
  // Draws `text` at (x, y), aligned on it as asked, and gives its width.
  int64_t Draw(Raster& raster, double x, double y, std::string_view text, double pixels, uint32_t colour,
               TextAlign align, TextBaseline baseline, bool smooth);

  struct Parts;

 private:
  explicit Font(std::unique_ptr<Parts> parts);
  std::unique_ptr<Parts> parts_;
};

// The font shipped inside the module, DejaVu Sans (nullptr only if it failed its own checks).
Font* DefaultFont();

}  // namespace vexlan
