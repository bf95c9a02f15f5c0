#include "tools/parallel_pack.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

#include "package/package_writer.h"
#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "tools/atomic_file.h"

namespace plf::tools {

namespace {

constexpr std::size_t kReadPiece = std::size_t{256} << 10;
constexpr std::size_t kChunk = std::size_t{256} << 10;
constexpr std::int64_t kEntryLimit = std::numeric_limits<std::int32_t>::max();
// Finished entries may wait for their turn up to this count, and up to this
// many bytes of compressed data per thread: enough that a writer thread
// which gets the processor late (a busy machine) does not stall the others.
constexpr std::size_t kMostWaiting = 256;
constexpr std::size_t kWaitingBytesPerThread = std::size_t{8} << 20;
constexpr int kSpillAttempts = 8;

std::string Quoted(const std::string& ansi) { return "\"" + Sys().AnsiToUtf8(ansi) + "\""; }

// Where compressed bytes go; false with *error set when they cannot.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual bool Put(const unsigned char* data, std::size_t size, std::string* error) = 0;
};

// One deflate state per thread, reset between entries: setting one up costs
// more than compressing a small file.
class Compressor {
 public:
  explicit Compressor(int level) : level_(level), in_(kReadPiece), out_(kChunk) { std::memset(&z_, 0, sizeof z_); }
  ~Compressor() {
    if (ready_) deflateEnd(&z_);
  }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  // The item's bytes deflated into the sink; false with *error naming the file.
  bool Compress(const PackItem& item, Sink& sink, std::int64_t* uncompressed, std::string* error) {
    if (!Reset(error)) return false;
    if (item.inMemory) {
      std::size_t at = 0;
      return Run(
          [&](unsigned char* to, std::size_t room) {
            const std::size_t n = std::min(room, item.text.size() - at);
            std::copy_n(item.text.data() + at, n, to);
            at += n;
            return static_cast<std::int32_t>(n);
          },
          item.path, sink, uncompressed, error);
    }
    const FileHandle h = Sys().OpenFile(item.path, Access::Read, Share::Read, Disposition::OpenExisting);
    if (h == kInvalidHandle) {
      *error = Quoted(item.path) + " cannot be opened: " + LastSystemError();
      return false;
    }
    const bool ok = Run(
        [&](unsigned char* to, std::size_t room) { return Sys().ReadFile(h, to, static_cast<std::int32_t>(room)); },
        item.path, sink, uncompressed, error);
    Sys().CloseFile(h);
    return ok;
  }

 private:
  bool Reset(std::string* error) {
    const int result = ready_ ? deflateReset(&z_) : deflateInit(&z_, level_);
    ready_ = ready_ || result == Z_OK;
    if (result != Z_OK) *error = "the compressor cannot be set up";
    return result == Z_OK;
  }

  template <typename Read>
  bool Run(Read read, const std::string& path, Sink& sink, std::int64_t* uncompressed, std::string* error) {
    std::int64_t total = 0;
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
      const std::int32_t n = read(in_.data(), in_.size());
      if (n < 0) {
        *error = Quoted(path) + " cannot be read: " + LastSystemError();
        return false;
      }
      total += n;
      if (total > kEntryLimit) {
        *error = Quoted(path) + " is 2 GiB or larger";
        return false;
      }
      flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
      z_.next_in = in_.data();
      z_.avail_in = static_cast<uInt>(n);
      int result;
      do {
        z_.next_out = out_.data();
        z_.avail_out = static_cast<uInt>(out_.size());
        result = deflate(&z_, flush);
        if (result == Z_STREAM_ERROR) {
          *error = Quoted(path) + ": compression failed";
          return false;
        }
        if (!sink.Put(out_.data(), out_.size() - z_.avail_out, error)) return false;
      } while (z_.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    }
    *uncompressed = total;
    return true;
  }

  int level_;
  bool ready_ = false;
  z_stream z_;
  std::vector<unsigned char> in_;
  std::vector<unsigned char> out_;
};

class WriterSink final : public Sink {
 public:
  explicit WriterSink(TPackageWriter& writer) : writer_(writer) {}
  bool Put(const unsigned char* data, std::size_t size, std::string*) override {
    writer_.AppendCompressed(data, size);
    return true;
  }

