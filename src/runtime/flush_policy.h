// When one flush of a whole file system may stand in for flushing each
// file: only where that flush reports the write errors it meets (Linux's
// syncfs does from 5.8 on; before, it answered success regardless) and
// where it reaches the storage itself. FUSE (sshfs, ntfs-3g) and network
// file systems (NFS, CIFS) hand it to nobody, or to a server that may still
// lose the data; there each file is flushed through its own handle.
#pragma once

#include <cstdint>
#include <string>

namespace plf {

// `kernelRelease` as uname reports it ("6.1.0-28-amd64"); `fileSystemType`
// the magic number statfs reports for the file system.
bool FileSystemFlushIsTrusted(const std::string& kernelRelease, std::uint64_t fileSystemType);

}  // namespace plf
