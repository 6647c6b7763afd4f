#include "recorder/trace_record.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/utf16.h"

namespace vexlan::recorder {
namespace {

void AppendFields(std::string& out, const Fields& fields) {
  for (const auto& [key, value] : fields) out += " " + key + "=" + value;
}

// Splits a line at spaces outside quotes.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false;
  for (size_t at = 0; at < line.size(); ++at) {
    const char c = line[at];
    if (quoted && c == '\\' && at + 1 < line.size()) {
      word += c;
      word += line[++at];
      continue;
    }
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

bool ReadDevice(const std::string& word, int* device) {
  if (word.size() < 2 || word[0] != 'd' || word.find_first_not_of("0123456789", 1) != std::string::npos)
    return false;
  *device = std::atoi(word.c_str() + 1);
  return true;
}

uint64_t Rotate(uint64_t value, int bits) { return (value << bits) | (value >> (64 - bits)); }

}  // namespace

std::string CallbackKey(const std::string& kind, int device, uint32_t number) {
  return kind + ":d" + std::to_string(device) + ":" + std::to_string(number);
}

std::string DescribeCall(const TraceRecord& record) {
  std::string out = record.name;
  if (record.device >= 0) out += " d" + std::to_string(record.device);
  AppendFields(out, record.arguments);
  return out;
}

std::string FormatRecord(const TraceRecord& record) {
  char head[64];
  std::snprintf(head, sizeof head, "%.6f %d ", record.time, record.thread);
  std::string out = head + record.kind;
  if (!record.name.empty()) out += " " + record.name;
  if (record.device >= 0) out += " d" + std::to_string(record.device);
  if (record.number != 0) out += " n=" + std::to_string(record.number);
  if (!record.context.empty()) out += " in=" + record.context;
  AppendFields(out, record.arguments);
  if (record.result) {
    out += " -> " + Hex32(static_cast<uint32_t>(*record.result));
    AppendFields(out, record.outputs);
  }
  return out;
}

bool ParseRecord(const std::string& line, TraceRecord* record, std::string* error) {
  error->clear();
  *record = TraceRecord();
  const std::vector<std::string> words = Words(line);
  if (words.empty() || words[0][0] == '#') return false;
  auto fail = [&](const std::string& what) {
    *error = what;
    return false;
  };
  if (words.size() < 3) return fail("a record has a time, a thread and a kind");
  char* end = nullptr;
  errno = 0;
  record->time = std::strtod(words[0].c_str(), &end);
  if (errno != 0 || *end != '\0' || record->time < 0) return fail("\"" + words[0] + "\" is not a time");
  record->thread = std::atoi(words[1].c_str());
  record->kind = words[2];
  size_t at = 3;
  if (record->kind == "call") {
    if (words.size() < 4) return fail("a call names its entry point");
    record->name = words[at++];
  }
  bool after_result = false;
  for (; at < words.size(); ++at) {
    const std::string& word = words[at];
    if (word == "->") {
      if (after_result || at + 1 >= words.size()) return fail("\"->\" is followed by one result");
      errno = 0;
      const unsigned long long value = std::strtoull(words[++at].c_str(), &end, 0);
      if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFull) return fail("\"" + words[at] + "\" is not a result");
      record->result = static_cast<HResult>(static_cast<uint32_t>(value));
      after_result = true;
      continue;
    }
    if (!after_result && record->device < 0 && ReadDevice(word, &record->device)) continue;
    const size_t equals = word.find('=');
    if (equals == std::string::npos || equals == 0) return fail("\"" + word + "\" is not KEY=VALUE");
    const std::string key = word.substr(0, equals), value = word.substr(equals + 1);
    if (!after_result && key == "n") {
      record->number = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
    } else if (!after_result && key == "in") {
      record->context = value;
    } else {
      (after_result ? record->outputs : record->arguments).emplace_back(key, value);
    }
  }
  return true;
}

std::string Quote(const char16_t* text, size_t units) {
  std::string out = "\"";
  for (size_t at = 0; at < units;) {
    const char32_t code = platform::NextCodePoint(text, units, &at);
    char escape[8];
    if (platform::IsSurrogate(code)) {
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(code));
      out += escape;
    } else if (code == '\\' || code == '"') {
      out += '\\';
      out += static_cast<char>(code);
    } else if (code == '\n') {
      out += "\\n";
    } else if (code == '\r') {
      out += "\\r";
    } else if (code == '\t') {
      out += "\\t";
    } else if (code < 0x20 || code == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(code));
      out += escape;
    } else {
      platform::AppendUtf8(out, code);
    }
  }
  return out + "\"";
}

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIX32, value);
  return text;
}

std::string FormatGuid(const Guid& guid) {
  char text[48];
  std::snprintf(text, sizeof text, "{%08" PRIX32 "-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.data1,
                guid.data2, guid.data3, guid.data4[0], guid.data4[1], guid.data4[2], guid.data4[3], guid.data4[4],
                guid.data4[5], guid.data4[6], guid.data4[7]);
  return text;
}

bool ParseGuid(const std::string& text, Guid* guid) {
  unsigned d1 = 0, d2 = 0, d3 = 0, b[8] = {};
  int used = 0;
  if (std::sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%n", &d1, &d2, &d3, &b[0], &b[1], &b[2], &b[3],
                  &b[4], &b[5], &b[6], &b[7], &used) != 11 ||
      static_cast<size_t>(used) != text.size())
    return false;
  guid->data1 = d1;
  guid->data2 = static_cast<uint16_t>(d2);
  guid->data3 = static_cast<uint16_t>(d3);
  for (int i = 0; i < 8; ++i) guid->data4[i] = static_cast<uint8_t>(b[i]);
  return true;
}

std::string Base64(const uint8_t* data, size_t bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes + 2) / 3 * 4);
  for (size_t at = 0; at < bytes; at += 3) {
    const uint32_t group = (uint32_t{data[at]} << 16) | (at + 1 < bytes ? uint32_t{data[at + 1]} << 8 : 0) |
                           (at + 2 < bytes ? uint32_t{data[at + 2]} : 0);
    out += kDigits[(group >> 18) & 63];
    out += kDigits[(group >> 12) & 63];
    out += at + 1 < bytes ? kDigits[(group >> 6) & 63] : '=';
    out += at + 2 < bytes ? kDigits[group & 63] : '=';
  }
  return out;
}

std::string PictureHash(const uint8_t* data, size_t bytes) {
  constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ull, kPrime2 = 0xC2B2AE3D27D4EB4Full;
  uint64_t lanes[4] = {kPrime1, kPrime2, ~kPrime1, ~kPrime2};
  size_t at = 0;
  for (; at + 32 <= bytes; at += 32) {
    for (int lane = 0; lane < 4; ++lane) {
      uint64_t word;
      std::memcpy(&word, data + at + 8 * lane, 8);
      lanes[lane] = Rotate(lanes[lane] + word * kPrime2, 31) * kPrime1;
    }
  }
  uint64_t hash = bytes;
  for (uint64_t lane : lanes) hash = Rotate(hash ^ lane, 27) * kPrime1 + kPrime2;
  for (; at < bytes; ++at) hash = Rotate(hash ^ data[at], 11) * kPrime1;
  hash ^= hash >> 29;
  hash *= kPrime2;
  hash ^= hash >> 32;
  char text[24];
  std::snprintf(text, sizeof text, "%016" PRIx64, hash);
  return text;
}

}  // namespace vexlan::recorder
