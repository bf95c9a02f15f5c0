#include "tools/memory_platform.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "runtime/wildcard.h"

namespace plf::tools {

namespace {

// Every item the simulation makes or writes is dated 15 June 2020 12:00 UTC,
// well inside the DOS range that the file-exists test asks for.
constexpr std::int64_t kMadeAt = 132366960000000000LL;

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

bool Reads(Access a) { return a != Access::Write; }
bool Writes(Access a) { return a != Access::Read; }
bool SharesRead(Share s) { return s == Share::Read || s == Share::ReadWrite; }
bool SharesWrite(Share s) { return s == Share::Write || s == Share::ReadWrite; }

constexpr std::int64_t kMaxFileSize = std::numeric_limits<std::int32_t>::max();

}  // namespace

MemoryPlatform::MemoryPlatform(Notation notation, std::size_t capacity)
    : PlatformWrapper(DefaultPlatform()),
      notation_(notation),
      capacity_(capacity),
      folder_(notation == Notation::Posix ? "/mem/cwd" : "C:\\mem\\cwd") {
  Node& root = nodes_[notation_ == Notation::Posix ? "/" : "C:"];
  root.folder = true;
  root.attributes = kAttrDirectory;
  root.lastWriteTime = kMadeAt;
  root.name = notation_ == Notation::Posix ? "/" : "C:\\";
  AddFolder(folder_);
}

// Over a backing the disk is the only limit, and it is not foreseen.
MemoryPlatform::MemoryPlatform(Platform& backing, const std::string& currentFolder, bool keepsData)
    : PlatformWrapper(backing),
      notation_(backing.PathSeparator() == '\\' ? Notation::Windows : Notation::Posix),
      backing_(&backing),
      keepsData_(keepsData),
      capacity_(static_cast<std::size_t>(
          std::min<std::uint64_t>(std::numeric_limits<std::size_t>::max(), std::numeric_limits<std::int64_t>::max()))),
      folder_(backing.FullPath(currentFolder.empty() ? std::string(".") : currentFolder)) {}

std::string MemoryPlatform::At(const std::string& relative) const {
  std::string path = folder_ + (notation_ == Notation::Posix ? "/" : "\\") + relative;
  if (notation_ == Notation::Windows) std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

bool MemoryPlatform::IsSeparator(char c) const {
  return c == '/' || (notation_ == Notation::Windows && c == '\\');
}

// The length of a Windows path's root: "C:" or "\\server\share"; 0 when it
// has none that names a drive or a share.
std::size_t MemoryPlatform::RootLength(const std::string& path) const {
  if (path.size() >= 2 && path[1] == ':') {
    const char drive = AsciiUpper(path[0]);
    return drive >= 'A' && drive <= 'Z' ? 2 : 0;
  }
  if (path.size() < 3 || !IsSeparator(path[0]) || !IsSeparator(path[1]) || IsSeparator(path[2])) return 0;
  std::size_t server = 2;
  while (server < path.size() && !IsSeparator(path[server])) ++server;
  std::size_t share = server + 1;
  while (share < path.size() && !IsSeparator(path[share])) ++share;
  return server + 1 < share && share <= path.size() ? share : 0;
}

// Windows folds names as the installer compares them.
std::string MemoryPlatform::Fold(const std::string& part) {
  if (notation_ == Notation::Posix) return part;
  std::string folded = part;
  for (char& c : folded) c = static_cast<char>(Inner().UpperChar(static_cast<unsigned char>(c)));
  return folded;
}

bool MemoryPlatform::ValidName(const std::string& name) const {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (c == '\0' || c == '/') return false;
    if (notation_ == Notation::Windows &&
        (static_cast<unsigned char>(c) < 32 || std::strchr("<>:\"\\|?*", c) != nullptr))
      return false;
  }
  return true;
}

// The parts of the path made absolute, "." and ".." applied by text, and on
// Windows each name without its trailing dots and blanks (a wildcard name
// keeps them: it is matched, not stored).
MemoryPlatform::Resolved MemoryPlatform::Resolve(const std::string& given) {
  Resolved r;
  if (given.empty() || given.find('\0') != std::string::npos) return r;
  std::string root = "/";
  std::string rest = given;
  if (notation_ == Notation::Posix) {
    if (rest[0] != '/') rest = folder_ + "/" + rest;
  } else {
    const bool network = rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1]);
    if (IsSeparator(rest[0]) && !network) {
      rest = folder_.substr(0, RootLength(folder_)) + rest;  // the current drive or share
    } else if (!network && (rest.size() < 2 || rest[1] != ':')) {
      rest = folder_ + "\\" + rest;
    }
    const std::size_t length = RootLength(rest);
    if (length == 0) return r;
    if (rest[1] == ':') {
      root = std::string(1, AsciiUpper(rest[0])) + ":";
    } else {
      // "\\server\share" stands where a drive would, in one key without "/".
      const std::size_t server = rest.find_first_of("\\/", 2);
      root = "\\\\" + Fold(rest.substr(2, server - 2)) + "\\" + Fold(rest.substr(server + 1, length - server - 1));
    }
    rest = rest.substr(length);
  }
  r.trailingSeparator = IsSeparator(given.back());
  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i <= rest.size()) {
    std::size_t j = i;
    while (j < rest.size() && !IsSeparator(rest[j])) ++j;
    std::string part = rest.substr(i, j - i);
    const bool last = j >= rest.size();
    if (notation_ == Notation::Windows && !(last && HasWildcards(part))) {
      while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
      if (part.empty() && rest.compare(i, j - i, "..") == 0) part = "..";
    }
    if (part == "." || part == "..") {
      // POSIX looks each level up: "a/.." needs a folder "a". Windows
      // applies both to the text before it looks at anything.
      if (notation_ == Notation::Posix) {
        std::string at;
        for (const std::string& p : parts) at += "/" + p;
        const Node* n = Find(at.empty() ? "/" : at);
        if (n == nullptr || !n->folder) return r;
        r.dotted = last;
      }
      if (part == ".." && !parts.empty()) parts.pop_back();
    } else if (!part.empty()) {
      parts.push_back(part);
    }
    i = j + 1;
  }
  r.valid = true;
  const std::string sep = notation_ == Notation::Posix ? "/" : "\\";
  std::string key = notation_ == Notation::Posix ? std::string() : root;
  r.display = key;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (k + 1 == parts.size()) r.parentKey = key.empty() ? "/" : key;
    key += "/" + Fold(parts[k]);
    r.display += sep + parts[k];
  }
  if (parts.empty()) r.display += sep;
  r.key = key.empty() ? "/" : key;
  r.name = parts.empty() ? std::string() : parts.back();
  return r;
}