 private:
  TPackageWriter& writer_;
};

// The compressed data of one entry, made on a worker thread and handed to
// the writer on the caller's: in memory up to a limit, then in a temporary
// file that is deleted when the entry is released.
class BufferedEntry final : public Sink {
 public:
  BufferedEntry(std::string spillBase, std::size_t memoryLimit)
      : spillBase_(std::move(spillBase)), memoryLimit_(memoryLimit) {}
  ~BufferedEntry() override {
    if (spill_ != kInvalidHandle) {
      TemporaryFiles::ForgetHandle(slot_);
      Sys().CloseFile(spill_);
      Sys().DeleteFile(spillPath_);
      TemporaryFiles::Remove(slot_);
    }
  }
  BufferedEntry(const BufferedEntry&) = delete;
  BufferedEntry& operator=(const BufferedEntry&) = delete;

  bool Put(const unsigned char* data, std::size_t size, std::string* error) override {
    if (size == 0) return true;
    if (spill_ == kInvalidHandle && memoryBytes_ + size > memoryLimit_ && !StartSpill(error)) return false;
    if (spill_ != kInvalidHandle) return WriteSpill(data, size, error);
    memoryBytes_ += size;
    while (size > 0) {
      if (chunks_.empty() || chunks_.back().size() == kChunk) {
        chunks_.emplace_back();
        chunks_.back().reserve(kChunk);
      }
      std::vector<unsigned char>& chunk = chunks_.back();
      const std::size_t n = size < kChunk - chunk.size() ? size : kChunk - chunk.size();
      chunk.insert(chunk.end(), data, data + n);
      data += n;
      size -= n;
    }
    return true;
  }

  // Compressed bytes held in memory.
  std::size_t MemoryBytes() const { return memoryBytes_; }

  // Appends the bytes to the writer's open entry, in order.
  void Replay(TPackageWriter& writer) {
    for (const auto& chunk : chunks_) writer.AppendCompressed(chunk.data(), chunk.size());
    if (spill_ == kInvalidHandle) return;
    if (Sys().SeekFile(spill_, 0, 0) != 0)
      throw Exception("The temporary file " + Quoted(spillPath_) + " cannot be read");
    std::vector<unsigned char> buffer(kChunk);
    std::int64_t left = spilled_;
    while (left > 0) {
      const std::int32_t want = static_cast<std::int32_t>(left < static_cast<std::int64_t>(kChunk) ? left : kChunk);
      const std::int32_t got = Sys().ReadFile(spill_, buffer.data(), want);
      if (got <= 0) throw Exception("The temporary file " + Quoted(spillPath_) + " cannot be read");
      writer.AppendCompressed(buffer.data(), static_cast<std::size_t>(got));
      left -= got;
    }
  }

  std::int64_t uncompressed = 0;
  std::string failure;  // set when the entry could not be made
  bool done = false;

 private:
  bool StartSpill(std::string* error) {
    // Never over a file that is already there: a leftover of another run
    // gets another name.
    std::string path = spillBase_;
    {
      // Only until the file is listed: signals are held off meanwhile.
      const TemporaryFiles::Creation creation;
      for (int attempt = 0; attempt < kSpillAttempts && spill_ == kInvalidHandle; ++attempt, path += '~') {
        spill_ = Sys().OpenFile(path, Access::ReadWrite, Share::None, Disposition::CreateNew);
        spillPath_ = path;
      }
      if (spill_ == kInvalidHandle) {
        *error = "the temporary file " + Quoted(spillBase_) + " cannot be created";
        return false;
      }
      slot_ = TemporaryFiles::Add(spillPath_, spill_);
    }
    for (const auto& chunk : chunks_)
      if (!WriteSpill(chunk.data(), chunk.size(), error)) return false;
    chunks_.clear();
    chunks_.shrink_to_fit();
    memoryBytes_ = 0;
    return true;
  }

  bool WriteSpill(const unsigned char* data, std::size_t size, std::string* error) {
    if (Sys().WriteFile(spill_, data, static_cast<std::int32_t>(size)) != static_cast<std::int32_t>(size)) {
      *error = "the temporary file " + Quoted(spillPath_) + " cannot be written";
      return false;
    }
    spilled_ += static_cast<std::int64_t>(size);
    return true;
  }

