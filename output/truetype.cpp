#include "output/truetype.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "output/paint.h"
#include "platform/mutex.h"

// stb_truetype allocates through these: a per-thread arena that is emptied after each use and grows to
// the largest need seen, so that drawing allocates nothing in the long run.
namespace vexlan {
namespace {

class Arena {
 public:
  ~Arena() { std::free(block_); }
  void* Take(size_t size) {
    size = (size + 15) & ~size_t{15};
    demand_ += size;
    if (used_ + size <= capacity_) {
      void* at = block_ + used_;
      used_ += size;
      return at;
    }
    return std::malloc(size);  // beyond the block this time; the block grows when emptied
  }
  void Give(void* at) {
    const auto* byte = static_cast<uint8_t*>(at);
    if (at != nullptr && !(byte >= block_ && byte < block_ + capacity_)) std::free(at);
  }
  // After a use: everything taken is given back.
  void Empty() {
    if (demand_ > capacity_) {
      std::free(block_);
      capacity_ = demand_ + demand_ / 2;
      block_ = static_cast<uint8_t*>(std::malloc(capacity_));
      if (block_ == nullptr) capacity_ = 0;
    }
    used_ = demand_ = 0;
  }

 private:
  uint8_t* block_ = nullptr;
  size_t capacity_ = 0, used_ = 0, demand_ = 0;
};

Arena& ThreadArena() {
  static thread_local Arena arena;
  return arena;
}

}  // namespace
}  // namespace vexlan

#define STBTT_malloc(size, arena) (static_cast<vexlan::Arena*>(arena)->Take(size))
#define STBTT_free(at, arena) (static_cast<vexlan::Arena*>(arena)->Give(at))
#define STBTT_assert(x) ((void)0)  // every font is checked before use; see FontChecker
#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wcast-qual"
#endif
#include "stb_truetype.h"
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// The font shipped inside the module (output/default_font.cpp).
extern "C" const uint8_t vexlan_default_font[];
extern "C" const uint8_t vexlan_default_font_end[];