// `name`: the last part as the caller gave it, for an item entered from the
// backing.
MemoryPlatform::Node* MemoryPlatform::Find(const std::string& key, const std::string& name) {
  auto it = nodes_.find(key);
  if (it == nodes_.end()) {
    if (backing_ == nullptr) return nullptr;
    Node loaded = Load(key);
    if (!name.empty() && !loaded.gone) loaded.name = name;
    it = nodes_.emplace(key, std::move(loaded)).first;
  }
  return it->second.gone ? nullptr : &it->second;
}

// The item at `key` as the backing has it: under the nearest level the
// memory knows, which may have been moved or made by the simulation.
MemoryPlatform::Node MemoryPlatform::Load(const std::string& key) {
  Node n;
  n.gone = true;
  const std::string::size_type cut = key.rfind('/');
  std::string real;
  if (key == "/" || cut == std::string::npos) {
    real = key == "/" ? key : key + "\\";
    n.name = real;
  } else {
    const Node* parent = Find(cut == 0 ? "/" : key.substr(0, cut));
    if (parent == nullptr || !parent->folder || parent->origin.empty()) return n;
    n.name = key.substr(cut + 1);
    real = parent->origin + (IsSeparator(parent->origin.back()) ? "" : std::string(1, PathSeparator())) + n.name;
  }
  const std::uint32_t attributes = backing_->GetAttributes(real);
  if (attributes == kInvalidAttributes) return n;
  n.gone = false;
  n.folder = (attributes & kAttrDirectory) != 0;
  n.attributes = attributes;
  n.origin = real;
  FoundItem item;
  if (!HasWildcards(n.name) && backing_->FindFirst(real, &item)) n.lastWriteTime = item.lastWriteTime;
  return n;
}

