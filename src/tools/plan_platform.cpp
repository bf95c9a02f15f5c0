#include "tools/plan_platform.h"

#include <chrono>

#include "runtime/wildcard.h"
#include "tools/cli.h"

namespace plf::tools {

namespace {

constexpr FileHandle kFirstFakeHandle = -1000000;
constexpr std::int64_t kUnixEpochFileTime = 116444736000000000LL;

// Only what the installer decides by: present, a folder, read-only.
constexpr std::uint32_t kDecidingAttributes = kAttrReadOnly | kAttrDirectory;

std::int64_t NowFileTime() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  return kUnixEpochFileTime + std::chrono::duration_cast<std::chrono::microseconds>(since).count() * 10;
}

const char* KindName(FileOperation::Kind kind) {
  switch (kind) {
    case FileOperation::Kind::Query:
      return "query";
    case FileOperation::Kind::OpenForWrite:
      return "open for writing";
    case FileOperation::Kind::Written:
      return "written";
    case FileOperation::Kind::Stamp:
      return "stamp";
    case FileOperation::Kind::Move:
      return "move";
    case FileOperation::Kind::Delete:
      return "delete";
    case FileOperation::Kind::CreateFolder:
      return "create folder";
    case FileOperation::Kind::Message:
      return "message";
  }
  return "?";
}

}  // namespace

bool FileOperation::operator==(const FileOperation& o) const {
  return kind == o.kind && path == o.path && path2 == o.path2 && succeeded == o.succeeded && value == o.value;
}

std::string Describe(const FileOperation& op) {
  std::string s = std::string(KindName(op.kind)) + " " + Shown(op.path);
  switch (op.kind) {
    case FileOperation::Kind::Move:
      s += " -> " + Shown(op.path2);
      break;
    case FileOperation::Kind::Message:
      s = "message \"" + op.path + "\" (" + op.path2 + ")";
      break;
    case FileOperation::Kind::Query:
    case FileOperation::Kind::OpenForWrite:
    case FileOperation::Kind::Written:
      s += " [" + std::to_string(op.value) + "]";
      break;
    case FileOperation::Kind::Stamp:
      s += " " + LocalTimeText(op.value);
      break;
    default:
      break;
  }
  return s + (op.succeeded ? ": ok" : ": failed");
}

PlanPlatform::PlanPlatform(Platform& inner, Mode mode, std::string currentFolder)
    : PlatformWrapper(inner), mode_(mode), folder_(std::move(currentFolder)), nextFake_(kFirstFakeHandle) {}

PlanPlatform::~PlanPlatform() = default;

bool PlanPlatform::Peek(const std::string& path, FoundItem* item) const {
  if (mode_ == Mode::Record) return const_cast<PlanPlatform*>(this)->Inner().FindFirst(Rooted(path), item);
  const View v = Look(path);
  item->attributes = v.attributes;
  item->lastWriteTime = v.lastWriteTime;
  return v.kind != NodeKind::Absent;
}

std::string PlanPlatform::Rooted(const std::string& path) const {
  if (folder_.empty() || path.empty()) return path;
  Platform& inner = const_cast<PlanPlatform*>(this)->Inner();
  const char separator = inner.PathSeparator();
  bool absolute = path[0] == separator;
  if (separator == '\\') absolute = absolute || path[0] == '/' || (path.size() >= 2 && path[1] == ':');
  if (absolute) return path;
  return folder_.back() == separator ? folder_ + path : folder_ + separator + path;
}

// The full path without separators at its end (a root keeps its own).
std::string PlanPlatform::Full(const std::string& path) const {
  Platform& inner = const_cast<PlanPlatform*>(this)->Inner();
  std::string full = inner.FullPath(Rooted(path));
  const std::string separators = inner.PathSeparator() == '\\' ? "\\/" : "/";
  while (full.size() > 1 && separators.find(full.back()) != std::string::npos && full[full.size() - 2] != ':')
    full.pop_back();
  return full;
}

// Windows names ignore letter case; "/" and "\" are one separator there.
std::string PlanPlatform::Key(const std::string& full) const {
  Platform& inner = const_cast<PlanPlatform*>(this)->Inner();
  if (inner.PathSeparator() != '\\') return full;
  std::string key = full;
  for (char& c : key) c = c == '/' ? '\\' : static_cast<char>(inner.UpperChar(static_cast<unsigned char>(c)));
  return key;
}

