// The lines of a trace: one for each call the module made into the real library and one for each
// callback the library made into the module, written by the recorder and read back by the replay.
//
//   TIME THREAD KIND [NAME] [dN] [n=N] [in=KIND:dN:N] [KEY=VALUE ...] [-> RESULT [KEY=VALUE ...]]
//
// TIME is seconds since the recorder started, THREAD a small number per thread in order of first
// appearance. KIND is "call" (NAME is the entry point without its "DirectOutput_" prefix), "enumerate",
// "arrival", "removal", "page", "buttons" (callbacks; n= counts the callbacks of that kind for that
// device, from 1) or "dropped" (count= records lost to a full buffer). dN names a device handle by the
// order in which the recorder first saw it (d0: a null handle). in= names the callback a call was made
// from. Values are decimal or 0x hexadecimal numbers, "quoted text" (\\ \" \n \r \t \xHH, and \uHHHH for
// a lone surrogate), {GUID}, or a picture's 16-digit hash; data= holds a whole picture in base64.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "directoutput/directoutput_api.h"

namespace vexlan::recorder {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct TraceRecord {
  double time = 0;
  int thread = 0;
  std::string kind;
  std::string name;     // calls only
  int device = -1;      // -1: the record names no device
  uint32_t number = 0;  // callbacks: n=
  std::string context;  // calls made from a callback: "KIND:dN:N"
  Fields arguments;
  std::optional<HResult> result;
  Fields outputs;
  int line = 0;  // where it was read, for messages
};

inline constexpr char kTraceHeader[] = "# vexlan trace 1";

// The key of the n-th callback of `kind` for device `device`, as calls made from it name it.
std::string CallbackKey(const std::string& kind, int device, uint32_t number);

std::string FormatRecord(const TraceRecord& record);
// What a call was, for messages: NAME dN KEY=VALUE ... (no time, thread, context or result).
std::string DescribeCall(const TraceRecord& record);
// Reads one line; false for a comment, a blank line or a line it cannot read (with `error` set).
bool ParseRecord(const std::string& line, TraceRecord* record, std::string* error);

// Value forms.
std::string Quote(const char16_t* text, size_t units);
std::string Hex32(uint32_t value);
std::string FormatGuid(const Guid& guid);
bool ParseGuid(const std::string& text, Guid* guid);
std::string Base64(const uint8_t* data, size_t bytes);
// The recorder's picture hash: 64 bits over every byte, four lanes of multiply-rotate; equal pictures give
// equal hashes. Written as 16 hexadecimal digits.
std::string PictureHash(const uint8_t* data, size_t bytes);

}  // namespace vexlan::recorder