// Brings a backing file's content (or, where data is not kept, its size)
// into the memory, so that the file can change.
bool MemoryPlatform::TakeContent(Node* n) {
  if (n->folder || n->origin.empty()) return true;
  const FileHandle h = backing_->OpenFile(n->origin, Access::Read, Share::ReadWrite, Disposition::OpenExisting);
  if (h == kInvalidHandle) return false;
  std::string data;
  std::int64_t size = keepsData_ ? 0 : backing_->SeekFile(h, 0, 2);
  char buffer[1 << 16];
  for (std::int32_t got = 1; keepsData_ && got > 0;) {
    got = backing_->ReadFile(h, buffer, sizeof buffer);
    if (got > 0) data.append(buffer, static_cast<std::size_t>(got));
    size = got < 0 ? -1 : static_cast<std::int64_t>(data.size());
  }
  backing_->CloseFile(h);
  if (size < 0) return false;
  n->data = std::move(data);
  n->size = size;
  n->origin.clear();
  bytesHeld_ += static_cast<std::size_t>(size);
  return true;
}

// Over a backing a removed item stays as a mark, or the backing's would
// show through.
void MemoryPlatform::Remove(const std::string& key) {
  if (backing_ == nullptr) return static_cast<void>(nodes_.erase(key));
  nodes_[key] = Node();
  nodes_[key].gone = true;
}

MemoryPlatform::Node* MemoryPlatform::Lookup(const std::string& path, Resolved* r) {
  *r = Resolve(path);
  return r->valid ? Find(r->key, r->name) : nullptr;
}

// A new item at a free place below a folder; nothing when it has none.
MemoryPlatform::Node* MemoryPlatform::Make(const Resolved& r, bool folder) {
  const Node* parent = r.parentKey.empty() ? nullptr : Find(r.parentKey);
  if (parent == nullptr || !parent->folder || r.dotted || !ValidName(r.name)) return nullptr;
  Node& n = nodes_[r.key];
  n = Node();
  n.folder = folder;
  n.name = r.name;
  n.attributes = folder ? kAttrDirectory : kAttrNormal;
  n.lastWriteTime = kMadeAt;
  return &n;
}

std::string MemoryPlatform::DisplayPath(const std::string& key) const {
  // Rebuilt from each level's name as given, so that a renamed folder
  // shows under its new name.
  std::string sep = notation_ == Notation::Posix ? "/" : "\\";
  if (key == "/") return sep;
  std::string display;
  std::size_t i = 0;
  if (notation_ == Notation::Windows) {
    i = std::min(key.find('/'), key.size());  // after the drive or share
    display = key.substr(0, i);
    if (i == key.size()) return display + sep;
  }
  while (i < key.size()) {
    const std::size_t next = key.find('/', i + 1);
    const std::size_t end = next == std::string::npos ? key.size() : next;
    const auto n = nodes_.find(key.substr(0, end));
    display += sep + (n != nodes_.end() ? n->second.name : key.substr(i + 1, end - i - 1));
    i = end;
  }
  return display;
}

bool MemoryPlatform::IsOpen(const std::string& key) const {
  for (const auto& h : handles_)
    if (h.second.key == key || StartsWith(h.second.key, key + "/")) return true;
  return false;
}

bool MemoryPlatform::SharingAllows(const std::string& key, Access access, Share share) const {
  for (const auto& h : handles_) {
    const Open& o = h.second;
    if (o.key != key) continue;
    if (Writes(access) && !SharesWrite(o.share)) return false;
    if (Reads(access) && !SharesRead(o.share)) return false;
    if (Writes(o.access) && !SharesWrite(share)) return false;
    if (Reads(o.access) && !SharesRead(share)) return false;
  }
  return true;
}

MemoryPlatform::Open* MemoryPlatform::Handle(FileHandle h) {
  auto it = handles_.find(h);
  return it == handles_.end() ? nullptr : &it->second;
}

bool MemoryPlatform::AddFolder(const std::string& path) {
  const Resolved r = Resolve(path);
  if (!r.valid) return false;
  if (const Node* n = Find(r.key, r.name)) return n->folder;
  const std::string parent = r.display.substr(0, r.display.size() - r.name.size() - 1);
  if (!r.parentKey.empty() && Find(r.parentKey) == nullptr && !AddFolder(parent)) return false;
  return Make(r, true) != nullptr;
}

bool MemoryPlatform::AddFile(const std::string& path, const std::string& data, std::uint32_t attributes) {
  Resolved r;
  Node* n = Lookup(path, &r) != nullptr || !r.valid ? nullptr : Make(r, false);
  if (n == nullptr) return false;
  n->data = data;
  n->size = static_cast<std::int64_t>(data.size());
  n->attributes = attributes & ~kAttrDirectory;
  bytesHeld_ += data.size();
  return true;
}