PlanPlatform::View PlanPlatform::Look(const std::string& path) const {
  Platform& inner = const_cast<PlanPlatform*>(this)->Inner();
  View view;
  if (path.empty()) return view;
  const std::string full = Full(path);
  const std::string key = Key(full);
  const auto exact = overlay_.find(key);
  if (exact != overlay_.end()) {
    view.kind = exact->second.kind;
    view.attributes = exact->second.attributes;
    view.lastWriteTime = exact->second.lastWriteTime;
    view.real = exact->second.origin;
    return view;
  }
  // The nearest folder above that the simulation changed decides: nothing
  // lies below a removed item, a made folder holds only what was made in it,
  // and a moved real folder still holds its real items.
  std::string real = full;
  const std::string separators = inner.PathSeparator() == '\\' ? "\\/" : "/";
  for (std::string::size_type cut = key.find_last_of(separators); cut != std::string::npos && cut > 0;
       cut = key.find_last_of(separators, cut - 1)) {
    const auto above = overlay_.find(key.substr(0, cut));
    if (above == overlay_.end()) continue;
    if (above->second.kind != NodeKind::Folder || above->second.origin.empty()) return view;
    real = above->second.origin + full.substr(cut);
    break;
  }
  const std::uint32_t attributes = inner.GetAttributes(real);
  if (attributes == kInvalidAttributes) return view;
  view.kind = (attributes & kAttrDirectory) != 0 ? NodeKind::Folder : NodeKind::File;
  view.attributes = attributes;
  view.real = real;
  FoundItem item;
  if (view.kind == NodeKind::File && inner.FindFirst(real, &item)) view.lastWriteTime = item.lastWriteTime;
  return view;
}

bool PlanPlatform::ParentIsFolder(const std::string& full) const {
  Platform& inner = const_cast<PlanPlatform*>(this)->Inner();
  const std::string separators = inner.PathSeparator() == '\\' ? "\\/" : "/";
  const std::string::size_type cut = full.find_last_of(separators);
  if (cut == std::string::npos) return true;
  std::string parent = full.substr(0, cut);
  if (parent.empty() || parent.back() == ':') return true;  // a root
  return Look(parent).kind == NodeKind::Folder;
}

void PlanPlatform::Put(const std::string& full, Node node) {
  node.full = full;
  overlay_[Key(full)] = std::move(node);
}

void PlanPlatform::Record(FileOperation::Kind kind, const std::string& path, const std::string& path2, bool ok,
                          std::int64_t value) {
  FileOperation op;
  op.kind = kind;
  op.path = path;
  op.path2 = path2;
  op.succeeded = ok;
  op.value = value;
  operations_.push_back(std::move(op));
}

FileHandle PlanPlatform::OpenFile(const std::string& path, Access access, Share share, Disposition disposition) {
  const bool changes = access != Access::Read || disposition != Disposition::OpenExisting;
  if (mode_ == Mode::Record) {
    const FileHandle h = Inner().OpenFile(Rooted(path), access, share, disposition);
    if (changes) {
      Record(FileOperation::Kind::OpenForWrite, path, "", h != kInvalidHandle, static_cast<std::int64_t>(disposition));
      if (h != kInvalidHandle) handles_[h] = OpenHandle{path, std::string(), true, false, 0, 0, 0};
    }
    return h;
  }
  if (!changes) {
    const View v = Look(path);
    if (v.kind != NodeKind::File) return kInvalidHandle;
    if (!v.real.empty()) return Inner().OpenFile(v.real, Access::Read, share, Disposition::OpenExisting);
    const FileHandle h = nextFake_--;
    handles_[h] = OpenHandle{path, Key(Full(path)), false, true, 0, 0, 0};
    return h;
  }
  return SimulatedOpen(path, access, disposition);
}

FileHandle PlanPlatform::SimulatedOpen(const std::string& path, Access access, Disposition disposition) {
  const View v = path.empty() ? View() : Look(path);
  const std::string full = path.empty() ? std::string() : Full(path);
  const bool exists = v.kind != NodeKind::Absent;
  bool ok = !path.empty();
  if (exists && v.kind == NodeKind::Folder) ok = false;
  if (disposition == Disposition::CreateNew && exists) ok = false;
  if (disposition == Disposition::OpenExisting && !exists) ok = false;
  if (exists && (v.attributes & kAttrReadOnly) != 0 && access != Access::Read) ok = false;
  if (ok && !exists && !ParentIsFolder(full)) ok = false;
  Record(FileOperation::Kind::OpenForWrite, path, "", ok, static_cast<std::int64_t>(disposition));
  if (!ok) return kInvalidHandle;

  Node node;
  node.kind = NodeKind::File;
  node.attributes = exists ? v.attributes : kAttrNormal;
  const bool keepsContent = disposition == Disposition::OpenExisting;
  node.lastWriteTime = keepsContent ? v.lastWriteTime : NowFileTime();
  node.origin = keepsContent ? v.real : std::string();
  Put(full, node);
  const FileHandle h = nextFake_--;
  handles_[h] = OpenHandle{path, Key(full), true, true, 0, 0, 0};
  return h;
}

