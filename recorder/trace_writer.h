// The recorder's bounded buffer and its writer thread. Threads that call into the library, and the
// library's callback threads, only copy a compact record into a ring of fixed size under a short lock;
// the writer thread formats and writes. A full ring, or no free picture slot, drops the record and counts
// it; the count is written as a "dropped" line. Nothing the writer does, or fails to do, reaches the caller.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/mutex.h"
#include "recorder/trace_record.h"

namespace vexlan::recorder {

// A record as the recording threads leave it: no formatting, no allocation for short text.
struct PendingRecord {
  struct Number {
    const char* key;
    uint32_t value;
    bool hex;
  };
  double time = 0;
  int thread = 0;
  const char* kind = "call";
  const char* name = nullptr;
  int device = -1;
  uint32_t number = 0;
  const char* context_kind = nullptr;  // null: not made from a callback
  int context_device = 0;
  uint32_t context_number = 0;
  Number numbers[4] = {};
  int number_count = 0;
  bool has_text = false;
  std::u16string text;
  bool has_picture = false;  // a SetImage: its bytes are read only when they are a whole picture
  bool picture_null = false;
  uint32_t picture_bytes = 0;
  bool has_result = false;
  HResult result = 0;
  bool has_guid = false;
  Guid guid{};

  void Add(const char* key, uint32_t value, bool hex = false) { numbers[number_count++] = {key, value, hex}; }
};

// The full record: `picture` is the picture's bytes (null when there were none), written whole or by hash.
TraceRecord Expand(const PendingRecord& pending, const uint8_t* picture, bool whole_pictures);

// Where the lines go. Write and Flush report failure; the writer counts failures and carries on.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual bool Write(const std::string& line) = 0;
  virtual bool Flush() = 0;
};

// A file, replaced at opening (UTF-8 name); a file that cannot be opened fails every write.
std::unique_ptr<TraceSink> OpenTraceFile(const std::string& path);

class TraceWriter {
 public:
  static constexpr int kPictureSlots = 8;

  TraceWriter(std::unique_ptr<TraceSink> sink, size_t capacity, bool whole_pictures, std::string header);
  ~TraceWriter();  // stops the thread, writing what is left
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  // Never waits for the writer: false when the record was dropped. `picture` (bytes of
  // pending.picture_bytes) is copied when it is not null.
  bool Push(PendingRecord&& pending, const void* picture = nullptr);
  // Starts the writer thread if it is not running.
  void Start();
  // Stops it with a flag and a join, once everything pushed so far is written.
  void Stop();
  uint64_t dropped() const;
  uint64_t failed_writes() const;

 private:
  struct Entry {
    PendingRecord record;
    int slot = -1;
  };
  void Run();
  void WriteBatch(std::vector<Entry>& batch, uint64_t dropped);

  const std::unique_ptr<TraceSink> sink_;
  const size_t capacity_;
  const bool whole_pictures_;
  std::string header_;  // written by the writer thread before its first batch
  mutable platform::FastMutex mutex_;
  platform::FastCondition wake_;
  std::vector<Entry> ring_ GUARDED_BY(mutex_);
  size_t head_ GUARDED_BY(mutex_) = 0;
  size_t count_ GUARDED_BY(mutex_) = 0;
  uint64_t dropped_ GUARDED_BY(mutex_) = 0;
  uint64_t dropped_written_ GUARDED_BY(mutex_) = 0;
  uint64_t failed_writes_ GUARDED_BY(mutex_) = 0;
  bool stop_ GUARDED_BY(mutex_) = false;
  bool slot_busy_[kPictureSlots] GUARDED_BY(mutex_) = {};
  std::unique_ptr<uint8_t[]> slots_;  // kPictureSlots pictures; a slot's bytes belong to whoever marked it busy
  std::thread thread_;                // started and joined by the thread that calls Start and Stop
  platform::FastMutex control_;       // Start and Stop, one at a time
};

}  // namespace vexlan::recorder
