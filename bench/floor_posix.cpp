// The floor of the benchmark: inflates every entry of a package (except
// "SCRIPT") straight into a new file named by the entry, relative to the
// current folder, with a plain loop: no backups, no temporary names, no
// dates, no flushing. What an installer of the same package costs beyond
// this is its own overhead.
//
// Usage: bench_floor PACKAGE        Exit code 0 when every entry inflated.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kBuffer = 65536;

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool ReadAt(int fd, void* buffer, std::size_t count, off_t at) {
  return pread(fd, buffer, count, at) == static_cast<ssize_t>(count);
}

struct Entry {
  std::string name;
  std::uint32_t offset, compressed;
};

bool ReadDirectory(int fd, std::vector<Entry>* entries) {
  unsigned char header[20];
  if (!ReadAt(fd, header, 20, 0)) return false;
  off_t at = Le32(header + 12);
  if (!ReadAt(fd, header, 20, at)) return false;
  const std::uint32_t count = Le32(header + 12);
  at += 20;
  std::vector<unsigned char> record;
  for (std::uint32_t i = 0; i < count; ++i) {
    unsigned char length[4];
    if (!ReadAt(fd, length, 4, at)) return false;
    const std::uint32_t l = Le32(length);
    if (l < 40 || l > 16383) return false;
    record.resize(l + 4);
    if (!ReadAt(fd, record.data() + 4, l, at + 4)) return false;
    at += 4 + l;
    const std::size_t nameLength = record[28];
    if (29 + nameLength > record.size()) return false;
    entries->push_back({std::string(reinterpret_cast<char*>(&record[29]), nameLength), Le32(&record[4]),
                        Le32(&record[8])});
  }
  return true;
}

// mkdir -p of the name's folder; the last one made is remembered, so a run of
// files in one folder costs no system call for it.
void MakeParent(const std::string& name, std::string* made) {
  const std::size_t cut = name.rfind('/');
  if (cut == std::string::npos) return;
  const std::string folder = name.substr(0, cut);
  if (folder == *made) return;
  for (std::size_t i = folder.find('/'); i != std::string::npos; i = folder.find('/', i + 1))
    mkdir(folder.substr(0, i).c_str(), 0777);
  mkdir(folder.c_str(), 0777);
  *made = folder;
}

bool Inflate(int package, const Entry& e, const std::string& path, z_stream* z, unsigned char* in,
             unsigned char* out) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = true;
  if (e.compressed > 0) {
    inflateReset(z);
    off_t at = e.offset;
    std::uint32_t left = e.compressed;
    int result = Z_OK;
    while (ok && result != Z_STREAM_END) {
      if (z->avail_in == 0) {
        if (left == 0) break;
        const std::size_t n = left < kBuffer ? left : kBuffer;
        if (!ReadAt(package, in, n, at)) ok = false;
        at += static_cast<off_t>(n);
        left -= static_cast<std::uint32_t>(n);
        z->next_in = in;
        z->avail_in = static_cast<uInt>(n);
      }
      z->next_out = out;
      z->avail_out = kBuffer;
      result = inflate(z, Z_NO_FLUSH);
      if (result < 0 && result != Z_BUF_ERROR) ok = false;
      const std::size_t produced = kBuffer - z->avail_out;
      if (produced > 0 && write(fd, out, produced) != static_cast<ssize_t>(produced)) ok = false;
    }
    z->avail_in = 0;
  }
  return close(fd) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_floor PACKAGE\n");
    return 2;
  }
  const int package = open(argv[1], O_RDONLY | O_CLOEXEC);
  std::vector<Entry> entries;
  if (package < 0 || !ReadDirectory(package, &entries)) {
    std::fprintf(stderr, "bench_floor: cannot read %s\n", argv[1]);
    return 1;
  }
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit(&z) != Z_OK) return 1;
  std::vector<unsigned char> in(kBuffer), out(kBuffer);
  std::string made;
  for (const Entry& e : entries) {
    if (e.name == "SCRIPT") continue;
    std::string path = e.name;
    for (char& c : path)
      if (c == '\\') c = '/';
    MakeParent(path, &made);
    if (!Inflate(package, e, path, &z, in.data(), out.data())) {
      std::fprintf(stderr, "bench_floor: cannot install %s\n", e.name.c_str());
      return 1;
    }
  }
  inflateEnd(&z);
  close(package);
  return 0;
}
