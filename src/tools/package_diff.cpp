#include "tools/package_diff.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "package/preload_reader.h"
#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "runtime/stream.h"
#include "text/ini_string_list.h"
#include "text/textutil.h"
#include "tools/cli.h"
#include "tools/script_lint.h"

namespace plf::tools {

namespace {

constexpr std::int32_t kPiece = 64 * 1024;

// As many bytes as the stream still has, up to `count`.
std::int32_t ReadUpTo(TStream& stream, char* buffer, std::int32_t count) {
  std::int32_t got = 0;
  while (got < count) {
    const std::int32_t n = stream.Read(buffer + got, count - got);
    if (n <= 0) break;
    got += n;
  }
  return got;
}

std::unique_ptr<TStream> OpenOrRaise(TPreLoadReader& package, int index) {
  std::unique_ptr<TStream> stream;
  std::int32_t size = 0;
  if (!package.OpenEntry(index, &stream, &size))
    throw Exception(Shown(package.FileName()) + ": the entry \"" + Shown(package.EntryName(index)) +
                    "\" lies outside the data area (plf test tells more)");
  return stream;
}

bool SameEntry(TPreLoadReader& a, int ia, TPreLoadReader& b, int ib) {
  if (a.Entry(ia).uncompressedSize != b.Entry(ib).uncompressedSize) return false;
  const std::unique_ptr<TStream> sa = OpenOrRaise(a, ia);
  const std::unique_ptr<TStream> sb = OpenOrRaise(b, ib);
  return SameContent(*sa, *sb);
}

std::vector<std::string> NonEmpty(const std::vector<ScriptLine>& lines) {
  std::vector<std::string> out;
  for (const ScriptLine& l : lines)
    if (!Trim(l.text).empty()) out.push_back(l.text);
  return out;
}

// What is in `a` and not in `b`, duplicates counted, order of `a` kept.
std::vector<std::string> Missing(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::multiset<std::string> left(b.begin(), b.end());
  std::vector<std::string> out;
  for (const std::string& s : a) {
    const auto it = left.find(s);
    if (it == left.end())
      out.push_back(s);
    else
      left.erase(it);
  }
  return out;
}

std::string OptionValue(const std::string& script, const char* key) {
  TIniStringList ini;
  ini.LoadText(script);
  std::string value;
  ini.ReadString("Options", key, &value);
  return value;
}

}  // namespace

bool SameContent(TStream& a, TStream& b) {
  std::vector<char> pa(kPiece), pb(kPiece);
  for (;;) {
    const std::int32_t na = ReadUpTo(a, pa.data(), kPiece);
    const std::int32_t nb = ReadUpTo(b, pb.data(), kPiece);
    if (na != nb || std::memcmp(pa.data(), pb.data(), static_cast<std::size_t>(na)) != 0) return false;
    if (na < kPiece) return true;
  }
}

std::vector<FilesLine> ScriptFilesLines(const std::string& scriptText) {
  std::vector<FilesLine> lines;
  for (const ScriptLine& l : TrimmedSectionLines(scriptText, "Files")) {
    if (Trim(l.text).empty() || l.text.find('=') == std::string::npos) continue;
    FilesLine f;
    f.line = l.line;
    f.target = l.text;
    SplitOff(&f.target, '=', &f.entry);
    lines.push_back(f);
  }
  return lines;
}

bool ScriptDiff::Empty() const {
  return verifyAdded.empty() && verifyRemoved.empty() && options.empty() && filesAdded.empty() &&
         filesRemoved.empty() && filesMoved.empty();
}

EntryDiff DiffEntries(TPreLoadReader& oldPackage, TPreLoadReader& newPackage) {
  EntryDiff diff;
  std::vector<bool> oldSeen(static_cast<std::size_t>(oldPackage.EntryCount()), false);
  for (int i = 0; i < newPackage.EntryCount(); ++i) {
    const std::string name = newPackage.EntryName(i);
    if (newPackage.FindEntry(name) != i) continue;  // a later twin the installer never reaches
    const int o = oldPackage.FindEntry(name);
    if (o < 0) {
      diff.added.push_back(name);
      continue;
    }
    oldSeen[static_cast<std::size_t>(o)] = true;
    if (SameEntry(oldPackage, o, newPackage, i))
      ++diff.unchanged;
    else
      diff.changed.push_back(name);
  }
  for (int o = 0; o < oldPackage.EntryCount(); ++o) {
    const std::string name = oldPackage.EntryName(o);
    if (!oldSeen[static_cast<std::size_t>(o)] && oldPackage.FindEntry(name) == o) diff.removed.push_back(name);
  }
  return diff;
}

ScriptDiff DiffScripts(const std::string& oldScript, const std::string& newScript) {
  ScriptDiff diff;
  const std::vector<std::string> oldVerify = NonEmpty(TrimmedSectionLines(oldScript, "Verify"));
  const std::vector<std::string> newVerify = NonEmpty(TrimmedSectionLines(newScript, "Verify"));
  diff.verifyAdded = Missing(newVerify, oldVerify);
  diff.verifyRemoved = Missing(oldVerify, newVerify);
  for (const char* key : {"Rename", "TimeStamp"}) {
    const std::string before = OptionValue(oldScript, key), after = OptionValue(newScript, key);
    if (before != after) diff.options.push_back({key, before, after});
  }

  // Lines are told apart by entry and target as Windows names them.
  const std::vector<FilesLine> oldFiles = ScriptFilesLines(oldScript), newFiles = ScriptFilesLines(newScript);
  auto keys = [](const std::vector<FilesLine>& lines) {
    std::vector<std::string> k;
    k.reserve(lines.size());
    for (const FilesLine& f : lines) k.push_back(FoldedName(f.entry) + '=' + FoldedName(f.target));
    return k;
  };
  const std::vector<std::string> oldKeys = keys(oldFiles), newKeys = keys(newFiles);
  const std::vector<std::string> added = Missing(newKeys, oldKeys), removed = Missing(oldKeys, newKeys);
  auto pick = [](const std::vector<FilesLine>& lines, const std::vector<std::string>& lineKeys,
                 const std::vector<std::string>& wanted) {
    std::multiset<std::string> left(wanted.begin(), wanted.end());
    std::vector<FilesLine> out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const auto it = left.find(lineKeys[i]);
      if (it == left.end()) continue;
      left.erase(it);
      out.push_back(lines[i]);
    }
    return out;
  };
  std::vector<FilesLine> addedLines = pick(newFiles, newKeys, added);
  std::vector<FilesLine> removedLines = pick(oldFiles, oldKeys, removed);

  // An entry that lost targets and gained others is installed elsewhere.
  std::map<std::string, std::size_t> movedAt;
  for (const FilesLine& r : removedLines) {
    const std::string entry = FoldedName(r.entry);
    const bool gained = std::any_of(addedLines.begin(), addedLines.end(),
                                    [&](const FilesLine& a) { return FoldedName(a.entry) == entry; });
    if (!gained) continue;
    if (movedAt.try_emplace(entry, diff.filesMoved.size()).second) diff.filesMoved.push_back({r.entry, {}, {}});
    diff.filesMoved[movedAt[entry]].oldTargets.push_back(r.target);
  }
  for (const FilesLine& a : addedLines) {
    const auto it = movedAt.find(FoldedName(a.entry));
    if (it != movedAt.end())
      diff.filesMoved[it->second].newTargets.push_back(a.target);
    else
      diff.filesAdded.push_back(a);
  }
  for (const FilesLine& r : removedLines)
    if (movedAt.find(FoldedName(r.entry)) == movedAt.end()) diff.filesRemoved.push_back(r);
  return diff;
}

}  // namespace plf::tools