std::optional<std::string> MemoryPlatform::FileData(const std::string& path) {
  Resolved r;
  Node* n = Lookup(path, &r);
  if (n == nullptr || n->folder || !TakeContent(n)) return std::nullopt;
  return n->data;
}

std::vector<std::string> MemoryPlatform::FilePaths() const {
  std::vector<std::string> paths;
  for (const auto& n : nodes_)
    if (!n.second.folder && !n.second.gone) paths.push_back(DisplayPath(n.first));
  return paths;
}

FileHandle MemoryPlatform::OpenFile(const std::string& path, Access access, Share share, Disposition disposition) {
  if (Failing()) return kInvalidHandle;
  const Resolved r = Resolve(path);
  if (!r.valid || r.parentKey.empty() || r.trailingSeparator || r.dotted) return kInvalidHandle;
  Node* n = Find(r.key, r.name);
  if (n != nullptr && n->folder) return kInvalidHandle;
  if (disposition == Disposition::OpenExisting && n == nullptr) return kInvalidHandle;
  if (disposition == Disposition::CreateNew && n != nullptr) return kInvalidHandle;
  FileHandle backing = kInvalidHandle;
  if (n != nullptr) {
    // Windows refuses to write to, or to recreate, a read-only file.
    if ((Writes(access) || disposition == Disposition::CreateAlways) && (n->attributes & kAttrReadOnly) != 0)
      return kInvalidHandle;
    if (!SharingAllows(r.key, access, share)) return kInvalidHandle;
    if (disposition == Disposition::CreateAlways) {
      bytesHeld_ -= static_cast<std::size_t>(n->size);
      *n = Node{false, false, n->name, std::string(), 0, n->attributes, kMadeAt, std::string()};
    } else if (!Writes(access) && !n->origin.empty()) {
      // An unchanged file is read where it lies.
      backing = backing_->OpenFile(n->origin, access, share, disposition);
      if (backing == kInvalidHandle) return kInvalidHandle;
    } else if (!TakeContent(n)) {
      return kInvalidHandle;
    }
  } else if (Make(r, false) == nullptr) {
    return kInvalidHandle;
  }
  const FileHandle h = nextHandle_++;
  handles_[h] = Open{r.key, 0, access, share, backing};
  return h;
}

std::int32_t MemoryPlatform::ReadFile(FileHandle h, void* buffer, std::int32_t count) {
  if (Failing()) return -1;
  Open* o = Handle(h);
  if (o == nullptr || !Reads(o->access)) return -1;
  if (o->backing != kInvalidHandle) return backing_->ReadFile(o->backing, buffer, count);
  if (count <= 0) return 0;
  const Node* n = Find(o->key);
  if (o->position >= n->size) return 0;
  const std::int64_t take = std::min<std::int64_t>(count, n->size - o->position);
  const std::int64_t kept =
      std::clamp<std::int64_t>(static_cast<std::int64_t>(n->data.size()) - o->position, 0, take);
  std::memcpy(buffer, n->data.data() + o->position, static_cast<std::size_t>(kept));
  std::memset(static_cast<char*>(buffer) + kept, 0, static_cast<std::size_t>(take - kept));
  o->position += take;
  return static_cast<std::int32_t>(take);
}

std::int32_t MemoryPlatform::WriteFile(FileHandle h, const void* buffer, std::int32_t count) {
  const bool failing = Failing();
  Open* o = Handle(h);
  if (o == nullptr || !Writes(o->access)) return -1;
  if (count <= 0) return 0;
  if (failing) {
    // A full disk takes part of the data.
    if (count / 2 == 0) return -1;
    count /= 2;
  }
  Node* n = Find(o->key);
  std::int64_t end = std::min<std::int64_t>(o->position + count, kMaxFileSize);
  if (end > n->size) {
    // Only what the capacity still holds is written: a full disk.
    const std::int64_t room = static_cast<std::int64_t>(capacity_ - bytesHeld_);
    end = std::min(end, n->size + room);
  }
  if (end <= o->position) return -1;
  if (end > n->size) {
    bytesHeld_ += static_cast<std::size_t>(end - n->size);
    n->size = end;
  }
  const std::int64_t written = end - o->position;
  if (keepsData_) {
    n->data.resize(static_cast<std::size_t>(n->size), '\0');
    std::memcpy(&n->data[static_cast<std::size_t>(o->position)], buffer, static_cast<std::size_t>(written));
  } else if (static_cast<std::int64_t>(n->data.size()) > o->position) {
    n->data.resize(static_cast<std::size_t>(o->position));  // what stays readable
  }
  o->position = end;
  n->lastWriteTime = kMadeAt;
  return static_cast<std::int32_t>(written);
}