namespace vexlan {

void RasterizeCoverage(const CoverageMask& mask, const float* xy, const int* counts, int contours, int left, int top) {
  static thread_local std::vector<stbtt__point> points;
  static thread_local std::vector<int> lengths;
  size_t total = 0;
  lengths.assign(counts, counts + contours);
  for (int i = 0; i < contours; ++i) total += static_cast<size_t>(counts[i]);
  points.resize(total);
  for (size_t i = 0; i < total; ++i) points[i] = stbtt__point{xy[2 * i], xy[2 * i + 1]};
  stbtt__bitmap bitmap{mask.width, mask.height, mask.stride, mask.pixels};
  Arena& arena = ThreadArena();
  stbtt__rasterize(&bitmap, points.data(), lengths.data(), contours, 1, 1, 0, 0, left, top, 0, &arena);
  arena.Empty();
}

namespace {

// ---- Checking a font file before stb_truetype reads it ---------------------------------------------

class FontChecker {
 public:
  FontChecker(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Check() {
    if (!TableDirectory()) return false;
    if (!Table("head", 54, &head_) || !Table("maxp", 6, &maxp_) || !Table("hhea", 36, &hhea_) ||
        !Table("hmtx", 4, &hmtx_) || !Table("loca", 4, &loca_) || !Table("glyf", 0, &glyf_) ||
        !Table("cmap", 4, &cmap_))
      return false;
    glyphs_ = U16(maxp_.offset + 4);
    const uint32_t long_metrics = U16(hhea_.offset + 34);
    const uint32_t units_per_em = U16(head_.offset + 18);
    if (units_per_em < 16 || units_per_em > 16384) return false;
    if (glyphs_ == 0 || long_metrics == 0 || long_metrics > glyphs_) return false;
    if (uint64_t{4} * long_metrics + uint64_t{2} * (glyphs_ - long_metrics) > hmtx_.length) return false;
    long_loca_ = U16(head_.offset + 50) != 0;
    if (uint64_t{glyphs_ + 1} * (long_loca_ ? 4 : 2) > loca_.length) return false;
    if (!CmapRecords()) return false;
    depth_.assign(glyphs_, kUnknown);
    for (uint32_t glyph = 0; glyph < glyphs_; ++glyph)
      if (!GlyphDepth(glyph, 0)) return false;
    return true;
  }

  // The character map stb_truetype chose, checked once it has chosen.
  bool CheckMap(uint32_t map) {
    if (map == 0 || map < cmap_.offset || uint64_t{map} + 4 > End(cmap_)) return false;
    const uint16_t format = U16(map);
    if (format == 4) {
      if (map + 14 > End(cmap_)) return false;
      const uint32_t segments = U16(map + 6) / 2u;
      if (segments == 0 || uint64_t{map} + 16 + 8ull * segments > End(cmap_)) return false;
      uint32_t power = 1, log = 0;
      while (power * 2 <= segments) power *= 2, ++log;
      if (U16(map + 8) != 2 * power || U16(map + 10) != log || U16(map + 12) != 2 * segments - 2 * power) return false;
      const uint32_t ranges = map + 16 + 6 * segments;
      for (uint32_t i = 0; i < segments; ++i) {
        const uint32_t end = U16(map + 14 + 2 * i), start = U16(map + 16 + 2 * segments + 2 * i);
        const uint32_t range = U16(ranges + 2 * i);
        if (start > end) return false;
        if (range != 0 && uint64_t{ranges} + 2 * i + range + 2ull * (end - start) + 2 > End(cmap_)) return false;
      }
      return true;
    }
    if (format == 12 || format == 13) {
      if (uint64_t{map} + 16 > End(cmap_)) return false;
      return uint64_t{map} + 16 + 12ull * U32(map + 12) <= End(cmap_);
    }
    return false;  // the formats Unicode fonts use; stb_truetype reads others unchecked
  }

  uint32_t glyphs() const { return glyphs_; }

 private:
  struct Span {
    uint32_t offset = 0, length = 0;
  };
  static constexpr uint8_t kUnknown = 0xFF, kVisiting = 0xFE;
  static constexpr int kMaxComposite = 8;

  uint16_t U16(uint64_t at) const {
    return at + 2 <= size_ ? static_cast<uint16_t>(data_[at] << 8 | data_[at + 1]) : 0;
  }
  uint32_t U32(uint64_t at) const { return uint32_t{U16(at)} << 16 | U16(at + 2); }
  static uint64_t End(const Span& span) { return uint64_t{span.offset} + span.length; }

  bool TableDirectory() {
    if (size_ < 12) return false;
    const uint32_t version = U32(0);
    if (version != 0x00010000 && version != 0x74727565) return false;  // TrueType outlines only
    tables_ = U16(4);
    return 12 + 16ull * tables_ <= size_;
  }
  // The first table of that tag (as stb_truetype finds it), inside the file and at least `minimum` long.
  bool Table(const char* tag, uint32_t minimum, Span* span) const {
    for (uint32_t i = 0; i < tables_; ++i) {
      const uint64_t record = 12 + 16ull * i;
      if (std::memcmp(data_ + record, tag, 4) != 0) continue;
      span->offset = U32(record + 8);
      span->length = U32(record + 12);
      return span->length >= minimum && End(*span) <= size_;
    }
    return false;
  }
  bool CmapRecords() const {
    const uint32_t count = U16(cmap_.offset + 2);
    return uint64_t{cmap_.offset} + 4 + 8ull * count <= End(cmap_);
  }
  bool GlyphRange(uint32_t glyph, uint64_t* from, uint64_t* to) const {
    const uint64_t at = loca_.offset + uint64_t{glyph} * (long_loca_ ? 4 : 2);
    const uint64_t a = long_loca_ ? U32(at) : 2ull * U16(at),
                   b = long_loca_ ? U32(at + (long_loca_ ? 4 : 2)) : 2ull * U16(at + 2);
    if (a > b || b > glyf_.length) return false;
    *from = glyf_.offset + a;
    *to = glyf_.offset + b;
    return true;
  }
  // Checks the glyph's outline (or its components, to kMaxComposite levels, without cycles).
  bool GlyphDepth(uint32_t glyph, int level) {
    if (glyph >= glyphs_ || level > kMaxComposite || depth_[glyph] == kVisiting) return false;
    if (depth_[glyph] != kUnknown) return level + depth_[glyph] <= kMaxComposite;
    uint64_t from, to;
    if (!GlyphRange(glyph, &from, &to)) return false;
    depth_[glyph] = kVisiting;
    uint8_t depth = 0;
    if (to > from) {
      if (to - from < 10) return false;
      const auto contours = static_cast<int16_t>(U16(from));
      if (contours >= 0) {
        if (!SimpleGlyph(from, to, contours)) return false;
      } else {
        uint64_t at = from + 10;
        for (bool more = true; more;) {
          if (at + 4 > to) return false;
          const uint16_t flags = U16(at), component = U16(at + 2);
          if (!(flags & 2) || component >= 0x8000)
            return false;  // matched points; stb reads the index signed  // points matched by number: stb_truetype
                           // cannot place them
          at += 4 + ((flags & 1) ? 4 : 2) + ((flags & 8) ? 2 : (flags & 64) ? 4 : (flags & 128) ? 8 : 0);
          if (at > to || !GlyphDepth(component, level + 1)) return false;
          depth = static_cast<uint8_t>(std::max<int>(depth, depth_[component] + 1));
          more = (flags & 32) != 0;
        }
      }
    }
    depth_[glyph] = depth;
    return level + depth <= kMaxComposite;
  }
  bool SimpleGlyph(uint64_t from, uint64_t to, int contours) const {
    if (contours == 0) return true;
    const uint64_t ends = from + 10;
    if (ends + 2ull * contours + 2 > to) return false;
    int last = -1;
    for (int i = 0; i < contours; ++i) {
      const int end = U16(ends + 2 * i);
      if (end <= last) return false;
      last = end;
    }
    const uint32_t points = static_cast<uint32_t>(last) + 1;
    uint64_t at = ends + 2ull * contours + 2 + U16(ends + 2ull * contours);
    uint64_t x_bytes = 0, y_bytes = 0;
    for (uint32_t i = 0; i < points;) {
      if (at >= to) return false;
      const uint8_t flag = data_[at++];
      uint32_t repeat = 1;
      if (flag & 8) {
        if (at >= to) return false;
        repeat += data_[at++];
      }
      const uint32_t count = std::min(repeat, points - i);  // stb_truetype stops at the last point too
      x_bytes += count * ((flag & 2) ? 1u : (flag & 16) ? 0u : 2u);
      y_bytes += count * ((flag & 4) ? 1u : (flag & 32) ? 0u : 2u);
      i += repeat;
    }
    return at + x_bytes + y_bytes <= to;
  }

  const uint8_t* data_;
  size_t size_;
  uint32_t tables_ = 0, glyphs_ = 0;
  bool long_loca_ = false;
  Span head_, maxp_, hhea_, hmtx_, loca_, glyf_, cmap_;
  std::vector<uint8_t> depth_;
};

// ---- UTF-8 ---------------------------------------------------------------------------------------

constexpr uint32_t kReplacement = 0xFFFD;

// The code point at `text[*at]`, moving past it; U+FFFD for a malformed sequence (one byte consumed).
uint32_t NextCodePoint(std::string_view text, size_t* at) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(*at);
  int length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
  if (length == 0 || *at + length > text.size()) {
    ++*at;
    return length == 1 ? lead : kReplacement;
  }
  uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if ((byte(*at + i) & 0xC0) != 0x80) {
      ++*at;
      return kReplacement;
    }
    code = code << 6 | (byte(*at + i) & 0x3F);
  }
  static constexpr uint32_t kShortest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kShortest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    ++*at;
    return kReplacement;
  }
  *at += length;
  return code;
}

