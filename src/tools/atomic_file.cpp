#include "tools/atomic_file.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "runtime/exceptions.h"
#include "runtime/stream.h"
#include "tools/atomic_file_os.h"
#include "tools/cli.h"

namespace plf::tools {

namespace {

// Enough for the output, one file of extract, and a spill file for every
// entry that parallel pack lets wait.
constexpr int kSlots = 320;
constexpr std::size_t kSlotPath = 1024;
constexpr int kCreateAttempts = 100;

enum SlotState : int { kFree, kFilling, kListed, kTaken };

struct Slot {
  std::atomic<int> state{kFree};
  std::atomic<FileHandle> handle{kInvalidHandle};
  char path[kSlotPath];
};

Slot gSlots[kSlots];
std::once_flag gInstalled;
// Set by the signal handler before it removes the listed files: a file
// listed after that is removed by Add itself.
std::atomic<bool> gEnding{false};
// Files being created and not yet listed, which the handler waits for.
std::atomic<int> gCreating{0};
constexpr int kCreationWaits = 2000;  // of 100 microseconds each

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free slots");
static_assert(std::atomic<FileHandle>::is_always_lock_free, "the signal handler needs lock-free slots");

// Runs inside the signal handler: each listed file is taken exactly once,
// so that a Remove racing with it never has its slot reused meanwhile.
void RemoveListedFiles() {
  gEnding.store(true);
  // A file created on another thread a moment ago is listed in a moment;
  // on this very thread it never will be, so the wait is bounded.
  for (int i = 0; i < kCreationWaits && gCreating.load() > 0; ++i) atomic_os::PauseInHandler();
  for (Slot& slot : gSlots) {
    int expected = kListed;
    if (slot.state.compare_exchange_strong(expected, kTaken))
      atomic_os::RemoveFromHandler(slot.path, slot.handle.load());
  }
}

void InstallCleanup() {
  std::call_once(gInstalled, [] { atomic_os::InstallSignalCleanup(&RemoveListedFiles); });
}

}  // namespace

namespace TemporaryFiles {

int Add(const std::string& path, FileHandle handle) {
  InstallCleanup();
  if (path.empty() || path.size() >= kSlotPath || path.find('\0') != std::string::npos) return -1;
  for (int i = 0; i < kSlots; ++i) {
    Slot& slot = gSlots[i];
    int expected = kFree;
    if (!slot.state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.handle.store(handle);
    slot.state.store(kListed);
    if (gEnding.load()) {
      expected = kListed;
      if (slot.state.compare_exchange_strong(expected, kTaken)) atomic_os::RemoveFromHandler(slot.path, handle);
    }
    return i;
  }
  return -1;
}

Creation::Creation() {
  // Before the first file exists, or a signal would find it unlisted and
  // end the process by the default action.
  InstallCleanup();
  // A signal handled on this thread between the create and the listing
  // could not wait for the listing; held, it comes in after it.
  atomic_os::HoldSignals();
  gCreating.fetch_add(1);
  // The handler may have looked at the count already and be ending the
  // process: a file created now could be left behind unlisted, so none is.
  while (gEnding.load()) atomic_os::PauseInHandler();
}
Creation::~Creation() {
  gCreating.fetch_sub(1);
  atomic_os::ReleaseSignals();
}

void ForgetHandle(int slot) {
  if (slot >= 0 && slot < kSlots) gSlots[slot].handle.store(kInvalidHandle);
}

void Remove(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  // A slot the handler has taken stays taken: the process is ending.
  int expected = kListed;
  gSlots[slot].state.compare_exchange_strong(expected, kFree);
}

}  // namespace TemporaryFiles

// The temporary file's handle, kept open by the AtomicFile; remembers why
// the first failed write failed.
class AtomicFile::FileStream final : public THandleStream {
 public:
  explicit FileStream(FileHandle handle) : THandleStream(handle) {}

  std::int32_t Write(const void* buffer, std::int32_t count) override {
    if (count <= 0) return 0;
    const std::int32_t n = Sys().WriteFile(handle_, buffer, count);
    if (n != count && failure_.empty()) failure_ = n < 0 ? LastSystemError() : "the disk is full";
    return n < 0 ? 0 : n;
  }

  const std::string& Failure() const { return failure_; }

 private:
  std::string failure_;
};

AtomicFile::AtomicFile(const std::string& target) : target_(target) {
  const std::string base = target + ".~" + std::to_string(atomic_os::ProcessId());
  FileHandle handle = kInvalidHandle;
  std::string reason;
  const TemporaryFiles::Creation creation;
  for (int attempt = 1; attempt <= kCreateAttempts && handle == kInvalidHandle; ++attempt) {
    temporary_ = attempt == 1 ? base + ".tmp" : base + "-" + std::to_string(attempt) + ".tmp";
    handle = Sys().OpenFile(temporary_, Access::ReadWrite, Share::None, Disposition::CreateNew);
    if (handle != kInvalidHandle) break;
    reason = LastSystemError();
    // A leftover of an earlier run of the same process id takes the next
    // name; any other failure will not go away by trying another.
    if (Sys().GetAttributes(temporary_) == kInvalidAttributes) break;
  }
  if (handle == kInvalidHandle)
    throw Exception(Shown(target_) + ": cannot create a temporary file beside it: " + reason);
  stream_ = std::make_unique<FileStream>(handle);
  open_ = true;
  slot_ = TemporaryFiles::Add(temporary_, handle);
}

AtomicFile::~AtomicFile() { Discard(); }

TStream& AtomicFile::Stream() { return *stream_; }

FileHandle AtomicFile::Handle() const { return open_ ? stream_->Handle() : kInvalidHandle; }

const std::string& AtomicFile::WriteFailure() const { return stream_->Failure(); }

void AtomicFile::Close() {
  if (!open_) throw Exception(Shown(target_) + ": the file was already closed");
  if (!stream_->Failure().empty()) {
    const std::string reason = stream_->Failure();
    Discard();
    throw Exception(Shown(target_) + ": writing failed: " + reason);
  }
  const FileHandle handle = stream_->Handle();
  if (!Sys().FlushFile(handle)) {
    const std::string reason = LastSystemError();
    Discard();
    throw Exception(Shown(target_) + ": flushing to disk failed: " + reason);
  }
  TemporaryFiles::ForgetHandle(slot_);
  open_ = false;
  if (!Sys().CloseFile(handle)) {
    const std::string reason = LastSystemError();
    Discard();
    throw Exception(Shown(target_) + ": closing failed: " + reason);
  }
}

void AtomicFile::Commit() {
  if (open_) Close();
  if (temporary_.empty()) throw Exception(Shown(target_) + ": the file was already committed or discarded");
  if (!atomic_os::RenameOver(temporary_, target_)) {
    const std::string reason = LastSystemError();
    Discard();
    throw Exception(Shown(target_) + ": renaming the complete temporary file over it failed: " + reason);
  }
  // Listed until here, so that a signal during the rename still removes
  // the file when the rename has not happened.
  TemporaryFiles::Remove(slot_);
  slot_ = -1;
  temporary_.clear();
  atomic_os::FlushFolderOf(target_);
}

void AtomicFile::Discard() noexcept {
  if (temporary_.empty()) return;
  if (open_) {
    TemporaryFiles::ForgetHandle(slot_);
    Sys().CloseFile(stream_->Handle());
    open_ = false;
  }
  Sys().DeleteFile(temporary_);
  TemporaryFiles::Remove(slot_);
  slot_ = -1;
  temporary_.clear();
}

}  // namespace plf::tools
