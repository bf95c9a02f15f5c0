#include "runtime/worker_threads.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace plf {

namespace {

std::mutex& MutexOf(void* state) { return *static_cast<std::mutex*>(state); }
std::condition_variable& ConditionOf(void* state) { return *static_cast<std::condition_variable*>(state); }

}  // namespace

TMutex::TMutex() : state_(new std::mutex) {}
TMutex::~TMutex() { delete &MutexOf(state_); }
void TMutex::Lock() { MutexOf(state_).lock(); }
void TMutex::Unlock() { MutexOf(state_).unlock(); }

TCondition::TCondition() : state_(new std::condition_variable) {}
TCondition::~TCondition() { delete &ConditionOf(state_); }

void TCondition::Wait(TMutex& mutex) {
  // The caller holds the lock and keeps it: adopted here, released to it.
  std::unique_lock<std::mutex> lock(MutexOf(mutex.state_), std::adopt_lock);
  ConditionOf(state_).wait(lock);
  lock.release();
}

void TCondition::WakeOne() { ConditionOf(state_).notify_one(); }
void TCondition::WakeAll() { ConditionOf(state_).notify_all(); }

struct TThreadEntry {
  static void Start(TThread* self) { TThread::Run(self); }
};

TThread::~TThread() { Join(); }

bool TThread::Start(void (*run)(void*), void* arg) {
  if (handle_ != nullptr) return false;
  run_ = run;
  arg_ = arg;
  try {
    handle_ = new std::thread(&TThreadEntry::Start, this);
  } catch (...) {  // no thread, or no memory for one
    return false;
  }
  return true;
}

void TThread::Join() {
  if (handle_ == nullptr) return;
  std::thread* thread = static_cast<std::thread*>(handle_);
  thread->join();
  delete thread;
  handle_ = nullptr;
}

}  // namespace plf
