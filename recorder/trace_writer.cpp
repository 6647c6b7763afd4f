#include "recorder/trace_writer.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "output/picture_format.h"
#include "recorder/recorder_platform.h"

namespace vexlan::recorder {
namespace {

constexpr auto kWriteInterval = std::chrono::milliseconds(20);
// Lines gathered before they go to the sink in one write: a write costs a system call under Wine.
constexpr size_t kLargestWrite = 64 * 1024;

class FileSink : public TraceSink {
 public:
  explicit FileSink(std::FILE* file) : file_(file) {}
  ~FileSink() override {
    if (file_ != nullptr) std::fclose(file_);
  }
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  bool Write(const std::string& lines) override {
    return file_ != nullptr && std::fwrite(lines.data(), 1, lines.size(), file_) == lines.size();
  }
  bool Flush() override { return file_ != nullptr && std::fflush(file_) == 0; }

 private:
  std::FILE* file_;
};

void AppendDecimal(std::string& out, uint64_t value) {
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) out += digits[--count];
}

void AppendInteger(std::string& out, int value) {
  if (value < 0) out += '-';
  AppendDecimal(out, value < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(value)) : static_cast<uint64_t>(value));
}

void AppendHex32(std::string& out, uint32_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  out += "0x";
  for (int shift = 28; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 15];
}

// As "%.6f" prints a time that is a whole number of microseconds (WholeMicroseconds).
void AppendTime(std::string& out, double seconds) {
  if (!(seconds >= 0 && seconds < 1e9)) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", seconds);
    out += text;
    return;
  }
  const uint64_t micros = static_cast<uint64_t>(std::llround(seconds * 1e6));
  AppendDecimal(out, micros / 1000000);
  out += '.';
  for (uint64_t unit = 100000; unit > 0; unit /= 10) out += static_cast<char>('0' + micros / unit % 10);
}

void AppendField(std::string& out, const char* key, const std::string& value) {
  out += ' ';
  out += key;
  out += '=';
  out += value;
}

}  // namespace

double WholeMicroseconds(double seconds) { return std::round(seconds * 1e6) / 1e6; }

void AppendRecordLine(std::string& out, const PendingRecord& pending, double time, const uint8_t* picture,
                      bool whole_pictures) {
  AppendTime(out, time);
  out += ' ';
  AppendInteger(out, pending.thread);
  out += ' ';
  out += pending.kind;
  if (pending.name != nullptr && *pending.name != '\0') {
    out += ' ';
    out += pending.name;
  }
  if (pending.device >= 0) {
    out += " d";
    AppendInteger(out, pending.device);
  }
  if (pending.number != 0) {
    out += " n=";
    AppendDecimal(out, pending.number);
  }
  if (pending.context_kind != nullptr) {
    out += " in=";
    out += pending.context_kind;
    out += ":d";
    AppendInteger(out, pending.context_device);
    out += ':';
    AppendDecimal(out, pending.context_number);
  }
  for (int i = 0; i < pending.number_count; ++i) {
    const PendingRecord::Number& number = pending.numbers[i];
    out += ' ';
    out += number.key;
    out += '=';
    if (number.hex)
      AppendHex32(out, number.value);
    else
      AppendDecimal(out, number.value);
  }
  if (pending.has_text) AppendField(out, "text", Quote(pending.text.data(), pending.text.size()));
  if (pending.has_picture) {
    if (pending.picture_null)
      out += " data=null";
    else if (picture == nullptr)
      out += " hash=-";  // not a whole picture: its bytes were not read
    else if (whole_pictures)
      AppendField(out, "data", Base64(picture, pending.picture_bytes));
    else
      AppendField(out, "hash", PictureHash(picture, pending.picture_bytes));
  }
  if (pending.has_result) {
    out += " -> ";
    AppendHex32(out, static_cast<uint32_t>(pending.result));
    if (pending.has_guid) AppendField(out, "guid", FormatGuid(pending.guid));
  }
}

