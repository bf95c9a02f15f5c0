// Open files flushed and closed on a few helper threads, in the order they
// were handed over, while the caller goes on writing the next ones. Each
// file's outcome is kept until asked for; Wait() returns once every file
// handed over is closed. Used where every file must be flushed on its own
// (Windows): the flushes then overlap each other and the inflating.
#pragma once

#include <cstddef>
#include <deque>
#include <vector>

#include "runtime/platform.h"
#include "runtime/worker_threads.h"

namespace plf {

class TBackgroundFlush {
 public:
  static constexpr unsigned kThreads = 4;

  TBackgroundFlush() = default;
  // Waits for every file; never raises.
  ~TBackgroundFlush();
  TBackgroundFlush(const TBackgroundFlush&) = delete;
  TBackgroundFlush& operator=(const TBackgroundFlush&) = delete;

  // Takes the handle over; the number identifies its outcome.
  std::size_t Submit(FileHandle handle);
  // Blocks until every file handed over is flushed and closed.
  void Wait();
  // After Wait(): whether the file's flush or close failed.
  bool Failed(std::size_t ticket) const;

 private:
  static void WorkOn(void* self);
  void Work();

  mutable TMutex mutex_;
  TCondition wake_, idle_;
  std::deque<std::size_t> queue_;
  std::vector<FileHandle> handles_;
  std::vector<bool> failed_;
  std::size_t busy_ = 0;
  bool stopping_ = false;
  TThread threads_[kThreads];
  unsigned started_ = 0;
};

}  // namespace plf