std::int64_t MemoryPlatform::SeekFile(FileHandle h, std::int64_t offset, int origin) {
  if (Failing()) return -1;
  Open* o = Handle(h);
  if (o == nullptr) return -1;
  if (o->backing != kInvalidHandle) return backing_->SeekFile(o->backing, offset, origin);
  const std::int64_t base = origin == 0 ? 0 : origin == 1 ? o->position : origin == 2 ? Find(o->key)->size : -1;
  // Offsets come from 32-bit counts, so the sum cannot overflow.
  const std::int64_t p = base + offset;
  if (base < 0 || p < 0) return -1;
  o->position = p;
  return p;
}

bool MemoryPlatform::SetEndOfFile(FileHandle h) {
  if (Failing()) return false;
  Open* o = Handle(h);
  if (o == nullptr || !Writes(o->access) || o->position > kMaxFileSize) return false;
  Node* n = Find(o->key);
  const std::int64_t wanted = o->position;
  if (wanted > n->size && static_cast<std::size_t>(wanted - n->size) > capacity_ - bytesHeld_) return false;
  bytesHeld_ = bytesHeld_ - static_cast<std::size_t>(n->size) + static_cast<std::size_t>(wanted);
  n->size = wanted;
  const std::int64_t held = static_cast<std::int64_t>(n->data.size());
  const std::int64_t kept = keepsData_ ? wanted : std::min(wanted, held);
  n->data.resize(static_cast<std::size_t>(kept), '\0');
  n->lastWriteTime = kMadeAt;
  return true;
}

bool MemoryPlatform::FlushFile(FileHandle h) {
  return !Failing() && Handle(h) != nullptr;
}

bool MemoryPlatform::CanFlushFileSystem(const std::string& folder) {
  return backing_ != nullptr && backing_->CanFlushFileSystem(folder);
}

bool MemoryPlatform::FlushNamedFile(const std::string& path) {
  if (Failing()) return false;
  Resolved r;
  const Node* n = Lookup(path, &r);
  return n != nullptr && !n->folder;
}

bool MemoryPlatform::CloseFile(FileHandle h) {
  // A failed close still releases the handle.
  const bool failing = Failing();
  const auto it = handles_.find(h);
  if (it == handles_.end()) return false;
  if (it->second.backing != kInvalidHandle) backing_->CloseFile(it->second.backing);
  handles_.erase(it);
  return !failing;
}

bool MemoryPlatform::SetLastWriteTime(FileHandle h, std::int64_t utcFileTime) {
  if (Failing()) return false;
  Open* o = Handle(h);
  if (o == nullptr || !Writes(o->access) || utcFileTime < 0) return false;
  Find(o->key)->lastWriteTime = utcFileTime;
  return true;
}

bool MemoryPlatform::FindFirst(const std::string& pattern, FoundItem* first) {
  if (Failing()) return false;
  const Resolved r = Resolve(pattern);
  if (!r.valid) return false;
  if (!HasWildcards(r.name)) {
    const Node* n = Find(r.key, r.name);
    // A trailing separator names no item, as on Windows.
    if (n == nullptr || r.trailingSeparator) return false;
    first->attributes = n->attributes;
    first->lastWriteTime = n->lastWriteTime;
    return true;
  }
  const Node* folder = Find(r.parentKey);
  if (folder == nullptr || !folder->folder || r.trailingSeparator) return false;
  const std::string wanted = Fold(r.name);
  // A search lists "." and ".." first, except in a root (a key without a
  // level: "/", a drive or a share).
  if (r.parentKey != "/" && r.parentKey.find('/') != std::string::npos) {
    for (const char* dot : {".", ".."}) {
      if (MatchesWildcard(wanted, dot)) {
        first->attributes = kAttrDirectory;
        first->lastWriteTime = folder->lastWriteTime;
        return true;
      }
    }
  }
  const std::string prefix = r.parentKey == "/" ? "/" : r.parentKey + "/";
  for (auto it = nodes_.upper_bound(prefix); it != nodes_.end() && StartsWith(it->first, prefix); ++it) {
    const Node& n = it->second;
    if (n.gone || it->first.find('/', prefix.size()) != std::string::npos || !MatchesWildcard(wanted, Fold(n.name)))
      continue;
    first->attributes = n.attributes;
    first->lastWriteTime = n.lastWriteTime;
    return true;
  }
  if (folder->origin.empty()) return false;
  const std::string& real = folder->origin;
  return backing_->FindFirst(real + (IsSeparator(real.back()) ? "" : std::string(1, PathSeparator())) + r.name, first);
}