std::int32_t PlanPlatform::ReadFile(FileHandle h, void* buffer, std::int32_t count) {
  const auto it = handles_.find(h);
  if (it == handles_.end() || !it->second.fake) return Inner().ReadFile(h, buffer, count);
  return 0;  // a file the simulation made holds no bytes one could read back
}

std::int32_t PlanPlatform::WriteFile(FileHandle h, const void* buffer, std::int32_t count) {
  const auto it = handles_.find(h);
  if (mode_ == Mode::Record) {
    const std::int32_t n = Inner().WriteFile(h, buffer, count);
    if (it != handles_.end() && n > 0) it->second.written += n;
    return n;
  }
  if (it == handles_.end() || !it->second.forWrite) return -1;  // real files are never written
  if (count <= 0) return 0;
  OpenHandle& o = it->second;
  o.written += count;
  o.position += count;
  if (o.position > o.size) o.size = o.position;
  return count;
}

std::int64_t PlanPlatform::SeekFile(FileHandle h, std::int64_t offset, int origin) {
  const auto it = handles_.find(h);
  if (it == handles_.end() || !it->second.fake) return Inner().SeekFile(h, offset, origin);
  OpenHandle& o = it->second;
  const std::int64_t base = origin == 0 ? 0 : origin == 1 ? o.position : origin == 2 ? o.size : -1;
  if (base < 0 || base + offset < 0) return -1;
  o.position = base + offset;
  return o.position;
}

bool PlanPlatform::SetEndOfFile(FileHandle h) {
  const auto it = handles_.find(h);
  if (mode_ == Mode::Record) return Inner().SetEndOfFile(h);
  if (it == handles_.end() || !it->second.forWrite) return false;
  it->second.size = it->second.position;
  return true;
}

bool PlanPlatform::FlushFile(FileHandle h) {
  const auto it = handles_.find(h);
  if (mode_ == Mode::Record) return Inner().FlushFile(h);
  return it != handles_.end() && it->second.forWrite;
}

bool PlanPlatform::FlushFileSystems(const std::vector<std::string>& folders) {
  if (mode_ == Mode::Simulate) return true;
  std::vector<std::string> rooted;
  rooted.reserve(folders.size());
  for (const std::string& f : folders) rooted.push_back(Rooted(f));
  return Inner().FlushFileSystems(rooted);
}

bool PlanPlatform::FlushNamedFile(const std::string& path) {
  if (mode_ == Mode::Record) return Inner().FlushNamedFile(Rooted(path));
  return Look(path).kind == NodeKind::File;
}

void PlanPlatform::StartFlushFileSystem(const std::string& folder) {
  if (mode_ == Mode::Record) Inner().StartFlushFileSystem(Rooted(folder));
}

bool PlanPlatform::CloseFile(FileHandle h) {
  const auto it = handles_.find(h);
  if (it == handles_.end()) return Inner().CloseFile(h);
  const OpenHandle o = it->second;
  handles_.erase(it);
  if (o.forWrite) Record(FileOperation::Kind::Written, o.path, "", true, o.written);
  return o.fake ? true : Inner().CloseFile(h);
}

bool PlanPlatform::SetLastWriteTime(FileHandle h, std::int64_t utcFileTime) {
  const auto it = handles_.find(h);
  if (mode_ == Mode::Record) {
    const bool ok = Inner().SetLastWriteTime(h, utcFileTime);
    if (it != handles_.end()) Record(FileOperation::Kind::Stamp, it->second.path, "", ok, utcFileTime);
    return ok;
  }
  if (it == handles_.end() || !it->second.forWrite) return false;
  const auto node = overlay_.find(it->second.key);
  if (node != overlay_.end()) node->second.lastWriteTime = utcFileTime;
  Record(FileOperation::Kind::Stamp, it->second.path, "", true, utcFileTime);
  return true;
}

