// The installer with its per-file flush replaced by one flush of the whole
// file system at the end of the run (syncfs on the current folder, where the
// benchmark installs). It measures what the per-file flush costs, and what a
// single barrier before the exit code would cost instead. Not a product:
// it lets the platform report a flush that has not happened yet.
//
// Usage: like plfsetup (Install.PLF beside the executable).
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include <fcntl.h>
#include <unistd.h>

#include "driver/entry.h"
#include "runtime/platform.h"

namespace {

class LateFlush : public plf::PlatformWrapper {
 public:
  LateFlush() : PlatformWrapper(plf::DefaultPlatform()) {}
  bool FlushFile(plf::FileHandle) override { return true; }
};

}  // namespace

int main() {
  LateFlush platform;
  int code;
  {
    plf::ScopedPlatform scope(platform);
    code = plf::InstallerMain();
  }
  const int folder = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0 || syncfs(folder) != 0) code = 1;
  if (folder >= 0) close(folder);
  return code;
}
