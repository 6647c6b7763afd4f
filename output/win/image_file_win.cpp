// Image files on Windows: the file is read whole and its headers checked against the decode bound; GDI+
// then decodes those very bytes, from a stream over them.
//
// A picture whose pixels GDI+ holds as 24-bit RGB, 32-bit RGB or straight ARGB (every 8-bit-per-channel
// PNG or JPEG without premultiplied alpha) is stretched from GDI+'s own rows: locked in the format they
// are in, nothing is copied, and the nearest-neighbour stretch (output/stretch.h) reads only the rows
// and pixels it picks, which are those StretchBlt in COLORONCOLOR mode picks.
//
// Any other picture goes into a DIB section of its own size, and one StretchBlt in COLORONCOLOR mode
// places it on the picture surface. Sources whose pixel format GDI reads as it is (indexed, 16-bit 5-5-5
// or 5-6-5, 24- and 32-bit RGB, and straight ARGB) are copied row by row; the 5-6-5 DIB says so with
// bit-field masks. Premultiplied sources are copied as straight ARGB, which GDI+ converts them to. Every
// other source (48- and 64-bit, CMYK, or premultiplied when GDI+ will not convert its rows) is drawn by
// GDI+ into the DIB's own rows, pixel for pixel over the picture's size whatever resolution the file
// records, replacing what is there rather than blending, so that colours under transparency are kept as
// the row copy keeps them.
#include <windows.h>
// clang-format off
#include <objbase.h>
#include <objidl.h>
#include <gdiplus.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "output/image_file.h"
#include "output/image_header.h"
#include "output/stretch.h"
#include "output/win/draw_surface_win.h"
#include "platform/text_conversion.h"
#include "platform/win/read_file_win.h"
#include "output/win/image_file_win_testing.h"

namespace vexlan {
namespace {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

constexpr int kCachedDcs = 4;

// Process-wide: the decoder lock, the GDI+ token, the count of live decoded images, and the cache of
// spare memory DCs (atomic exchange only).
class DecoderState {
 public:
  DecoderState() {
    lock_ready_ = InitializeCriticalSectionAndSpinCount(&lock_, 0) != FALSE;
    for (auto& place : cache_) place.store(nullptr);
  }
  ~DecoderState() {
    for (auto& place : cache_)
      if (HDC dc = place.exchange(nullptr)) DeleteDC(dc);
    if (kept_dib_ != nullptr) DeleteObject(kept_dib_);
    if (kept_file_ != nullptr) GlobalFree(kept_file_);
    if (!lock_ready_) return;
    EnterCriticalSection(&lock_);
    if (token_ != 0) GdiplusShutdown(token_);
    token_ = 0;
    LeaveCriticalSection(&lock_);
    DeleteCriticalSection(&lock_);
  }
  DecoderState(const DecoderState&) = delete;
  DecoderState& operator=(const DecoderState&) = delete;

  bool StartGdiplus() {
    if (!lock_ready_) return false;
    EnterCriticalSection(&lock_);
    bool started = token_ != 0;
    if (!started) {
      GdiplusStartupInput input;
      input.GdiplusVersion = 1;
      input.DebugEventCallback = nullptr;
      input.SuppressBackgroundThread = FALSE;
      input.SuppressExternalCodecs = FALSE;
      ULONG_PTR token = 0;
      started = GdiplusStartup(&token, &input, nullptr) == Ok;
      if (started) token_ = token;
    }
    LeaveCriticalSection(&lock_);
    return started;
  }

  void ImageBorn() {
    if (!lock_ready_) return;
    EnterCriticalSection(&lock_);
    ++live_images_;
    LeaveCriticalSection(&lock_);
  }

  // GDI+ stays started only while a decoded image is alive.
  void ImageDied() {
    if (!lock_ready_) return;
    EnterCriticalSection(&lock_);
    if (--live_images_ == 0) {
      EnterCriticalSection(&lock_);
      if (token_ != 0) GdiplusShutdown(token_);
      token_ = 0;
      LeaveCriticalSection(&lock_);
    }
    LeaveCriticalSection(&lock_);
  }

