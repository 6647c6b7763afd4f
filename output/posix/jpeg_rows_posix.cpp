// The loader's steps are followed one for one (gdk-pixbuf 2.42, io-jpeg.c, incremental loading): its
// source suspends where the data ends, it asks for the largest DCT scaling that keeps the announced size
// (none, but for a picture of one pixel), it expands grey and converts inverted CMYK in place, and on
// closing a picture that stopped short it feeds an end-of-image marker and decodes the remaining rows.
// libjpeg reports errors by a long jump: the functions that may jump hold no objects with destructors.
#include "output/posix/jpeg_rows_posix.h"

// jpeglib.h needs FILE declared first.
#include <cstdio>

#include <jpeglib.h>

#include <algorithm>
#include <cassert>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "output/stretch.h"

namespace vexlan {

bool AnnouncedAsPromised(int width, int height, const ImageHeader& header) {
  const bool as_promised = width > 0 && height > 0 && uint64_t(width) * uint64_t(height) <= header.pixels;
  assert(as_promised);
  return as_promised;
}

namespace {

constexpr long kLoaderMemoryLimit = 1024L * 1024 * 1024;
constexpr size_t kLoaderBufferBytes = 65536;  // the loader's input buffer; it adds the end marker inside it

struct ErrorJump {
  jpeg_error_mgr manager;
  jmp_buf jump;
};

void JumpOnError(j_common_ptr info) { longjmp(reinterpret_cast<ErrorJump*>(info->err)->jump, 1); }
void KeepQuiet(j_common_ptr) {}

// The whole file as the loader's input: at its end the decoder suspends; a skip past the end is kept,
// as the loader keeps it to apply to input that never comes.
struct Source {
  jpeg_source_mgr manager;
  size_t skip_past_end;
};

void StartSource(j_decompress_ptr info) { reinterpret_cast<Source*>(info->src)->skip_past_end = 0; }
boolean SuspendAtEnd(j_decompress_ptr) { return FALSE; }
void EndSource(j_decompress_ptr) {}
void SkipData(j_decompress_ptr info, long count) {
  if (count <= 0) return;
  auto* source = reinterpret_cast<Source*>(info->src);
  const size_t skipped = std::min(source->manager.bytes_in_buffer, static_cast<size_t>(count));
  source->manager.next_input_byte += skipped;
  source->manager.bytes_in_buffer -= skipped;
  source->skip_past_end = static_cast<size_t>(count) - skipped;
}

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

// Room for rec_outbuf_height rows of four bytes a pixel.
struct Rows {
  JSAMPROW pointers[4];
};

// What the loader does to the rows it was handed, before anyone sees them; false for a colour space it
// does not take.
bool ToRgb(const jpeg_decompress_struct& info, Rows* rows) {
  const JDIMENSION width = info.output_width;
  for (int i = info.rec_outbuf_height - 1; i >= 0; --i) {
    JSAMPROW row = rows->pointers[i];
    switch (info.out_color_space) {
      case JCS_GRAYSCALE:
        for (JDIMENSION x = width; x-- > 0;) row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = row[x];
        break;
      case JCS_RGB:
        break;
      case JCS_CMYK:
        for (JDIMENSION x = 0; x < width; ++x, row += 4) {
          const int k = row[3];
          row[0] = static_cast<JSAMPLE>(k * row[0] / 255);
          row[1] = static_cast<JSAMPLE>(k * row[1] / 255);
          row[2] = static_cast<JSAMPLE>(k * row[2] / 255);
          row[3] = 255;
        }
        break;
      default:
        return false;
    }
  }
  return true;
}

// Decodes rows until the picture is done or the input runs out; false on an error the loader reports.
bool ReadRows(jpeg_decompress_struct* info, Rows* rows, RowStretch* stretch) {
  while (info->output_scanline < info->output_height) {
    const JDIMENSION first = info->output_scanline;
    const JDIMENSION got = jpeg_read_scanlines(info, rows->pointers, static_cast<JDIMENSION>(info->rec_outbuf_height));
    if (got == 0) return true;
    if (!ToRgb(*info, rows)) return false;
    for (JDIMENSION i = 0; i < got; ++i) stretch->Place(static_cast<int32_t>(first + i), rows->pointers[i]);
  }
  return true;
}

enum class Stage { kHeader, kRows, kClosing, kFinishing };

struct Decode {
  jpeg_decompress_struct info;
  ErrorJump errors;
  Source source;
  Stage stage = Stage::kHeader;
  Rows rows{};
};

// The header, up to the start of decompression, as the loader's first write takes it.
JpegRows Start(Decode* d, const uint8_t* file, size_t size, const ImageHeader& header) {
  if (setjmp(d->errors.jump) != 0) return JpegRows::kFailed;
  jpeg_create_decompress(&d->info);
  jpeg_decompress_struct* info = &d->info;
  d->source.manager.next_input_byte = file;
  d->source.manager.bytes_in_buffer = size;
  d->source.manager.init_source = StartSource;
  d->source.manager.fill_input_buffer = SuspendAtEnd;
  d->source.manager.skip_input_data = SkipData;
  d->source.manager.resync_to_restart = jpeg_resync_to_restart;
  d->source.manager.term_source = EndSource;
  info->src = &d->source.manager;
  jpeg_save_markers(info, JPEG_APP0 + 1, 0xffff);
  jpeg_save_markers(info, JPEG_APP0 + 2, 0xffff);
  jpeg_save_markers(info, JPEG_COM, 0xffff);
  if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK) return JpegRows::kFailed;
  info->mem->max_memory_to_use = kLoaderMemoryLimit;
  if (info->progressive_mode || jpeg_has_multiple_scans(info)) return JpegRows::kNotSequential;
  const int width = static_cast<int>(info->image_width), height = static_cast<int>(info->image_height);
  if (!AnnouncedAsPromised(width, height, header)) return JpegRows::kFailed;
  info->scale_num = 1;
  for (info->scale_denom = 2; info->scale_denom <= 8; info->scale_denom *= 2) {
    jpeg_calc_output_dimensions(info);
    if (info->output_width < JDIMENSION(width) || info->output_height < JDIMENSION(height)) {
      info->scale_denom /= 2;
      break;
    }
  }
  jpeg_calc_output_dimensions(info);
  const bool components_taken = info->output_components == 3 || info->output_components == 4 ||
                                (info->output_components == 1 && info->out_color_space == JCS_GRAYSCALE);
  if (!components_taken) return JpegRows::kFailed;
  jpeg_start_decompress(info);  // one scan: nothing is read ahead, so it does not suspend
  info->do_fancy_upsampling = FALSE;  // set as the loader sets them, too late to take effect
  info->do_block_smoothing = FALSE;
  // Rows that start off a 16-byte boundary: on aligned rows the library's vector code writes its output
  // past the cache, straight to memory, and every row would then be read back from memory.
  JSAMPARRAY rows = (*info->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE,
                                               info->output_width * 4 + 1, JDIMENSION(info->rec_outbuf_height));
  for (int i = 0; i < info->rec_outbuf_height && i < 4; ++i) d->rows.pointers[i] = rows[i] + 1;
  return info->rec_outbuf_height <= 4 ? JpegRows::kDrawn : JpegRows::kFailed;
}

// The rows: those the file holds as the loader's write decodes them, then as the loader closes a picture
// that stopped short, an end marker and the remaining rows decoded from no data (whatever that
// reports), then the end of decompression (a suspension at the end of the data is no failure).
JpegRows Finish(Decode* d, RowStretch* stretch) {
  jpeg_decompress_struct* info = &d->info;
  if (setjmp(d->errors.jump) != 0) {
    if (d->stage != Stage::kClosing) return JpegRows::kFailed;
  } else {
    d->stage = Stage::kRows;
    if (!ReadRows(info, &d->rows, stretch)) return JpegRows::kFailed;
    d->stage = Stage::kClosing;
    if (info->output_scanline < info->output_height && d->source.skip_past_end < kLoaderBufferBytes - 2) {
      d->source.manager.next_input_byte = kEndOfImage;
      d->source.manager.bytes_in_buffer = sizeof kEndOfImage;
      ReadRows(info, &d->rows, stretch);
    }
  }
  d->stage = Stage::kFinishing;
  jpeg_finish_decompress(info);
  return JpegRows::kDrawn;
}

}  // namespace

JpegRows DrawSequentialJpeg(const uint8_t* file, size_t size, const ImageHeader& header, DrawSurface* target) {
  Decode d{};
  d.info.err = jpeg_std_error(&d.errors.manager);
  d.errors.manager.error_exit = JumpOnError;
  d.errors.manager.output_message = KeepQuiet;
  JpegRows result = Start(&d, file, size, header);
  if (result == JpegRows::kDrawn) {
    // Drawn aside, so that a file that fails halfway leaves the target as it was.
    std::vector<uint8_t> picture(size_t(target->width) * size_t(target->height) * 3);
    RowStretch stretch(static_cast<int32_t>(d.info.output_width), static_cast<int32_t>(d.info.output_height),
                       d.info.output_components == 4 ? 4 : 3, picture.data(), target->width, target->height);
    result = stretch.ok() ? Finish(&d, &stretch) : JpegRows::kFailed;
    if (result == JpegRows::kDrawn) std::memcpy(target->pixels, picture.data(), picture.size());
  }
  jpeg_destroy_decompress(&d.info);
  return result;
}

}  // namespace vexlan