std::unique_ptr<TraceSink> OpenTraceFile(const std::string& path) {
  return std::make_unique<FileSink>(CreateTraceFile(path));
}

TraceRecord Expand(const PendingRecord& pending, double time, const uint8_t* picture, bool whole_pictures) {
  TraceRecord record;
  record.time = time;
  record.thread = pending.thread;
  record.kind = pending.kind;
  if (pending.name != nullptr) record.name = pending.name;
  record.device = pending.device;
  record.number = pending.number;
  if (pending.context_kind != nullptr)
    record.context = CallbackKey(pending.context_kind, pending.context_device, pending.context_number);
  for (int i = 0; i < pending.number_count; ++i) {
    const PendingRecord::Number& number = pending.numbers[i];
    record.arguments.emplace_back(number.key, number.hex ? Hex32(number.value) : std::to_string(number.value));
  }
  if (pending.has_text) record.arguments.emplace_back("text", Quote(pending.text.data(), pending.text.size()));
  if (pending.has_picture) {
    if (pending.picture_null)
      record.arguments.emplace_back("data", "null");
    else if (picture == nullptr)
      record.arguments.emplace_back("hash", "-");  // not a whole picture: its bytes were not read
    else if (whole_pictures)
      record.arguments.emplace_back("data", Base64(picture, pending.picture_bytes));
    else
      record.arguments.emplace_back("hash", PictureHash(picture, pending.picture_bytes));
  }
  if (pending.has_result) record.result = pending.result;
  if (pending.has_guid) record.outputs.emplace_back("guid", FormatGuid(pending.guid));
  return record;
}

TraceWriter::TraceWriter(std::unique_ptr<TraceSink> sink, size_t capacity, bool whole_pictures, std::string header,
                         TraceClock clock)
    : sink_(std::move(sink)),
      capacity_(capacity == 0 ? 1 : capacity),
      whole_pictures_(whole_pictures),
      header_(std::move(header)),
      clock_(clock),
      ring_(new Cell[capacity_]),
      slots_(new uint8_t[size_t{kPictureSlots} * kDeviceImageBytes]) {  // untouched until used
  for (size_t at = 0; at < capacity_; ++at) ring_[at].sequence.store(at, std::memory_order_relaxed);
}

TraceWriter::~TraceWriter() { Stop(); }

int TraceWriter::ClaimSlot() {
  for (int slot = 0; slot < kPictureSlots; ++slot)
    if (!slot_busy_[slot].load(std::memory_order_relaxed) && !slot_busy_[slot].exchange(true, std::memory_order_acquire))
      return slot;
  return -1;
}

size_t TraceWriter::Filled() const {
  return next_in_.load(std::memory_order_relaxed) - next_out_.load(std::memory_order_relaxed);
}

bool TraceWriter::Push(PendingRecord&& pending, const void* picture) {
  int slot = -1;
  if (picture != nullptr && pending.picture_bytes == kDeviceImageBytes) {
    slot = ClaimSlot();
    if (slot < 0) {
      dropped_.fetch_add(1, std::memory_order_relaxed);
      return false;
    }
    // The slot is this thread's until the record is handed over below.
    std::memcpy(slots_.get() + kDeviceImageBytes * slot, picture, pending.picture_bytes);
  }
  size_t position = next_in_.load(std::memory_order_relaxed);
  Cell* cell = nullptr;
  for (;;) {
    cell = &ring_[position % capacity_];
    const size_t sequence = cell->sequence.load(std::memory_order_acquire);
    if (sequence == position) {
      if (next_in_.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) break;
    } else if (sequence < position) {  // still holds the record of the lap before: the ring is full
      if (slot >= 0) slot_busy_[slot].store(false, std::memory_order_release);
      dropped_.fetch_add(1, std::memory_order_relaxed);
      return false;
    } else {  // another pusher took this position
      position = next_in_.load(std::memory_order_relaxed);
    }
  }
  cell->record = std::move(pending);
  cell->slot = slot;
  cell->sequence.store(position + 1, std::memory_order_release);
  // Half full: wake the writer now rather than at its next tick. The lock orders the wake-up after the
  // writer's look at the ring or its start of waiting, so it is never lost.
  if ((position + 1 - next_out_.load(std::memory_order_relaxed)) * 2 == capacity_ + (capacity_ & 1)) {
    { platform::FastMutexLock lock(mutex_); }
    wake_.NotifyAll();
  }
  return true;
}

