// The live panels' page: HTML, CSS and JavaScript files in simulator/web/, embedded into the library
// when it is built (cmake/embed_web_files.cmake writes web_files.cpp from them).
#pragma once

#include <cstddef>

namespace vexlan::sim {

struct WebFile {
  const char* path;  // as requested: "/" for panels.html, "/NAME" for the others
  const char* content_type;
  const unsigned char* bytes;
  size_t size;
};

extern const WebFile kWebFiles[];
extern const size_t kWebFileCount;

}  // namespace vexlan::sim