  // One DIB is kept from the last picture, so that a picture of the same size and format as the last
  // one needs no new mapping: under a screen-sized picture, a fresh DIB's page faults cost more than a
  // tenth of the decode. Every row of a DIB taken is written again before it is read.
  HBITMAP TakeDib(const BITMAPINFOHEADER& wanted, void** bits) {
    if (!lock_ready_) return nullptr;
    EnterCriticalSection(&lock_);
    HBITMAP dib = nullptr;
    if (kept_dib_ != nullptr && kept_.biWidth == wanted.biWidth && kept_.biHeight == wanted.biHeight &&
        kept_.biBitCount == wanted.biBitCount && kept_.biCompression == wanted.biCompression) {
      dib = kept_dib_;
      *bits = kept_bits_;
      kept_dib_ = nullptr;
    }
    LeaveCriticalSection(&lock_);
    return dib;
  }

  // Keeps `dib` for the next picture when it is small enough and has no palette; else deletes it (and
  // whatever was kept before).
  void GiveBackDib(HBITMAP dib, const BITMAPINFOHEADER& header, void* bits) {
    if (dib == nullptr) return;
    const uint64_t bytes = static_cast<uint64_t>(header.biWidth) * header.biHeight * header.biBitCount / 8;
    if (!lock_ready_ || header.biBitCount <= 8 || bytes > kKeptDibBytes) {
      DeleteObject(dib);
      return;
    }
    EnterCriticalSection(&lock_);
    HBITMAP displaced = kept_dib_;
    kept_dib_ = dib;
    kept_ = header;
    kept_bits_ = bits;
    LeaveCriticalSection(&lock_);
    if (displaced != nullptr) DeleteObject(displaced);
  }

  // One block of file memory is kept from the last file, so that a file no larger than the last one needs
  // no fresh memory: under a large file, a fresh block's page faults cost a twentieth of the decode.
  // Whatever the block holds beyond the bytes read is never shown to a decoder. Nullptr if none can be had.
  HGLOBAL TakeFileBlock(size_t bytes) {
    HGLOBAL block = nullptr;
    if (lock_ready_) {
      EnterCriticalSection(&lock_);
      if (kept_file_ != nullptr && GlobalSize(kept_file_) >= bytes) {
        block = kept_file_;
        kept_file_ = nullptr;
      }
      LeaveCriticalSection(&lock_);
    }
    return block != nullptr ? block : GlobalAlloc(GMEM_MOVEABLE, bytes);
  }

  // Keeps `block` for the next file when it is small enough; else frees it (and whatever was kept before).
  void GiveBackFileBlock(HGLOBAL block) {
    if (block == nullptr) return;
    if (!lock_ready_ || GlobalSize(block) > kKeptFileBytes) {
      GlobalFree(block);
      return;
    }
    EnterCriticalSection(&lock_);
    HGLOBAL displaced = kept_file_;
    kept_file_ = block;
    LeaveCriticalSection(&lock_);
    if (displaced != nullptr) GlobalFree(displaced);
  }

  HDC TakeDc() {
    for (auto& place : cache_)
      if (HDC dc = place.exchange(nullptr)) return dc;
    return CreateCompatibleDC(nullptr);
  }

  // The DC given back goes to place 0; whatever it displaces moves down; one falling out of place 3 is deleted.
  void GiveBackDc(HDC dc) {
    for (auto& place : cache_) {
      dc = place.exchange(dc);
      if (dc == nullptr) return;
    }
    DeleteDC(dc);
  }

 private:
  CRITICAL_SECTION lock_;
  bool lock_ready_ = false;
  ULONG_PTR token_ = 0;
  int32_t live_images_ = 0;
  std::atomic<HDC> cache_[kCachedDcs];
  static constexpr uint64_t kKeptDibBytes = 16u << 20;
  HBITMAP kept_dib_ = nullptr;  // guarded by lock_
  BITMAPINFOHEADER kept_{};
  void* kept_bits_ = nullptr;
  static constexpr size_t kKeptFileBytes = 16u << 20;
  HGLOBAL kept_file_ = nullptr;  // guarded by lock_
};

DecoderState& Decoder() {
  static DecoderState state;
  return state;
}

struct DibHeader {
  BITMAPINFOHEADER header;
  RGBQUAD colors[256];
};

class Bitmap {
 public:
  ~Bitmap() {
    if (image_ != nullptr) GdipDisposeImage(image_);
  }
  GpBitmap** out() { return &image_; }
  GpBitmap* get() const { return image_; }