double FontPixels(double pixels) {
  if (!(pixels >= kMinFontPixels)) return kMinFontPixels;         // NaN too
  return std::round(std::min(pixels, kMaxFontPixels) * 64) / 64;  // as glyphs are cached
}

}  // namespace

// ---- Fonts ---------------------------------------------------------------------------------------

struct Font::Parts {
  struct Glyph {
    int16_t left = 0, top = 0;  // of the bitmap, from the pen on the baseline
    uint16_t width = 0, height = 0;
    float advance = 0;
    uint32_t offset = 0;  // into `pixels`
  };
  static constexpr size_t kMaxCachedPixels = size_t{16} << 20;

  std::vector<uint8_t> bytes;
  stbtt_fontinfo info{};
  uint32_t glyph_count = 0;
  int ascent = 0, descent = 0, line_gap = 0;
  platform::FastMutex mutex;
  std::unordered_map<uint64_t, Glyph> glyphs GUARDED_BY(mutex);
  std::vector<uint8_t> pixels GUARDED_BY(mutex);

  float Scale(double size) const { return stbtt_ScaleForMappingEmToPixels(&info, static_cast<float>(size)); }

  // The glyph of `code` at `size` pixels, rendered on first use.
  const Glyph& GlyphOf(uint32_t code, double size) REQUIRES(mutex) {
    const uint64_t key = uint64_t{static_cast<uint32_t>(size * 64)} << 21 | code;
    const auto found = glyphs.find(key);
    if (found != glyphs.end()) return found->second;
    if (pixels.size() > kMaxCachedPixels) glyphs.clear(), pixels.clear();
    int index = stbtt_FindGlyphIndex(&info, static_cast<int>(code));
    if (index < 0 || static_cast<uint32_t>(index) >= glyph_count) index = 0;
    const float scale = Scale(size);
    int advance = 0, bearing = 0, x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    stbtt_GetGlyphHMetrics(&info, index, &advance, &bearing);
    stbtt_GetGlyphBitmapBox(&info, index, scale, scale, &x0, &y0, &x1, &y1);
    Glyph glyph;
    glyph.advance = static_cast<float>(advance) * scale;
    // Outlines beyond any sane box (a hostile font's huge coordinates) draw nothing.
    if (x1 > x0 && y1 > y0 && x1 - x0 <= 4 * kMaxFontPixels && y1 - y0 <= 4 * kMaxFontPixels) {
      glyph.left = static_cast<int16_t>(x0);
      glyph.top = static_cast<int16_t>(y0);
      glyph.width = static_cast<uint16_t>(x1 - x0);
      glyph.height = static_cast<uint16_t>(y1 - y0);
      glyph.offset = static_cast<uint32_t>(pixels.size());
      pixels.resize(pixels.size() + size_t{glyph.width} * glyph.height);
      Arena& arena = ThreadArena();
      info.userdata = &arena;
      stbtt_MakeGlyphBitmap(&info, pixels.data() + glyph.offset, glyph.width, glyph.height, glyph.width, scale, scale,
                            index);
      arena.Empty();
    }
    return glyphs.emplace(key, glyph).first->second;
  }

