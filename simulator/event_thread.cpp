// The library's own thread, which hands device events to the handlers the module registered, as the
// hardware's thread does.
#include "simulator/simulator.h"

namespace vexlan::sim {

void Simulator::QueueLocked(const Event& event) {
  if (thread_ == nullptr) return;  // not initialised: nobody is listening
  queue_.push_back(event);
  ++queued_total_;
  queue_changed_.notify_all();
}

void Simulator::EventLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  thread_id_ = std::this_thread::get_id();
  for (;;) {
    queue_changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (stop_) break;
    const Event event = queue_.front();
    queue_.pop_front();
    // Look the handler up at delivery, as the hardware's own thread would; call it with no lock held so
    // that it may call any entry point.
    switch (event.kind) {
      case Event::Kind::kArrival:
      case Event::Kind::kRemoval: {
        DeviceChangeHandlerFn handler = device_handler_;
        void* context = device_context_;
        lock.unlock();
        if (handler) handler(event.handle, event.kind == Event::Kind::kArrival ? 1 : 0, context);
        break;
      }
      case Event::Kind::kPage: {
        auto it = page_handlers_.find(event.handle);
        auto entry = it == page_handlers_.end() ? std::pair<PageChangeHandlerFn, void*>{} : it->second;
        lock.unlock();
        if (entry.first) entry.first(event.handle, event.value, event.active ? 1 : 0, entry.second);
        break;
      }
      case Event::Kind::kButtons: {
        auto it = button_handlers_.find(event.handle);
        auto entry = it == button_handlers_.end() ? std::pair<SoftButtonHandlerFn, void*>{} : it->second;
        lock.unlock();
        if (entry.first) entry.first(event.handle, event.value, entry.second);
        break;
      }
    }
    lock.lock();
    ++delivered_total_;
    delivered_changed_.notify_all();
  }
  // Whatever is left is never delivered; flush() must not wait for it.
  delivered_total_ += queue_.size();
  queue_.clear();
  delivered_changed_.notify_all();
}

void Simulator::StopThread(std::unique_lock<std::mutex>& lock) {
  if (thread_ == nullptr) return;
  stop_ = true;
  queue_changed_.notify_all();
  std::thread* thread = thread_;
  thread_ = nullptr;
  if (std::this_thread::get_id() == thread->get_id()) {
    thread->detach();  // a handler deinitialised from the event thread: it ends once the handler returns
    delete thread;
    return;
  }
  lock.unlock();
  thread->join();
  lock.lock();
  delete thread;
}

void Simulator::Flush() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (thread_ != nullptr && std::this_thread::get_id() == thread_id_) return;  // a handler cannot wait for itself
  const uint64_t target = queued_total_;
  delivered_changed_.wait(lock, [&] { return delivered_total_ >= target; });
}

}  // namespace vexlan::sim
