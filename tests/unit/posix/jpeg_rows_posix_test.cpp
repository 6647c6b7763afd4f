// The row-by-row JPEG decode against gdk-pixbuf's loader given the same bytes, its picture stretched
// whole: the device images must be equal byte for byte, for every sampling, colour space, size and
// place where a file stops short, and a file the loader refuses must leave the surface untouched.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "output/image_file.h"
#include "output/image_header.h"
#include "output/posix/jpeg_rows_posix.h"
#include "output/stretch.h"

namespace vexlan {
namespace {

struct Encoding {
  const char* name;
  int width, height, components;
  J_COLOR_SPACE space;
  int h_sampling, v_sampling;  // of the first component
  bool progressive;
  int restart_rows;
};

// A picture with edges and gradients in every channel, encoded by libjpeg.
std::vector<uint8_t> Encode(const Encoding& e) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = JDIMENSION(e.width);
  info.image_height = JDIMENSION(e.height);
  info.input_components = e.components;
  info.in_color_space = e.space;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 85, TRUE);
  info.comp_info[0].h_samp_factor = e.h_sampling;
  info.comp_info[0].v_samp_factor = e.v_sampling;
  info.restart_in_rows = e.restart_rows;
  if (e.progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(size_t(e.width) * size_t(e.components));
  while (info.next_scanline < info.image_height) {
    const int y = int(info.next_scanline);
    for (int x = 0; x < e.width; ++x)
      for (int c = 0; c < e.components; ++c)
        row[size_t(x * e.components + c)] = uint8_t((x * 7 + y * 3 * (c + 1) + ((x / 9 + y / 5) % 2) * 90) & 0xFF);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::vector<uint8_t> file(out, out + size);
  free(out);
  return file;
}

constexpr uint8_t kUntouched = 0x55;

// What the loader's picture gives, stretched whole; the surface untouched where it gives none.
std::vector<uint8_t> ThroughLoader(const std::vector<uint8_t>& file) {
  std::vector<uint8_t> target(230400, kUntouched);
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("jpeg", nullptr);
  bool ok = gdk_pixbuf_loader_write(loader, file.data(), file.size(), nullptr);
  ok = gdk_pixbuf_loader_close(loader, nullptr) && ok;
  GdkPixbuf* picture = ok ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  if (picture != nullptr)
    StretchToDeviceLayout(gdk_pixbuf_read_pixels(picture), gdk_pixbuf_get_width(picture),
                          gdk_pixbuf_get_height(picture), gdk_pixbuf_get_rowstride(picture),
                          gdk_pixbuf_get_n_channels(picture), target.data(), 320, 240);
  g_object_unref(loader);
  return target;
}

// What DrawImageFile gives for the same bytes in a file.
std::vector<uint8_t> ThroughFile(const std::vector<uint8_t>& file) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "vexlan_jpeg_rows_test.jpg";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  std::vector<uint8_t> target(230400, kUntouched);
  DrawSurface surface{target.data(), 320, 240};
  const std::string name = path.string();
  const std::u16string wide(name.begin(), name.end());
  DrawImageFile(&surface, reinterpret_cast<const WideChar*>(wide.c_str()));
  std::filesystem::remove(path);
  return target;
}

JpegRows Outcome(const std::vector<uint8_t>& file) {
  ImageHeader header;
  header.pixels = kMaxDecodedPixels;
  std::vector<uint8_t> target(230400, kUntouched);
  DrawSurface surface{target.data(), 320, 240};
  return DrawSequentialJpeg(file.data(), file.size(), header, &surface);
}

const Encoding kEncodings[] = {
    {"4:2:0", 1920, 1080, 3, JCS_RGB, 2, 2, false, 0},
    {"4:4:4 odd size", 333, 77, 3, JCS_RGB, 1, 1, false, 0},
    {"4:2:2 stretched", 61, 37, 3, JCS_RGB, 2, 1, false, 0},
    {"restart markers", 640, 480, 3, JCS_RGB, 2, 2, false, 3},
    {"grey", 500, 300, 1, JCS_GRAYSCALE, 1, 1, false, 0},
    {"CMYK", 200, 150, 4, JCS_CMYK, 1, 1, false, 0},
    {"one pixel", 1, 1, 3, JCS_RGB, 2, 2, false, 0},
    {"one row", 700, 1, 3, JCS_RGB, 2, 2, false, 0},
    {"progressive", 640, 480, 3, JCS_RGB, 2, 2, true, 0},
};

TEST(JpegRows, GiveTheLoadersDeviceImage) {
  for (const Encoding& e : kEncodings) {
    const std::vector<uint8_t> file = Encode(e);
    EXPECT_EQ(Outcome(file), e.progressive ? JpegRows::kNotSequential : JpegRows::kDrawn) << e.name;
    const std::vector<uint8_t> expected = ThroughLoader(file);
    EXPECT_NE(expected, std::vector<uint8_t>(230400, kUntouched)) << e.name;
    EXPECT_TRUE(ThroughFile(file) == expected) << e.name;
  }
}

// Cut inside the header, at the start of the data, in its middle, just before its end marker; with
// bytes damaged in the data; with junk after the end marker.
TEST(JpegRows, GiveTheLoadersDeviceImageForDamagedFiles) {
  const std::vector<uint8_t> whole = Encode(kEncodings[3]);
  const std::vector<uint8_t> grey = Encode(kEncodings[4]);
  std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
  for (const auto& [name, source] : {std::make_pair("colour", whole), std::make_pair("grey", grey)}) {
    for (const size_t keep : {size_t{20}, size_t{400}, source.size() / 3, source.size() / 2 + 7, source.size() - 2})
      files.emplace_back(std::string(name) + " cut at " + std::to_string(keep),
                         std::vector<uint8_t>(source.begin(), source.begin() + std::ptrdiff_t(keep)));
  }
  std::vector<uint8_t> damaged = whole;
  for (size_t at = damaged.size() / 2; at < damaged.size() / 2 + 40; ++at) damaged[at] = 0xFF;
  files.emplace_back("damaged", damaged);
  std::vector<uint8_t> junk = whole;
  junk.insert(junk.end(), {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x10, 0x00, 0x10, 0x03, 0x01, 0x22, 0x00, 0x02,
                           0x11, 0x01, 0x03, 0x11, 0x01});
  files.emplace_back("a second frame header after the end", junk);
  std::vector<uint8_t> trailing = whole;
  trailing.resize(trailing.size() - 2);  // no end marker
  trailing.insert(trailing.end(), {0xFF, 0xC0, 0x00, 0x11, 0x08});
  files.emplace_back("a frame header cut short after the data", trailing);
  int drawn = 0, refused = 0;
  for (const auto& [name, file] : files) {
    const std::vector<uint8_t> expected = ThroughLoader(file);
    EXPECT_TRUE(ThroughFile(file) == expected) << name;
    (expected == std::vector<uint8_t>(230400, kUntouched) ? refused : drawn) += 1;
  }
  EXPECT_GT(drawn, 4);
  EXPECT_GT(refused, 1);
}

}  // namespace
}  // namespace vexlan
