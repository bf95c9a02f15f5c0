#include "runtime/stream.h"

#include <gtest/gtest.h>

#include "runtime/exceptions.h"
#include "support/test_support.h"

namespace plf {
namespace {

using test::TempDir;

TEST(FileStream, ShortExactReadRaisesAndKeepsWhatWasRead) {
  TempDir dir;
  test::WriteFileBytes(dir / "f", std::string(12, 'x'));
  TFileStream s(dir / "f", 0x20);
  char buffer[20];
  try {
    s.ReadExact(buffer, 20);
    FAIL() << "no exception";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  EXPECT_EQ(s.Position(), 12);
  EXPECT_NO_THROW(s.ReadExact(buffer, 0));
}

TEST(FileStream, OpenAndCreateErrorsNameTheFile) {
  TempDir dir;
  const std::string missing = dir / "missing.bin";
  try {
    TFileStream s(missing, 0x20);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Nelze otevřít soubor " + missing);
  }
  const std::string nowhere = dir / "no/such/folder/x.bin";
  try {
    TFileStream s(nowhere, TFileStream::kCreate);
    FAIL() << "created in a missing folder";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Nelze vytvořit soubor " + nowhere);
  }
}

TEST(FileStream, SizeKeepsThePosition) {
  TempDir dir;
  test::WriteFileBytes(dir / "f", "0123456789");
  TFileStream s(dir / "f", 0x20);
  s.SetPosition(3);
  EXPECT_EQ(s.Size(), 10);
  EXPECT_EQ(s.Position(), 3);
}

TEST(FileStream, CreateTruncatesAndWrites) {
  TempDir dir;
  test::WriteFileBytes(dir / "f", "old content that is long");
  {
    TFileStream s(dir / "f", TFileStream::kCreate);
    s.WriteExact("new", 3);
    EXPECT_EQ(s.Write("x", -1), 0);
  }
  EXPECT_EQ(test::ReadFileBytes(dir / "f"), "new");
}

TEST(FileStream, AFolderIsNoFile) {
  TempDir dir;
  EXPECT_THROW(TFileStream(dir.Path(), 0x20), EFOpenError);
}

TEST(MemoryStream, ReadsWritesAndSeeksWithoutBoundsChecks) {
  TMemoryStream m;
  char b[4] = {};
  EXPECT_EQ(m.Read(b, 4), 0);
  EXPECT_EQ(m.Write("abcdef", 6), 6);
  EXPECT_EQ(m.Seek(-2, 2), 4);
  EXPECT_EQ(m.Read(b, 4), 2);
  EXPECT_EQ(std::string(b, 2), "ef");
  EXPECT_EQ(m.Seek(-10, 0), -10);
  EXPECT_EQ(m.Read(b, 4), 0);
  EXPECT_EQ(m.Write(b, 4), 0);
  EXPECT_EQ(m.Seek(8, 0), 8);
  EXPECT_EQ(m.Write("z", 1), 1);
  EXPECT_EQ(m.Size(), 9);
  EXPECT_EQ(std::string(m.Memory(), 9), std::string("abcdef\0\0z", 9));
  EXPECT_EQ(m.Read(b, -1), 0);
}

}  // namespace
}  // namespace plf
