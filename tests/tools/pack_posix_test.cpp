// Pack on a POSIX file system. Interrupting it: whatever the moment and the
// signal, the package under its name is the old one or the complete new
// one, never part of one; after SIGINT or SIGTERM no temporary file is
// left, and the process ends by that signal as if the tool had no handler.
// What it cannot store: nothing is left out without a word, and nothing is
// opened that could block.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "tool_harness.h"
#include "tools/atomic_file.h"

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
  // build/<preset>/tests/test_tools beside build/<preset>/src/tools/plf.
  const std::string program = (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "src/tools/plf").string();
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
    std::this_thread::sleep_for(delay);
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
    for (const std::string& name : FolderNames(dir / "out"))
      if (name != "Install.PLF") {
        // Only a kill that cannot be caught leaves temporary files.
        EXPECT_TRUE(sig == SIGKILL && name.rfind("Install.PLF.~", 0) == 0) << when << ": " << name;
        fs::remove(dir / ("out/" + name));
      }
  }
  EXPECT_GE(cutShort, 4) << "too few rounds ended in the middle of the pack";
}

// A signal handled on the very thread that creates a temporary file, after
// the create and before the file is listed, still finds it and removes it.
TEST(InterruptedPack, ASignalWhileATemporaryFileIsCreatedLeavesNoneBehind) {
  plf::test::TempDir dir;
  const pid_t pid = fork();
  if (pid == 0) {
    struct RaisingPlatform : PlatformWrapper {
      RaisingPlatform() : PlatformWrapper(DefaultPlatform()) {}
      FileHandle OpenFile(const std::string& path, Access a, Share s, Disposition d) override {
        const FileHandle handle = Inner().OpenFile(path, a, s, d);
        raise(SIGTERM);
        return handle;
      }
    } raising;
    const ScopedPlatform scoped(raising);
    const AtomicFile file(dir / "Install.PLF");
    _exit(0);
  }
  const int status = WaitFor(pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
  EXPECT_EQ(FolderNames(dir.Path()), std::vector<std::string>{});
}

TEST(PackSpecial, WhatAPackageCannotHoldIsRefusedOrLeftOutByName) {
  plf::test::TempDir dir;
  plf::test::WriteFileBytes(dir / "s.ini", "[Files]\r\n");
  fs::create_directories(dir / "t/empty");
  fs::create_directories(dir / "t/real");
  plf::test::WriteFileBytes(dir / "t/a.txt", "a");
  ASSERT_EQ(mkfifo((dir / "t/fifo").c_str(), 0600), 0);
  fs::create_symlink(dir / "gone", dir / "t/dangling");
  fs::create_directory_symlink(dir / "t/real", dir / "t/to-folder");
  fs::create_symlink("/dev/null", dir / "t/device");
  const std::pair<const char*, const char*> named[] = {
      {"t/empty", "an empty folder"}, {"t/fifo", "a named pipe (FIFO)"}, {"t/device", "a device"},
      {"t/dangling", "a symbolic link to a missing target"}, {"t/to-folder", "a symbolic link to a folder"},
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
  EXPECT_NE(skipped.err.find(dir / "t/fifo: left out: is a named pipe (FIFO)"), std::string::npos) << skipped.err;
  EXPECT_EQ(TPreLoadReader(out).EntryCount(), 2);  // SCRIPT and a.txt

  // Named directly, a FIFO is not opened, which would block the tool; a
  // link to a folder named as an ENTRY is walked, its empty folder refused.
  EXPECT_NE(Tool({"pack", dir / "q.plf", dir / "t/fifo"}).err.find(": is a named pipe (FIFO), not an install script"),
            std::string::npos);
  EXPECT_NE(Tool({"pack", dir / "q.plf", dir / "s.ini", "x=" + (dir / "t/to-folder")}).err.find("to-folder: is an empty"),
            std::string::npos);
}

}  // namespace
}  // namespace plf::tools
