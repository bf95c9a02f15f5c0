#include "runtime/flush_policy.h"

#include <cstdlib>

namespace plf {

namespace {

// Local file systems on block devices (and tmpfs, which has no storage to
// reach), as statfs names them. Everything else, overlayfs included, is
// flushed file by file.
constexpr std::uint64_t kTrusted[] = {
    0xEF53,      // ext2, ext3, ext4
    0x58465342,  // xfs
    0x9123683E,  // btrfs
    0xF2F52010,  // f2fs
    0x3153464A,  // jfs
    0x4D44,      // vfat
    0x2011BAB0,  // exfat
    0x7366746E,  // ntfs3, the kernel's own NTFS
    0x01021994,  // tmpfs
};

// Reads a decimal number at *p and moves past it; false when none is there.
bool ReadNumber(const char** p, long* value) {
  char* end = nullptr;
  *value = std::strtol(*p, &end, 10);
  if (end == *p || *value < 0) return false;
  *p = end;
  return true;
}

}  // namespace

bool FileSystemFlushIsTrusted(const std::string& kernelRelease, std::uint64_t fileSystemType) {
  bool known = false;
  for (std::uint64_t type : kTrusted) known = known || type == fileSystemType;
  if (!known) return false;
  const char* p = kernelRelease.c_str();
  long major = 0, minor = 0;
  if (!ReadNumber(&p, &major) || *p++ != '.' || !ReadNumber(&p, &minor)) return false;
  return major > 5 || (major == 5 && minor >= 8);
}

}  // namespace plf
