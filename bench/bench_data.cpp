// Makes the data of one benchmark workload in a folder:
//   OUT/src/...       the files to install, as a user would zip or tar them
//   OUT/Install.PLF   a package of the same files with an install script
//                     whose targets are the same relative paths
//
// Usage:
//   bench_data OUT files COUNT FOLDERS SEED   COUNT files of 1 to 64 KiB in
//                                             FOLDERS folders "dNNN"
//   bench_data OUT big BYTES SEED             one file "big.bin" of BYTES
//
// The data is mixed: text-like runs of words (compressing about as well as
// source code does) and incompressible runs (like images or archives). It
// depends only on the arguments. Every entry carries a date and the script
// a TimeStamp, so that the installer stamps each file as a real update does.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "package/package_writer.h"
#include "package/records.h"
#include "runtime/exceptions.h"
#include "runtime/stream.h"
#include "streams/dir_helpers.h"

namespace {

constexpr std::int32_t kPiece = 1 << 20;

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  std::uint64_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(Next() % n); }

 private:
  std::uint64_t state_;
};

// Words of a made-up vocabulary, the frequent ones far more often.
class TextMaker {
 public:
  explicit TextMaker(Random& random) : random_(random) {
    for (int i = 0; i < 512; ++i) {
      std::string word;
      const std::uint32_t length = 2 + random_.Below(9);
      for (std::uint32_t j = 0; j < length; ++j) word += static_cast<char>('a' + random_.Below(26));
      words_.push_back(word);
    }
  }
  void Fill(unsigned char* p, std::size_t n) {
    std::size_t at = 0;
    while (at < n) {
      const std::uint32_t a = random_.Below(512), b = random_.Below(512);
      const std::string& word = words_[a < b ? a : b];
      for (std::size_t i = 0; i < word.size() && at < n; ++i) p[at++] = static_cast<unsigned char>(word[i]);
      if (at < n) p[at++] = random_.Below(12) == 0 ? '\n' : ' ';
    }
  }

 private:
  Random& random_;
  std::vector<std::string> words_;
};

void FillRandom(Random& random, unsigned char* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(random.Next() >> 56);
}

void WriteAll(const std::string& path, const std::vector<unsigned char>& data) {
  plf::TFileStream file(path, plf::TFileStream::kCreate);
  file.WriteExact(data.data(), static_cast<std::int32_t>(data.size()));
}

std::string Number(unsigned value, int digits) {
  std::string s = std::to_string(value);
  while (static_cast<int>(s.size()) < digits) s.insert(0, "0");
  return s;
}

struct Entry {
  std::string name;  // the entry name and the script's target (backslashes)
  std::string path;  // the file under OUT/src
};

void WritePackage(const std::string& out, const std::vector<Entry>& entries) {
  std::string script = "[Options]\r\nTimeStamp=12:00\r\n\r\n[Files]\r\n";
  for (const Entry& e : entries) script += e.name + "=" + e.name + "\r\n";
  plf::PackedDate date;
  plf::PackedDate::FromCalendar(2024, 1, 15, &date);
  plf::TPackageWriter writer(out + "/Install.PLF", 6);
  writer.AddBuffer("SCRIPT", script.data(), script.size(), date);
  for (const Entry& e : entries) writer.AddFile(e.name, e.path, date);
  writer.Finish();
}

void MakeFiles(const std::string& out, unsigned count, unsigned folders, std::uint64_t seed) {
  Random random(seed);
  TextMaker text(random);
  std::vector<Entry> entries;
  std::vector<unsigned char> data;
  const unsigned perFolder = (count + folders - 1) / folders;
  for (unsigned i = 0; i < count; ++i) {
    const std::string folder = "d" + Number(i / perFolder, 3);
    const std::string file = "f" + Number(i, 5) + (i % 4 == 3 ? ".bin" : ".txt");
    if (i % perFolder == 0) plf::MakeDirectoryPath(out + "/src/" + folder);
    data.resize(1024 + random.Below(63 * 1024 + 1));
    if (i % 4 == 3)
      FillRandom(random, data.data(), data.size());
    else
      text.Fill(data.data(), data.size());
    const Entry e{folder + "\\" + file, out + "/src/" + folder + "/" + file};
    WriteAll(e.path, data);
    entries.push_back(e);
  }
  WritePackage(out, entries);
}

void MakeBig(const std::string& out, std::int64_t bytes, std::uint64_t seed) {
  Random random(seed);
  TextMaker text(random);
  plf::MakeDirectoryPath(out + "/src");
  const Entry e{"big.bin", out + "/src/big.bin"};
  {
    plf::TFileStream file(e.path, plf::TFileStream::kCreate);
    std::vector<unsigned char> piece(kPiece);
    for (std::int64_t at = 0, index = 0; at < bytes; at += kPiece, ++index) {
      const std::size_t n = static_cast<std::size_t>(bytes - at < kPiece ? bytes - at : kPiece);
      // Three parts text, one part noise.
      if (index % 4 == 3)
        FillRandom(random, piece.data(), n);
      else
        text.Fill(piece.data(), n);
      file.WriteExact(piece.data(), static_cast<std::int32_t>(n));
    }
  }
  WritePackage(out, {e});
}

int Usage() {
  std::fprintf(stderr,
               "usage: bench_data OUT files COUNT FOLDERS SEED\n"
               "       bench_data OUT big BYTES SEED\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string out = argv[1];
  const std::string kind = argv[2];
  try {
    plf::MakeDirectoryPath(out);
    if (kind == "files" && argc == 6) {
      const long count = std::atol(argv[3]), folders = std::atol(argv[4]);
      if (count <= 0 || folders <= 0 || count > 99999 || folders > 999) return Usage();
      MakeFiles(out, static_cast<unsigned>(count), static_cast<unsigned>(folders),
                static_cast<std::uint64_t>(std::atoll(argv[5])));
    } else if (kind == "big" && argc == 5) {
      const long long bytes = std::atoll(argv[3]);
      if (bytes <= 0 || bytes >= (1LL << 31)) return Usage();
      MakeBig(out, bytes, static_cast<std::uint64_t>(std::atoll(argv[4])));
    } else {
      return Usage();
    }
  } catch (const plf::Exception& e) {
    std::fprintf(stderr, "bench_data: %s\n", e.Message().c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_data: %s\n", e.what());
    return 1;
  }
  return 0;
}
