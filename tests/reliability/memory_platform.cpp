#include "memory_platform.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "runtime/calendar.h"
#include "runtime/wildcard.h"

namespace plf::test {

namespace {

// Every file the simulation writes is dated 15 June 2020 12:00 UTC, well
// inside the DOS range that the file-exists test asks for.
std::int64_t Now() {
  DateTimeParts p;
  p.year = 2020;
  p.month = 6;
  p.day = 15;
  p.hour = 12;
  std::int64_t t = 0;
  FileTimeFromParts(p, &t);
  return t;
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Upper(std::string s) {
  for (char& c : s) c = AsciiUpper(c);
  return s;
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

bool Reads(Access a) { return a != Access::Write; }
bool Writes(Access a) { return a != Access::Read; }
bool SharesRead(Share s) { return s == Share::Read || s == Share::ReadWrite; }
bool SharesWrite(Share s) { return s == Share::Write || s == Share::ReadWrite; }

constexpr std::int64_t kMaxFileSize = std::numeric_limits<std::int32_t>::max();

}  // namespace

MemoryPlatform::MemoryPlatform(Notation notation, std::size_t capacity)
    : PlatformWrapper(DefaultPlatform()), notation_(notation), capacity_(capacity) {
  Node root;
  root.folder = true;
  root.attributes = kAttrDirectory;
  root.lastWriteTime = Now();
  if (notation_ == Notation::Posix) {
    root.name = "/";
    nodes_["/"] = root;
  } else {
    root.name = "C:\\";
    nodes_["C:"] = root;
  }
  AddFolder(CurrentFolder());
}

std::string MemoryPlatform::CurrentFolder() const {
  return notation_ == Notation::Posix ? "/mem/cwd" : "C:\\mem\\cwd";
}

std::string MemoryPlatform::At(const std::string& relative) const {
  std::string path = CurrentFolder() + (notation_ == Notation::Posix ? "/" : "\\") + relative;
  if (notation_ == Notation::Windows) std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

bool MemoryPlatform::IsSeparator(char c) const {
  return c == '/' || (notation_ == Notation::Windows && c == '\\');
}

std::string MemoryPlatform::KeyPart(const std::string& part) const {
  return notation_ == Notation::Windows ? Upper(part) : part;
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
MemoryPlatform::Resolved MemoryPlatform::Resolve(const std::string& path) const {
  Resolved r;
  if (path.empty() || path.find('\0') != std::string::npos) return r;
  std::string root;
  std::string rest = path;
  std::vector<std::string> parts;
  if (notation_ == Notation::Posix) {
    root = "/";
    if (rest[0] != '/') parts = {"mem", "cwd"};
  } else {
    root = "C:";
    if (rest.size() >= 2 && rest[1] == ':') {
      const char drive = AsciiUpper(rest[0]);
      if (drive < 'A' || drive > 'Z') return r;
      root = std::string(1, drive) + ":";
      rest = rest.substr(2);
    } else if (IsSeparator(rest[0])) {
      if (rest.size() >= 2 && IsSeparator(rest[1])) return r;  // no network names
    } else {
      parts = {"mem", "cwd"};
    }
  }
  r.trailingSeparator = IsSeparator(path.back());
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
  r.display = notation_ == Notation::Posix ? std::string() : root;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (k + 1 == parts.size()) r.parentKey = key.empty() ? "/" : key;
    key += "/" + KeyPart(parts[k]);
    r.display += sep + parts[k];
  }
  if (parts.empty()) r.display += sep;
  r.key = key.empty() ? "/" : key;
  r.name = parts.empty() ? std::string() : parts.back();
  return r;
}

MemoryPlatform::Node* MemoryPlatform::Find(const std::string& key) {
  auto it = nodes_.find(key);
  return it == nodes_.end() ? nullptr : &it->second;
}

const MemoryPlatform::Node* MemoryPlatform::Find(const std::string& key) const {
  auto it = nodes_.find(key);
  return it == nodes_.end() ? nullptr : &it->second;
}

std::string MemoryPlatform::DisplayPath(const std::string& key) const {
  // Rebuilt from each level's name as given, so that a renamed folder
  // shows under its new name.
  const std::string sep = notation_ == Notation::Posix ? "/" : "\\";
  if (key == "/") return sep;
  std::string display;
  std::size_t i = 0;
  if (notation_ == Notation::Windows) {
    display = key.substr(0, 2);
    if (key.size() == 2) return display + sep;
    i = 2;
  }
  while (i < key.size()) {
    const std::size_t next = key.find('/', i + 1);
    const std::size_t end = next == std::string::npos ? key.size() : next;
    const Node* n = Find(key.substr(0, end));
    display += sep + (n != nullptr ? n->name : key.substr(i + 1, end - i - 1));
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

std::vector<std::string> MemoryPlatform::Children(const std::string& folderKey) const {
  const std::string prefix = folderKey == "/" ? "/" : folderKey + "/";
  std::vector<std::string> children;
  for (auto it = nodes_.lower_bound(prefix); it != nodes_.end() && StartsWith(it->first, prefix); ++it)
    if (it->first.size() > prefix.size() && it->first.find('/', prefix.size()) == std::string::npos)
      children.push_back(it->first);
  return children;
}

// --- Setup and inspection ----------------------------------------------------------

bool MemoryPlatform::AddFolder(const std::string& path) {
  const Resolved r = Resolve(path);
  if (!r.valid) return false;
  if (const Node* n = Find(r.key)) return n->folder;
  if (!r.parentKey.empty() && Find(r.parentKey) == nullptr) {
    const std::string::size_type cut = r.display.size() - r.name.size() - 1;
    if (!AddFolder(cut <= 2 ? DisplayPath(r.parentKey) : r.display.substr(0, cut))) return false;
  }
  const Node* parent = Find(r.parentKey);
  if (parent == nullptr || !parent->folder || !ValidName(r.name)) return false;
  Node n;
  n.folder = true;
  n.name = r.name;
  n.attributes = kAttrDirectory;
  n.lastWriteTime = Now();
  nodes_[r.key] = n;
  return true;
}

bool MemoryPlatform::AddFile(const std::string& path, const std::string& data, std::uint32_t attributes) {
  const Resolved r = Resolve(path);
  if (!r.valid || r.parentKey.empty() || r.dotted || Find(r.key) != nullptr || !ValidName(r.name)) return false;
  const Node* parent = Find(r.parentKey);
  if (parent == nullptr || !parent->folder) return false;
  Node n;
  n.name = r.name;
  n.data = data;
  n.attributes = attributes & ~kAttrDirectory;
  n.lastWriteTime = Now();
  bytesHeld_ += data.size();
  nodes_[r.key] = n;
  return true;
}

std::optional<std::string> MemoryPlatform::FileData(const std::string& path) const {
  const Resolved r = Resolve(path);
  const Node* n = r.valid ? Find(r.key) : nullptr;
  if (n == nullptr || n->folder) return std::nullopt;
  return n->data;
}

bool MemoryPlatform::IsFolder(const std::string& path) const {
  const Resolved r = Resolve(path);
  const Node* n = r.valid ? Find(r.key) : nullptr;
  return n != nullptr && n->folder;
}

std::vector<std::string> MemoryPlatform::FilePaths() const {
  std::vector<std::string> paths;
  for (const auto& n : nodes_)
    if (!n.second.folder) paths.push_back(DisplayPath(n.first));
  return paths;
}

// --- Open files -------------------------------------------------------------------

FileHandle MemoryPlatform::OpenFile(const std::string& path, Access access, Share share, Disposition disposition) {
  if (Failing()) return kInvalidHandle;
  const Resolved r = Resolve(path);
  if (!r.valid || r.parentKey.empty() || r.trailingSeparator || r.dotted) return kInvalidHandle;
  Node* n = Find(r.key);
  if (n != nullptr && n->folder) return kInvalidHandle;
  if (disposition == Disposition::OpenExisting && n == nullptr) return kInvalidHandle;
  if (disposition == Disposition::CreateNew && n != nullptr) return kInvalidHandle;
  if (n != nullptr) {
    // Windows refuses to write to, or to recreate, a read-only file.
    if ((Writes(access) || disposition == Disposition::CreateAlways) && (n->attributes & kAttrReadOnly) != 0)
      return kInvalidHandle;
    if (!SharingAllows(r.key, access, share)) return kInvalidHandle;
    if (disposition == Disposition::CreateAlways) {
      bytesHeld_ -= n->data.size();
      n->data.clear();
      n->lastWriteTime = Now();
    }
  } else {
    const Node* parent = Find(r.parentKey);
    if (parent == nullptr || !parent->folder || !ValidName(r.name)) return kInvalidHandle;
    Node created;
    created.name = r.name;
    created.lastWriteTime = Now();
    nodes_[r.key] = created;
  }
  const FileHandle h = nextHandle_++;
  handles_[h] = Open{r.key, 0, access, share};
  return h;
}

std::int32_t MemoryPlatform::ReadFile(FileHandle h, void* buffer, std::int32_t count) {
  if (Failing()) return -1;
  Open* o = Handle(h);
  if (o == nullptr || !Reads(o->access)) return -1;
  if (count <= 0) return 0;
  const Node* n = Find(o->key);
  const std::int64_t size = static_cast<std::int64_t>(n->data.size());
  if (o->position >= size) return 0;
  const std::int64_t take = std::min<std::int64_t>(count, size - o->position);
  std::memcpy(buffer, n->data.data() + o->position, static_cast<std::size_t>(take));
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
  const std::int64_t size = static_cast<std::int64_t>(n->data.size());
  std::int64_t end = std::min<std::int64_t>(o->position + count, kMaxFileSize);
  if (end > size) {
    // Only what the capacity still holds is written: a full disk.
    const std::int64_t room = static_cast<std::int64_t>(capacity_ - bytesHeld_);
    end = std::min(end, size + room);
  }
  if (end <= o->position) return -1;
  if (end > size) {
    n->data.resize(static_cast<std::size_t>(end), '\0');
    bytesHeld_ += static_cast<std::size_t>(end - size);
  }
  const std::int64_t written = end - o->position;
  std::memcpy(&n->data[static_cast<std::size_t>(o->position)], buffer, static_cast<std::size_t>(written));
  o->position = end;
  n->lastWriteTime = Now();
  return static_cast<std::int32_t>(written);
}

std::int64_t MemoryPlatform::SeekFile(FileHandle h, std::int64_t offset, int origin) {
  if (Failing()) return -1;
  Open* o = Handle(h);
  if (o == nullptr) return -1;
  const std::int64_t size = static_cast<std::int64_t>(Find(o->key)->data.size());
  std::int64_t base;
  switch (origin) {
    case 0: base = 0; break;
    case 1: base = o->position; break;
    case 2: base = size; break;
    default: return -1;
  }
  // Offsets come from 32-bit counts, so the sum cannot overflow.
  const std::int64_t p = base + offset;
  if (p < 0) return -1;
  o->position = p;
  return p;
}

bool MemoryPlatform::SetEndOfFile(FileHandle h) {
  if (Failing()) return false;
  Open* o = Handle(h);
  if (o == nullptr || !Writes(o->access) || o->position > kMaxFileSize) return false;
  Node* n = Find(o->key);
  const std::size_t size = n->data.size();
  const std::size_t wanted = static_cast<std::size_t>(o->position);
  if (wanted > size && wanted - size > capacity_ - bytesHeld_) return false;
  bytesHeld_ = bytesHeld_ - size + wanted;
  n->data.resize(wanted, '\0');
  n->lastWriteTime = Now();
  return true;
}

bool MemoryPlatform::FlushFile(FileHandle h) {
  return !Failing() && Handle(h) != nullptr;
}

bool MemoryPlatform::FlushNamedFile(const std::string& path) {
  if (Failing()) return false;
  const std::optional<std::string> data = FileData(path);
  return data.has_value();
}

bool MemoryPlatform::CloseFile(FileHandle h) {
  // A failed close still releases the handle.
  const bool failing = Failing();
  return handles_.erase(h) == 1 && !failing;
}

bool MemoryPlatform::SetLastWriteTime(FileHandle h, std::int64_t utcFileTime) {
  if (Failing()) return false;
  Open* o = Handle(h);
  if (o == nullptr || !Writes(o->access) || utcFileTime < 0) return false;
  Find(o->key)->lastWriteTime = utcFileTime;
  return true;
}

// --- Names ------------------------------------------------------------------------

bool MemoryPlatform::FindFirst(const std::string& pattern, FoundItem* first) {
  if (Failing()) return false;
  const Resolved r = Resolve(pattern);
  if (!r.valid) return false;
  if (!HasWildcards(r.name)) {
    const Node* n = Find(r.key);
    // A trailing separator names no item, as on Windows.
    if (n == nullptr || r.trailingSeparator) return false;
    first->attributes = n->attributes;
    first->lastWriteTime = n->lastWriteTime;
    return true;
  }
  const Node* folder = Find(r.parentKey);
  if (folder == nullptr || !folder->folder || r.trailingSeparator) return false;
  const bool windows = notation_ == Notation::Windows;
  const std::string wanted = windows ? Upper(r.name) : r.name;
  // A search lists "." and ".." first, except in a root.
  if (r.parentKey != "/" && r.parentKey.size() > 2) {
    for (const char* dot : {".", ".."}) {
      if (MatchesWildcard(wanted, dot)) {
        first->attributes = kAttrDirectory;
        first->lastWriteTime = folder->lastWriteTime;
        return true;
      }
    }
  }
  for (const std::string& key : Children(r.parentKey)) {
    const Node& n = nodes_.at(key);
    if (MatchesWildcard(wanted, windows ? Upper(n.name) : n.name)) {
      first->attributes = n.attributes;
      first->lastWriteTime = n.lastWriteTime;
      return true;
    }
  }
  return false;
}

std::uint32_t MemoryPlatform::GetAttributes(const std::string& path) {
  if (Failing()) return kInvalidAttributes;
  const Resolved r = Resolve(path);
  const Node* n = r.valid ? Find(r.key) : nullptr;
  if (n == nullptr || (r.trailingSeparator && !n->folder)) return kInvalidAttributes;
  return n->attributes;
}

bool MemoryPlatform::MoveFile(const std::string& from, const std::string& to) {
  if (Failing()) return false;
  const Resolved a = Resolve(from);
  const Resolved b = Resolve(to);
  if (!a.valid || !b.valid || a.parentKey.empty() || b.parentKey.empty() || a.dotted || b.dotted) return false;
  Node* source = Find(a.key);
  if (source == nullptr || (a.trailingSeparator && !source->folder)) return false;
  if (a.key == b.key) {
    // Only a change of letter case renames an item onto itself.
    if (source->name == b.name || !ValidName(b.name)) return false;
    source->name = b.name;
    return true;
  }
  if (Find(b.key) != nullptr || !ValidName(b.name) || StartsWith(b.key, a.key + "/")) return false;
  const Node* parent = Find(b.parentKey);
  if (parent == nullptr || !parent->folder || IsOpen(a.key)) return false;
  std::vector<std::pair<std::string, Node>> moved;
  moved.emplace_back(b.key, *source);
  moved.back().second.name = b.name;
  const std::string prefix = a.key + "/";
  for (auto it = nodes_.lower_bound(prefix); it != nodes_.end() && StartsWith(it->first, prefix); ++it)
    moved.emplace_back(b.key + it->first.substr(a.key.size()), it->second);
  nodes_.erase(nodes_.lower_bound(prefix), nodes_.lower_bound(a.key + "0"));  // '0' follows '/'
  nodes_.erase(a.key);
  for (auto& m : moved) nodes_[m.first] = std::move(m.second);
  return true;
}

bool MemoryPlatform::DeleteFile(const std::string& path) {
  if (Failing()) return false;
  const Resolved r = Resolve(path);
  const Node* n = r.valid ? Find(r.key) : nullptr;
  if (n == nullptr || n->folder || r.trailingSeparator || (n->attributes & kAttrReadOnly) != 0 || IsOpen(r.key))
    return false;
  bytesHeld_ -= n->data.size();
  nodes_.erase(r.key);
  return true;
}

bool MemoryPlatform::CreateDirectory(const std::string& path) {
  if (Failing()) return false;
  const Resolved r = Resolve(path);
  if (!r.valid || r.parentKey.empty() || r.dotted || Find(r.key) != nullptr || !ValidName(r.name)) return false;
  const Node* parent = Find(r.parentKey);
  if (parent == nullptr || !parent->folder) return false;
  Node n;
  n.folder = true;
  n.name = r.name;
  n.attributes = kAttrDirectory;
  n.lastWriteTime = Now();
  nodes_[r.key] = n;
  createdFolders_.push_back(DisplayPath(r.key));
  return true;
}

std::string MemoryPlatform::FullPath(const std::string& name) {
  const Resolved r = Resolve(name);
  return r.valid ? r.display : name;
}

std::string MemoryPlatform::ModulePath() { return modulePath.empty() ? At("setup/plfsetup") : modulePath; }

std::string MemoryPlatform::ScriptPath(const std::string& path) {
  if (notation_ == Notation::Windows) return path;
  std::string out = path;
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

const char* MemoryPlatform::PathDelimiters() { return notation_ == Notation::Posix ? "/:" : "\\:"; }

char MemoryPlatform::PathSeparator() { return notation_ == Notation::Posix ? '/' : '\\'; }

int MemoryPlatform::MessageBox(std::uintptr_t, const std::string& text, const std::string& caption, std::uint32_t) {
  boxes.push_back({text, caption});
  return 1;
}

}  // namespace plf::test
