#include "tools/plan_platform.h"

#include "tools/cli.h"

namespace plf::tools {

namespace {

// Only what the installer decides by: present, a folder, read-only.
constexpr std::uint32_t kDecidingAttributes = kAttrReadOnly | kAttrDirectory;

// By FileOperation::Kind.
const char* const kKindNames[] = {"query",  "open for writing", "written",       "stamp",
                                  "move",   "delete",           "create folder", "message"};

}  // namespace

bool FileOperation::operator==(const FileOperation& o) const {
  return kind == o.kind && path == o.path && path2 == o.path2 && succeeded == o.succeeded && value == o.value;
}

std::string Describe(const FileOperation& op) {
  using Kind = FileOperation::Kind;
  std::string s = std::string(kKindNames[static_cast<int>(op.kind)]) + " " + Shown(op.path);
  if (op.kind == Kind::Move) s += " -> " + Shown(op.path2);
  if (op.kind == Kind::Message) s = "message \"" + op.path + "\" (" + op.path2 + ")";
  if (op.kind == Kind::Query || op.kind == Kind::OpenForWrite || op.kind == Kind::Written)
    s += " [" + std::to_string(op.value) + "]";
  if (op.kind == Kind::Stamp) s += " " + LocalTimeText(op.value);
  return s + (op.succeeded ? ": ok" : ": failed");
}

PlanPlatform::PlanPlatform(Platform& inner, std::string currentFolder)
    : PlatformWrapper(inner), folder_(std::move(currentFolder)), separator_(inner.PathSeparator()) {}

bool PlanPlatform::Peek(const std::string& path, FoundItem* item) {
  item->attributes = Inner().GetAttributes(Rooted(path));
  item->lastWriteTime = 0;
  return item->attributes != kInvalidAttributes;
}

std::string PlanPlatform::Rooted(const std::string& path) const {
  if (folder_.empty() || path.empty()) return path;
  bool absolute = path[0] == separator_;
  if (separator_ == '\\') absolute = absolute || path[0] == '/' || (path.size() >= 2 && path[1] == ':');
  if (absolute) return path;
  return folder_.back() == separator_ ? folder_ + path : folder_ + separator_ + path;
}

bool PlanPlatform::Record(FileOperation::Kind kind, const std::string& path, const std::string& path2, bool ok,
                          std::int64_t value) {
  FileOperation op;
  op.kind = kind;
  op.path = path;
  op.path2 = path2;
  op.succeeded = ok;
  op.value = value;
  operations_.push_back(std::move(op));
  return ok;
}

FileHandle PlanPlatform::OpenFile(const std::string& path, Access access, Share share, Disposition disposition) {
  const FileHandle h = Inner().OpenFile(Rooted(path), access, share, disposition);
  if (access == Access::Read && disposition == Disposition::OpenExisting) return h;
  Record(FileOperation::Kind::OpenForWrite, path, "", h != kInvalidHandle, static_cast<std::int64_t>(disposition));
  if (h != kInvalidHandle) writing_[h] = Writing{path, 0};
  return h;
}

std::int32_t PlanPlatform::WriteFile(FileHandle h, const void* buffer, std::int32_t count) {
  const std::int32_t n = Inner().WriteFile(h, buffer, count);
  const auto it = writing_.find(h);
  if (it != writing_.end() && n > 0) it->second.written += n;
  return n;
}

bool PlanPlatform::FlushFileSystems(const std::vector<std::string>& folders) {
  std::vector<std::string> rooted;
  rooted.reserve(folders.size());
  for (const std::string& f : folders) rooted.push_back(Rooted(f));
  return Inner().FlushFileSystems(rooted);
}

bool PlanPlatform::FlushNamedFile(const std::string& path) { return Inner().FlushNamedFile(Rooted(path)); }

void PlanPlatform::StartFlushFileSystem(const std::string& folder) { Inner().StartFlushFileSystem(Rooted(folder)); }

bool PlanPlatform::CloseFile(FileHandle h) {
  const auto it = writing_.find(h);
  if (it != writing_.end()) {
    Record(FileOperation::Kind::Written, it->second.path, "", true, it->second.written);
    writing_.erase(it);
  }
  return Inner().CloseFile(h);
}

bool PlanPlatform::SetLastWriteTime(FileHandle h, std::int64_t utcFileTime) {
  const bool ok = Inner().SetLastWriteTime(h, utcFileTime);
  const auto it = writing_.find(h);
  if (it != writing_.end()) Record(FileOperation::Kind::Stamp, it->second.path, "", ok, utcFileTime);
  return ok;
}

bool PlanPlatform::FindFirst(const std::string& pattern, FoundItem* first) {
  const bool found = Inner().FindFirst(Rooted(pattern), first);
  return Record(FileOperation::Kind::Query, pattern, "find", found, found ? 1 + (first->IsDirectory() ? 2 : 0) : 0);
}

std::uint32_t PlanPlatform::GetAttributes(const std::string& path) {
  const std::uint32_t attributes = Inner().GetAttributes(Rooted(path));
  Record(FileOperation::Kind::Query, path, "attributes", true,
         attributes == kInvalidAttributes ? -1 : static_cast<std::int64_t>(attributes & kDecidingAttributes));
  return attributes;
}

bool PlanPlatform::MoveFile(const std::string& from, const std::string& to) {
  return Record(FileOperation::Kind::Move, from, to, Inner().MoveFile(Rooted(from), Rooted(to)));
}

bool PlanPlatform::DeleteFile(const std::string& path) {
  return Record(FileOperation::Kind::Delete, path, "", Inner().DeleteFile(Rooted(path)));
}

bool PlanPlatform::CreateDirectory(const std::string& path) {
  return Record(FileOperation::Kind::CreateFolder, path, "", Inner().CreateDirectory(Rooted(path)));
}

std::string PlanPlatform::FullPath(const std::string& name) { return Inner().FullPath(Rooted(name)); }

int PlanPlatform::MessageBox(std::uintptr_t, const std::string& text, const std::string& caption, std::uint32_t) {
  Record(FileOperation::Kind::Message, text, caption, true);
  return 1;  // OK
}

}  // namespace plf::tools
