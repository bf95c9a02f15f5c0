#include "driver/background_flush.h"

namespace plf {

TBackgroundFlush::~TBackgroundFlush() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();  // the queue is worked off first
}

std::size_t TBackgroundFlush::Submit(FileHandle handle) {
  std::size_t ticket;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ticket = handles_.size();
    handles_.push_back(handle);
    failed_.push_back(false);
    queue_.push_back(ticket);
    if (threads_.size() < kThreads && threads_.size() < queue_.size() + busy_) {
      try {
        threads_.emplace_back([this] { Work(); });
      } catch (...) {
        // No thread to be had: those running, or the caller's Wait, do it.
        if (threads_.empty()) {
          queue_.pop_back();
          const bool flushed = Sys().FlushFile(handle);
          const bool closed = Sys().CloseFile(handle);
          failed_[ticket] = !(flushed && closed);
          return ticket;
        }
      }
    }
  }
  wake_.notify_one();
  return ticket;
}

void TBackgroundFlush::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and nothing left
    const std::size_t ticket = queue_.front();
    queue_.pop_front();
    const FileHandle handle = handles_[ticket];
    ++busy_;
    lock.unlock();
    // Both, whatever the first says: the handle must not stay open.
    const bool flushed = Sys().FlushFile(handle);
    const bool closed = Sys().CloseFile(handle);
    lock.lock();
    failed_[ticket] = !(flushed && closed);
    --busy_;
    if (queue_.empty() && busy_ == 0) idle_.notify_all();
  }
}

void TBackgroundFlush::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return queue_.empty() && busy_ == 0; });
}

bool TBackgroundFlush::Failed(std::size_t ticket) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ticket < failed_.size() && failed_[ticket];
}

}  // namespace plf
