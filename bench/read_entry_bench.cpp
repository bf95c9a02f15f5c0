// Shows that reading a package entry takes memory independent of the entry's
// size: the peak resident memory after reading a 200 MiB entry, compared with
// the peak after reading a 1 KiB entry, grows by less than 1 MiB.
//
// Usage: read_entry_bench [FOLDER]   (scratch files go to FOLDER, default ".")
// Exit code 0 when the bound holds, 1 otherwise.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "bench_process.h"
#include "package/package_writer.h"
#include "package/preload_reader.h"
#include "runtime/platform.h"

namespace {

using plf::TStream;

constexpr std::int64_t kBigEntry = 200LL * 1024 * 1024;
constexpr std::int64_t kSmallEntry = 1024;

// Bytes that compress moderately, made as they are read.
class Generated : public TStream {
 public:
  explicit Generated(std::int64_t size) : left_(size) {}
  std::int32_t Read(void* buffer, std::int32_t count) override {
    if (count <= 0 || left_ <= 0) return 0;
    const std::int32_t n = left_ < count ? static_cast<std::int32_t>(left_) : count;
    auto* p = static_cast<unsigned char*>(buffer);
    for (std::int32_t i = 0; i < n; ++i) {
      x_ = x_ * 1664525u + 1013904223u;
      p[i] = static_cast<unsigned char>('a' + (x_ >> 24) % 16);
    }
    left_ -= n;
    return n;
  }
  std::int32_t Write(const void*, std::int32_t) override { return 0; }
  std::int32_t Seek(std::int32_t, std::uint16_t) override { return 0; }

 private:
  std::int64_t left_;
  std::uint32_t x_ = 12345;
};

struct Paths {
  std::string small, big;
};

bool WritePackages(void* arg) {
  const Paths& paths = *static_cast<const Paths*>(arg);
  try {
    for (const auto& [path, size] : {std::pair{paths.small, kSmallEntry}, std::pair{paths.big, kBigEntry}}) {
      plf::TPackageWriter writer(path, 1);
      Generated data(size);
      writer.AddStream("entry", data);
      writer.Finish();
    }
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "writing the packages failed: %s\n", e.what());
    return false;
  }
}

// Reads the package's entry through the reader in 64 KiB pieces; returns the
// byte count.
std::int64_t ReadEntry(const std::string& path) {
  plf::TPreLoadReader reader(path);
  std::unique_ptr<TStream> stream;
  std::int32_t size = 0;
  if (!reader.OpenEntry(reader.FindEntry("entry"), &stream, &size)) return -1;
  static char buffer[65536];
  std::int64_t total = 0;
  for (std::int32_t n; (n = stream->Read(buffer, sizeof buffer)) > 0;) total += n;
  return total == size ? total : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : ".";
  Paths paths{plf::Sys().FullPath(folder + "/read_entry_bench_small.plf"),
              plf::Sys().FullPath(folder + "/read_entry_bench_big.plf")};
  // The writer's own memory must not raise this process's peak.
  if (!plf::bench::RunInChildProcess(WritePackages, &paths)) return 1;

  int code = 0;
  try {
    const long start = plf::bench::PeakResidentKiB();
    const std::int64_t small = ReadEntry(paths.small);
    const long afterSmall = plf::bench::PeakResidentKiB();
    const auto begun = std::chrono::steady_clock::now();
    const std::int64_t big = ReadEntry(paths.big);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    const long afterBig = plf::bench::PeakResidentKiB();

    std::printf("peak resident memory at start:              %ld KiB\n", start);
    std::printf("after reading a %lld-byte entry:            %ld KiB\n", static_cast<long long>(small), afterSmall);
    std::printf("after reading a %lld-byte entry:       %ld KiB\n", static_cast<long long>(big), afterBig);
    std::printf("growth for the large entry:                 %ld KiB (bound: under 1024 KiB)\n",
                afterBig - afterSmall);
    std::printf("large entry read at %.0f MiB/s\n", static_cast<double>(big) / (1024.0 * 1024.0) / seconds);
    if (small != kSmallEntry || big != kBigEntry) {
      std::fprintf(stderr, "an entry did not read back in full\n");
      code = 1;
    } else if (afterBig - afterSmall >= 1024) {
      std::fprintf(stderr, "reading the large entry took too much memory\n");
      code = 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "reading failed: %s\n", e.what());
    code = 1;
  }
  plf::Sys().DeleteFile(paths.small);
  plf::Sys().DeleteFile(paths.big);
  return code;
}
