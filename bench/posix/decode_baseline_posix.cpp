#include <gdk-pixbuf/gdk-pixbuf.h>

#include "bench/bench_support.h"

void vexlan::bench::DecodeWithPlatform(const std::string& path) {
  GdkPixbuf* picture = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
  if (picture != nullptr) g_object_unref(picture);
}
