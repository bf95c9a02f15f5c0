#include "driver/background_flush.h"

namespace plf {

TBackgroundFlush::~TBackgroundFlush() {
  {
    TLocked lock(mutex_);
    stopping_ = true;
  }
  wake_.WakeAll();
  for (unsigned i = 0; i < started_; ++i) threads_[i].Join();  // the queue is worked off first
}

std::size_t TBackgroundFlush::Submit(FileHandle handle) {
  std::size_t ticket;
  {
    TLocked lock(mutex_);
    ticket = handles_.size();
    handles_.push_back(handle);
    failed_.push_back(false);
    queue_.push_back(ticket);
    if (started_ < kThreads && started_ < queue_.size() + busy_) {
      if (threads_[started_].Start(&TBackgroundFlush::WorkOn, this)) {
        ++started_;
      } else if (started_ == 0) {
        // No thread to be had: those running, or the caller's Wait, do it.
        queue_.pop_back();
        const bool flushed = Sys().FlushFile(handle);
        const bool closed = Sys().CloseFile(handle);
        failed_[ticket] = !(flushed && closed);
        return ticket;
      }
    }
  }
  wake_.WakeOne();
  return ticket;
}

void TBackgroundFlush::WorkOn(void* self) { static_cast<TBackgroundFlush*>(self)->Work(); }

void TBackgroundFlush::Work() {
  TLocked lock(mutex_);
  for (;;) {
    while (!stopping_ && queue_.empty()) wake_.Wait(mutex_);
    if (queue_.empty()) return;  // stopping, and nothing left
    const std::size_t ticket = queue_.front();
    queue_.pop_front();
    const FileHandle handle = handles_[ticket];
    ++busy_;
    lock.Unlock();
    // Both, whatever the first says: the handle must not stay open.
    const bool flushed = Sys().FlushFile(handle);
    const bool closed = Sys().CloseFile(handle);
    lock.Lock();
    failed_[ticket] = !(flushed && closed);
    --busy_;
    if (queue_.empty() && busy_ == 0) idle_.WakeAll();
  }
}

void TBackgroundFlush::Wait() {
  TLocked lock(mutex_);
  while (!queue_.empty() || busy_ != 0) idle_.Wait(mutex_);
}

bool TBackgroundFlush::Failed(std::size_t ticket) const {
  TLocked lock(mutex_);
  return ticket < failed_.size() && failed_[ticket];
}

}  // namespace plf
