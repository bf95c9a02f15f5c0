#include "streams/dir_helpers.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "runtime/platform.h"
#include "support/test_support.h"

namespace plf {
namespace {

// Windows notation over a simulated disk: records each attribute query and
// each creation, in order.
class WindowsDisk : public test::NotationPlatform {
 public:
  WindowsDisk() : NotationPlatform(true) {}
  std::uint32_t GetAttributes(const std::string& path) override {
    calls.push_back("attr " + path);
    if (folders.count(path) != 0) return kAttrDirectory;
    if (files.count(path) != 0) return kAttrNormal;
    return kInvalidAttributes;
  }
  bool CreateDirectory(const std::string& path) override {
    calls.push_back("mkdir " + path);
    if (folders.count(path) != 0 || files.count(path) != 0) return false;
    const std::size_t cut = path.find_last_of("\\:");
    if (cut != std::string::npos && cut >= 2 && folders.count(path.substr(0, cut)) == 0) return false;
    folders.insert(path);
    return true;
  }
  std::set<std::string> folders{"C:\\"};
  std::set<std::string> files;
  std::vector<std::string> calls;
};

TEST(MakeDirectoryPath, WindowsNotationCallsInOrder) {
  struct Case {
    const char* dir;
    std::vector<std::string> existing;
    std::vector<std::string> files;
    std::vector<std::string> calls;
  } cases[] = {
      {"C:\\a\\b\\c", {}, {},
       {"attr C:\\a\\b\\c", "attr C:\\a\\b", "attr C:\\a", "mkdir C:\\a", "mkdir C:\\a\\b", "mkdir C:\\a\\b\\c"}},
      {"C:\\a\\b\\", {}, {}, {"attr C:\\a\\b", "attr C:\\a", "mkdir C:\\a", "mkdir C:\\a\\b"}},
      {"", {}, {}, {}}, {"C:", {}, {}, {}}, {"C:\\", {}, {}, {}}, {"\\", {}, {}, {}}, {"ab", {}, {}, {}},
      {"C:\\a\\b", {"C:\\a\\b"}, {}, {"attr C:\\a\\b"}}, {"ab\\cd", {}, {}, {"attr ab\\cd", "mkdir ab\\cd"}},
      {"C:\\a\\b\\c", {"C:\\a"}, {}, {"attr C:\\a\\b\\c", "attr C:\\a\\b", "attr C:\\a", "mkdir C:\\a\\b",
                                      "mkdir C:\\a\\b\\c"}},
      {"C:\\x\\y", {}, {"C:\\x"}, {"attr C:\\x\\y", "attr C:\\x", "mkdir C:\\x", "mkdir C:\\x\\y"}},
      {"abc\\de", {}, {}, {"attr abc\\de", "attr abc", "mkdir abc", "mkdir abc\\de"}},
      {"ab\\cd\\ef", {}, {}, {"attr ab\\cd\\ef", "attr ab\\cd", "mkdir ab\\cd", "mkdir ab\\cd\\ef"}},
      {"C:a\\b", {}, {}, {"attr C:a\\b", "attr C:a", "mkdir C:a", "mkdir C:a\\b"}},
      {"abc:", {}, {}, {"attr abc:"}}, {"C:\\a\\b\\\\", {}, {}, {"attr C:\\a\\b\\"}},
      {"\\\\srv\\share\\d", {}, {},
       {"attr \\\\srv\\share\\d", "attr \\\\srv\\share", "attr \\\\srv", "mkdir \\\\srv", "mkdir \\\\srv\\share",
        "mkdir \\\\srv\\share\\d"}},
  };
  for (const Case& c : cases) {
    WindowsDisk disk;
    disk.folders.insert(c.existing.begin(), c.existing.end());
    disk.files.insert(c.files.begin(), c.files.end());
    {
      ScopedPlatform scope(disk);
      MakeDirectoryPath(c.dir);
    }
    EXPECT_EQ(disk.calls, c.calls) << c.dir;
  }
}

}  // namespace
}  // namespace plf
