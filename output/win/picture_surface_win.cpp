// The picture surface on Windows: a 24-bit DIB section selected into a memory DC, with a copy buffer guarded by
// its own mutex.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "output/picture_surface.h"
#include "output/win/draw_surface_win.h"
#include "platform/mutex.h"

namespace vexlan {

struct PictureSurface::Parts {
  platform::Mutex lock;
  HDC memory_dc = nullptr;
  HBITMAP dib = nullptr;
  HGDIOBJ saved_selection = nullptr;
  BITMAPINFO info{};
  void* pixels = nullptr;
  uint8_t* copy = nullptr;
  int32_t byte_size = 0;
  DrawSurface surface{};

  ~Parts() {
    if (dib != nullptr) DeleteObject(dib);
    if (memory_dc != nullptr) DeleteDC(memory_dc);
    std::free(copy);
  }
};

PictureSurface::PictureSurface(int32_t width, int32_t height, uint16_t bit_count) : parts_(new (std::nothrow) Parts) {
  if (!parts_) return;
  Parts& p = *parts_;
  p.memory_dc = CreateCompatibleDC(nullptr);
  p.byte_size = SurfaceByteSize(width, height, bit_count);
  std::memset(&p.info, 0, sizeof p.info);
  BITMAPINFOHEADER& header = p.info.bmiHeader;
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = width;
  header.biHeight = height;  // positive: bottom-up rows, the device image's order
  header.biPlanes = 1;
  header.biBitCount = bit_count;
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWORD>(p.byte_size);
  header.biXPelsPerMeter = 3200;
  header.biYPelsPerMeter = 3200;
  p.dib = CreateDIBSection(p.memory_dc, &p.info, DIB_RGB_COLORS, &p.pixels, nullptr, 0);
  if (p.dib == nullptr) p.pixels = nullptr;
  if (p.pixels != nullptr && p.byte_size > 0) std::memset(p.pixels, 0, static_cast<size_t>(p.byte_size));
  if (p.byte_size > 0) p.copy = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(p.byte_size), 1));
  const bool unpadded_bgr = bit_count == 24 && width % 4 == 0;
  p.surface = DrawSurface{p.memory_dc, width, height, unpadded_bgr ? static_cast<uint8_t*>(p.pixels) : nullptr};
}

PictureSurface::~PictureSurface() = default;

bool PictureSurface::ok() const {
  return parts_ && parts_->memory_dc != nullptr && parts_->dib != nullptr && parts_->pixels != nullptr &&
         parts_->copy != nullptr;
}

DrawSurface* PictureSurface::BeginDraw() {
  if (!ok()) return nullptr;
  parts_->saved_selection = SelectObject(parts_->memory_dc, parts_->dib);
  return &parts_->surface;
}

void PictureSurface::EndDraw() {
  if (!parts_) return;
  Parts& p = *parts_;
  GdiFlush();  // batched GDI drawing reaches the pixels before they are copied
  if (p.memory_dc != nullptr && p.saved_selection != nullptr) SelectObject(p.memory_dc, p.saved_selection);
  p.saved_selection = nullptr;
  platform::MutexLock lock(p.lock);
  if (p.copy != nullptr && p.pixels != nullptr) std::memcpy(p.copy, p.pixels, static_cast<size_t>(p.byte_size));
}

const uint8_t* PictureSurface::copy_buffer() const { return parts_ ? parts_->copy : nullptr; }
int32_t PictureSurface::byte_size() const { return parts_ ? parts_->byte_size : 0; }

}  // namespace vexlan
