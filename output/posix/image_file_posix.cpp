// Image files on POSIX systems: gdk-pixbuf decodes (BMP, GIF, ICO, JPEG, PNG, TIFF, ...), and the shared
// nearest-neighbour stretch places the whole picture on the canvas.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <string>

#include "output/image_file.h"
#include "output/posix/draw_surface_posix.h"
#include "output/stretch.h"
#include "platform/text_conversion.h"

namespace vexlan {

void ImageDecoderSetUp() {}

void DrawImageFile(DrawSurface* target, const WideChar* file_name) {
  if (target == nullptr || file_name == nullptr) return;
  const std::string path = platform::NarrowFileName(file_name);
  int width = 0;
  int height = 0;
  if (gdk_pixbuf_get_file_info(path.c_str(), &width, &height) == nullptr || width <= 0 || height <= 0 ||
      static_cast<int64_t>(width) * height > kMaxDecodedPixels) {
    return;
  }
  GError* error = nullptr;
  GdkPixbuf* picture = gdk_pixbuf_new_from_file(path.c_str(), &error);
  if (picture == nullptr) {
    g_clear_error(&error);
    return;
  }
  if (gdk_pixbuf_get_colorspace(picture) == GDK_COLORSPACE_RGB && gdk_pixbuf_get_bits_per_sample(picture) == 8 &&
      gdk_pixbuf_get_n_channels(picture) >= 3) {
    StretchToDeviceLayout(gdk_pixbuf_read_pixels(picture), gdk_pixbuf_get_width(picture),
                          gdk_pixbuf_get_height(picture), gdk_pixbuf_get_rowstride(picture),
                          gdk_pixbuf_get_n_channels(picture), target->pixels, target->width, target->height);
  }
  g_object_unref(picture);
}

}  // namespace vexlan
