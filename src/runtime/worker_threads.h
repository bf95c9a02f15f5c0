// A lock, a condition and a thread: just what a few helper threads need.
// On Windows these are the system's own objects, so the installer links
// no threads library.
#pragma once

namespace plf {

class TMutex {
 public:
  TMutex();
  ~TMutex();
  TMutex(const TMutex&) = delete;
  TMutex& operator=(const TMutex&) = delete;

  void Lock();
  void Unlock();

 private:
  friend class TCondition;
  // The lock itself where it fits in a pointer (Windows), else the
  // platform's lock it points to.
  void* state_;
};

// Holds a mutex locked for its lifetime; in between it may be let go and
// taken again.
class TLocked {
 public:
  explicit TLocked(TMutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~TLocked() {
    if (held_) mutex_.Unlock();
  }
  TLocked(const TLocked&) = delete;
  TLocked& operator=(const TLocked&) = delete;

  void Unlock() {
    held_ = false;
    mutex_.Unlock();
  }
  void Lock() {
    mutex_.Lock();
    held_ = true;
  }

 private:
  TMutex& mutex_;
  bool held_ = true;
};

class TCondition {
 public:
  TCondition();
  ~TCondition();
  TCondition(const TCondition&) = delete;
  TCondition& operator=(const TCondition&) = delete;

  // `mutex` is held by the caller; it is let go while waiting and held
  // again on return. May return without a wake: callers test their state.
  void Wait(TMutex& mutex);
  void WakeOne();
  void WakeAll();

 private:
  void* state_;
};

class TThread {
 public:
  TThread() = default;
  // Joins a thread still running.
  ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Runs `run(arg)` on a new thread; false when none could be started.
  // Like std::thread, an exception leaving `run` ends the process.
  bool Start(void (*run)(void*), void* arg);
  // Waits for the end of the thread, if one was started.
  void Join();

 private:
  static void Run(TThread* self) noexcept { self->run_(self->arg_); }
  friend struct TThreadEntry;

  void (*run_)(void*) = nullptr;
  void* arg_ = nullptr;
  void* handle_ = nullptr;
};

}  // namespace plf
