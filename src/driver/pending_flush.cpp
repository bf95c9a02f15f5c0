#include "driver/pending_flush.h"

#include <set>
#include <utility>

#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "runtime/stream.h"
#include "streams/dir_helpers.h"

namespace plf {

namespace {

// A bare name lies in the current folder.
std::string FolderOf(const std::string& path) {
  std::string folder = FolderPart(path);
  return folder.empty() ? std::string(".") : folder;
}

}  // namespace

void PutBackupBack(const std::string& target, const std::string& backup) {
  if (!backup.empty() && Sys().GetAttributes(target) == kInvalidAttributes) Sys().MoveFile(backup, target);
}

void TPendingFlush::Add(const std::string& target, const std::string& backup) {
  Forget(target);
  byTarget_[target] = items_.size();
  items_.push_back(Item{target, backup, true});
  ++waiting_;
}

void TPendingFlush::NoteWritten(const std::string& target, std::int64_t bytes) {
  sinceStart_ += bytes;
  if (sinceStart_ < kStartAfter) return;
  sinceStart_ = 0;
  Sys().StartFlushFileSystem(FolderOf(target));
}

void TPendingFlush::Forget(const std::string& target) {
  if (defers_) renamedIn_.insert(FolderOf(target));
  const auto it = byTarget_.find(target);
  if (it == byTarget_.end()) return;
  items_[it->second].live = false;
  byTarget_.erase(it);
  --waiting_;
}

void TPendingFlush::Flush() {
  // Taken out first: whatever happens below, nothing is flushed twice.
  std::vector<Item> items;
  items.swap(items_);
  byTarget_.clear();
  waiting_ = 0;

  std::set<std::string> seen;
  seen.swap(renamedIn_);
  std::vector<std::string> folders(seen.begin(), seen.end());
  for (const Item& item : items) {
    if (!item.live) continue;
    std::string folder = FolderOf(item.target);
    if (seen.insert(folder).second) folders.push_back(std::move(folder));
  }
  if (folders.empty() || Sys().FlushFileSystems(folders)) return;

  bool failed = false;
  for (const Item& item : items) {
    if (!item.live || Sys().FlushNamedFile(item.target)) continue;
    // Data that may never reach the disk is no installed file.
    failed = true;
    Sys().DeleteFile(item.target);
    PutBackupBack(item.target, item.backup);
  }
  if (failed) throw EWriteError(kSWriteError);
}

}  // namespace plf
