#include "streams/safe_release.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "runtime/stream.h"
#include "runtime/string_list.h"
#include "support/fault_platform.h"

namespace plf {
namespace {

int gDestroyed = 0;

// A class name of exactly 40 characters, the longest that is released.
class TFortyCharacterClassNameForReleaseTestsX : public TObject {
  PLF_DECLARE_CLASS(TFortyCharacterClassNameForReleaseTestsX, TObject)
 public:
  ~TFortyCharacterClassNameForReleaseTestsX() override { ++gDestroyed; }
};
class EFakeError : public TObject {
  PLF_DECLARE_CLASS(EFakeError, TObject)
 public:
  ~EFakeError() override { ++gDestroyed; }
};

template <class T>
bool Released() {
  gDestroyed = 0;
  T* object = new T();
  T* variable = object;
  FreeAndClear(&variable);
  EXPECT_EQ(variable, nullptr);
  const bool released = gDestroyed == 1;
  if (!released) delete object;  // dropped: still ours to free
  return released;
}

TEST(FreeAndClear, ReleasesOnlyLiveObjectsOfValidClasses) {
  EXPECT_TRUE(Released<TFortyCharacterClassNameForReleaseTestsX>());
  EXPECT_FALSE(Released<EFakeError>());
  FreeAndClear(static_cast<TStream**>(nullptr));

  // An object already released.
  TStringList* stale = new TStringList();
  TStringList* copy = stale;
  FreeAndClear(&copy);
  FreeAndClear(&stale);  // a second release must not destroy it again
  EXPECT_EQ(stale, nullptr);
}

TEST(IsValidClass, NameRules) {
  const ClassInfo root{"TObject", nullptr};
  const ClassInfo longBase{"TFortyOneCharacterClassNameForReleaseTest", nullptr};
  const struct Case {
    ClassInfo cls;
    bool valid;
  } cases[] = {
      {root, true},           {{"tobject", nullptr}, true},  {{"TLonely", nullptr}, false},
      {{"tLower", &root}, true}, {{"EFine", &root}, false},   {{"TChild", &longBase}, false},
      {{"TFortyOneCharacterClassNameForReleaseTest", &root}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidClass(&c.cls), c.valid) << c.cls.name;
  EXPECT_FALSE(IsValidClass(nullptr));
}

TEST(TempFileList, DeleteRelistsFilesThatStayAndTheExitStepReleases) {
  RunTempFilesExitStep();
  test::TempDir dir;
  std::set<std::string> locked{dir / "b.tmp", dir / "missing.tmp"};
  test::FaultPlatform platform;  // deletes of the locked names fail
  platform.failWhen = [&locked](const std::string& name, const std::string& path) {
    return name == "delete" && locked.count(path) > 0;
  };
  ScopedPlatform scoped(platform);
  TStringList list;
  for (const char* n : {"a.tmp", "b.tmp", "missing.tmp"}) {
    if (*n != 'm') test::WriteFileBytes(dir / n, "x");
    list.Add(dir / n);
  }
  DeleteTempFiles(&list, true);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_FALSE(test::PathExists(dir / "a.tmp"));
  ASSERT_NE(TempFiles(), nullptr);
  ASSERT_EQ(TempFiles()->Count(), 1) << "only a file that still exists is re-listed";
  EXPECT_EQ(TempFiles()->Strings(0), dir / "b.tmp");

  // On the list itself, re-listing is never done.
  DeleteTempFiles(TempFiles(), true);
  EXPECT_EQ(TempFiles()->Count(), 0);

  locked.clear();
  AddTempFile(dir / "b.tmp");
  AddTempFile(dir / "b.tmp");  // once
  EXPECT_EQ(TempFiles()->Count(), 1);
  RunTempFilesExitStep();
  EXPECT_EQ(TempFiles(), nullptr);
  EXPECT_FALSE(test::PathExists(dir / "b.tmp"));
}

}  // namespace
}  // namespace plf
