#include "recorder/trace_writer.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "output/picture_format.h"
#include "recorder/recorder_platform.h"

namespace vexlan::recorder {
namespace {

constexpr auto kWriteInterval = std::chrono::milliseconds(20);

class FileSink : public TraceSink {
 public:
  explicit FileSink(std::FILE* file) : file_(file) {}
  ~FileSink() override {
    if (file_ != nullptr) std::fclose(file_);
  }
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  bool Write(const std::string& line) override {
    return file_ != nullptr && std::fwrite(line.data(), 1, line.size(), file_) == line.size() &&
           std::fputc('\n', file_) != EOF;
  }
  bool Flush() override { return file_ != nullptr && std::fflush(file_) == 0; }

 private:
  std::FILE* file_;
};

}  // namespace

std::unique_ptr<TraceSink> OpenTraceFile(const std::string& path) {
  return std::make_unique<FileSink>(CreateTraceFile(path));
}

TraceRecord Expand(const PendingRecord& pending, const uint8_t* picture, bool whole_pictures) {
  TraceRecord record;
  record.time = pending.time;
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

TraceWriter::TraceWriter(std::unique_ptr<TraceSink> sink, size_t capacity, bool whole_pictures, std::string header)
    : sink_(std::move(sink)),
      capacity_(capacity == 0 ? 1 : capacity),
      whole_pictures_(whole_pictures),
      header_(std::move(header)) {
  platform::FastMutexLock lock(mutex_);
  ring_.resize(capacity_);
}

TraceWriter::~TraceWriter() { Stop(); }

bool TraceWriter::Push(PendingRecord&& pending, const void* picture) {
  const bool copies = picture != nullptr && pending.picture_bytes == kDeviceImageBytes;
  int slot = -1;
  if (copies) {
    platform::FastMutexLock lock(mutex_);
    if (slots_ == nullptr) slots_.reset(new uint8_t[size_t{kPictureSlots} * kDeviceImageBytes]);
    for (int i = 0; i < kPictureSlots && slot < 0; ++i)
      if (!slot_busy_[i]) slot = i;
    if (slot < 0) {
      ++dropped_;
      return false;
    }
    slot_busy_[slot] = true;
  }
  // Copied with no lock held: the slot is this thread's until it is handed over below.
  if (slot >= 0) std::memcpy(slots_.get() + kDeviceImageBytes * slot, picture, pending.picture_bytes);
  platform::FastMutexLock lock(mutex_);
  if (count_ == capacity_) {
    if (slot >= 0) slot_busy_[slot] = false;
    ++dropped_;
    return false;
  }
  Entry& entry = ring_[(head_ + count_++) % capacity_];
  entry.record = std::move(pending);
  entry.slot = slot;
  if (count_ * 2 == capacity_ + (capacity_ & 1)) wake_.NotifyAll();  // half full: write now, not at the next tick
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

uint64_t TraceWriter::dropped() const {
  platform::FastMutexLock lock(mutex_);
  return dropped_;
}

uint64_t TraceWriter::failed_writes() const {
  platform::FastMutexLock lock(mutex_);
  return failed_writes_;
}

void TraceWriter::Run() {
  if (!header_.empty()) {
    const bool written = sink_->Write(header_) && sink_->Flush();
    header_.clear();
    if (!written) {
      platform::FastMutexLock lock(mutex_);
      ++failed_writes_;
    }
  }
  std::vector<Entry> batch;
  for (bool last = false; !last;) {
    uint64_t dropped = 0;
    {
      platform::FastMutexLock lock(mutex_);
      if (!stop_ && count_ * 2 < capacity_) wake_.WaitFor(mutex_, kWriteInterval);
      last = stop_;
      for (; count_ > 0; --count_, head_ = (head_ + 1) % capacity_) batch.push_back(std::move(ring_[head_]));
      dropped = dropped_ - dropped_written_;
      dropped_written_ = dropped_;
    }
    WriteBatch(batch, dropped);
    batch.clear();
  }
}

void TraceWriter::WriteBatch(std::vector<Entry>& batch, uint64_t dropped) {
  uint64_t failures = 0;
  for (Entry& entry : batch) {
    const uint8_t* picture =
        entry.slot >= 0 ? slots_.get() + kDeviceImageBytes * entry.slot : nullptr;
    if (!sink_->Write(FormatRecord(Expand(entry.record, picture, whole_pictures_)))) ++failures;
  }
  if (dropped > 0) {
    TraceRecord lost;
    lost.time = batch.empty() ? 0 : batch.back().record.time;
    lost.kind = "dropped";
    lost.arguments.emplace_back("count", std::to_string(dropped));
    if (!sink_->Write(FormatRecord(lost))) ++failures;
  }
  if (!batch.empty() || dropped > 0)
    if (!sink_->Flush()) ++failures;
  platform::FastMutexLock lock(mutex_);
  for (const Entry& entry : batch)
    if (entry.slot >= 0) slot_busy_[entry.slot] = false;
  failed_writes_ += failures;
}

}  // namespace vexlan::recorder
