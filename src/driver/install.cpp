#include "driver/install.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "driver/backup_name.h"
#include "driver/file_stamp.h"
#include "driver/pending_flush.h"
#include "driver/time_rule.h"
#include "package/preload_reader.h"
#include "runtime/exceptions.h"
#include "runtime/file_tests.h"
#include "runtime/platform.h"
#include "runtime/stream.h"
#include "runtime/string_list.h"
#include "runtime/wildcard.h"
#include "streams/dir_helpers.h"
#include "streams/replace_stream.h"
#include "text/ini_string_list.h"
#include "text/textutil.h"

namespace plf {

namespace {

constexpr std::int32_t kCopyChunk = 32768;

// Copies exactly `size` bytes, then reads the entry to its end so that a
// compressed entry's checksum is verified before anything is committed. A
// source that ends early or a target that takes less than it is given (a
// full disk) fails the line instead of installing a truncated file.
void CopyEntry(TStream& source, TReplaceStream& target, std::int32_t size, char* buffer, TPendingFlush& pending) {
  while (size > 0) {
    const std::int32_t chunk = size < kCopyChunk ? size : kCopyChunk;
    std::int32_t n = source.Read(buffer, chunk);
    if (n <= 0) throw EReadError(kSReadError);
    if (n > chunk) n = chunk;
    target.WriteExact(buffer, n);
    pending.NoteWritten(target.TargetName(), n);
    size -= n;
  }
  while (source.Read(buffer, kCopyChunk) > 0) {
  }
}

struct Settings {
  std::string pattern;
  double stampTime = 0;
  // The folder an earlier line made sure of; most lines share it. Forgotten
  // whenever the run moves a folder, which may be that one or hold it.
  std::string folderMade;
};

void EnsureFolderOnce(const std::string& target, Settings& settings) {
  const std::string folder = FolderPart(target);
  if (folder.empty() || folder == settings.folderMade) return;  // no folder part: nothing to make
  EnsureTargetFolder(target);
  settings.folderMade = folder;
}

void InstallLine(TPreLoadReader& reader, Settings& settings, std::string line, char* buffer,
                 TPendingFlush& pending) {
  std::string entryName;
  SplitOff(&line, '=', &entryName);
  const std::string target = Sys().ScriptPath(line);

  EnsureFolderOnce(target, settings);
  const int index = reader.FindEntry(entryName);
  if (index < 0) return;
  const std::uint32_t attributes = Sys().GetAttributes(target);
  const bool targetExists = attributes != kInvalidAttributes;
  if (targetExists && (attributes & kAttrReadOnly) != 0) return;

  // Opened before the target is moved aside, so that an entry that cannot be
  // read never leaves the target path empty. A negative size is a damaged
  // record; it must not replace a file with an empty one.
  std::unique_ptr<TStream> entry;
  std::int32_t size = 0;
  if (!reader.OpenEntry(index, &entry, &size) || size < 0) return;

  // A file still being flushed on a helper thread is open without sharing:
  // it, and a folder that may hold one, can be moved or replaced only once
  // every such file is closed.
  if (targetExists && ((attributes & kAttrDirectory) != 0 || pending.MayBeOpen(target))) pending.Drain();

  std::string backup;
  bool movedToBackup = false;
  if (targetExists) {
    MakeBackupName(target, settings.pattern, &backup);
    if (SameFileName(backup, target))
      backup.clear();  // a pattern that names the target itself keeps no backup
    else if (!HasWildcards(backup) || !FileExists(backup))
      // A move never replaces what stands at its destination, so an existing
      // backup survives it without a search first, which spares Windows a
      // lookup of a name that is usually not there. A name with wildcards is
      // searched: on POSIX it could be created literally beside the backup.
      movedToBackup = Sys().MoveFile(target, backup);
  }
  // A folder moved aside takes the files waiting in it along.
  const bool folderMoved = movedToBackup && (attributes & kAttrDirectory) != 0;
  if (folderMoved) {
    pending.Moved(target, backup);
    settings.folderMade.clear();
  }

  // The attribute query above still tells whether a file stands there.
  const bool filePresent = targetExists && (attributes & kAttrDirectory) == 0 && !movedToBackup;
  const std::string undo = movedToBackup ? backup : std::string();
  try {
    TReplaceStream out(target, backup,
                       filePresent ? TReplaceStream::Presence::Present : TReplaceStream::Presence::Absent);
    if (pending.FlushesInBackground())
      out.HandOverFlush();
    else if (pending.Defers(target))
      out.DeferFlush();
    std::int64_t stampUtc = 0;
    if (StampFileTime(std::trunc(reader.EntryDate(index)) + settings.stampTime, &stampUtc))
      out.SetLastWriteTimeOnFinish(stampUtc);
    CopyEntry(*entry, out, size, buffer, pending);
    out.Commit();
    out.Finish();
    const FileHandle open = out.TakeHandle();
    if (open != kInvalidHandle)
      pending.AddOpen(target, undo, open);
    else if (out.FlushPending())
      pending.Add(target, undo);
    else
      pending.Forget(target);
  } catch (...) {
    // The replace stream is gone by now, with what it wrote; the old file
    // goes back to the target path unless something already stands there.
    if (PutBackupBack(target, undo) && folderMoved) pending.Moved(backup, target);
    throw;
  }
}

}  // namespace

void InstallFiles(TPreLoadReader& reader, TIniStringList& script, std::string* folderMade) {
  Settings settings;
  if (folderMade != nullptr) settings.folderMade = *folderMade;
  script.ReadString("Options", "Rename", &settings.pattern);
  if (settings.pattern.empty()) settings.pattern = kDefaultRenamePattern;
  settings.pattern = Sys().ScriptPath(settings.pattern);

  std::string stampText;
  script.ReadString("Options", "TimeStamp", &stampText);
  stampText = Trim(stampText);
  if (!stampText.empty()) settings.stampTime = StrToTimeOfDay(stampText);

  std::string body;
  script.ReadSection("Files", &body);
  TStringList lines;
  lines.SetText(Trim(body));

  std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
  TPendingFlush pending;
  try {
    for (int i = 0; i < lines.Count(); ++i) {
      InstallLine(reader, settings, lines.Strings(i), buffer.get(), pending);
      if (pending.Full()) pending.Flush();
    }
  } catch (...) {
    // The lines served before the failure stay installed, so they go to
    // disk as well; the failure that stopped the run is the one reported.
    try {
      pending.Flush();
    } catch (...) {
    }
    throw;
  }
  pending.Flush();
  if (folderMade != nullptr) *folderMade = settings.folderMade;
}

}  // namespace plf