  std::string spillBase_;
  std::size_t memoryLimit_;
  std::vector<std::vector<unsigned char>> chunks_;
  std::size_t memoryBytes_ = 0;
  FileHandle spill_ = kInvalidHandle;
  int slot_ = -1;  // in the list that a signal clears
  std::string spillPath_;
  std::int64_t spilled_ = 0;
};

void Report(const PackOptions& options, PackProgress* progress, std::int64_t uncompressed) {
  ++progress->entriesDone;
  progress->bytesDone += uncompressed;
  if (options.progress) options.progress(*progress);
}

void PackSerially(TPackageWriter& writer, const std::vector<PackItem>& items, const PackOptions& options) {
  Compressor compressor(writer.Level());
  WriterSink sink(writer);
  PackProgress progress;
  progress.entriesTotal = items.size();
  for (const PackItem& item : items) {
    std::int64_t uncompressed = 0;
    std::string error;
    writer.BeginCompressed(item.name, item.date);
    if (!compressor.Compress(item, sink, &uncompressed, &error)) throw Exception(error);
    writer.EndCompressed(uncompressed);
    Report(options, &progress, uncompressed);
  }
}

// The work shared by the threads. Entry i may be started once the entries
// before i - window have been written.
class Pipeline {
 public:
  Pipeline(TPackageWriter& writer, const std::vector<PackItem>& items, const PackOptions& options)
      : writer_(writer), items_(items), options_(options), slots_(items.size()),
        byteBudget_(static_cast<std::size_t>(options.jobs) * kWaitingBytesPerThread) {}

  ~Pipeline() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  void Run() {
    const unsigned threads = options_.jobs < items_.size() ? options_.jobs : static_cast<unsigned>(items_.size());
    for (unsigned t = 0; t < threads; ++t) threads_.emplace_back([this] { Work(); });

    PackProgress progress;
    progress.entriesTotal = items_.size();
    for (std::size_t i = 0; i < items_.size(); ++i) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return slots_[i] != nullptr && slots_[i]->done; });
      }
      BufferedEntry& entry = *slots_[i];
      if (!entry.failure.empty()) throw Exception(entry.failure);
      writer_.BeginCompressed(items_[i].name, items_[i].date);
      entry.Replay(writer_);
      writer_.EndCompressed(entry.uncompressed);
      const std::int64_t uncompressed = entry.uncompressed;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        waitingBytes_ -= entry.MemoryBytes();
        slots_[i].reset();
        written_ = i + 1;
      }
      changed_.notify_all();
      Report(options_, &progress, uncompressed);
    }
  }

 private:
  void Work() {
    Compressor compressor(writer_.Level());
    for (;;) {
      std::size_t i;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] {
          return stop_ || next_ >= items_.size() || (next_ < written_ + kMostWaiting && waitingBytes_ < byteBudget_);
        });
        if (stop_ || next_ >= items_.size()) return;
        i = next_++;
        slots_[i] = std::make_unique<BufferedEntry>(SpillFileName(writer_.FileName(), i), options_.memoryPerEntry);
      }
      // Slot i stays until it is done and written; only this thread touches
      // it meanwhile.
      BufferedEntry* entry = slots_[i].get();
      std::string error;
      std::int64_t uncompressed = 0;
      if (!compressor.Compress(items_[i], *entry, &uncompressed, &error)) entry->failure = error;
      entry->uncompressed = uncompressed;
      bool awaited;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        entry->done = true;
        waitingBytes_ += entry->MemoryBytes();
        awaited = i == written_;
      }
      // Only the entry the writer waits for is worth waking it.
      if (awaited) changed_.notify_all();
    }
  }

  TPackageWriter& writer_;
  const std::vector<PackItem>& items_;
  const PackOptions& options_;
  std::vector<std::unique_ptr<BufferedEntry>> slots_;
  std::size_t byteBudget_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_ = 0;
  std::size_t written_ = 0;
  std::size_t waitingBytes_ = 0;  // in memory, finished and not yet written
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace

std::string SpillFileName(const std::string& packagePath, std::size_t index) {
  return packagePath + ".~" + std::to_string(index);
}

void PackFiles(TPackageWriter& writer, const std::vector<PackItem>& items, const PackOptions& options) {
  if (options.jobs <= 1 || items.size() <= 1) {
    PackSerially(writer, items, options);
    return;
  }
  Pipeline pipeline(writer, items, options);
  pipeline.Run();
}

}  // namespace plf::tools
