// Pack on a POSIX file system. Interrupting it: whatever the moment and the
// signal, the package under its name is the old one or the complete new
// one, never part of one; after SIGINT or SIGTERM no temporary file is
// left, and the process ends by that signal as if the tool had no handler.
// What it cannot store: nothing is left out without a word, nothing is
// opened that could block, and the script reaches the package in the
// installer's code page.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "package/preload_reader.h"
#include "runtime/stream.h"
#include "support/test_support.h"
#include "tool_harness.h"
#include "tools/atomic_file.h"
#include "tools/package_script.h"

namespace plf::tools {
namespace {

namespace fs = std::filesystem;
using test::FolderNames;
using test::Tool;

int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// The child writes a new file over `target`, then gets `sig`; 7 when it
// lives on and commits.
TEST(TemporaryFiles, ASignalRemovesThemAndEndsTheProcessByIt) {
  struct Case {
    int sig;
    bool ignored;  // already ignored when the tool starts
  };
  for (const Case c : {Case{SIGINT, false}, Case{SIGTERM, false}, Case{SIGINT, true}}) {
    plf::test::TempDir dir;
    const std::string target = dir / "p.plf";
    plf::test::WriteFileBytes(target, "old");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // Whatever happens, the child never goes back to the test runner.
      try {
        if (c.ignored) signal(c.sig, SIG_IGN);
        AtomicFile file(target);
        file.Stream().Write("new", 3);
        raise(c.sig);
        file.Commit();
        _exit(7);
      } catch (...) {
      }
      _exit(8);
    }
    const int status = WaitFor(pid);
    if (c.ignored) {
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
      EXPECT_EQ(plf::test::ReadFileBytes(target), "new");
    } else {
      ASSERT_TRUE(WIFSIGNALED(status)) << status;
      EXPECT_EQ(WTERMSIG(status), c.sig);
      EXPECT_EQ(plf::test::ReadFileBytes(target), "old");
    }
    EXPECT_EQ(FolderNames(dir.Path()), std::vector<std::string>{"p.plf"});
  }
}

// build/<preset>/tests/test_tools beside build/<preset>/src/tools/plf.
std::string ToolProgram() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : (self.parent_path().parent_path() / "src/tools/plf").string();
}

// Starts the program with its output thrown away.
pid_t Start(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

TEST(InterruptedPack, NeverChangesTheOldPackage) {
  const std::string program = ToolProgram();
  ASSERT_TRUE(fs::exists(program)) << "the plf program is not at " << program;
  plf::test::TempDir dir;
  fs::create_directories(dir / "tree");
  fs::create_directories(dir / "out");
  plf::test::WriteFileBytes(dir / "script.ini", "[Files]\r\n");
  // Large enough for the compressing threads to spill to temporary files.
  for (int i = 0; i < 2; ++i)
    plf::test::WriteFileBytes(dir / ("tree/f" + std::to_string(i)), plf::test::Noise(4 << 20, i));
  const std::string package = dir / "out/Install.PLF";
  const std::vector<std::string> args{"pack", "-j2", "-l1", "--date", "2002-02-02", package, dir / "script.ini", dir / "tree"};

  ASSERT_EQ(Tool({"pack", "-l1", "--date", "2001-01-01", package, dir / "script.ini", dir / "tree"}).code, 0);
  const std::string old = plf::test::ReadFileBytes(package);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(WaitFor(Start(program, args)), 0);
  const auto full = std::chrono::steady_clock::now() - start;
  const std::string made = plf::test::ReadFileBytes(package);
  ASSERT_NE(made, old);

  std::mt19937 random(20240601);
  const int kSignals[] = {SIGINT, SIGTERM, SIGKILL};
  int cutShort = 0;
  for (int round = 0; round < 9; ++round) {
    plf::test::WriteFileBytes(package, old);
    const int sig = kSignals[round % 3];
    const auto delay = std::chrono::duration_cast<std::chrono::nanoseconds>(full * (random() % 1000) / 1000);
    const pid_t pid = Start(program, args);
    ASSERT_GT(pid, 0);
    const timespec pause{static_cast<time_t>(delay.count() / 1000000000), static_cast<long>(delay.count() % 1000000000)};
    nanosleep(&pause, nullptr);
    kill(pid, sig);
    const int status = WaitFor(pid);
    const std::string now = plf::test::ReadFileBytes(package);
    const std::string when = "signal " + std::to_string(sig) + " after " + std::to_string(delay.count() / 1000000) + " ms";
    ASSERT_TRUE(now == old || now == made) << when << ": a package of " << now.size() << " bytes under its name";
    if (WIFEXITED(status)) {
      EXPECT_EQ(WEXITSTATUS(status), 0) << when;
      EXPECT_TRUE(now == made) << when;
    } else {
      ASSERT_TRUE(WIFSIGNALED(status)) << when;
      EXPECT_EQ(WTERMSIG(status), sig) << when;
      cutShort += now == old;
    }
    std::vector<std::string> names = FolderNames(dir / "out");
    if (sig == SIGKILL) {
      // Only a kill that cannot be caught leaves temporary files.
      for (const std::string& name : names)
        if (name != "Install.PLF") {
          EXPECT_EQ(name.rfind("Install.PLF.~", 0), 0u) << name;
          fs::remove(dir / ("out/" + name));
        }
      names = FolderNames(dir / "out");
    }
    EXPECT_EQ(names, std::vector<std::string>{"Install.PLF"}) << when;
  }
  EXPECT_GE(cutShort, 4) << "too few rounds ended in the middle of the pack";
}

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
      {"t/empty", "an empty folder"}, {"t/fifo", "a named pipe (FIFO)"}, {"t/sock", "a socket"},
      {"t/dangling", "a symbolic link to a missing target"}, {"t/to-folder", "a symbolic link to a folder"},
      {"t/device", "a device"}, {"t/real", "an empty folder"},
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
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    if (!c.packed.empty()) {
      EXPECT_EQ(ScriptOf(dir / "p.plf"), c.packed);
    }
  }
}

}  // namespace
}  // namespace plf::tools
