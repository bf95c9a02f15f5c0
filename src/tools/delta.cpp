#include "tools/delta.h"

#include <map>
#include <memory>
#include <set>

#include "package/preload_reader.h"
#include "runtime/platform.h"
#include "runtime/stream.h"
#include "tools/cli.h"
#include "tools/package_diff.h"
#include "tools/package_script.h"
#include "tools/script_lint.h"

namespace plf::tools {

namespace {

constexpr std::uint16_t kReadShared = 0x20;

bool FileEqualsEntry(const std::string& path, TPreLoadReader& package, int index) {
  std::unique_ptr<TStream> entry;
  std::int32_t size = 0;
  if (!package.OpenEntry(index, &entry, &size)) return false;  // a damaged old entry is replaced
  TFileStream file(path, kReadShared);
  if (file.Size() != size) return false;
  return SameContent(file, *entry);
}

// The item a [Files] line gets, found as the installer's lookup finds it:
// the first name equal with letter case ignored.
int ItemOf(const std::vector<PackItem>& items, const std::string& entry) {
  for (std::size_t i = 1; i < items.size(); ++i)
    if (Sys().CompareTextLocale(items[i].name, entry) == 0) return static_cast<int>(i);
  return -1;
}

}  // namespace

DeltaPlan PlanDelta(TPreLoadReader& oldPackage, const std::vector<PackItem>& items) {
  DeltaPlan plan;
  plan.leftOut.assign(items.size(), false);
  for (std::size_t i = 1; i < items.size(); ++i) {
    const int old = oldPackage.FindEntry(items[i].name);
    plan.leftOut[i] = old >= 0 && FileEqualsEntry(items[i].path, oldPackage, old);
  }

  std::set<std::string> oldPairs;
  for (const FilesLine& f : ScriptFilesLines(ReadPackageScript(oldPackage).text))
    oldPairs.insert(FoldedName(f.entry) + '=' + FoldedName(f.target));
  const std::string& script = items[0].text;
  const std::vector<FilesLine> lines = ScriptFilesLines(script);
  std::map<std::string, std::vector<int>> writers;  // target -> the lines that write it
  for (const FilesLine& f : lines) writers[FoldedName(f.target)].push_back(f.line);

  std::set<int> dropped;
  for (const FilesLine& f : lines) {
    const int item = ItemOf(items, f.entry);
    if (item < 0 || !plan.leftOut[static_cast<std::size_t>(item)]) continue;
    const std::string where = "line " + std::to_string(f.line) + ": the entry \"" + Shown(f.entry) + "\"";
    if (oldPairs.count(FoldedName(f.entry) + '=' + FoldedName(f.target)) == 0) {
      plan.refusal = where + " is unchanged, but the old package does not install it to \"" + Shown(f.target) +
                     "\", so a machine with the old release lacks that file";
      return plan;
    }
    for (const int other : writers[FoldedName(f.target)])
      if (other != f.line) {
        plan.refusal = where + " is unchanged, but line " + std::to_string(other) + " writes \"" + Shown(f.target) +
                       "\" too, so leaving this line out would change what stays there";
        return plan;
      }
    dropped.insert(f.line);
  }

  // The lines go whole, their line ends with them; all else stays byte for byte.
  const TextLines text(script);
  std::size_t from = 0;
  for (const int line : dropped) {
    plan.script += script.substr(from, text.Start(line) - from);
    from = text.Start(line + 1);
  }
  plan.script += script.substr(from);
  plan.linesLeftOut = dropped.size();
  return plan;
}

}  // namespace plf::tools
