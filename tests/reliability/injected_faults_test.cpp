// Single injected faults that the matrices found to matter, pinned down on
// the smallest setup that shows them.
#include <gtest/gtest.h>

#include <string>

#include "package/package_writer.h"
#include "package/preload_reader.h"
#include "runtime/exceptions.h"
#include "support/fault_platform.h"

namespace plf::test {
namespace {

// The number of the last operation named `kind` in the log, 0 when none.
long LastOperation(const FaultPlatform& p, const std::string& kind) {
  long last = 0;
  for (const std::string& line : p.log) {
    const std::string::size_type space = line.find(' ');
    if (line.compare(space + 1, kind.size() + 1, kind + " ") == 0) last = std::stol(line.substr(0, space));
  }
  return last;
}

// A read that fails while the directory is loaded is no end of the file:
// the record it was to fill must not turn into an empty, nameless one, or
// the install passes over that entry's line and reports success.
TEST(InjectedFault, FailedReadOfTheLastDirectoryRecordIsNotTakenForTheFileEnd) {
  TempDir dir;
  const std::string package = dir / "Install.PLF";
  {
    TPackageWriter writer(package);
    writer.AddBuffer("first", "1", 1);
    writer.AddBuffer("last", "2", 1);
    writer.Finish();
  }
  long lastRead = 0;
  {
    FaultPlatform counting;
    ScopedPlatform use(counting);
    TPreLoadReader reader(package);
    ASSERT_EQ(reader.FindEntry("last"), 1);
    lastRead = LastOperation(counting, "read");  // the last record's body
  }
  ASSERT_GT(lastRead, 0);

  FaultPlatform failing;
  failing.failAt = lastRead;
  ScopedPlatform use(failing);
  try {
    TPreLoadReader reader(package);
    EXPECT_EQ(reader.FindEntry("last"), 1) << "the failed read " << failing.failed << " lost the entry silently";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
}

}  // namespace
}  // namespace plf::test
