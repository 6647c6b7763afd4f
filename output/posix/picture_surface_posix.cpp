// The picture surface on POSIX systems: a plain bottom-up BGR buffer with the layout of a 24-bit DIB.
#include <cstdlib>
#include <cstring>
#include <new>

#include "output/picture_surface.h"
#include "output/posix/draw_surface_posix.h"
#include "platform/mutex.h"

namespace vexlan {

struct PictureSurface::Parts {
  platform::Mutex lock;
  int32_t byte_size = 0;
  uint8_t* pixels = nullptr;
  uint8_t* copy = nullptr;
  DrawSurface surface{};
  ~Parts() {
    std::free(pixels);
    std::free(copy);
  }
};

PictureSurface::PictureSurface(int32_t width, int32_t height, uint16_t bit_count) : parts_(new (std::nothrow) Parts) {
  if (!parts_) return;
  parts_->byte_size = SurfaceByteSize(width, height, bit_count);
  if (parts_->byte_size <= 0) return;
  parts_->pixels = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(parts_->byte_size), 1));
  parts_->copy = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(parts_->byte_size), 1));
  parts_->surface = DrawSurface{parts_->pixels, width, height};
}

PictureSurface::~PictureSurface() = default;

bool PictureSurface::ok() const { return parts_ && parts_->pixels != nullptr && parts_->copy != nullptr; }

DrawSurface* PictureSurface::BeginDraw() { return ok() ? &parts_->surface : nullptr; }

void PictureSurface::EndDraw() {
  if (!parts_) return;
  platform::MutexLock lock(parts_->lock);
  if (parts_->pixels != nullptr && parts_->copy != nullptr)
    std::memcpy(parts_->copy, parts_->pixels, static_cast<size_t>(parts_->byte_size));
}

const uint8_t* PictureSurface::copy_buffer() const { return parts_ ? parts_->copy : nullptr; }
int32_t PictureSurface::byte_size() const { return parts_ ? parts_->byte_size : 0; }

}  // namespace vexlan
