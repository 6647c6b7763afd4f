// libFuzzer target over image files on the resized path. Each input is written to a file and drawn as
// SetImageFromFile(..., true) draws it: a 320x240 picture surface at 24 bits, DrawImageFile with the wide file
// name, EndDraw, and the copy buffer read whole. The header reader, the GIF rewrite and whichever
// gdk-pixbuf loader they let through all run on the input; the time and memory limits that ctest passes
// catch a picture that costs more than its headers promised.
//
// Invariants, beyond the sanitizers': a file the header reader refuses leaves the surface black; a file
// it accepts stays within the decode bound; a GIF's rewrite is no larger than promised and reads back
// as the same picture. (A decoder announcing a larger picture than the headers promised stops the
// debugging build in output/posix/image_file_posix.cpp.)
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "output/picture_format.h"
#include "output/picture_surface.h"
#include "output/image_file.h"
#include "output/image_header.h"
#include "output/wide_text.h"

namespace {

using namespace vexlan;

std::string path;
WideChar* wide_path = nullptr;

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "broken invariant: %s\n", what);
  std::abort();
}

void RemoveFile() { unlink(path.c_str()); }

void WriteFile(const uint8_t* data, size_t size) {
  const int file = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  Check(file >= 0, "the input file opens");
  size_t done = 0;
  while (done < size) {
    const ssize_t wrote = write(file, data + done, size - done);
    Check(wrote > 0, "the input file takes the input");
    done += static_cast<size_t>(wrote);
  }
  close(file);
}

void CheckHeader(const uint8_t* data, size_t size, const ImageHeader& header) {
  Check(header.width != 0 && header.height != 0, "an accepted picture has a size");
  Check(header.pixels <= kMaxDecodedPixels && header.decoded_bytes <= kMaxDecodedBytes &&
            header.pixel_passes <= kMaxPixelPasses,
        "an accepted picture is within the bound");
  if (header.format != ImageFormat::kGif) return;
  auto* rewritten = static_cast<uint8_t*>(std::malloc(size + kGifRewriteRoom));
  Check(rewritten != nullptr, "memory for the rewrite");
  const size_t written = RewriteGifFirstFrame(data, size, rewritten);
  Check(written != 0 && written <= size + kGifRewriteRoom, "an accepted GIF rewrites within its room");
  ImageHeader again;
  Check(MayDecodeImage(rewritten, written, &again), "a rewritten GIF is accepted");
  Check(again.width == header.width && again.height == header.height && again.pixels == header.pixels,
        "a rewritten GIF is the same picture");
  std::free(rewritten);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* directory = std::getenv("TMPDIR");
  path = std::string(directory != nullptr && *directory != '\0' ? directory : "/tmp") + "/vexlan_image_XXXXXX";
  const int file = mkstemp(path.data());
  Check(file >= 0, "a file for the inputs");
  close(file);
  std::atexit(RemoveFile);
  Check(ToWideString(path.c_str(), &wide_path) > 0, "the wide file name");
  ImageDecoderSetUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteFile(data, size);
  ImageHeader header;
  const bool accepted = MayDecodeImage(data, size, &header);
  if (accepted) CheckHeader(data, size, header);

  PictureSurface surface(kImageWidth, kImageHeight, 24);
  Check(surface.ok(), "the surface");
  DrawImageFile(surface.BeginDraw(), wide_path);
  surface.EndDraw();
  const uint8_t* pixels = surface.copy_buffer();
  const uint8_t* end = pixels + surface.byte_size();
  bool lit = false;
  for (const uint8_t* at = pixels; at != end && !lit; ++at) lit = *at != 0;
  Check(accepted || !lit, "a refused file leaves the surface black");
  return 0;
}