 private:
  GpBitmap* image_ = nullptr;
};

struct DecodedImage {
  HBITMAP dib = nullptr;
  BITMAPINFOHEADER header{};
  void* bits = nullptr;
  UINT width = 0;
  UINT height = 0;
};

bool InstallPalette(GpBitmap* source, HBITMAP dib, HRESULT* failure) {
  INT size = 0;
  GdipGetImagePaletteSize(source, &size);
  if (size < static_cast<INT>(sizeof(ColorPalette))) size = sizeof(ColorPalette);
  auto* palette = static_cast<ColorPalette*>(std::calloc(1, static_cast<size_t>(size)));
  if (palette == nullptr) {
    *failure = E_OUTOFMEMORY;
    return false;
  }
  GdipGetImagePalette(source, palette, size);
  const UINT count = palette->Count;
  const size_t room = (static_cast<size_t>(size) - offsetof(ColorPalette, Entries)) / sizeof(ARGB);
  if (count < 1 || count > 256 || count > room) {
    std::free(palette);
    return false;
  }
  RGBQUAD entries[256];
  for (UINT i = 0; i < count; ++i) {
    const ARGB argb = palette->Entries[i];
    entries[i] = RGBQUAD{static_cast<BYTE>(argb), static_cast<BYTE>(argb >> 8), static_cast<BYTE>(argb >> 16), 0};
  }
  std::free(palette);
  HDC dc = Decoder().TakeDc();
  HGDIOBJ previous = SelectObject(dc, dib);
  SetDIBColorTable(dc, 0, count, entries);
  SelectObject(dc, previous);
  Decoder().GiveBackDc(dc);
  return true;
}

// The picture in a DIB of its own size, in a format that GDI reads.
HRESULT DecodeBitmap(GpBitmap* source, PixelFormat format, UINT width, UINT height, DecodedImage* decoded) {
  PixelFormat chosen = PixelFormat32bppRGB;
  UINT bit_count = 32;
  if (format & PixelFormatGDI) {
    chosen = format;
    bit_count = (format >> 8) & 0xFF;
  }
  if (format & PixelFormatAlpha) {
    chosen = PixelFormat32bppARGB;
    bit_count = 32;
  }

  DibHeader info;
  std::memset(&info, 0, sizeof info);
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = static_cast<LONG>(width);
  info.header.biHeight = static_cast<LONG>(height);
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(bit_count);
  info.header.biCompression = BI_RGB;
  if (chosen == PixelFormat16bppRGB565) {
    // Without masks GDI reads 16-bit rows as 5-5-5.
    const DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
    info.header.biCompression = BI_BITFIELDS;
    std::memcpy(info.colors, masks, sizeof masks);
  }
  void* bits = nullptr;
  HBITMAP dib = Decoder().TakeDib(info.header, &bits);
  if (dib == nullptr)
    dib = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dib == nullptr || bits == nullptr) {
    if (dib != nullptr) DeleteObject(dib);
    return E_FAIL;
  }

  HRESULT failure = E_FAIL;
  if ((format & PixelFormatIndexed) && !InstallPalette(source, dib, &failure)) {
    DeleteObject(dib);
    return failure;
  }

