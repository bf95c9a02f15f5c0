#include "driver/pending_flush.h"

#include <set>
#include <utility>

#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "runtime/stream.h"
#include "streams/dir_helpers.h"
#include "streams/replace_stream.h"

namespace plf {

namespace {

// A bare name lies in the current folder.
std::string FolderOf(const std::string& path) {
  std::string folder = FolderPart(path);
  return folder.empty() ? std::string(".") : folder;
}

}  // namespace

bool PutBackupBack(const std::string& target, const std::string& backup) {
  return !backup.empty() && Sys().GetAttributes(target) == kInvalidAttributes && Sys().MoveFile(backup, target);
}

void TPendingFlush::Add(const std::string& target, const std::string& backup) {
  Forget(target);
  byTarget_[target] = items_.size();
  items_.push_back(Item{target, backup, true});
  ++waiting_;
}

bool TPendingFlush::FlushesInBackground() {
  if (inBackground_ < 0) inBackground_ = Sys().CanFlushInBackground() ? 1 : 0;
  return inBackground_ == 1;
}

void TPendingFlush::AddOpen(const std::string& target, const std::string& backup, FileHandle handle) {
  if (background_ == nullptr) background_ = std::make_unique<TBackgroundFlush>();
  Add(target, backup);
  items_.back().ticket = background_->Submit(handle);
  openKeys_.insert(FileKey(target));
}

bool TPendingFlush::MayBeOpen(const std::string& path) const {
  return !openKeys_.empty() && openKeys_.count(FileKey(path)) != 0;
}

void TPendingFlush::Drain() {
  if (background_ != nullptr) background_->Wait();
  openKeys_.clear();
}

void TPendingFlush::NoteWritten(const std::string& target, std::int64_t bytes) {
  sinceStart_ += bytes;
  if (sinceStart_ < kStartAfter) return;
  sinceStart_ = 0;
  Sys().StartFlushFileSystem(FolderOf(target));
}

bool TPendingFlush::Defers(const std::string& target) {
  const std::string folder = FolderOf(target);
  if (!asked_ || folder != askedFolder_) {
    askedDefers_ = Sys().CanFlushFileSystem(folder);
    askedFolder_ = folder;
    asked_ = true;
  }
  return askedDefers_;
}

namespace {

// `path` with the part under `fromPrefix` (a full path ending in a
// separator) moved under `toPrefix`; false when it lies elsewhere.
bool Rebase(std::string* path, const std::string& fromPrefix, const std::string& toPrefix) {
  if (path->empty()) return false;
  const std::string full = Sys().FullPath(*path);
  if (full.compare(0, fromPrefix.size(), fromPrefix) != 0) return false;
  *path = toPrefix + full.substr(fromPrefix.size());
  return true;
}

}  // namespace

void TPendingFlush::Moved(const std::string& from, const std::string& to) {
  if (items_.empty() && renamedIn_.empty()) return;
  const char separator = Sys().PathSeparator();
  std::string fromPrefix = Sys().FullPath(from);
  std::string toPrefix = Sys().FullPath(to);
  if (fromPrefix.empty() || toPrefix.empty()) return;
  if (fromPrefix.back() != separator) fromPrefix += separator;
  if (toPrefix.back() != separator) toPrefix += separator;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    Item& item = items_[i];
    if (!item.live) continue;
    Rebase(&item.backup, fromPrefix, toPrefix);
    const std::string before = item.target;
    if (!Rebase(&item.target, fromPrefix, toPrefix)) continue;
    // A later line for the old name means another file now.
    byTarget_.erase(before);
    byTarget_[item.target] = i;
  }
  std::set<std::string> folders;
  for (std::string folder : renamedIn_) {
    Rebase(&folder, fromPrefix, toPrefix);
    folders.insert(folder);
  }
  renamedIn_.swap(folders);
}

void TPendingFlush::Forget(const std::string& target) {
  if (Defers(target)) renamedIn_.insert(FolderOf(target));
  const auto it = byTarget_.find(target);
  if (it == byTarget_.end()) return;
  items_[it->second].live = false;
  byTarget_.erase(it);
  --waiting_;
}

void TPendingFlush::Flush() {
  Drain();
  // Taken out first: whatever happens below, nothing is flushed twice.
  std::vector<Item> items;
  items.swap(items_);
  byTarget_.clear();
  waiting_ = 0;

  // Data that may never reach the disk is no installed file.
  bool failed = false;
  auto undo = [&failed](const Item& item) {
    failed = true;
    Sys().DeleteFile(item.target);
    PutBackupBack(item.target, item.backup);
  };
  std::set<std::string> seen;
  seen.swap(renamedIn_);
  std::vector<std::string> folders(seen.begin(), seen.end());
  for (const Item& item : items) {
    if (!item.live) continue;
    if (item.ticket != kNoTicket) {
      if (background_->Failed(item.ticket)) undo(item);
      continue;
    }
    std::string folder = FolderOf(item.target);
    if (seen.insert(folder).second) folders.push_back(std::move(folder));
  }
  if (!folders.empty() && !Sys().FlushFileSystems(folders)) {
    for (const Item& item : items)
      if (item.live && item.ticket == kNoTicket && !Sys().FlushNamedFile(item.target)) undo(item);
  }
  if (failed) throw EWriteError(kSWriteError);
}

}  // namespace plf
