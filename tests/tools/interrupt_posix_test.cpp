// Interrupting a pack: whatever the moment and the signal, the package under
// its name is the old one or the complete new one, never part of one; after
// SIGINT or SIGTERM no temporary file is left, and the process ends by that
// signal as if the tool had no handler.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "runtime/stream.h"
#include "support/test_support.h"
#include "tool_harness.h"
#include "tools/atomic_file.h"

namespace plf::tools {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

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
  const std::vector<std::string> args{"pack", "-j2",   "-l1",           "--date", "2002-02-02",
                                      package, dir / "script.ini", dir / "tree"};

  ASSERT_EQ(test::Tool({"pack", "-l1", "--date", "2001-01-01", package, dir / "script.ini", dir / "tree"}).code, 0);
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

}  // namespace
}  // namespace plf::tools