void TraceWriter::Start() {
  platform::FastMutexLock control(control_);
  if (thread_.joinable()) return;
  {
    platform::FastMutexLock lock(mutex_);
    stop_ = false;
  }
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // No thread: records wait in the ring, then are dropped and counted, until a later start succeeds.
  }
}

void TraceWriter::Stop() {
  platform::FastMutexLock control(control_);
  if (!thread_.joinable()) return;
  {
    platform::FastMutexLock lock(mutex_);
    stop_ = true;
  }
  wake_.NotifyAll();
  thread_.join();
}

uint64_t TraceWriter::dropped() const { return dropped_.load(std::memory_order_relaxed); }

uint64_t TraceWriter::failed_writes() const { return failed_writes_.load(std::memory_order_relaxed); }

void TraceWriter::TakeReady(std::vector<Entry>& batch) {
  size_t position = next_out_.load(std::memory_order_relaxed);
  for (;; ++position) {
    Cell& cell = ring_[position % capacity_];
    if (cell.sequence.load(std::memory_order_acquire) != position + 1) break;  // not filled yet
    batch.push_back(Entry{std::move(cell.record), cell.slot});
    cell.sequence.store(position + capacity_, std::memory_order_release);
  }
  // Once per batch: pushers read it on every push, and each store takes the line from them.
  next_out_.store(position, std::memory_order_relaxed);
}

void TraceWriter::Run() {
  if (!header_.empty()) {
    const bool written = sink_->Write(header_ + "\n") && sink_->Flush();
    header_.clear();
    if (!written) failed_writes_.fetch_add(1, std::memory_order_relaxed);
  }
  std::vector<Entry> batch;
  for (bool last = false; !last;) {
    {
      platform::FastMutexLock lock(mutex_);
      if (!stop_ && Filled() * 2 < capacity_) wake_.WaitFor(mutex_, kWriteInterval);
      last = stop_;
    }
    TakeReady(batch);
    const uint64_t dropped = dropped_.load(std::memory_order_relaxed);
    WriteBatch(batch, dropped - dropped_written_);
    dropped_written_ = dropped;
    batch.clear();
  }
}

void TraceWriter::WriteBatch(std::vector<Entry>& batch, uint64_t dropped) {
  clock_.Calibrate();  // after the batch was taken: every reading in it comes before this one
  uint64_t failures = 0;
  auto send = [&] {
    if (!text_.empty() && !sink_->Write(text_)) ++failures;
    text_.clear();
  };
  for (const Entry& entry : batch) {
    const uint8_t* picture =
        entry.slot >= 0 ? slots_.get() + kDeviceImageBytes * entry.slot : nullptr;
    AppendRecordLine(text_, entry.record, WholeMicroseconds(clock_.Seconds(entry.record.ticks)), picture,
                     whole_pictures_);
    text_ += '\n';
    if (entry.slot >= 0) slot_busy_[entry.slot].store(false, std::memory_order_release);
    if (text_.size() >= kLargestWrite) send();
  }
  if (dropped > 0) {
    TraceRecord lost;
    lost.time = batch.empty() ? 0 : WholeMicroseconds(clock_.Seconds(batch.back().record.ticks));
    lost.kind = "dropped";
    lost.arguments.emplace_back("count", std::to_string(dropped));
    text_ += FormatRecord(lost);
    text_ += '\n';
  }
  send();
  if (!batch.empty() || dropped > 0)
    if (!sink_->Flush()) ++failures;
  if (failures > 0) failed_writes_.fetch_add(failures, std::memory_order_relaxed);
}

}  // namespace vexlan::recorder
