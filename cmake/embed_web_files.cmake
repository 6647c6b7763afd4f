# Writes OUTPUT, a C++ source holding each of FILES (a ;-list of paths) as bytes, with the path the
# server answers it on (panels.html as "/") and its content type. Run with cmake -P at build time.
set(entries "")
set(arrays "")
set(count 0)
foreach(path IN LISTS FILES)
  get_filename_component(name ${path} NAME)
  get_filename_component(extension ${path} LAST_EXT)
  if(extension STREQUAL ".html")
    set(type "text/html; charset=utf-8")
    set(served "/")
  elseif(extension STREQUAL ".css")
    set(type "text/css; charset=utf-8")
    set(served "/${name}")
  elseif(extension STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
    set(served "/${name}")
  else()
    message(FATAL_ERROR "embed_web_files: no content type for ${name}")
  endif()
  file(READ ${path} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" hex "${hex}")
  string(APPEND arrays "const unsigned char kFile${count}[] = {\n${hex}};\n")
  string(APPEND entries "    {\"${served}\", \"${type}\", kFile${count}, sizeof kFile${count}},\n")
  math(EXPR count "${count} + 1")
endforeach()
file(WRITE ${OUTPUT}.new "// Written by cmake/embed_web_files.cmake from simulator/web/: edit those files, not this one.
#include \"simulator/web_files.h\"

namespace vexlan::sim {
namespace {
${arrays}}  // namespace

const WebFile kWebFiles[] = {
${entries}};
const size_t kWebFileCount = ${count};

}  // namespace vexlan::sim
")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
