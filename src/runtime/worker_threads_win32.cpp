#include "runtime/worker_threads.h"

#include <windows.h>

namespace plf {

// SRWLOCK and CONDITION_VARIABLE are one pointer each, all zero when new.
static_assert(sizeof(SRWLOCK) == sizeof(void*), "SRWLOCK is held in a pointer");
static_assert(sizeof(CONDITION_VARIABLE) == sizeof(void*), "CONDITION_VARIABLE is held in a pointer");

namespace {

PSRWLOCK LockOf(void** state) { return reinterpret_cast<PSRWLOCK>(state); }
PCONDITION_VARIABLE ConditionOf(void** state) { return reinterpret_cast<PCONDITION_VARIABLE>(state); }

}  // namespace

TMutex::TMutex() : state_(nullptr) {}
TMutex::~TMutex() = default;
void TMutex::Lock() { AcquireSRWLockExclusive(LockOf(&state_)); }
void TMutex::Unlock() { ReleaseSRWLockExclusive(LockOf(&state_)); }

TCondition::TCondition() : state_(nullptr) {}
TCondition::~TCondition() = default;

void TCondition::Wait(TMutex& mutex) {
  SleepConditionVariableSRW(ConditionOf(&state_), LockOf(&mutex.state_), INFINITE, 0);
}

void TCondition::WakeOne() { WakeConditionVariable(ConditionOf(&state_)); }
void TCondition::WakeAll() { WakeAllConditionVariable(ConditionOf(&state_)); }

struct TThreadEntry {
  static DWORD WINAPI Start(LPVOID self) {
    TThread::Run(static_cast<TThread*>(self));
    return 0;
  }
};

TThread::~TThread() { Join(); }

bool TThread::Start(void (*run)(void*), void* arg) {
  if (handle_ != nullptr) return false;
  run_ = run;
  arg_ = arg;
  // The helpers call only the system, never the C runtime's stdio, so
  // CreateThread serves as well as _beginthreadex.
  handle_ = CreateThread(nullptr, 0, &TThreadEntry::Start, this, 0, nullptr);
  return handle_ != nullptr;
}

void TThread::Join() {
  if (handle_ == nullptr) return;
  WaitForSingleObject(handle_, INFINITE);
  CloseHandle(handle_);
  handle_ = nullptr;
}

}  // namespace plf