  const INT pitch = static_cast<INT>(((width * bit_count + 31) / 32) * 4);
  BYTE* top_row = static_cast<BYTE*>(bits) + static_cast<size_t>(pitch) * (height - 1);
  bool copied = false;
  // Premultiplied sources are read as straight ARGB too: GDI+ divides the alpha out as it hands the rows
  // over. (Drawn instead, GDI+ under Wine stores them still premultiplied, darkening what is translucent.)
  if (format == chosen || (format & PixelFormatPAlpha)) {
    BitmapData data;
    GpRect rect(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    // GDI+ writes the rows straight into the DIB's own (a buffer of the caller's, top row first), rather
    // than into one of its own that would then be copied.
    data.Width = width;
    data.Height = height;
    data.Stride = -pitch;
    data.PixelFormat = chosen;
    data.Scan0 = top_row;
    data.Reserved = 0;
    if (GdipBitmapLockBits(source, &rect, ImageLockModeRead | ImageLockModeUserInputBuf, chosen, &data) == Ok) {
      GdipBitmapUnlockBits(source, &data);
      copied = true;
    } else if (format == chosen) {
      DeleteObject(dib);
      return E_OUTOFMEMORY;
    }
  }
  if (!copied) {
    // Let GDI+ convert: draw the source onto a bitmap that wraps the DIB's own rows, top row first. The
    // rectangle is the picture's size in pixels (a plain draw would scale it by the file's resolution),
    // each source pixel lands on one pixel and replaces what is there instead of blending with it.
    GpBitmap* wrapper = nullptr;
    GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), -pitch, chosen, top_row, &wrapper);
    GpGraphics* graphics = nullptr;
    if (wrapper != nullptr) GdipGetImageGraphicsContext(wrapper, &graphics);
    if (graphics != nullptr) {
      GdipSetCompositingMode(graphics, CompositingModeSourceCopy);
      GdipSetInterpolationMode(graphics, InterpolationModeNearestNeighbor);
      GdipSetPixelOffsetMode(graphics, PixelOffsetModeHalf);
      GdipDrawImageRectI(graphics, source, 0, 0, static_cast<INT>(width), static_cast<INT>(height));
      GdipDeleteGraphics(graphics);
    }
    if (wrapper != nullptr) GdipDisposeImage(wrapper);
  }
  decoded->dib = dib;
  decoded->header = info.header;
  decoded->bits = bits;
  decoded->width = width;
  decoded->height = height;
  return S_OK;
}

// A regular file's bytes, at most kMaxImageFileBytes of them, in movable global memory that a stream
// can read; the block may be larger than the file.
class FileBytes {
 public:
  explicit FileBytes(const WideChar* file_name) {
    uint8_t* bytes = nullptr;
    const std::optional<size_t> got =
        platform::ReadRegularFile(file_name, kMaxImageFileBytes, [this, &bytes](size_t expected) {
          memory_ = Decoder().TakeFileBlock(expected != 0 ? expected : 1);
          bytes = memory_ != nullptr ? static_cast<uint8_t*>(GlobalLock(memory_)) : nullptr;
          return bytes;
        });
    if (bytes != nullptr) GlobalUnlock(memory_);
    if (got)
      size_ = *got;
    else {
      Decoder().GiveBackFileBlock(memory_);
      memory_ = nullptr;
    }
  }
  // Every stream over the bytes must be released first.
  ~FileBytes() { Decoder().GiveBackFileBlock(memory_); }
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  bool ok() const { return memory_ != nullptr; }
  size_t size() const { return size_; }

  // Whether a decoder may be given these bytes.
  bool MayDecode(ImageHeader* header) const {
    const auto* bytes = static_cast<const uint8_t*>(GlobalLock(memory_));
    if (bytes == nullptr) return false;
    const bool may = MayDecodeImage(bytes, size_, header);
    GlobalUnlock(memory_);
    return may;
  }

  // A GIF as decoders are given it: its first frame alone.
  bool KeepFirstGifFrame() {
    HGLOBAL rewritten = GlobalAlloc(GMEM_MOVEABLE, size_ + kGifRewriteRoom);
    auto* to = rewritten != nullptr ? static_cast<uint8_t*>(GlobalLock(rewritten)) : nullptr;
    const auto* from = to != nullptr ? static_cast<const uint8_t*>(GlobalLock(memory_)) : nullptr;
    const size_t written = from != nullptr ? RewriteGifFirstFrame(from, size_, to) : 0;
    if (from != nullptr) GlobalUnlock(memory_);
    if (to != nullptr) GlobalUnlock(rewritten);
    if (written == 0) {
      if (rewritten != nullptr) GlobalFree(rewritten);
      return false;
    }
    Decoder().GiveBackFileBlock(memory_);
    memory_ = rewritten;
    size_ = written;
    return true;
  }

  // A stream over exactly the bytes read, which leaves the memory to this object; nullptr if none can be
  // made.
  IStream* NewStream() {
    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(memory_, FALSE, &stream) != S_OK || stream == nullptr) return nullptr;
    ULARGE_INTEGER length;
    length.QuadPart = size_;
    if (stream->SetSize(length) != S_OK) {  // the block may be larger than the file
      stream->Release();
      return nullptr;
    }
    return stream;
  }

 private:
  HGLOBAL memory_ = nullptr;
  size_t size_ = 0;
};