bool PlanPlatform::SimulatedFindFirst(const std::string& pattern, FoundItem* first) {
  Platform& inner = Inner();
  const std::string rooted = Rooted(pattern);
  const std::string separators = inner.PathSeparator() == '\\' ? "\\/:" : "/";
  const std::string::size_type cut = rooted.find_last_of(separators);
  const std::string name = cut == std::string::npos ? rooted : rooted.substr(cut + 1);
  // A trailing separator names no item, as on Windows.
  if (name.empty()) return false;
  if (!HasWildcards(name)) {
    const View v = Look(pattern);
    if (v.kind == NodeKind::Absent) return false;
    first->attributes = v.attributes;
    first->lastWriteTime = v.lastWriteTime;
    return true;
  }
  // What the simulation put into the folder first, then the real folder.
  const std::string folderPart = cut == std::string::npos ? std::string(".") : rooted.substr(0, cut + 1);
  std::string prefix = Key(Full(folderPart));
  if (prefix.back() != separators[0]) prefix += separators[0];
  const bool windows = inner.PathSeparator() == '\\';
  const std::string namePattern = windows ? Key(name) : name;
  for (const auto& entry : overlay_) {
    const Node& node = entry.second;
    if (node.kind == NodeKind::Absent || entry.first.size() <= prefix.size()) continue;
    if (entry.first.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string rest = entry.first.substr(prefix.size());
    if (rest.find_first_of(separators) != std::string::npos || !MatchesWildcard(namePattern, rest)) continue;
    first->attributes = node.attributes;
    first->lastWriteTime = node.lastWriteTime;
    return true;
  }
  const View folder = Look(folderPart);
  if (folder.kind != NodeKind::Folder || folder.real.empty()) return false;
  const std::string realFolder = folder.real.back() == separators[0] ? folder.real : folder.real + separators[0];
  return inner.FindFirst(realFolder + name, first);
}

bool PlanPlatform::FindFirst(const std::string& pattern, FoundItem* first) {
  const bool found = mode_ == Mode::Record ? Inner().FindFirst(Rooted(pattern), first)
                                           : SimulatedFindFirst(pattern, first);
  Record(FileOperation::Kind::Query, pattern, "find", found, found ? 1 + (first->IsDirectory() ? 2 : 0) : 0);
  return found;
}

std::uint32_t PlanPlatform::GetAttributes(const std::string& path) {
  std::uint32_t attributes;
  if (mode_ == Mode::Record) {
    attributes = Inner().GetAttributes(Rooted(path));
  } else {
    const View v = Look(path);
    attributes = v.kind == NodeKind::Absent ? kInvalidAttributes : v.attributes;
  }
  Record(FileOperation::Kind::Query, path, "attributes", true,
         attributes == kInvalidAttributes ? -1 : static_cast<std::int64_t>(attributes & kDecidingAttributes));
  return attributes;
}

bool PlanPlatform::MoveFile(const std::string& from, const std::string& to) {
  bool ok;
  if (mode_ == Mode::Record) {
    ok = Inner().MoveFile(Rooted(from), Rooted(to));
  } else {
    const View source = from.empty() ? View() : Look(from);
    const View target = to.empty() ? View() : Look(to);
    const std::string fullFrom = from.empty() ? std::string() : Full(from);
    const std::string fullTo = to.empty() ? std::string() : Full(to);
    const std::string keyFrom = Key(fullFrom);
    const std::string keyTo = Key(fullTo);
    const bool intoItself = keyTo.size() > keyFrom.size() && keyTo.compare(0, keyFrom.size(), keyFrom) == 0;
    ok = source.kind != NodeKind::Absent && target.kind == NodeKind::Absent && !intoItself && ParentIsFolder(fullTo);
    if (ok) {
      Node moved;
      moved.kind = source.kind;
      moved.attributes = source.attributes;
      moved.lastWriteTime = source.lastWriteTime;
      moved.origin = source.real;
      Put(fullTo, moved);
      Put(fullFrom, Node());
    }
  }
  Record(FileOperation::Kind::Move, from, to, ok);
  return ok;
}

bool PlanPlatform::DeleteFile(const std::string& path) {
  bool ok;
  if (mode_ == Mode::Record) {
    ok = Inner().DeleteFile(Rooted(path));
  } else {
    const View v = Look(path);
    ok = v.kind == NodeKind::File && (v.attributes & kAttrReadOnly) == 0;
    if (ok) Put(Full(path), Node());
  }
  Record(FileOperation::Kind::Delete, path, "", ok);
  return ok;
}

bool PlanPlatform::CreateDirectory(const std::string& path) {
  bool ok;
  if (mode_ == Mode::Record) {
    ok = Inner().CreateDirectory(Rooted(path));
  } else {
    const View v = Look(path);
    const std::string full = path.empty() ? std::string() : Full(path);
    ok = !path.empty() && v.kind == NodeKind::Absent && ParentIsFolder(full);
    if (ok) {
      Node node;
      node.kind = NodeKind::Folder;
      node.attributes = kAttrDirectory;
      node.lastWriteTime = NowFileTime();
      Put(full, node);
    }
  }
  Record(FileOperation::Kind::CreateFolder, path, "", ok);
  return ok;
}

std::string PlanPlatform::FullPath(const std::string& name) { return Inner().FullPath(Rooted(name)); }

int PlanPlatform::MessageBox(std::uintptr_t, const std::string& text, const std::string& caption, std::uint32_t) {
  Record(FileOperation::Kind::Message, text, caption, true);
  return 1;  // OK
}

}  // namespace plf::tools