std::uint32_t MemoryPlatform::GetAttributes(const std::string& path) {
  if (Failing()) return kInvalidAttributes;
  Resolved r;
  const Node* n = Lookup(path, &r);
  if (n == nullptr || (r.trailingSeparator && !n->folder)) return kInvalidAttributes;
  return n->attributes;
}

bool MemoryPlatform::MoveFile(const std::string& from, const std::string& to) {
  if (Failing()) return false;
  const Resolved a = Resolve(from);
  const Resolved b = Resolve(to);
  if (!a.valid || !b.valid || a.parentKey.empty() || b.parentKey.empty() || a.dotted || b.dotted) return false;
  Node* source = Find(a.key, a.name);
  if (source == nullptr || (a.trailingSeparator && !source->folder)) return false;
  if (a.key == b.key) {
    // Only a change of letter case renames an item onto itself.
    if (source->name == b.name || !ValidName(b.name)) return false;
    source->name = b.name;
    return true;
  }
  if (Find(b.key, b.name) != nullptr || !ValidName(b.name) || StartsWith(b.key, a.key + "/")) return false;
  const Node* parent = Find(b.parentKey);
  if (parent == nullptr || !parent->folder || IsOpen(a.key)) return false;
  std::vector<std::pair<std::string, Node>> moved;
  moved.emplace_back(b.key, *source);
  moved.back().second.name = b.name;
  const std::string prefix = a.key + "/";
  for (auto it = nodes_.lower_bound(prefix); it != nodes_.end() && StartsWith(it->first, prefix); ++it)
    moved.emplace_back(b.key + it->first.substr(a.key.size()), it->second);
  // '0' follows '/': the ranges hold what lies below each item. Below the
  // target lie only marks of absence, which must not hide what moves in.
  nodes_.erase(nodes_.lower_bound(prefix), nodes_.lower_bound(a.key + "0"));
  nodes_.erase(nodes_.lower_bound(b.key + "/"), nodes_.lower_bound(b.key + "0"));
  Remove(a.key);
  for (auto& m : moved) nodes_[m.first] = std::move(m.second);
  return true;
}

bool MemoryPlatform::DeleteFile(const std::string& path) {
  if (Failing()) return false;
  Resolved r;
  const Node* n = Lookup(path, &r);
  if (n == nullptr || n->folder || r.trailingSeparator || (n->attributes & kAttrReadOnly) != 0 || IsOpen(r.key))
    return false;
  bytesHeld_ -= static_cast<std::size_t>(n->size);
  Remove(r.key);
  return true;
}

bool MemoryPlatform::CreateDirectory(const std::string& path) {
  if (Failing()) return false;
  Resolved r;
  if (Lookup(path, &r) != nullptr || !r.valid || Make(r, true) == nullptr) return false;
  createdFolders_.push_back(DisplayPath(r.key));
  return true;
}

// Over a backing, the backing's answer from the memory's current folder.
std::string MemoryPlatform::FullPath(const std::string& name) {
  if (backing_ != nullptr) {
    const bool relative = !name.empty() && !IsSeparator(name[0]) &&
                          (notation_ == Notation::Posix || name.size() < 2 || name[1] != ':');
    return Inner().FullPath(relative ? folder_ + PathSeparator() + name : name);
  }
  const Resolved r = Resolve(name);
  return r.valid ? r.display : name;
}

std::string MemoryPlatform::ModulePath() { return backing_ != nullptr ? Inner().ModulePath() : At("setup/plfsetup"); }

std::string MemoryPlatform::ScriptPath(const std::string& path) {
  if (backing_ != nullptr) return Inner().ScriptPath(path);
  if (notation_ == Notation::Windows) return path;
  std::string out = path;
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

const char* MemoryPlatform::PathDelimiters() {
  if (backing_ != nullptr) return Inner().PathDelimiters();
  return notation_ == Notation::Posix ? "/:" : "\\:";
}

char MemoryPlatform::PathSeparator() { return notation_ == Notation::Posix ? '/' : '\\'; }

int MemoryPlatform::MessageBox(std::uintptr_t, const std::string& text, const std::string& caption, std::uint32_t) {
  boxes.push_back({text, caption});
  return 1;
}

}  // namespace plf::tools
