// Image files on POSIX systems: the file is read whole, its headers checked against the decode bound,
// and gdk-pixbuf decodes it with the loader of the format its first bytes announce (gdk-pixbuf's own
// guess, which weighs the file's name and text anywhere in its start, never chooses; its loaders for
// other formats are never used). The shared nearest-neighbour stretch places the whole picture. A JPEG of
// one sequential scan is decoded row by row instead (output/posix/jpeg_rows_posix.h), to the same image.
#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "output/image_file.h"
#include "output/image_header.h"
#include "output/posix/draw_surface_posix.h"
#include "output/posix/jpeg_rows_posix.h"
#include "output/stretch.h"
#include "platform/text_conversion.h"

namespace vexlan {
namespace {

// A regular file's bytes, if it has at most kMaxImageFileBytes of them.
class FileBytes {
 public:
  explicit FileBytes(const std::string& path) {
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (file < 0) return;
    struct stat status;
    if (fstat(file, &status) == 0 && S_ISREG(status.st_mode) && status.st_size >= 0 &&
        static_cast<uint64_t>(status.st_size) <= kMaxImageFileBytes) {
      Read(file, static_cast<size_t>(status.st_size));
    }
    close(file);
  }
  ~FileBytes() { std::free(data_); }
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  bool ok() const { return ok_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

  // A GIF as decoders are given it: its first frame alone.
  bool KeepFirstGifFrame() {
    auto* rewritten = static_cast<uint8_t*>(std::malloc(size_ + kGifRewriteRoom));
    const size_t written = rewritten != nullptr ? RewriteGifFirstFrame(data_, size_, rewritten) : 0;
    if (written == 0) {
      std::free(rewritten);
      return false;
    }
    std::free(data_);
    data_ = rewritten;
    size_ = written;
    return true;
  }

 private:
  // A file that grows meanwhile is read up to the size it had; one that shrinks, to its end.
  void Read(int file, size_t expected) {
    data_ = static_cast<uint8_t*>(std::malloc(expected != 0 ? expected : 1));
    if (data_ == nullptr) return;
    while (size_ < expected) {
      const ssize_t got = read(file, data_ + size_, expected - size_);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return;
      if (got == 0) break;
      size_ += static_cast<size_t>(got);
    }
    ok_ = true;
  }

  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool ok_ = false;
};

// The loader announces the picture's size before it allocates for it. A size beyond what the headers
// promised means the loader reads the file otherwise than the header reader did: it is stopped there
// (a zero size makes every loader give up).
void CheckAnnouncedSize(GdkPixbufLoader* loader, int width, int height, gpointer promised) {
  if (!AnnouncedAsPromised(width, height, *static_cast<const ImageHeader*>(promised)))
    gdk_pixbuf_loader_set_size(loader, 0, 0);
}

// The decoded picture, owned by its loader; nullptr when the file cannot be decoded.
class Decoded {
 public:
  Decoded(const FileBytes& file, const ImageHeader& header) : header_(header) {
    GError* error = nullptr;
    loader_ = gdk_pixbuf_loader_new_with_type(ImageFormatName(header.format), &error);
    if (loader_ == nullptr) {
      g_clear_error(&error);
      return;
    }
    g_signal_connect(loader_, "size-prepared", G_CALLBACK(CheckAnnouncedSize), &header_);
    // Every loader but the GIF one takes the file in one piece at no extra cost.
    const size_t piece = header.format == ImageFormat::kGif ? GifFeedPiece(header) : file.size();
    bool ok = true;
    for (size_t at = 0; ok && at < file.size(); at += piece)
      ok = gdk_pixbuf_loader_write(loader_, file.data() + at, std::min(piece, file.size() - at), &error);
    g_clear_error(&error);
    ok = gdk_pixbuf_loader_close(loader_, &error) && ok;  // after a failed write: already closed, true
    g_clear_error(&error);
    if (ok) picture_ = gdk_pixbuf_loader_get_pixbuf(loader_);
  }
  ~Decoded() {
    if (loader_ != nullptr) g_object_unref(loader_);
  }
  Decoded(const Decoded&) = delete;
  Decoded& operator=(const Decoded&) = delete;

  GdkPixbuf* picture() const { return picture_; }

 private:
  ImageHeader header_;
  GdkPixbufLoader* loader_ = nullptr;
  GdkPixbuf* picture_ = nullptr;
};

}  // namespace

void ImageDecoderSetUp() {}

void DrawImageFile(DrawSurface* target, const WideChar* file_name) {
  if (target == nullptr || file_name == nullptr) return;
  FileBytes file(platform::NarrowFileName(file_name));
  ImageHeader header;
  if (!file.ok() || !MayDecodeImage(file.data(), file.size(), &header)) return;
  if (header.format == ImageFormat::kGif && !file.KeepFirstGifFrame()) return;
  if (header.format == ImageFormat::kJpeg &&
      DrawSequentialJpeg(file.data(), file.size(), header, target) != JpegRows::kNotSequential)
    return;
  const Decoded decoded(file, header);
  GdkPixbuf* picture = decoded.picture();
  if (picture != nullptr && gdk_pixbuf_get_colorspace(picture) == GDK_COLORSPACE_RGB &&
      gdk_pixbuf_get_bits_per_sample(picture) == 8 && gdk_pixbuf_get_n_channels(picture) >= 3) {
    StretchToDeviceLayout(gdk_pixbuf_read_pixels(picture), gdk_pixbuf_get_width(picture),
                          gdk_pixbuf_get_height(picture), gdk_pixbuf_get_rowstride(picture),
                          gdk_pixbuf_get_n_channels(picture), target->pixels, target->width, target->height);
  }
}

bool DecodePicture(const char* file_name, Picture* out) {
  if (file_name == nullptr) return false;
  FileBytes file(file_name);
  ImageHeader header;
  if (!file.ok() || !MayDecodeImage(file.data(), file.size(), &header)) return false;
  if (header.format == ImageFormat::kGif && !file.KeepFirstGifFrame()) return false;
  const Decoded decoded(file, header);
  GdkPixbuf* picture = decoded.picture();
  if (picture == nullptr || gdk_pixbuf_get_colorspace(picture) != GDK_COLORSPACE_RGB ||
      gdk_pixbuf_get_bits_per_sample(picture) != 8 || gdk_pixbuf_get_n_channels(picture) < 3)
    return false;
  const int width = gdk_pixbuf_get_width(picture), height = gdk_pixbuf_get_height(picture);
  const int stride = gdk_pixbuf_get_rowstride(picture), channels = gdk_pixbuf_get_n_channels(picture);
  const bool alpha = gdk_pixbuf_get_has_alpha(picture) && channels >= 4;
  if (width <= 0 || height <= 0 || uint64_t(width) * uint64_t(height) > header.pixels) return false;
  const uint8_t* pixels = gdk_pixbuf_read_pixels(picture);
  out->width = width;
  out->height = height;
  out->rgba.resize(size_t(width) * size_t(height) * 4);
  for (int y = 0; y < height; ++y) {
    const uint8_t* from = pixels + size_t(y) * size_t(stride);
    uint8_t* to = out->rgba.data() + size_t(y) * size_t(width) * 4;
    for (int x = 0; x < width; ++x, from += channels, to += 4)
      to[0] = from[0], to[1] = from[1], to[2] = from[2], to[3] = alpha ? from[3] : 255;
  }
  return true;
}

}  // namespace vexlan
