// Image files on POSIX systems: gdk-pixbuf decodes (BMP, GIF, ICO, JPEG, PNG, TIFF, ...), and the shared
// nearest-neighbour stretch places the whole picture on the canvas.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <climits>
#include <cwchar>
#include <string>

#include "output/image_file.h"
#include "output/posix/draw_surface_posix.h"
#include "output/stretch.h"

namespace vexlan {
namespace {

// The file name back in the host's multibyte form: the inverse of the conversion that made it, so that
// the bytes a script passed are the bytes opened, in the C locale too.
std::string NarrowFileName(const WideChar* name) {
  std::string out;
  std::mbstate_t state{};
  char scratch[MB_LEN_MAX];
  for (const WideChar* at = name; *at != 0; ++at) {
    char32_t code = *at;
    if (code >= 0xD800 && code < 0xDC00 && at[1] >= 0xDC00 && at[1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (at[1] - 0xDC00);
      ++at;
    }
    const size_t length = std::wcrtomb(scratch, static_cast<wchar_t>(code), &state);
    if (length != static_cast<size_t>(-1)) {
      out.append(scratch, length);
    } else {
      state = std::mbstate_t{};
      out.push_back(static_cast<char>(code & 0xFF));  // the C locale's byte-for-unit rule, reversed
    }
  }
  return out;
}

}  // namespace

void ImageDecoderSetUp() {}

void DrawImageFile(DrawSurface* target, const WideChar* file_name) {
  if (target == nullptr || file_name == nullptr) return;
  const std::string path = NarrowFileName(file_name);
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
