#include "streams/safe_release.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "runtime/stream.h"
#include "runtime/string_list.h"
#include "streams/sub_stream.h"
#include "support/fault_platform.h"

namespace plf {
namespace {

int gDestroyed = 0;

// Class names of exactly 40 and 41 characters.
class TFortyCharacterClassNameForReleaseTestsX : public TObject {
  PLF_DECLARE_CLASS(TFortyCharacterClassNameForReleaseTestsX, TObject)
 public:
  ~TFortyCharacterClassNameForReleaseTestsX() override { ++gDestroyed; }
};
class TFortyOneCharacterClassNameForReleaseTest : public TObject {
  PLF_DECLARE_CLASS(TFortyOneCharacterClassNameForReleaseTest, TObject)
 public:
  ~TFortyOneCharacterClassNameForReleaseTest() override { ++gDestroyed; }
};
class tLowerCase : public TObject {
  PLF_DECLARE_CLASS(tLowerCase, TObject)
 public:
  ~tLowerCase() override { ++gDestroyed; }
};
class EFakeError : public TObject {
  PLF_DECLARE_CLASS(EFakeError, TObject)
 public:
  ~EFakeError() override { ++gDestroyed; }
};
class TChildOfE : public EFakeError {
  PLF_DECLARE_CLASS(TChildOfE, EFakeError)
};

static_assert(sizeof("TFortyCharacterClassNameForReleaseTestsX") - 1 == 40, "40 characters");
static_assert(sizeof("TFortyOneCharacterClassNameForReleaseTest") - 1 == 41, "41 characters");

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

TEST(FreeAndClear, ReleasesOnlyValidClasses) {
  EXPECT_TRUE(Released<TFortyCharacterClassNameForReleaseTestsX>());
  EXPECT_FALSE(Released<TFortyOneCharacterClassNameForReleaseTest>());
  EXPECT_TRUE(Released<tLowerCase>());
  EXPECT_FALSE(Released<EFakeError>());
  EXPECT_FALSE(Released<TChildOfE>()) << "a class whose direct base is named with E";
}

TEST(FreeAndClear, DropsWhatIsNoLiveObject) {
  TStream* none = nullptr;
  FreeAndClear(&none);
  EXPECT_EQ(none, nullptr);
  FreeAndClear(static_cast<TStream**>(nullptr));

  // An exception object: cleared, not destroyed.
  auto* error = new EReadError("kept");
  EReadError* variable = error;
  FreeAndClear(&variable);
  EXPECT_EQ(variable, nullptr);
  EXPECT_EQ(error->Message(), "kept");
  delete error;

  // An address that holds nothing, and one already released.
  auto* odd = reinterpret_cast<TStream*>(static_cast<std::uintptr_t>(16));
  FreeAndClear(&odd);
  EXPECT_EQ(odd, nullptr);
  TStringList* stale = new TStringList();
  TStringList* copy = stale;
  FreeAndClear(&copy);
  FreeAndClear(&stale);  // a second release must not destroy it again
  EXPECT_EQ(stale, nullptr);
}

TEST(IsValidClass, NameRules) {
  const ClassInfo root{"TObject", nullptr};
  const ClassInfo rootLower{"tobject", nullptr};
  const ClassInfo lonely{"TLonely", nullptr};
  const ClassInfo fine{"TFine", &root};
  const ClassInfo e{"EFine", &root};
  const ClassInfo longBase{"TFortyOneCharacterClassNameForReleaseTest", nullptr};
  const ClassInfo onLongBase{"TChild", &longBase};
  const ClassInfo empty{"", &root};
  const ClassInfo noName{nullptr, &root};
  const ClassInfo noBaseName{"TChild", &noName};
  struct Case {
    const ClassInfo* cls;
    bool valid;
  };
  const Case cases[] = {{&root, true},        {&rootLower, true}, {&lonely, false}, {&fine, true},
                        {&e, false},          {&onLongBase, false}, {&empty, false}, {&noName, false},
                        {&noBaseName, false}, {nullptr, false}};
  for (const Case& c : cases)
    EXPECT_EQ(IsValidClass(c.cls), c.valid) << (c.cls && c.cls->name ? c.cls->name : "(null)");
}

class TempFileList : public ::testing::Test {
 protected:
  void SetUp() override { RunTempFilesExitStep(); }
  void TearDown() override { RunTempFilesExitStep(); }
  test::TempDir dir;
};

TEST_F(TempFileList, DeleteRelistsFilesThatStay) {
  std::set<std::string> locked;
  test::FaultPlatform platform;  // deletes of the locked names fail
  platform.failWhen = [&locked](const std::string& name, const std::string& path) {
    return name == "delete" && locked.count(path) > 0;
  };
  ScopedPlatform scoped(platform);
  TStringList list;
  for (const char* n : {"a.tmp", "b.tmp", "c.tmp"}) {
    test::WriteFileBytes(dir / n, "x");
    list.Add(dir / n);
  }
  list.Add(dir / "missing.tmp");
  locked = {dir / "b.tmp", dir / "missing.tmp"};
  DeleteTempFiles(&list, true);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_FALSE(test::PathExists(dir / "a.tmp"));
  EXPECT_TRUE(test::PathExists(dir / "b.tmp"));
  EXPECT_FALSE(test::PathExists(dir / "c.tmp"));
  ASSERT_NE(TempFiles(), nullptr);
  ASSERT_EQ(TempFiles()->Count(), 1) << "only a file that still exists is re-listed";
  EXPECT_EQ(TempFiles()->Strings(0), dir / "b.tmp");

  // On the list itself, re-listing is never done.
  DeleteTempFiles(TempFiles(), true);
  EXPECT_EQ(TempFiles()->Count(), 0);
  EXPECT_TRUE(test::PathExists(dir / "b.tmp"));
  DeleteTempFiles(nullptr, true);
}

TEST_F(TempFileList, ExitStepDeletesAndReleases) {
  RunTempFilesExitStep();  // with no list: nothing
  EXPECT_EQ(TempFiles(), nullptr);
  test::WriteFileBytes(dir / "t1", "x");
  test::WriteFileBytes(dir / "t2", "x");
  AddTempFile(dir / "t1");
  AddTempFile(dir / "t2");
  RunTempFilesExitStep();
  EXPECT_EQ(TempFiles(), nullptr);
  EXPECT_FALSE(test::PathExists(dir / "t1"));
  EXPECT_FALSE(test::PathExists(dir / "t2"));
}

}  // namespace
}  // namespace plf
