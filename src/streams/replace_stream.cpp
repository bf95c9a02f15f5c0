#include "streams/replace_stream.h"

#include <utility>
#include <vector>

#include "runtime/exceptions.h"
#include "runtime/file_tests.h"
#include "runtime/platform.h"
#include "runtime/wildcard.h"
#include "streams/dir_helpers.h"

namespace plf {

namespace {

constexpr std::int32_t kCopyChunk = 32768;

// Windows is the platform whose separator is the backslash; its file
// systems ignore letter case and drop trailing dots and blanks of a name.
bool WindowsNames() { return Sys().PathSeparator() == '\\'; }

// A full path in one spelling per file: single separators ("\\" for "/"
// on Windows), no "." or ".." parts, and on Windows no trailing dots or
// blanks on a part, which the file system drops. Done here as well as by
// the platform's full path, which need not do all of it.
std::string Canonical(const std::string& fullPath, bool windows) {
  const char separator = windows ? '\\' : '/';
  const auto isSeparator = [windows](char c) { return c == '/' || (windows && c == '\\'); };
  std::string::size_type i = 0;
  std::string root;
  // Two leading separators begin a UNC name on Windows.
  while (i < fullPath.size() && isSeparator(fullPath[i]) && root.size() < (windows ? 2u : 1u)) {
    root += separator;
    ++i;
  }
  std::vector<std::string> parts;
  while (i <= fullPath.size()) {
    std::string::size_type j = i;
    while (j < fullPath.size() && !isSeparator(fullPath[j])) ++j;
    std::string part = fullPath.substr(i, j - i);
    i = j + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      // A drive ("C:") is the root; nothing climbs above it.
      if (!parts.empty() && !(windows && parts.size() == 1 && root.empty() && parts[0].back() == ':')) parts.pop_back();
      continue;
    }
    if (windows) {
      std::string::size_type end = part.size();
      while (end > 0 && (part[end - 1] == '.' || part[end - 1] == ' ')) --end;
      if (end > 0) part.resize(end);
    }
    parts.push_back(std::move(part));
  }
  std::string out = root;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (k > 0) out += separator;
    out += parts[k];
  }
  return out;
}

}  // namespace

std::string FileKey(const std::string& name) {
  const bool windows = WindowsNames();
  std::string key = Canonical(Sys().FullPath(name), windows);
  if (windows)
    for (char& c : key) c = static_cast<char>(Sys().UpperChar(static_cast<unsigned char>(c)));
  return key;
}

bool SameFileName(const std::string& a, const std::string& b) {
  if (a == b) return true;
  const bool windows = WindowsNames();
  const std::string fa = Canonical(Sys().FullPath(a), windows);
  const std::string fb = Canonical(Sys().FullPath(b), windows);
  if (!windows) return fa == fb;
  return Sys().CompareTextLocale(fa, fb) == 0;
}

namespace {

std::string Folded(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(Sys().UpperChar(static_cast<unsigned char>(c)));
  return out;
}

// The backup test searches with the backup name, wildcards and all, and
// takes the file it finds for the backup: an existing file that the pattern
// matches in the same folder may be that file. A name nothing stands at is
// safe to take, so the search for a free one ends.
bool MatchesBackupPattern(const std::string& name, const std::string& pattern) {
  const std::string patternFolder = FolderPart(pattern);
  const std::string patternName = pattern.substr(patternFolder.size());
  if (!HasWildcards(patternName)) return false;
  const std::string nameFolder = FolderPart(name);
  const std::string namePart = name.substr(nameFolder.size());
  if (!SameFileName(nameFolder.empty() ? "." : nameFolder, patternFolder.empty() ? "." : patternFolder)) return false;
  const bool matches = WindowsNames() ? MatchesWildcard(Folded(patternName), Folded(namePart))
                                      : MatchesWildcard(patternName, namePart);
  return matches && FilePresent(name);
}

bool Avoided(const std::string& name, const std::string& avoid) {
  return !avoid.empty() && (SameFileName(name, avoid) || MatchesBackupPattern(name, avoid));
}

}  // namespace

