// Files the installation has put in place without flushing them, each with
// the backup that undoes it. Flushed together (each file system once, or,
// should that fail, file after file), many small files cost one barrier
// instead of one each. The run reports success only after
// Flush() has returned, so exit code 0 still means the data is on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "driver/background_flush.h"
#include "runtime/platform.h"

namespace plf {

// Moves the target's old file back from its backup after the new one failed,
// unless something already stands at the target. `backup` empty: none.
// True when it was moved back.
bool PutBackupBack(const std::string& target, const std::string& backup);

class TPendingFlush {
 public:
  // Files waiting at most; bounds the memory held and the work a power cut
  // can undo.
  static constexpr std::size_t kLimit = 4096;
  // Written bytes after which the platform is asked to start writing them
  // to disk in the background.
  static constexpr std::int64_t kStartAfter = 8 << 20;

  // Counts bytes written to `target`; now and then starts the flush of its
  // file system in the background, so that the one at the end has little
  // left to do.
  void NoteWritten(const std::string& target, std::int64_t bytes);

  // `backup` names where the target's old file went, empty when none did.
  // A later file at the same target takes the place of the earlier one.
  void Add(const std::string& target, const std::string& backup);
  // The file at the target was replaced by one already flushed; only the
  // rename that put it there still waits for the file-system flush.
  void Forget(const std::string& target);
  bool Full() const { return waiting_ >= kLimit; }
  // Whether a file at `target` is better left to Flush() than flushed while
  // still open: only where the file system that holds it can be flushed as
  // a whole, with its errors reported. Reopening each file to flush it would
  // cost as much and could meet a sharing conflict.
  bool Defers(const std::string& target);
  // The run moved a folder from `from` to `to`: files waiting in it (and
  // backups kept in it) are flushed, or put back, where they now are.
  void Moved(const std::string& from, const std::string& to);

  // Whether finished files go, still open, to helper threads that flush and
  // close them (where each file must be flushed on its own): the flushes
  // then overlap each other and the writing of the next files.
  bool FlushesInBackground();
  // Like Add, for a file whose open handle it takes over.
  void AddOpen(const std::string& target, const std::string& backup, FileHandle handle);
  // Whether a file handed over may still be open at `path`: before the run
  // moves, replaces or deletes it, Drain() must close them all.
  bool MayBeOpen(const std::string& path) const;
  void Drain();

  // Brings every waiting file to stable storage and empties the list. Each
  // file that cannot be flushed is deleted and its backup put back; after
  // all were tried, that raises EWriteError "Stream write error".
  void Flush();

 private:
  static constexpr std::size_t kNoTicket = static_cast<std::size_t>(-1);
  struct Item {
    std::string target;
    std::string backup;
    bool live = true;
    std::size_t ticket = kNoTicket;  // of the background flush, if it went there
  };
  std::unique_ptr<TBackgroundFlush> background_;
  std::set<std::string> openKeys_;  // FileKey of each file not yet known closed
  int inBackground_ = -1;           // -1: not asked yet
  std::vector<Item> items_;
  std::unordered_map<std::string, std::size_t> byTarget_;
  std::set<std::string> renamedIn_;  // folders of files put in place flushed
  std::size_t waiting_ = 0;
  std::int64_t sinceStart_ = 0;
  // The last folder asked about: consecutive lines mostly share one.
  std::string askedFolder_;
  bool askedDefers_ = false;
  bool asked_ = false;
};

}  // namespace plf
