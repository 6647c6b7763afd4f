// The recorder's bounded buffer and its writer thread. Threads that call into the library, and the
// library's callback threads, only copy a compact record into a ring of fixed size, taking no lock: a
// place is claimed with one compare-and-swap and handed over by a release store to the writer thread,
// which formats and writes. A full ring, or no free picture slot, drops the record and counts it; the count is
// written as a "dropped" line. Nothing the writer does, or fails to do, reaches the caller.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/mutex.h"
#include "recorder/trace_clock.h"
#include "recorder/trace_record.h"

namespace vexlan::recorder {

// A record as the recording threads leave it: no formatting, no allocation for short text.
struct PendingRecord {
  struct Number {
    const char* key;
    uint32_t value;
    bool hex;
  };
  uint64_t ticks = 0;  // ReadTicks() as the call or callback began; seconds only when written
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

// The full record at `time` seconds: `picture` is the picture's bytes (null when there were none),
// written whole or by hash.
TraceRecord Expand(const PendingRecord& pending, double time, const uint8_t* picture, bool whole_pictures);

// The line FormatRecord(Expand(...)) gives, appended to `out` without building the full record: the
// writer thread's way, a few times quicker. `time` is in whole microseconds (WholeMicroseconds).
void AppendRecordLine(std::string& out, const PendingRecord& pending, double time, const uint8_t* picture,
                      bool whole_pictures);
// `seconds` rounded to the microsecond, which is all a trace holds.
double WholeMicroseconds(double seconds);

// Where the lines go, a batch at a time. Write and Flush report failure; the writer counts failures and
// carries on.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual bool Write(const std::string& lines) = 0;  // one or more lines, each ending in '\n'
  virtual bool Flush() = 0;
};

// A file, replaced at opening (UTF-8 name); a file that cannot be opened fails every write.
std::unique_ptr<TraceSink> OpenTraceFile(const std::string& path);

class TraceWriter {
 public:
  static constexpr int kPictureSlots = 8;
  static constexpr size_t kCacheLine = 64;

  // `clock` is where the records' times count from.
  TraceWriter(std::unique_ptr<TraceSink> sink, size_t capacity, bool whole_pictures, std::string header,
              TraceClock clock = TraceClock());
  ~TraceWriter();  // stops the thread, writing what is left
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  // Never waits for the writer, from any number of threads at once: false when the record was dropped.
  // `picture` (bytes of pending.picture_bytes) is copied when it is not null.
  bool Push(PendingRecord&& pending, const void* picture = nullptr);
  // Starts the writer thread if it is not running.
  void Start();
  // Stops it with a flag and a join, once everything pushed so far is written.
  void Stop();
  uint64_t dropped() const;
  uint64_t failed_writes() const;

 private:
  // A place in the ring. Its sequence says whose it is: equal to the position a pusher may fill it at;
  // one more once filled, for the writer; the position plus the capacity once the writer has taken the
  // record out, for the pusher one lap later. Aligned to the cache line, so that a pusher filling one
  // place never shares a line with the writer emptying the one before.
  struct alignas(kCacheLine) Cell {
    std::atomic<size_t> sequence{0};
    PendingRecord record;
    int slot = -1;  // the picture slot the record's bytes are in, or -1
  };
  struct Entry {
    PendingRecord record;
    int slot;
  };
  // Claims a picture slot, or gives -1 when all are in use.
  int ClaimSlot();
  size_t Filled() const;
  void Run();
  // Moves the records that are ready, in order, out of the ring into `batch` (writer thread).
  void TakeReady(std::vector<Entry>& batch);
  void WriteBatch(std::vector<Entry>& batch, uint64_t dropped);

  const std::unique_ptr<TraceSink> sink_;
  const size_t capacity_;
  const bool whole_pictures_;
  std::string header_;  // written by the writer thread before its first batch
  TraceClock clock_;    // calibrated and read by the writer thread
  const std::unique_ptr<Cell[]> ring_;
  alignas(kCacheLine) std::atomic<size_t> next_in_{0};   // the next position a pusher claims
  alignas(kCacheLine) std::atomic<size_t> next_out_{0};  // the next position the writer takes; only it stores
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> failed_writes_{0};
  uint64_t dropped_written_ = 0;  // the writer thread's
  std::string text_;              // the writer thread's lines on their way to the sink
  std::atomic<bool> slot_busy_[kPictureSlots] = {};
  std::unique_ptr<uint8_t[]> slots_;  // kPictureSlots pictures; a slot's bytes belong to whoever marked it busy
  platform::FastMutex mutex_;         // the writer's sleep: stop_ and the wake-up
  platform::FastCondition wake_;
  bool stop_ GUARDED_BY(mutex_) = false;
  std::thread thread_;           // started and joined by the thread that calls Start and Stop
  platform::FastMutex control_;  // Start and Stop, one at a time
};

}  // namespace vexlan::recorder
