#include "simulator/call_log.h"

namespace vexlan::sim {

HResult CallLog::Add(CallRecord record, HResult result) {
  if (!recording_) return result;
  record.result = result;
  if (count_ == kMaxRecordedCalls) ForgetOldest();
  text_bytes_ += record.text ? record.text->size() : 0;
  const size_t slot = (oldest_ + count_) % kMaxRecordedCalls;
  if (calls_.empty()) calls_.reserve(kMaxRecordedCalls);
  if (slot == calls_.size())
    calls_.push_back(std::move(record));
  else
    calls_[slot] = std::move(record);
  ++count_;
  while (text_bytes_ > kMaxRecordedTextBytes && count_ > 1) ForgetOldest();
  return result;
}

void CallLog::ForgetOldest() {
  CallRecord& oldest = calls_[oldest_];
  if (oldest.text) {
    text_bytes_ -= oldest.text->size();
    oldest.text.reset();
  }
  oldest_ = (oldest_ + 1) % kMaxRecordedCalls;
  --count_;
  ++forgotten_;
}

std::vector<CallRecord> CallLog::Calls() const {
  std::vector<CallRecord> out;
  out.reserve(count_);
  for (size_t i = 0; i < count_; ++i) out.push_back(calls_[(oldest_ + i) % kMaxRecordedCalls]);
  return out;
}

void CallLog::Clear() {
  std::vector<CallRecord>().swap(calls_);  // gives its memory back
  oldest_ = count_ = text_bytes_ = 0;
  forgotten_ = 0;
}

}  // namespace vexlan::sim
