// What pack cannot store, and the script's text, on a POSIX file system:
// nothing is left out without a word, nothing is opened that could block,
// and the script reaches the package in the installer's code page.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "package/preload_reader.h"
#include "tools/package_script.h"
#include "support/test_support.h"
#include "tool_harness.h"

namespace plf::tools {
namespace {

namespace fs = std::filesystem;
using test::Tool;

void MakeSocket(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  path.copy(address.sun_path, path.size());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
  close(fd);
}

std::string ScriptOf(const std::string& package) {
  TPreLoadReader reader(package);
  return ReadPackageScript(reader).text;
}

TEST(PackSpecial, WhatAPackageCannotHoldIsRefusedOrLeftOutByName) {
  plf::test::TempDir dir;
  plf::test::WriteFileBytes(dir / "s.ini", "[Files]\r\n");
  fs::create_directories(dir / "t/empty");
  fs::create_directories(dir / "t/real");
  plf::test::WriteFileBytes(dir / "t/a.txt", "a");
  ASSERT_EQ(mkfifo((dir / "t/fifo").c_str(), 0600), 0);
  MakeSocket(dir / "t/sock");
  fs::create_symlink(dir / "gone", dir / "t/dangling");
  fs::create_directory_symlink(dir / "t/real", dir / "t/to-folder");
  fs::create_symlink("/dev/null", dir / "t/device");
  const std::vector<std::pair<std::string, std::string>> named = {
      {"t/empty", "an empty folder"},
      {"t/fifo", "a named pipe (FIFO)"},
      {"t/sock", "a socket"},
      {"t/dangling", "a symbolic link to a missing target"},
      {"t/to-folder", "a symbolic link to a folder"},
      {"t/device", "a device"},
      {"t/real", "an empty folder"},
  };
  const std::string out = dir / "p.plf";
  const test::Result refused = Tool({"pack", out, dir / "s.ini", dir / "t"});
  EXPECT_EQ(refused.code, 1);
  for (const auto& [path, kind] : named)
    EXPECT_NE(refused.err.find(dir / path + ": is " + kind + ", which a package cannot hold"), std::string::npos)
        << path << "\n" << refused.err;
  EXPECT_FALSE(plf::test::PathExists(out));

  const test::Result skipped = Tool({"pack", "--skip-special", out, dir / "s.ini", dir / "t"});
  EXPECT_EQ(skipped.code, 0) << skipped.err;
  for (const auto& [path, kind] : named)
    EXPECT_NE(skipped.err.find(dir / path + ": left out: is " + kind), std::string::npos) << path << skipped.err;
  EXPECT_EQ(TPreLoadReader(out).EntryCount(), 2);  // SCRIPT and a.txt

  // Named directly, none of them is opened: a FIFO would block the tool.
  const struct {
    std::vector<std::string> args;
    int code;
    std::string said;
  } direct[] = {
      {{"pack", dir / "q.plf", dir / "s.ini", dir / "t/fifo"}, 1, ": is a named pipe (FIFO), which a package"},
      {{"pack", dir / "q.plf", dir / "t/fifo"}, 2, ": is a named pipe (FIFO), not an install script"},
      {{"pack", dir / "t/fifo", dir / "s.ini"}, 2, ": is a named pipe (FIFO), not a package"},
      {{"pack", dir / "t/dangling", dir / "s.ini"}, 2, ": is a symbolic link to a missing target, not a package"},
  };
  for (const auto& c : direct) {
    const test::Result r = Tool(c.args);
    EXPECT_EQ(r.code, c.code) << c.said << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
  }
  // A link to a folder named as an ENTRY is what the author asked for.
  EXPECT_EQ(Tool({"pack", dir / "q.plf", dir / "s.ini", "x=" + (dir / "t/to-folder"), "a.txt=" + (dir / "t/a.txt")}).code, 1)
      << "an empty folder behind the link is still refused";
}

TEST(PackSpecial, TheScriptReachesThePackageInTheCodePage) {
  plf::test::TempDir dir;
  const struct {
    std::string written;
    std::string packed;  // empty: refused
    std::string said;
  } cases[] = {
      {"[Files]\r\nk\xC5\xAF\xC5\x88=C:\\\xC4\x8D\r\n", "[Files]\r\nk\xF9\xF2=C:\\\xE8\r\n", ""},  // UTF-8
      {"\xEF\xBB\xBF[Verify]\r\n", "[Verify]\r\n", "byte order mark is left out"},
      {"[Files]\r\nk\xF9\xF2=x\r\n", "[Files]\r\nk\xF9\xF2=x\r\n", ""},  // already 1250: no UTF-8
      {"[Files]\r\na=x\r\nb=\xC3\xB1\r\n", "", "line 3, column 3: \"\xC3\xB1\" has no character in code page 1250"},
  };
  for (const auto& c : cases) {
    plf::test::WriteFileBytes(dir / "s.ini", c.written);
    fs::remove(dir / "p.plf");
    const test::Result r = Tool({"pack", "--no-check", dir / "p.plf", dir / "s.ini"});
    EXPECT_EQ(r.code, c.packed.empty() ? 1 : 0) << c.written << r.err;
    if (!c.said.empty()) {
      EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    }
    if (!c.packed.empty()) {
      EXPECT_EQ(ScriptOf(dir / "p.plf"), c.packed);
    }
  }
  // Another code page is the program's choice at its start; asked of a
  // tool already reading in 1250 it is refused rather than half-honoured.
  const test::Result other = Tool({"list", "--code-page", "1252", dir / "p.plf"});
  EXPECT_EQ(other.code, 2);
  EXPECT_NE(other.err.find("cannot be honoured here"), std::string::npos) << other.err;
  EXPECT_EQ(Tool({"list", "--code-page=437", dir / "p.plf"}).code, 2);
}

}  // namespace
}  // namespace plf::tools