class Stream {
 public:
  explicit Stream(IStream* stream) : stream_(stream) {}
  ~Stream() {
    if (stream_ != nullptr) stream_->Release();
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  IStream* get() const { return stream_; }

 private:
  IStream* stream_;
};

// The whole decoded picture onto the whole surface.
void Stretch(DrawSurface* target, const DecodedImage& image) {
  DecoderState& decoder = Decoder();
  const int previous_mode = SetStretchBltMode(target->dc, COLORONCOLOR);
  HDC source_dc = decoder.TakeDc();
  if (source_dc != nullptr) {
    HGDIOBJ previous = SelectObject(source_dc, image.dib);
    StretchBlt(target->dc, 0, 0, target->width, target->height, source_dc, 0, 0, static_cast<int>(image.width),
               static_cast<int>(image.height), SRCCOPY);
    SelectObject(source_dc, previous);
    decoder.GiveBackDc(source_dc);
  }
  SetStretchBltMode(target->dc, previous_mode);
}

// Bytes a pixel of the GDI+ formats whose rows the stretch reads as they are (blue, green, red first; a
// fourth byte, alpha or unused, is ignored as StretchBlt ignores it), or 0.
int32_t StretchableChannels(PixelFormat format) {
  switch (format) {
    case PixelFormat24bppRGB:
      return 3;
    case PixelFormat32bppRGB:
    case PixelFormat32bppARGB:
      return 4;
    default:
      return 0;
  }
}

// The whole picture onto the whole target straight from GDI+'s own rows, locked in their own format so
// that nothing is converted or copied. False, with nothing drawn, when the format or the target does not
// allow it or GDI+ will not lock the rows.
bool StretchFromOwnRows(DrawSurface* target, GpBitmap* source, PixelFormat format, UINT width, UINT height) {
  const int32_t channels = StretchableChannels(format);
  if (channels == 0 || target->bgr_rows == nullptr) return false;
  RowStretch stretch(static_cast<int32_t>(width), static_cast<int32_t>(height), channels, target->bgr_rows,
                     target->width, target->height, SourceOrder::kBgr);
  if (!stretch.ok()) return false;
  BitmapData data;
  GpRect rect(0, 0, static_cast<INT>(width), static_cast<INT>(height));
  if (GdipBitmapLockBits(source, &rect, ImageLockModeRead, format, &data) != Ok) return false;
  GdiFlush();  // drawing batched for the target lands before its rows are written
  const auto* top_row = static_cast<const uint8_t*>(data.Scan0);
  for (int32_t y = 0; y < static_cast<int32_t>(height); ++y)
    if (stretch.Wanted(y)) stretch.Place(y, top_row + static_cast<int64_t>(y) * data.Stride);
  GdipBitmapUnlockBits(source, &data);
  return true;
}

// The whole of `source` onto the whole target. `max_pixels`: what the file's headers promised; GDI+
// reading more than that is not drawn.
void DrawBitmap(DrawSurface* target, GpBitmap* source, uint64_t max_pixels) {
  PixelFormat format = 0;
  UINT width = 0;
  UINT height = 0;
  GdipGetImagePixelFormat(source, &format);
  GdipGetImageHeight(source, &height);
  GdipGetImageWidth(source, &width);
  if (width == 0 || height == 0 || uint64_t{width} * height > std::min(max_pixels, kMaxDecodedPixels)) return;
  if (StretchFromOwnRows(target, source, format, width, height)) return;
  DecodedImage image;
  if (SUCCEEDED(DecodeBitmap(source, format, width, height, &image))) Stretch(target, image);
  Decoder().GiveBackDib(image.dib, image.header, image.bits);
}

void DrawFile(DrawSurface* target, const WideChar* file_name) {
  FileBytes file(file_name);
  ImageHeader header;
  if (!file.ok() || !file.MayDecode(&header)) return;
  if (header.format == ImageFormat::kGif && !file.KeepFirstGifFrame()) return;
  const Stream stream(file.NewStream());
  if (stream.get() == nullptr || !Decoder().StartGdiplus()) return;
  Bitmap source;  // disposed before the stream it reads is released
  if (GdipCreateBitmapFromStream(stream.get(), source.out()) == Ok) DrawBitmap(target, source.get(), header.pixels);
}

}  // namespace

