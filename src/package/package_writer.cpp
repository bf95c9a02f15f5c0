#include "package/package_writer.h"

#include <zlib.h>

#include <cstring>
#include <limits>
#include <string>

#include "runtime/exceptions.h"
#include "runtime/platform.h"

namespace plf {

namespace {

// Offsets and sizes are int32: a package and each entry stay below 2 GiB.
constexpr std::int64_t kDefaultLimit = std::numeric_limits<std::int32_t>::max();
std::int64_t gLimit = kDefaultLimit;
constexpr std::size_t kBufferSize = 65536;
constexpr std::uint16_t kReadSharedMode = 0x20;

std::string Quoted(const std::string& ansi) { return "\"" + Sys().AnsiToUtf8(ansi) + "\""; }

// Ends the deflate state however the entry ends.
struct DeflateGuard {
  z_stream* z;
  ~DeflateGuard() { deflateEnd(z); }
};

}  // namespace

namespace testing_hooks {
void SetPackageLimit(std::int64_t limit) { gLimit = limit > 0 && limit < kDefaultLimit ? limit : kDefaultLimit; }
}  // namespace testing_hooks

class TPackageWriter::Source {
 public:
  virtual ~Source() = default;
  // Up to `count` bytes; 0 at the end.
  virtual std::size_t Read(unsigned char* buffer, std::size_t count) = 0;
};

namespace {

class BufferSource final : public TPackageWriter::Source {
 public:
  BufferSource(const void* data, std::size_t size) : data_(static_cast<const unsigned char*>(data)), left_(size) {}
  std::size_t Read(unsigned char* buffer, std::size_t count) override {
    const std::size_t n = count < left_ ? count : left_;
    if (n != 0) std::memcpy(buffer, data_, n);
    data_ += n;
    left_ -= n;
    return n;
  }

 private:
  const unsigned char* data_;
  std::size_t left_;
};

class StreamSource final : public TPackageWriter::Source {
 public:
  explicit StreamSource(TStream& stream) : stream_(stream) {}
  std::size_t Read(unsigned char* buffer, std::size_t count) override {
    const std::int32_t n = stream_.Read(buffer, static_cast<std::int32_t>(count));
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }

