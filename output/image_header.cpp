// Header readers for the six picture formats. Each fills width, height, bits per pixel, frames and scans
// and the cost its decoders will incur; ReadImageHeader checks the result.
#include "output/image_header.h"

#include <algorithm>
#include <cstring>

namespace vexlan {
namespace {

// Bounds-checked reads from a byte range; a read past its end fails instead of reading.
class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(data != nullptr ? size : 0) {}

  size_t size() const { return size_; }
  bool Has(size_t at, size_t count) const { return at <= size_ && count <= size_ - at; }
  bool Matches(size_t at, const char* text, size_t count) const {
    return Has(at, count) && std::memcmp(data_ + at, text, count) == 0;
  }
  bool U8(size_t at, uint32_t* value) const {
    if (!Has(at, 1)) return false;
    *value = data_[at];
    return true;
  }
  bool U16(size_t at, bool big_endian, uint32_t* value) const {
    if (!Has(at, 2)) return false;
    const uint32_t a = data_[at];
    const uint32_t b = data_[at + 1];
    *value = big_endian ? (a << 8 | b) : (b << 8 | a);
    return true;
  }
  bool U32(size_t at, bool big_endian, uint32_t* value) const {
    uint32_t first = 0;
    uint32_t second = 0;
    if (!U16(at, big_endian, &first) || !U16(at + 2, big_endian, &second)) return false;
    *value = big_endian ? (first << 16 | second) : (second << 16 | first);
    return true;
  }
  Bytes Slice(size_t at, size_t count) const {
    if (at > size_) return Bytes(nullptr, 0);
    return Bytes(data_ + at, std::min(count, size_ - at));
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

constexpr bool kBig = true;
constexpr bool kLittle = false;

constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";

// Decoders keep a list of some parts of a file (a JPEG's segments, an icon's images) and walk it for
// each part they add: more than this many parts are refused.
constexpr uint32_t kMaxParts = 4096;
// Every pass over a picture (a JPEG scan, say) costs at least this many pixels' work, however small.
constexpr uint64_t kMinPassPixels = 64 * 64;
// Moving this many bytes in memory costs about as much as producing one pixel.
constexpr uint64_t kMovedBytesPerPixel = 64;

// a x b, or the largest value when that does not fit.
uint64_t Mul(uint64_t a, uint64_t b) { return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b; }
uint64_t Add(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

// Bytes a decoder keeps for one pixel: the file's own sample size, but never less than 8-bit RGBA.
uint64_t BytesPerPixel(uint64_t bits_per_pixel) { return std::max<uint64_t>(4, (bits_per_pixel + 7) / 8); }

// A single still picture: one pass over its pixels.
void SetStill(ImageHeader* header, uint32_t width, uint32_t height, uint32_t bits_per_pixel) {
  header->width = width;
  header->height = height;
  header->bits_per_pixel = bits_per_pixel;
  header->frames = 1;
  header->scans = 1;
  header->pixels = uint64_t{width} * height;
  header->decoded_bytes = Mul(header->pixels, BytesPerPixel(bits_per_pixel));
  header->pixel_passes = header->pixels;
}

// ---- PNG: the IHDR chunk that must come first ---------------------------------------------------------
bool ReadPngHeader(const Bytes& file, ImageHeader* header) {
  uint32_t length = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t depth = 0;
  uint32_t color_type = 0;
  if (!file.U32(8, kBig, &length) || length != 13 || !file.Matches(12, "IHDR", 4) || !file.U32(16, kBig, &width) ||
      !file.U32(20, kBig, &height) || !file.U8(24, &depth) || !file.U8(25, &color_type)) {
    return false;
  }
  // Samples a pixel for colour types 0 (grey), 2 (RGB), 3 (palette), 4 (grey and alpha), 6 (RGBA).
  static const uint32_t kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
  const uint32_t channels = color_type < 7 ? kChannels[color_type] : 0;
  if (channels == 0) return false;
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) return false;
  SetStill(header, width, height, channels * depth);
  return true;
}

bool ReadPng(const Bytes& file, ImageHeader* header) {
  if (!ReadPngHeader(file, header)) return false;
  // A file cut short is broken even where a decoder fed it piece by piece would show its first rows:
  // the chunks must run on to the end chunk.
  size_t at = 8;
  for (uint32_t chunk_length = 0; file.U32(at, kBig, &chunk_length); at += size_t{12} + chunk_length)
    if (file.Matches(at + 4, "IEND", 4)) return true;
  return false;
}

// ---- JPEG: the first frame header, and every scan up to the end of the image --------------------------
bool IsStartOfFrame(uint32_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// The offset of the next marker's 0xFF at or after `at` in entropy-coded data (skipping stuffed zeros
// and restart markers), or the end of the file.
size_t NextMarker(const Bytes& file, size_t at) {
  uint32_t byte = 0;
  uint32_t next = 0;
  for (; file.U8(at, &byte); ++at) {
    if (byte != 0xFF) continue;
    if (!file.U8(at + 1, &next)) return file.size();
    if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
      ++at;  // a stuffed zero or a restart marker: data goes on
      continue;
    }
    if (next == 0xFF) continue;  // fill: the marker, if any, follows
    return at;
  }
  return file.size();
}

bool ReadJpeg(const Bytes& file, ImageHeader* header) {
  bool have_frame = false;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bits_per_pixel = 0;
  uint32_t scans = 0;
  uint32_t segments = 0;  // scans included
  size_t at = 2;
  uint32_t byte = 0;
  while (file.U8(at, &byte)) {
    if (byte != 0xFF) {  // stray bytes where a marker belongs: decoders skip to the next 0xFF
      at = NextMarker(file, at);
      continue;
    }
    uint32_t marker = 0;
    if (!file.U8(at + 1, &marker)) break;
    if (marker == 0xFF) {  // fill before a marker
      ++at;
      continue;
    }
    if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no segment follows
      at += 2;
      continue;
    }
    if (marker == 0xD8 || marker == 0xD9) break;  // a second start of image, or the end of this one
    uint32_t length = 0;
    if (!file.U16(at + 2, kBig, &length) || length < 2) break;
    if (++segments > kMaxParts) return false;
    const size_t segment = at + 4;
    const size_t next = at + 2 + length;
    if (IsStartOfFrame(marker) && !have_frame) {
      uint32_t precision = 0;
      uint32_t components = 0;
      if (!file.U8(segment, &precision) || !file.U16(segment + 1, kBig, &height) ||
          !file.U16(segment + 3, kBig, &width) || !file.U8(segment + 5, &components)) {
        return false;
      }
      bits_per_pixel = precision * components;
      have_frame = true;
    } else if (marker == 0xDA) {
      ++scans;
      at = NextMarker(file, next);
      continue;
    }
    at = next;
  }
  if (!have_frame) return false;
  SetStill(header, width, height, bits_per_pixel);
  // One decoder passes over the whole picture after every scan of a progressive JPEG.
  header->scans = std::max<uint32_t>(scans, 1);
  header->pixel_passes = Mul(std::max(header->pixels, kMinPassPixels), header->scans);
  return true;
}

// ---- GIF: the logical screen and the first frame --------------------------------------------------------
// Where a GIF's parts lie, up to the end of its first frame.
struct GifLayout {
  size_t screen_end = 0;    // after the logical screen descriptor and the global colour table
  size_t control = 0;       // the first frame's graphic control values (4 bytes), 0 for none
  size_t frame = 0;         // the first frame's image descriptor
  size_t data = 0;          // its first data sub-block
  size_t data_end = 0;      // after its terminating empty sub-block
  uint64_t data_bytes = 0;  // its compressed bytes, without the sub-blocks' lengths
  uint32_t width = 0;       // the canvas: the screen, widened to take the frame in
  uint32_t height = 0;
  uint64_t frame_pixels = 0;
};

// Skips data sub-blocks from `at`, adding up their bytes; false when the file ends first.
bool SkipSubBlocks(const Bytes& file, size_t* at, uint64_t* bytes) {
  uint32_t length = 0;
  do {
    if (!file.U8(*at, &length)) return false;
    *at += 1 + length;
    *bytes += length;
  } while (length != 0);
  return *at <= file.size();
}

bool FindGifFirstFrame(const Bytes& file, GifLayout* gif) {
  uint32_t flags = 0;
  if (!file.U16(6, kLittle, &gif->width) || !file.U16(8, kLittle, &gif->height) || !file.U8(10, &flags)) return false;
  size_t at = 13;
  if (flags & 0x80) at += 3u << ((flags & 7) + 1);
  gif->screen_end = at;
  uint32_t block = 0;
  while (file.U8(at, &block) && block == 0x21) {  // extensions before the frame: keep only the last control
    uint32_t label = 0;
    uint32_t length = 0;
    if (!file.U8(at + 1, &label)) return false;
    if (label == 0xF9 && file.U8(at + 2, &length) && length >= 4 && file.Has(at + 3, 4)) gif->control = at + 3;
    at += 2;
    uint64_t ignored = 0;
    if (!SkipSubBlocks(file, &at, &ignored)) return false;
  }
  if (block != 0x2C) return false;  // a trailer, or anything else, before any frame: no picture
  uint32_t left = 0;
  uint32_t top = 0;
  uint32_t frame_width = 0;
  uint32_t frame_height = 0;
  uint32_t frame_flags = 0;
  if (!file.U16(at + 1, kLittle, &left) || !file.U16(at + 3, kLittle, &top) ||
      !file.U16(at + 5, kLittle, &frame_width) || !file.U16(at + 7, kLittle, &frame_height) ||
      !file.U8(at + 9, &frame_flags) || frame_width == 0 || frame_height == 0) {
    return false;  // an empty first frame: no decoder makes a picture of it
  }
  gif->frame = at;
  at += 10;
  if (frame_flags & 0x80) at += 3u << ((frame_flags & 7) + 1);
  at += 1;  // the LZW minimum code size
  gif->data = at;
  if (!SkipSubBlocks(file, &at, &gif->data_bytes)) return false;  // a frame cut short: a broken file
  gif->data_end = at;
  // A frame reaching past the screen widens the canvas for a decoder that does not clip it.
  gif->width = std::max(gif->width, left + frame_width);
  gif->height = std::max(gif->height, top + frame_height);
  gif->frame_pixels = uint64_t{frame_width} * frame_height;
  return true;
}

bool ReadGif(const Bytes& file, ImageHeader* header) {
  GifLayout gif;
  if (!FindGifFirstFrame(file, &gif)) return false;
  SetStill(header, gif.width, gif.height, 8);  // the canvas, held in RGBA
  // The canvas made once and the frame decoded once, and on Linux both again each time the loader's
  // input stops inside the frame's data (see GifFeedPiece), besides moving what is left of each piece
  // along for every sub-block it reads.
  const uint64_t frame_work = header->pixels + gif.frame_pixels;
  const uint64_t piece = GifFeedPiece(*header);
  const uint64_t pieces = gif.data_bytes / piece + 1;
  const uint64_t sub_blocks = gif.data_bytes / 255 + 1;
  header->pixel_passes = Add(Mul(pieces + 1, frame_work), Mul(sub_blocks, piece) / kMovedBytesPerPixel);
  return true;
}

// ---- BMP: the file header and the information header ---------------------------------------------------
bool ReadBmp(const Bytes& file, ImageHeader* header) {
  uint32_t data_offset = 0;
  uint32_t info_size = 0;
  if (!file.U32(10, kLittle, &data_offset) || !file.U32(14, kLittle, &info_size)) return false;
  // One decoder makes room for the headers and for everything up to the pixels before reading them.
  if (!file.Has(14, info_size) || data_offset > file.size()) return false;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bits = 0;
  if (info_size == 12) {  // the old core header: 16-bit sizes
    if (!file.U16(18, kLittle, &width) || !file.U16(20, kLittle, &height) || !file.U16(24, kLittle, &bits))
      return false;
  } else if (info_size >= 16) {
    uint32_t compression = 0;
    if (!file.U32(18, kLittle, &width) || !file.U32(22, kLittle, &height) || !file.U16(28, kLittle, &bits))
      return false;
    uint32_t colours = 0;
    if (info_size >= 20 && !file.U32(30, kLittle, &compression)) return false;
    // One decoder makes room for the colour table the header announces: it must be in the file.
    const size_t table = 14 + size_t{info_size};
    if (info_size >= 36 && (!file.U32(46, kLittle, &colours) || !file.Has(table, uint64_t{colours} * 4)))
      return false;
    if (compression == 4 || compression == 5) return false;  // an embedded JPEG or PNG: its size is not here
    // Rows run top-down when the height is negative; a negative width is read as its magnitude.
    if (static_cast<int32_t>(width) < 0) width = 0u - width;
    if (static_cast<int32_t>(height) < 0) height = 0u - height;
  } else {
    return false;
  }
  if (bits == 0) return false;
  SetStill(header, width, height, bits);
  return true;
}

// ---- ICO: every image of the icon, each a PNG or a DIB ----------------------------------------------------
// The image of an icon as a DIB header describes it. One decoder reads every image whose header says
// it is not compressed this way, whatever its first bytes, and makes room for the colour table the
// header announces: the table must be in the file.
bool ReadIconDib(const Bytes& image, ImageHeader* one) {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bits = 0;
  uint32_t colours = 0;
  if (!image.U32(4, kLittle, &width) || !image.U32(8, kLittle, &height) || !image.U16(14, kLittle, &bits) ||
      !image.U32(32, kLittle, &colours) || !image.Has(40, uint64_t{colours} * 4)) {
    return false;
  }
  if (static_cast<int32_t>(width) < 0) width = 0u - width;
  if (static_cast<int32_t>(height) < 0) height = 0u - height;
  // The height counts the colour rows and the mask's; decoders read no colour rows as 256.
  const uint32_t colour_rows = height / 2 != 0 ? height / 2 : 256;
  SetStill(one, width != 0 ? width : 256, std::max(height, colour_rows), std::max<uint32_t>(bits, 1));
  return true;
}

bool ReadIco(const Bytes& file, ImageHeader* header) {
  uint32_t count = 0;
  if (!file.U16(4, kLittle, &count) || count == 0 || count > kMaxParts) return false;
  ImageHeader total;
  auto add = [&total](const ImageHeader& one) {
    if (one.pixels >= total.pixels) {  // the largest image gives the picture's size
      total.width = one.width;
      total.height = one.height;
      total.pixels = one.pixels;
    }
    total.bits_per_pixel = std::max(total.bits_per_pixel, one.bits_per_pixel);
    // Every image counts: one decoder picks the largest, another the first.
    total.decoded_bytes = Add(total.decoded_bytes, one.decoded_bytes);
    total.pixel_passes = Add(total.pixel_passes, one.pixel_passes);
  };
  for (uint32_t i = 0; i < count; ++i) {
    const size_t entry = 6 + size_t{16} * i;
    uint32_t offset = 0;
    if (!file.U32(entry + 12, kLittle, &offset)) return false;
    // One decoder makes room for everything up to an image's header before it reads it: an image that
    // is not in the file is refused, not skipped.
    if (!file.Has(offset, 40)) return false;
    const Bytes image = file.Slice(offset, file.size());
    uint32_t compression = 0;
    image.U32(16, kLittle, &compression);
    const bool png = image.Matches(0, kPngSignature, 8);
    ImageHeader one;
    if (png && ReadPngHeader(image, &one)) add(one);
    if (!png || compression == 0) {
      if (!ReadIconDib(image, &one)) return false;
      add(one);
    }
    total.frames += 1;
  }
  total.scans = 1;
  *header = total;
  return true;
}

// ---- TIFF: the first directory (the page both decoders show) -------------------------------------------
bool ReadTiff(const Bytes& file, ImageHeader* header) {
  const bool big_endian = file.Matches(0, "MM", 2);
  uint32_t directory = 0;
  uint32_t entries = 0;
  if (!file.U32(4, big_endian, &directory) || !file.U16(directory, big_endian, &entries)) return false;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t samples = 1;
  uint32_t sample_bits = 1;
  uint32_t tile_width = 0;
  uint32_t tile_height = 0;
  uint32_t strip_rows = 0;
  for (uint32_t i = 0; i < entries; ++i) {
    const size_t entry = size_t{directory} + 2 + size_t{12} * i;
    uint32_t tag = 0;
    uint32_t type = 0;
    uint32_t count = 0;
    if (!file.U16(entry, big_endian, &tag) || !file.U16(entry + 2, big_endian, &type) ||
        !file.U32(entry + 4, big_endian, &count)) {
      return false;
    }
    // A SHORT or LONG value, held in the entry itself.
    uint32_t value = 0;
    const bool scalar = count == 1 && ((type == 3 && file.U16(entry + 8, big_endian, &value)) ||
                                       (type == 4 && file.U32(entry + 8, big_endian, &value)));
    switch (tag) {
      case 256:  // ImageWidth
      case 257:  // ImageLength
      case 277:  // SamplesPerPixel
      case 278:  // RowsPerStrip
      case 322:  // TileWidth
      case 323: {  // TileLength
        if (!scalar) return false;
        uint32_t& field = tag == 256   ? width
                          : tag == 257 ? height
                          : tag == 277 ? samples
                          : tag == 278 ? strip_rows
                          : tag == 322 ? tile_width
                                       : tile_height;
        field = std::max(field, value);  // a repeated tag: the larger reading
        break;
      }
      case 258: {  // BitsPerSample, one SHORT per sample, in the entry when two fit
        if (type != 3 || count == 0) return false;
        size_t values = entry + 8;
        if (count > 2) {
          uint32_t offset = 0;
          if (!file.U32(entry + 8, big_endian, &offset)) return false;
          values = offset;
        }
        for (uint32_t s = 0; s < count; ++s) {
          uint32_t bits = 0;
          if (!file.U16(values + size_t{2} * s, big_endian, &bits)) return false;
          sample_bits = std::max(sample_bits, bits);
        }
        samples = std::max(samples, count);
        break;
      }
      default:
        break;
    }
  }
  const uint64_t bits_per_pixel = uint64_t{samples} * sample_bits;
  if (bits_per_pixel > UINT32_MAX) return false;
  SetStill(header, width, height, static_cast<uint32_t>(bits_per_pixel));
  if (tile_width == 0 && tile_height == 0) {
    // Decoders hold a strip (all rows when the file names no size) beside the picture.
    const uint64_t rows = strip_rows != 0 ? std::min(strip_rows, height) : height;
    const uint64_t strip_bytes = Mul(uint64_t{width} * rows, BytesPerPixel(bits_per_pixel));
    header->decoded_bytes = Add(header->decoded_bytes, strip_bytes);
  } else {
    if (tile_width == 0 || tile_height == 0) return false;
    // A tile is held beside the picture, and decoded whole, however little of it the picture covers; a
    // decoder that keeps only the last tile it decoded decodes a row of tiles again for every row of
    // pixels, unless it is one tile.
    const uint64_t across = (uint64_t{width} + tile_width - 1) / tile_width;
    const uint64_t down = (uint64_t{height} + tile_height - 1) / tile_height;
    const uint64_t tile = std::max(uint64_t{tile_width} * tile_height, kMinPassPixels);
    header->pixel_passes = Mul(across > 1 ? Mul(height, across) : down, tile);
    const uint64_t tile_bytes = Mul(uint64_t{tile_width} * tile_height, BytesPerPixel(bits_per_pixel));
    header->decoded_bytes = Add(header->decoded_bytes, tile_bytes);
  }
  return true;
}

}  // namespace

size_t GifFeedPiece(const ImageHeader& header) {
  // The piece that balances redrawing (pieces x canvas) against moving (sub-blocks x piece bytes).
  uint64_t root = 1;
  while (root * root < header.pixels) root *= 2;
  return static_cast<size_t>(std::min<uint64_t>(std::max<uint64_t>(256 * root, 4096), 4u << 20));
}

size_t RewriteGifFirstFrame(const uint8_t* data, size_t size, uint8_t* out) {
  const Bytes file(data, size);
  GifLayout gif;
  if (SniffImageFormat(data, size) != ImageFormat::kGif || !FindGifFirstFrame(file, &gif)) return 0;
  size_t written = 0;
  auto copy = [&](size_t from, size_t count) {
    std::memcpy(out + written, data + from, count);
    written += count;
  };
  copy(0, gif.screen_end);
  if (gif.control != 0) {
    static const uint8_t kControl[] = {0x21, 0xF9, 0x04};
    std::memcpy(out + written, kControl, sizeof kControl);
    written += sizeof kControl;
    copy(gif.control, 4);
    out[written++] = 0;
  }
  copy(gif.frame, gif.data - gif.frame);
  // The compressed bytes again, in sub-blocks of the full 255.
  uint8_t* block_length = nullptr;
  uint32_t length = 0;
  for (size_t at = gif.data; at < gif.data_end && file.U8(at, &length) && length != 0; at += 1 + length) {
    for (size_t i = 0; i < length; ++i) {
      if (block_length == nullptr || *block_length == 255) {
        block_length = out + written++;
        *block_length = 0;
      }
      out[written++] = data[at + 1 + i];
      ++*block_length;
    }
  }
  out[written++] = 0;     // the end of the frame's data
  out[written++] = 0x3B;  // the trailer
  return written;
}

ImageFormat SniffImageFormat(const uint8_t* data, size_t size) {
  const Bytes file(data, size);
  if (file.Matches(0, kPngSignature, 8)) return ImageFormat::kPng;
  if (file.Matches(0, "\xFF\xD8\xFF", 3)) return ImageFormat::kJpeg;
  if (file.Matches(0, "GIF87a", 6) || file.Matches(0, "GIF89a", 6)) return ImageFormat::kGif;
  if (file.Matches(0, "BM", 2)) return ImageFormat::kBmp;
  if (file.Matches(0, "\0\0\1\0", 4)) return ImageFormat::kIco;
  if (file.Matches(0, "II*\0", 4) || file.Matches(0, "MM\0*", 4)) return ImageFormat::kTiff;
  return ImageFormat::kNone;
}

bool ReadImageHeader(const uint8_t* data, size_t size, ImageHeader* header) {
  const Bytes file(data, size);
  ImageHeader read;
  const ImageFormat format = SniffImageFormat(data, size);
  bool ok = false;
  switch (format) {
    case ImageFormat::kPng: ok = ReadPng(file, &read); break;
    case ImageFormat::kJpeg: ok = ReadJpeg(file, &read); break;
    case ImageFormat::kGif: ok = ReadGif(file, &read); break;
    case ImageFormat::kBmp: ok = ReadBmp(file, &read); break;
    case ImageFormat::kIco: ok = ReadIco(file, &read); break;
    case ImageFormat::kTiff: ok = ReadTiff(file, &read); break;
    case ImageFormat::kNone: break;
  }
  if (!ok || read.width == 0 || read.height == 0) return false;
  read.format = format;
  *header = read;
  return true;
}

bool WithinDecodeBound(const ImageHeader& header) {
  return header.format != ImageFormat::kNone && header.width != 0 && header.height != 0 &&
         header.pixels <= kMaxDecodedPixels && header.decoded_bytes <= kMaxDecodedBytes &&
         header.pixel_passes <= kMaxPixelPasses;
}

bool MayDecodeImage(const uint8_t* data, size_t size, ImageHeader* header) {
  return size <= kMaxImageFileBytes && ReadImageHeader(data, size, header) && WithinDecodeBound(*header);
}

const char* ImageFormatName(ImageFormat format) {
  switch (format) {
    case ImageFormat::kPng: return "png";
    case ImageFormat::kJpeg: return "jpeg";
    case ImageFormat::kGif: return "gif";
    case ImageFormat::kBmp: return "bmp";
    case ImageFormat::kIco: return "ico";
    case ImageFormat::kTiff: return "tiff";
    case ImageFormat::kNone: break;
  }
  return nullptr;
}

}  // namespace vexlan