void ImageDecoderSetUp() { Decoder(); }

void DrawImageFile(DrawSurface* target, const WideChar* file_name) {
  DecoderState& decoder = Decoder();
  decoder.ImageBorn();
  if (target != nullptr && file_name != nullptr) DrawFile(target, file_name);
  decoder.ImageDied();
}

namespace {

// The picture as straight RGBA: GDI+ hands the rows over as 32-bit ARGB (B, G, R, A in memory) into
// the picture's own buffer, or, where it will not convert so, draws the picture into a bitmap over it.
bool ReadArgb(GpBitmap* source, uint64_t max_pixels, Picture* out) {
  UINT width = 0, height = 0;
  GdipGetImageHeight(source, &height);
  GdipGetImageWidth(source, &width);
  if (width == 0 || height == 0 || uint64_t{width} * height > std::min(max_pixels, kMaxDecodedPixels)) return false;
  out->width = static_cast<int32_t>(width);
  out->height = static_cast<int32_t>(height);
  out->rgba.assign(size_t{width} * height * 4, 0);
  const INT stride = static_cast<INT>(width * 4);
  BitmapData data;
  GpRect rect(0, 0, static_cast<INT>(width), static_cast<INT>(height));
  data.Width = width;
  data.Height = height;
  data.Stride = stride;
  data.PixelFormat = PixelFormat32bppARGB;
  data.Scan0 = out->rgba.data();
  data.Reserved = 0;
  if (GdipBitmapLockBits(source, &rect, ImageLockModeRead | ImageLockModeUserInputBuf, PixelFormat32bppARGB, &data) ==
      Ok) {
    GdipBitmapUnlockBits(source, &data);
  } else {
    GpBitmap* wrapper = nullptr;
    GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), stride, PixelFormat32bppARGB,
                              out->rgba.data(), &wrapper);
    GpGraphics* graphics = nullptr;
    if (wrapper != nullptr) GdipGetImageGraphicsContext(wrapper, &graphics);
    if (graphics == nullptr) {
      if (wrapper != nullptr) GdipDisposeImage(wrapper);
      return false;
    }
    GdipSetCompositingMode(graphics, CompositingModeSourceCopy);
    GdipSetInterpolationMode(graphics, InterpolationModeNearestNeighbor);
    GdipSetPixelOffsetMode(graphics, PixelOffsetModeHalf);
    GdipDrawImageRectI(graphics, source, 0, 0, static_cast<INT>(width), static_cast<INT>(height));
    GdipDeleteGraphics(graphics);
    GdipDisposeImage(wrapper);
  }
  for (size_t i = 0; i < out->rgba.size(); i += 4) std::swap(out->rgba[i], out->rgba[i + 2]);  // BGRA to RGBA
  return true;
}

}  // namespace

bool DecodePicture(const char* file_name, Picture* picture) {
  if (file_name == nullptr) return false;
  std::u16string wide(MAX_PATH * 8, u'\0');
  if (platform::MultiByteToWide(file_name, wide.data(), wide.size()) == 0) return false;
  DecoderState& decoder = Decoder();
  decoder.ImageBorn();
  bool ok = false;
  {
    FileBytes file(wide.c_str());
    ImageHeader header;
    if (file.ok() && file.MayDecode(&header) && (header.format != ImageFormat::kGif || file.KeepFirstGifFrame())) {
      const Stream stream(file.NewStream());
      if (stream.get() != nullptr && decoder.StartGdiplus()) {
        Bitmap source;
        if (GdipCreateBitmapFromStream(stream.get(), source.out()) == Ok)
          ok = ReadArgb(source.get(), header.pixels, picture);
      }
    }
  }
  decoder.ImageDied();
  return ok;
}

void DrawGdiplusBitmap(DrawSurface* target, GpBitmap* picture) {
  if (target != nullptr && picture != nullptr) DrawBitmap(target, picture, kMaxDecodedPixels);
}

}  // namespace vexlan