std::string MakeTempName(const std::string& target, const std::string& avoid) {
  const std::string delimiters = std::string(".") + Sys().PathDelimiters();
  const std::string::size_type cut = target.find_last_of(delimiters);
  const bool hasExtension = cut != std::string::npos && target[cut] == '.';
  const std::string::size_type insertAt = hasExtension ? cut + 1 : target.size();
  std::string name = target;
  name.insert(insertAt, 1, '~');
  // The backup of the target must never be truncated to become the
  // temporary file. Each further "~" makes the name longer; it ends at the
  // first name that is not the backup's and no existing file it matches.
  while (Avoided(name, avoid)) name.insert(insertAt, 1, '~');
  return name;
}

TReplaceStream::Opened TReplaceStream::OpenTarget(const std::string& fileName, const std::string& avoid,
                                                  Presence present) {
  Opened opened;
  if (present == Presence::Absent || (present == Presence::Unknown && !FilePresent(fileName))) {
    // Created exclusively: should a file have appeared at the name after
    // all, it is replaced through a temporary file rather than truncated.
    opened.handle = Sys().OpenFile(fileName, Access::ReadWrite, Share::None, Disposition::CreateNew);
    if (opened.handle != kInvalidHandle) {
      opened.tempName = fileName;
      return opened;
    }
    if (!FilePresent(fileName))
      throw EFCreateError(Format(kSFCreateError, {Sys().AnsiToUtf8(fileName)}));
  }
  opened.targetExisted = true;
  opened.tempName = MakeTempName(fileName, avoid);
  opened.handle = Sys().OpenFile(opened.tempName, Access::ReadWrite, Share::None, Disposition::CreateAlways);
  if (opened.handle == kInvalidHandle) {
    Sys().DeleteFile(opened.tempName);
    throw EFCreateError(Format(kSFCreateError, {Sys().AnsiToUtf8(opened.tempName)}));
  }
  return opened;
}

TReplaceStream::TReplaceStream(const std::string& fileName, const std::string& avoid, Presence present)
    : TReplaceStream(OpenTarget(fileName, avoid, present), fileName) {}

TReplaceStream::TReplaceStream(const Opened& opened, const std::string& fileName)
    : TFileStream(AdoptHandle{}, opened.tempName, opened.handle),
      targetName_(fileName),
      tempName_(opened.tempName),
      targetExisted_(opened.targetExisted) {}

TReplaceStream::~TReplaceStream() {
  if (handedOver_ != kInvalidHandle) Sys().CloseFile(handedOver_);  // never taken: closed unflushed
  Close();
  if (!finished_ && !committed_) Sys().DeleteFile(tempName_);
}

void TReplaceStream::Finish() {
  if (finished_) return;
  finished_ = true;
  if (!committed_) {
    Close();
    Sys().DeleteFile(tempName_);
    return;
  }
  // The new data must be on stable storage before the old file goes, and a
  // write that only fails when flushed or closed is no success.
  if (stampSet_) Sys().SetLastWriteTime(handle_, stampUtc_);  // a file that cannot be dated keeps its time
  if (handOver_ && !targetExisted_) {
    handedOver_ = handle_;
    handle_ = kInvalidHandle;
    flushPending_ = true;
    return;
  }
  const bool flushNow = targetExisted_ || !deferFlush_;
  const bool flushed = !flushNow || Sys().FlushFile(handle_);
  const bool closed = Close();
  if (!flushed || !closed) {
    Sys().DeleteFile(tempName_);
    throw EWriteError(kSWriteError);
  }
  flushPending_ = !flushNow;
  if (!targetExisted_) return;
  if (!Sys().DeleteFile(targetName_))
    throw Exception(Format(kSReplaceReadOnly, {Sys().AnsiToUtf8(targetName_)}));
  if (!Sys().MoveFile(tempName_, targetName_))
    throw Exception(Format(kSReplaceRename, {Sys().AnsiToUtf8(tempName_), Sys().AnsiToUtf8(targetName_)}));
}

std::int32_t CopyStream(TStream* source, TStream* destination, bool rewind, std::int32_t count) {
  if (source == nullptr) return 0;
  if (rewind) source->Seek(0, 0);
  if (destination == nullptr) return 0;
  char buffer[kCopyChunk];
  std::int32_t result = 0;
  while (count > 0) {
    const std::int32_t chunk = count >= kCopyChunk ? kCopyChunk : count;
    std::int32_t n = source->Read(buffer, chunk);
    if (n <= 0) break;
    if (n > chunk) n = chunk;  // a stream that claims more than it was asked for
    destination->Write(buffer, n);
    count -= n;
    result += n;
  }
  return result;
}

}  // namespace plf
