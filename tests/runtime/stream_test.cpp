#include "runtime/stream.h"

#include <gtest/gtest.h>

#include "runtime/exceptions.h"
#include "support/test_support.h"

namespace plf {
namespace {

using test::TempDir;

TEST(FileStream, ReadsWritesAndKeepsThePosition) {
  TempDir dir;
  test::WriteFileBytes(dir / "f", "old content that is long");
  TFileStream(dir / "f", TFileStream::kCreate).WriteExact("new 0123", 8);  // truncates
  TFileStream s(dir / "f", 0x20);
  s.SetPosition(3);
  char buffer[20];
  EXPECT_THROW(s.ReadExact(buffer, 20), EReadError);
  EXPECT_EQ(s.Position(), 8);  // what was read stays read
  EXPECT_EQ(std::string(buffer, 5), " 0123");

  const std::string missing = dir / "missing.bin";
  try {
    TFileStream m(missing, 0x20);
    ADD_FAILURE() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Nelze otevřít soubor " + missing);
  }
  EXPECT_THROW(TFileStream(dir.Path(), 0x20), EFOpenError);  // a folder is no file
  EXPECT_THROW(TFileStream(dir / "no/such/folder/x.bin", TFileStream::kCreate), EFCreateError);
}

TEST(MemoryStream, ReadsWritesAndSeeksWithoutBoundsChecks) {
  TMemoryStream m;
  char b[4] = {};
  EXPECT_EQ(m.Write("abcdef", 6), 6);
  EXPECT_EQ(m.Seek(-2, 2), 4);
  EXPECT_EQ(m.Read(b, 4), 2);
  EXPECT_EQ(std::string(b, 2), "ef");
  EXPECT_EQ(m.Seek(-10, 0), -10);
  EXPECT_EQ(m.Read(b, 4) + m.Write(b, 4), 0);
  EXPECT_EQ(m.Seek(8, 0), 8);
  EXPECT_EQ(m.Write("z", 1), 1);
  EXPECT_EQ(std::string(m.Memory(), m.Size()), std::string("abcdef\0\0z", 9));
}

}  // namespace
}  // namespace plf