 private:
  TStream& stream_;
};

}  // namespace

TPackageWriter::TPackageWriter(const std::string& fileName, int level)
    : fileName_(fileName), level_(level), inBuffer_(kBufferSize), outBuffer_(kBufferSize) {
  if (level < 0 || level > 9)
    throw Exception(Format("Compression level %s is not one of 0 to 9", {std::to_string(level)}));
  ownStream_ = std::make_unique<TFileStream>(fileName, TFileStream::kCreate);
  stream_ = ownStream_.get();
  WriteInitialHeader();
}

TPackageWriter::TPackageWriter(TStream& stream, const std::string& fileName, int level)
    : fileName_(fileName), level_(level), inBuffer_(kBufferSize), outBuffer_(kBufferSize) {
  if (level < 0 || level > 9)
    throw Exception(Format("Compression level %s is not one of 0 to 9", {std::to_string(level)}));
  stream_ = &stream;
  WriteInitialHeader();
}

void TPackageWriter::WriteInitialHeader() {
  // The directory offset is filled in by Finish; until then the header marks
  // an empty package.
  std::uint8_t header[kFileHeaderSize];
  TPreLoadFileHeader().Encode(header);
  try {
    WriteBytes(header, sizeof header, Quoted(fileName_));
  } catch (...) {
    Abandon();
    throw;
  }
}

TPackageWriter::~TPackageWriter() {
  if (!finished_) Abandon();
}

void TPackageWriter::Abandon() noexcept {
  if (stream_ == nullptr) return;
  stream_ = nullptr;
  if (ownStream_ == nullptr) return;
  ownStream_.reset();
  Sys().DeleteFile(fileName_);
}

void TPackageWriter::CheckName(const std::string& name) const {
  if (name.size() > kMaxEntryNameLength)
    throw Exception(Format("Entry name %s is longer than 255 bytes", {Quoted(name)}));
}

void TPackageWriter::WriteBytes(const void* data, std::size_t size, const std::string& what) {
  if (static_cast<std::int64_t>(size) > gLimit - offset_)
    throw Exception(Format("%s: the package %s would reach 2 GiB", {what, Quoted(fileName_)}));
  if (size == 0) return;
  if (stream_->Write(data, static_cast<std::int32_t>(size)) != static_cast<std::int32_t>(size))
    throw Exception(Format("Cannot write to %s", {Quoted(fileName_)}));
  offset_ += static_cast<std::int64_t>(size);
}

void TPackageWriter::CheckNoPendingEntry() const {
  if (pending_) throw Exception(Format("Entry %s is not complete", {Quoted(pendingEntry_.name)}));
}

void TPackageWriter::AddFrom(const std::string& name, Source& source, PackedDate date) {
  if (stream_ == nullptr) throw Exception(Format("The package %s is closed", {Quoted(fileName_)}));
  CheckNoPendingEntry();
  CheckName(name);
  const std::string what = "Entry " + Quoted(name);
  try {
    TPreLoadEntry entry;
    entry.name = name;
    entry.length = TPreLoadEntry::LengthFor(name.size());
    entry.date = date;
    entry.dataOffset = static_cast<std::int32_t>(offset_);

    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (deflateInit(&z, level_) != Z_OK) throw Exception(what + ": the compressor cannot be set up");
    DeflateGuard guard{&z};

    std::int64_t total = 0;
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
      const std::size_t n = source.Read(inBuffer_.data(), inBuffer_.size());
      total += static_cast<std::int64_t>(n);
      if (total > gLimit) throw Exception(what + " is 2 GiB or larger");
      flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
      z.next_in = inBuffer_.data();
      z.avail_in = static_cast<uInt>(n);
      int result;
      do {
        z.next_out = outBuffer_.data();
        z.avail_out = static_cast<uInt>(outBuffer_.size());
        result = deflate(&z, flush);
        if (result == Z_STREAM_ERROR) throw Exception(what + ": compression failed");
        WriteBytes(outBuffer_.data(), outBuffer_.size() - z.avail_out, what);
      } while (z.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    }
    entry.compressedSize = static_cast<std::int32_t>(offset_ - entry.dataOffset);
    entry.uncompressedSize = static_cast<std::int32_t>(total);
    entries_.push_back(std::move(entry));
  } catch (...) {
    Abandon();
    throw;
  }
}

void TPackageWriter::AddFile(const std::string& name, const std::string& path, PackedDate date) {
  TFileStream file(path, kReadSharedMode);
  StreamSource source(file);
  AddFrom(name, source, date);
}

void TPackageWriter::AddBuffer(const std::string& name, const void* data, std::size_t size, PackedDate date) {
  BufferSource source(data, size);
  AddFrom(name, source, date);
}

void TPackageWriter::AddStream(const std::string& name, TStream& source, PackedDate date) {
  StreamSource s(source);
  AddFrom(name, s, date);
}

void TPackageWriter::AddEmpty(const std::string& name, std::int32_t uncompressedSize, PackedDate date) {
  if (stream_ == nullptr) throw Exception(Format("The package %s is closed", {Quoted(fileName_)}));
  CheckNoPendingEntry();
  CheckName(name);
  TPreLoadEntry entry;
  entry.name = name;
  entry.length = TPreLoadEntry::LengthFor(name.size());
  entry.date = date;
  entry.dataOffset = static_cast<std::int32_t>(offset_);
  entry.uncompressedSize = uncompressedSize;
  entries_.push_back(std::move(entry));
}

void TPackageWriter::BeginCompressed(const std::string& name, PackedDate date) {
  if (stream_ == nullptr) throw Exception(Format("The package %s is closed", {Quoted(fileName_)}));
  CheckNoPendingEntry();
  CheckName(name);
  pendingEntry_ = TPreLoadEntry();
  pendingEntry_.name = name;
  pendingEntry_.length = TPreLoadEntry::LengthFor(name.size());
  pendingEntry_.date = date;
  pendingEntry_.dataOffset = static_cast<std::int32_t>(offset_);
  pending_ = true;
}

void TPackageWriter::AppendCompressed(const void* data, std::size_t size) {
  if (stream_ == nullptr || !pending_) throw Exception(Format("No entry of %s is open", {Quoted(fileName_)}));
  try {
    WriteBytes(data, size, "Entry " + Quoted(pendingEntry_.name));
  } catch (...) {
    Abandon();
    throw;
  }
}

void TPackageWriter::EndCompressed(std::int64_t uncompressedSize) {
  if (stream_ == nullptr || !pending_) throw Exception(Format("No entry of %s is open", {Quoted(fileName_)}));
  pending_ = false;
  if (uncompressedSize < 0 || uncompressedSize > gLimit) {
    Abandon();
    throw Exception("Entry " + Quoted(pendingEntry_.name) + " is 2 GiB or larger");
  }
  pendingEntry_.compressedSize = static_cast<std::int32_t>(offset_ - pendingEntry_.dataOffset);
  pendingEntry_.uncompressedSize = static_cast<std::int32_t>(uncompressedSize);
  entries_.push_back(std::move(pendingEntry_));
}

void TPackageWriter::Finish() {
  if (stream_ == nullptr) throw Exception(Format("The package %s is closed", {Quoted(fileName_)}));
  CheckNoPendingEntry();
  try {
    TPreLoadFileHeader fileHeader;
    fileHeader.directoryOffset = static_cast<std::int32_t>(offset_);
    if (entries_.size() > static_cast<std::size_t>(gLimit))
      throw Exception(Format("The package %s has too many entries", {Quoted(fileName_)}));
    TPreLoadDirHeader dirHeader;
    dirHeader.count = static_cast<std::int32_t>(entries_.size());

    const std::string directory = "The directory of " + Quoted(fileName_);
    std::uint8_t bytes[kDirHeaderSize];
    dirHeader.Encode(bytes);
    WriteBytes(bytes, sizeof bytes, directory);
    for (const TPreLoadEntry& entry : entries_) {
      const std::string record = entry.Encode();
      WriteBytes(record.data(), record.size(), directory);
    }

    fileHeader.Encode(bytes);
    if (stream_->Seek(0, 0) != 0 || stream_->Write(bytes, kFileHeaderSize) != kFileHeaderSize)
      throw Exception(Format("Cannot write to %s", {Quoted(fileName_)}));
    if (ownStream_ != nullptr && !ownStream_->Close()) throw Exception(Format("Cannot write to %s", {Quoted(fileName_)}));
    ownStream_.reset();
    stream_ = nullptr;
    finished_ = true;
  } catch (...) {
    Abandon();
    throw;
  }
}

}  // namespace plf
