// The memory that a package's directory costs once it is open: writes a
// package of minimal entries (44-byte records, no data) and reports how far
// opening it with TPreLoadReader raises the peak of the bytes allocated
// (counted by this program's operator new, exactly) and the peak resident
// memory (getrusage's peak over what was resident before; the kernel keeps
// it to within a few hundred KiB), each against the directory's own bytes in the file. The bound, 1.25
// times, is judged on the allocated bytes.
//
// Usage: directory_bench [ENTRIES [FOLDER]]   (default 1,000,000 entries;
//        the package is written to FOLDER, default ".", and deleted)
// Prints a table of the figures and a last line of key=value pairs for
// scripts/bench.sh. Exit code 0 when the bound holds, 1 when it does not,
// 2 when the measurement failed.
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_process.h"
#include "package/preload_reader.h"
#include "package/records.h"
#include "runtime/platform.h"

namespace {

std::atomic<std::size_t> gLive{0};
std::atomic<std::size_t> gPeak{0};

}  // namespace

void* operator new(std::size_t size) {
  void* p = std::malloc(size > 0 ? size : 1);
  if (p == nullptr) throw std::bad_alloc();
  const std::size_t live = gLive += malloc_usable_size(p);
  for (std::size_t peak = gPeak; live > peak && !gPeak.compare_exchange_weak(peak, live);) {
  }
  return p;
}
// Not inlined, so that the compiler does not take free() after operator new
// for a mismatch.
__attribute__((noinline)) void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  gLive -= malloc_usable_size(p);
  std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

constexpr double kBound = 1.25;

std::string Name(long i) { return "f" + std::to_string(i); }

// Header, directory header, then the records, written a few at a time so
// that writing takes no memory worth mentioning. Returns the directory's
// bytes (its header and records), or -1.
long long WritePackage(const std::string& path, long entries) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return -1;
  std::uint8_t header[plf::kFileHeaderSize];
  plf::TPreLoadFileHeader fileHeader;
  fileHeader.directoryOffset = plf::kFileHeaderSize;
  fileHeader.Encode(header);
  std::uint8_t dirHeader[plf::kDirHeaderSize];
  plf::TPreLoadDirHeader dir;
  dir.count = static_cast<std::int32_t>(entries);
  dir.Encode(dirHeader);
  bool ok = std::fwrite(header, sizeof header, 1, f) == 1 && std::fwrite(dirHeader, sizeof dirHeader, 1, f) == 1;
  long long bytes = plf::kDirHeaderSize;
  plf::TPreLoadEntry e;
  e.length = plf::kMinRecordLength;
  for (long i = 0; ok && i < entries; ++i) {
    e.name = Name(i);
    const std::string record = e.Encode();
    ok = std::fwrite(record.data(), record.size(), 1, f) == 1;
    bytes += static_cast<long long>(record.size());
  }
  ok = std::fclose(f) == 0 && ok;
  return ok ? bytes : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const long entries = argc > 1 ? std::atol(argv[1]) : 1000000;
  const std::string folder = argc > 2 ? argv[2] : ".";
  if (entries <= 0) {
    std::fprintf(stderr, "directory_bench: ENTRIES must be positive\n");
    return 2;
  }
  const std::string path = plf::Sys().FullPath(folder + "/directory_bench.plf");
  const std::string warmUp = plf::Sys().FullPath(folder + "/directory_bench_warm_up.plf");
  const long long directoryBytes = WritePackage(path, entries);
  if (directoryBytes < 0 || WritePackage(warmUp, 10) < 0) {
    std::fprintf(stderr, "directory_bench: cannot write %s\n", path.c_str());
    return 2;
  }

  int code = 2;
  try {
    // A small package first, so that the code's own pages are resident
    // before the measurement and do not count as the directory's.
    if (plf::TPreLoadReader(warmUp).FindEntry(Name(9)) != 9) throw std::runtime_error("the small package did not read back");
    const long peakBefore = plf::bench::PeakResidentKiB();
    const long residentBefore = plf::bench::CurrentResidentKiB();
    const std::size_t liveBefore = gLive;
    gPeak = liveBefore;
    const auto begun = std::chrono::steady_clock::now();
    plf::TPreLoadReader reader(path);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    const long after = plf::bench::PeakResidentKiB();
    const std::size_t heapGrowth = gPeak - liveBefore;
    // The directory must be whole and searchable, or the figures mean nothing.
    bool whole = reader.EntryCount() == entries;
    for (long i : {0L, entries / 2, entries - 1}) whole = whole && reader.FindEntry(Name(i)) == i;
    if (!whole) {
      std::fprintf(stderr, "directory_bench: the package did not read back\n");
    } else {
      // The peak may be one inherited from the process that started this
      // one: growth is seen only when opening raised it, and counts from
      // what was resident before.
      const long rssGrowth = after > peakBefore && residentBefore >= 0 ? after - residentBefore : -1;
      const double directoryKiB = static_cast<double>(directoryBytes) / 1024.0;
      const double heapKiB = static_cast<double>(heapGrowth) / 1024.0;
      const double ratio = heapKiB / directoryKiB;
      const double rssRatio = static_cast<double>(rssGrowth) / directoryKiB;
      std::printf("entries:                             %ld\n", entries);
      std::printf("directory in the file:               %.0f KiB\n", directoryKiB);
      std::printf("peak allocated growth on opening:    %.0f KiB (%.3f x the directory; bound %.2f)\n", heapKiB,
                  ratio, kBound);
      if (rssGrowth >= 0)
        std::printf("peak resident growth on opening:     %ld KiB (%.3f x)\n", rssGrowth, rssRatio);
      else
        std::printf("peak resident growth on opening:     not seen, under the process's earlier peak\n");
      std::printf("opened in %.3f s\n", seconds);
      std::printf("entries=%ld directory_bytes=%lld peak_alloc_kib=%.0f ratio=%.3f peak_rss_kib=%ld rss_ratio=%.3f "
                  "seconds=%.3f\n",
                  entries, directoryBytes, heapKiB, ratio, rssGrowth, rssRatio, seconds);
      code = ratio <= kBound ? 0 : 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "directory_bench: opening failed: %s\n", e.what());
  }
  plf::Sys().DeleteFile(path);
  plf::Sys().DeleteFile(warmUp);
  return code;
}
