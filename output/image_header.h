// What a picture file promises a decoder, read from its headers before any decoder sees it, and the
// bound on that promise. Both platforms' decoders call this first, so both read the same six formats,
// chosen by the file's first bytes (never by its name), and refuse the same pictures.
//
// The bound, per decode:
//   - at most 2^24 pixels (16,777,216: 4096 x 4096, or a 4K frame of 3840 x 2160 twice over);
//   - at most 64 MiB of decoded pixels, each counted at the size of the file's own samples but at least
//     4 bytes: 2^24 pixels at 8 bits a sample, 2^23 at 16-bit RGBA;
//   - at most 2^27 pixels produced over all passes (each pass counted at 4096 pixels or more): one
//     decoder passes over a progressive JPEG's whole picture after every scan (a 4K photo of 16 scans
//     is the most), one decodes each row of a TIFF's tiles again for every row of pixels, and one
//     decodes a GIF's frame again each time its input stops short (see GifFeedPiece);
//   - files of at most 64 MiB, JPEGs of at most 4096 segments, icons of at most 4096 images.
// Within it a decode took at most about a second and 300 MB here (release builds, Linux and Wine);
// beyond it, files of a few kilobytes took minutes or gigabytes.
//
// The reader trusts nothing it reads: every access is checked against the file's size, and products
// are taken in 64 bits, saturating. Where decoders may read a field differently it takes the costlier
// reading, so that a picture it lets through costs no decoder more than it promised.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexlan {

enum class ImageFormat : uint8_t { kNone, kPng, kJpeg, kGif, kBmp, kIco, kTiff };

inline constexpr uint64_t kMaxDecodedPixels = uint64_t{1} << 24;
inline constexpr uint64_t kMaxDecodedBytes = uint64_t{64} << 20;
inline constexpr uint64_t kMaxPixelPasses = uint64_t{1} << 27;
inline constexpr uint64_t kMaxImageFileBytes = uint64_t{64} << 20;

struct ImageHeader {
  ImageFormat format = ImageFormat::kNone;
  uint32_t width = 0;  // of the largest picture a decoder makes (a GIF's canvas, an icon's largest)
  uint32_t height = 0;
  uint32_t bits_per_pixel = 0;  // as the file's samples hold a pixel (the most, over an icon's images)
  uint32_t frames = 0;          // an icon's images; 1 otherwise (a GIF is decoded as its first frame)
  uint32_t scans = 0;           // a JPEG's scans; 1 otherwise
  uint64_t pixels = 0;          // width x height
  uint64_t decoded_bytes = 0;   // what decoders hold of the picture at once
  uint64_t pixel_passes = 0;    // the pixels decoders produce, counted once a pass
};

// The format that the first bytes announce: PNG, JPEG, GIF, BMP, ICO (icons, not cursors) or TIFF
// (classic, not BigTIFF); kNone for anything else.
ImageFormat SniffImageFormat(const uint8_t* data, size_t size);

// Reads the headers of a whole file held in memory. False when the format is none of the six, or the
// headers are cut short or describe no picture (a zero size, no frame, an unknown layout).
bool ReadImageHeader(const uint8_t* data, size_t size, ImageHeader* header);

bool WithinDecodeBound(const ImageHeader& header);

// ReadImageHeader and WithinDecodeBound: whether a decoder may be given this file.
bool MayDecodeImage(const uint8_t* data, size_t size, ImageHeader* header);

// Both platforms show a GIF's first frame; decoders are given only that. For a GIF that
// ReadImageHeader accepted, writes into `out` (room for `size` + kGifRewriteRoom bytes) the header, the
// colour table, the first frame's graphic control values, the frame with its data in full sub-blocks
// and a trailer; returns the bytes written, or 0 for anything else.
inline constexpr size_t kGifRewriteRoom = 16;
size_t RewriteGifFirstFrame(const uint8_t* data, size_t size, uint8_t* out);

// The size of the pieces in which gdk-pixbuf's incremental GIF loader is to be given a GIF. It decodes
// the first frame again each time its input stops inside the frame's data, and moves what is left of
// a piece along for every sub-block it reads: the piece grows with the canvas to balance the two.
size_t GifFeedPiece(const ImageHeader& header);

// gdk-pixbuf's name for the format's loader ("png", "jpeg", ...); nullptr for kNone.
const char* ImageFormatName(ImageFormat format);

}  // namespace vexlan