  double LineHeight(double size) const { return (ascent - descent + line_gap) * Scale(size); }

  // The advance of the line starting at text[*at], moving past it and its "\n".
  double LineWidth(std::string_view text, size_t* at, double size) REQUIRES(mutex) {
    double width = 0;
    while (*at < text.size()) {
      const uint32_t code = NextCodePoint(text, at);
      if (code == '\n') break;
      width += GlyphOf(code, size).advance;
    }
    return width;
  }
};

Font::Font(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}
Font::~Font() = default;

std::unique_ptr<Font> Font::FromBytes(const uint8_t* data, size_t size) {
  if (data == nullptr || size > kMaxFontFileBytes) return nullptr;
  auto parts = std::make_unique<Parts>();
  parts->bytes.assign(data, data + size);
  FontChecker checker(parts->bytes.data(), parts->bytes.size());
  if (!checker.Check()) return nullptr;
  Arena& arena = ThreadArena();
  parts->info.userdata = &arena;
  const bool ok = stbtt_InitFont(&parts->info, parts->bytes.data(), 0) != 0 &&
                  checker.CheckMap(static_cast<uint32_t>(parts->info.index_map));
  arena.Empty();
  if (!ok) return nullptr;
  parts->glyph_count = checker.glyphs();
  stbtt_GetFontVMetrics(&parts->info, &parts->ascent, &parts->descent, &parts->line_gap);
  if (parts->ascent - parts->descent <= 0) return nullptr;
  return std::unique_ptr<Font>(new Font(std::move(parts)));
}

Font* DefaultFont() {
  static const std::unique_ptr<Font> font =
      Font::FromBytes(vexlan_default_font, static_cast<size_t>(vexlan_default_font_end - vexlan_default_font));
  return font.get();
}

TextSize Font::Measure(std::string_view text, double pixels) {
  const double size = FontPixels(pixels);
  platform::FastMutexLock lock(parts_->mutex);
  double widest = 0;
  int64_t lines = 0;
  for (size_t at = 0; at < text.size(); ++lines) widest = std::max(widest, parts_->LineWidth(text, &at, size));
  return TextSize{static_cast<int64_t>(std::ceil(widest)),
                  static_cast<int64_t>(std::ceil(lines * parts_->LineHeight(size)))};
}

int64_t Font::Draw(Raster& raster, double x, double y, std::string_view text, double pixels, uint32_t colour,
                   TextAlign align, TextBaseline baseline, bool smooth) {
  const double size = FontPixels(pixels);
  const TextSize whole = Measure(text, size);
  if (!std::isfinite(x) || !std::isfinite(y)) return whole.width;
  x = std::clamp(x, -kRasterFar, kRasterFar);
  y = std::clamp(y, -kRasterFar, kRasterFar);
  platform::FastMutexLock lock(parts_->mutex);
  const double scale = parts_->Scale(size), line_height = parts_->LineHeight(size);
  const double ascent = parts_->ascent * scale, descent = parts_->descent * scale;
  // The first line's baseline, the top of the pixel row at y being y - 1/2.
  double line = y - 0.5;
  if (baseline == TextBaseline::kTop) line += ascent;
  if (baseline == TextBaseline::kMiddle) line += (ascent + descent) / 2 - (whole.height - line_height) / 2;
  for (size_t at = 0; at < text.size(); line += line_height) {
    size_t end = at;
    const double width = parts_->LineWidth(text, &end, size);
    double pen = x - 0.5 - (align == TextAlign::kCentre ? width / 2 : align == TextAlign::kRight ? width : 0);
    const auto base = static_cast<int64_t>(std::floor(line + 0.5));
    while (at < end) {
      const uint32_t code = NextCodePoint(text, &at);
      if (code == '\n') break;
      const Parts::Glyph& glyph = parts_->GlyphOf(code, size);
      if (glyph.width > 0)
        BlendMask(raster, parts_->pixels.data() + glyph.offset, glyph.width, glyph.height, glyph.width,
                  static_cast<int64_t>(std::floor(pen + 0.5)) + glyph.left, base + glyph.top, colour, smooth);
      pen += glyph.advance;
    }
  }
  return whole.width;
}

}  // namespace vexlan
