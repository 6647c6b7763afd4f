// The 320x240, 24-bit off-screen drawing surface that image files are drawn onto. Its pixel memory is
// laid out as a device image; EndDraw copies it, under the surface lock, into the copy buffer. The copy
// (one memcpy of the picture) is kept although each call draws on a surface of its own, so that what is
// sent is never memory that the platform's drawing still writes into.
//
// Windows: a GDI DIB section selected into a memory DC, drawn on with GDI.
// POSIX: a plain bottom-up BGR buffer with the same layout.
// Contract: create; any number of BeginDraw ... EndDraw pairs (drawing only through the surface that
// BeginDraw returns); reads of copy_buffer() after EndDraw; destroy. ok() is false when a part could not
// be created; such a surface is never drawn on and its copy buffer is not to be sent.
#pragma once

#include <cstdint>
#include <memory>

namespace vexlan {

struct DrawSurface;  // the platform's drawing target (an HDC on Windows)

class PictureSurface {
 public:
  PictureSurface(int32_t width, int32_t height, uint16_t bit_count);
  ~PictureSurface();
  PictureSurface(const PictureSurface&) = delete;
  PictureSurface& operator=(const PictureSurface&) = delete;

  bool ok() const;
  DrawSurface* BeginDraw();
  void EndDraw();
  const uint8_t* copy_buffer() const;
  int32_t byte_size() const;

  struct Parts;

 private:
  std::unique_ptr<Parts> parts_;
};

// width x bit count x height / 8 in 32-bit arithmetic; no row padding.
inline int32_t SurfaceByteSize(int32_t width, int32_t height, uint16_t bit_count) {
  return width * static_cast<int32_t>(bit_count) * height / 8;
}

}  // namespace vexlan
