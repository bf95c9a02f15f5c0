#include "package/preload_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "runtime/calendar.h"
#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "runtime/string_list.h"
#include "streams/safe_release.h"

namespace plf {

namespace {

constexpr std::uint16_t kReadSharedMode = 0x20;  // read; others may read, not write

// Printable ASCII: for such names the locale comparison with case ignored
// calls two names equal only when they agree with a-z folded to A-Z.
// Beyond it the locale may equate names that folding keeps apart: "ß" and
// "ss", characters that it ignores altogether.
bool IsPlainName(std::string_view name) {
  for (char c : name)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

unsigned char FoldAscii(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

std::uint32_t FoldedHash(std::string_view name) {
  std::uint32_t h = 2166136261u;  // FNV-1a
  for (char c : name) h = (h ^ FoldAscii(c)) * 16777619u;
  // The slot is taken from the high bits, which FNV leaves weakly mixed.
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}

bool SameFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

// Slot counts need not be powers of two, so that the table can be sized to
// the names and not to the next power above them.
std::size_t FirstSlot(std::uint32_t hash, std::size_t slots) {
  return static_cast<std::size_t>((static_cast<std::uint64_t>(hash) * slots) >> 32);
}

std::size_t NextSlot(std::size_t slot, std::size_t slots) { return slot + 1 == slots ? 0 : slot + 1; }

constexpr int kChunkBits = 20;
constexpr std::size_t kChunkSize = std::size_t{1} << kChunkBits;
constexpr std::size_t kChunkMask = kChunkSize - 1;
constexpr std::int64_t kMinRecordBytes = 4 + kMinRecordLength;
constexpr std::int64_t kMaxRecordBytes = 4 + kMaxRecordLength;
static_assert(kChunkSize >= 32 * kMaxRecordBytes, "a chunk must hold many records of the longest kind");

}  // namespace

// --- TPackageFileStream --------------------------------------------------------

TPackageFileStream::TPackageFileStream(const std::string& fileName) : TFileStream(fileName, kReadSharedMode) {}

std::int32_t TPackageFileStream::Read(void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  if (filePosition_ != position_) {
    const std::int64_t p = Sys().SeekFile(handle_, position_, 0);
    if (p != position_) {
      filePosition_ = -1;
      return 0;
    }
    filePosition_ = p;
  }
  std::int32_t n = Sys().ReadFile(handle_, buffer, count);
  if (n <= 0) {
    if (n < 0) filePosition_ = -1;  // where a failed read leaves it is not said
    return 0;
  }
  if (n > count) n = count;
  position_ += n;
  filePosition_ += n;
  return n;
}

std::int32_t TPackageFileStream::Seek(std::int32_t offset, std::uint16_t origin) {
  std::int64_t base = 0;
  switch (origin) {
    case 0: break;
    case 1: base = position_; break;
    case 2:
      if (size_ < 0) {
        const std::int64_t end = Sys().SeekFile(handle_, 0, 2);
        if (end < 0) {
          filePosition_ = -1;
          return -1;
        }
        size_ = end;
        filePosition_ = end;
      }
      base = size_;
      break;
    default: return -1;
  }
  const std::int64_t p = base + offset;
  if (p < 0 || p > std::numeric_limits<std::int32_t>::max()) return -1;
  position_ = p;
  return static_cast<std::int32_t>(p);
}

// --- TPreLoadObject ------------------------------------------------------------

// Reads the records in large pieces straight into the chunks. A chunk is
// never larger than what the file still holds or the records still counted
// could fill, so a count cannot make it allocate beyond the file; a record
// that does not fit the rest of a chunk moves, with what was read after it,
// to the start of the next, wasting less than one record per chunk.
class TPreLoadObject::TDirectoryLoader {
 public:
  TDirectoryLoader(TPreLoadObject& owner, std::int64_t fileLeft, std::int32_t count)
      : owner_(owner), fileLeft_(fileLeft), recordsLeft_(count) {}

  // Makes the `need` bytes from the current record's start readable in one
  // chunk, as far as the file holds them; returns how many are.
  std::size_t Hold(std::size_t need) {
    const std::size_t ahead = filled_ - parsed_;
    const std::size_t room = capacity_ - parsed_;
    if (room < need && static_cast<std::int64_t>(room) < static_cast<std::int64_t>(ahead) + fileLeft_) NewChunk(ahead);
    while (filled_ - parsed_ < need && fileLeft_ > 0) {
      const std::int32_t ask = static_cast<std::int32_t>(std::min<std::int64_t>(
          static_cast<std::int64_t>(capacity_ - filled_), fileLeft_));
      const std::int32_t got = owner_.stream_->Read(chunk_ + filled_, ask);
      if (got <= 0) {
        // Only the end of the file may cut a record short. A read that
        // fails before it would otherwise lose entries without a word.
        if (!owner_.AtEndOfFile()) throw EReadError(kSReadError);
        fileLeft_ = 0;
        break;
      }
      const std::size_t n = static_cast<std::size_t>(std::min(got, ask));
      filled_ += n;
      fileLeft_ -= static_cast<std::int64_t>(n);
    }
    return std::min(filled_ - parsed_, need);
  }

  const std::uint8_t* Current() const { return chunk_ + parsed_; }
  std::uint32_t CurrentAt() const {
    return static_cast<std::uint32_t>((owner_.chunks_.size() - 1) << kChunkBits | parsed_);
  }
  void Consume(std::size_t bytes) {
    parsed_ += bytes;
    --recordsLeft_;
  }

 private:
  void NewChunk(std::size_t ahead) {
    const std::int64_t size = std::min({static_cast<std::int64_t>(kChunkSize),
                                        static_cast<std::int64_t>(ahead) + fileLeft_, recordsLeft_ * kMaxRecordBytes});
    std::unique_ptr<std::uint8_t[]> chunk(new std::uint8_t[static_cast<std::size_t>(size)]);
    if (ahead > 0) std::memcpy(chunk.get(), chunk_ + parsed_, ahead);
    owner_.chunks_.push_back(std::move(chunk));
    chunk_ = owner_.chunks_.back().get();
    capacity_ = static_cast<std::size_t>(size);
    filled_ = ahead;
    parsed_ = 0;
  }

  TPreLoadObject& owner_;
  std::int64_t fileLeft_;     // bytes of the file after what was read
  std::int64_t recordsLeft_;  // records counted and not yet taken
  std::uint8_t* chunk_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t filled_ = 0;  // bytes of the chunk read from the file
  std::size_t parsed_ = 0;  // where the current record begins
};

TPreLoadObject::TPreLoadObject(const std::string& fileName) {
  try {
    fileName_ = Sys().FullPath(fileName);
    stream_ = new TPackageFileStream(fileName);

    std::uint8_t header[kFileHeaderSize];
    stream_->ReadExact(header, kFileHeaderSize);
    const TPreLoadFileHeader fileHeader = TPreLoadFileHeader::Decode(header);
    if (fileHeader.version != kPreLoadVersion) throw Exception(kSBadVersion);
    directoryOffset_ = fileHeader.directoryOffset;
    LoadDirectory();
  } catch (...) {
    Release();
    throw;
  }
}

TPreLoadObject::~TPreLoadObject() { Release(); }

void TPreLoadObject::Release() {
  FreeAndClear(&stream_);
  ClearEntries();
}

void TPreLoadObject::ClearEntries() {
  decltype(nameSlots_)().swap(nameSlots_);
  decltype(unusualNames_)().swap(unusualNames_);
  decltype(recordAt_)().swap(recordAt_);
  cutRecord_.reset();
  decltype(chunks_)().swap(chunks_);
}

void TPreLoadObject::LoadDirectory() {
  // A negative directory offset has no directory header to read, like one
  // past the end of the file. It is refused before seeking: a failed Seek
  // answers -1, which would pass for the offset -1 and leave the directory
  // to be read from wherever the file happens to stand.
  if (directoryOffset_ < 0 || stream_->Seek(directoryOffset_, 0) != directoryOffset_) throw EReadError(kSReadError);
  std::uint8_t header[kDirHeaderSize];
  stream_->ReadExact(header, kDirHeaderSize);
  const TPreLoadDirHeader dirHeader = TPreLoadDirHeader::Decode(header);
  directoryValue_ = dirHeader.value;

  const std::int32_t count = dirHeader.count;
  if (count > 0) {
    const std::int64_t start = static_cast<std::int64_t>(directoryOffset_) + kDirHeaderSize;
    const std::int32_t end = stream_->Seek(0, 2);
    if (end < start || stream_->Seek(static_cast<std::int32_t>(start), 0) != start) throw EReadError(kSReadError);
    const std::int64_t fileLeft = end - start;
    // Every record but a last one cut short by the end of the file takes
    // at least 44 bytes of it.
    recordAt_.reserve(static_cast<std::size_t>(std::min<std::int64_t>(count, fileLeft / kMinRecordBytes + 1)));
    TDirectoryLoader loader(*this, fileLeft, count);
    for (std::int32_t i = 0; i < count; ++i) {
      if (loader.Hold(4) < 4) throw EReadError(kSReadError);
      const std::int32_t length = LoadLE32Signed(loader.Current());
      if (length < kMinRecordLength || length > kMaxRecordLength) throw Exception(kSDamagedPackage);
      const std::size_t whole = 4 + static_cast<std::size_t>(length);
      const std::size_t held = loader.Hold(whole);
      recordAt_.push_back(loader.CurrentAt());
      if (held < whole) {
        // The file ends inside this record (so it is the last one): the
        // bytes that are missing count as zero.
        cutRecord_ = std::make_unique<std::uint8_t[]>(whole);
        std::memcpy(cutRecord_.get(), loader.Current(), held);
      }
      loader.Consume(held);
    }
  }
  BuildNameIndex();
}

void TPreLoadObject::BuildNameIndex() {
  const int count = EntryCount();
  std::size_t plain = 0;
  for (int i = 0; i < count; ++i) plain += IsPlainName(NameOf(i)) ? 1 : 0;
  // Both tables are sized once: one grown by doubling would for a moment
  // hold three times the room it needs. A load of at most 0.8 keeps the
  // probes short at 5 bytes a name.
  unusualNames_.reserve(static_cast<std::size_t>(count) - plain);
  const std::size_t slots = plain == 0 ? 0 : plain + plain / 4 + 1;
  nameSlots_.assign(slots, -1);
  for (int i = 0; i < count; ++i) {
    const std::string_view name = NameOf(i);
    if (!IsPlainName(name)) {
      unusualNames_.push_back(i);
      continue;
    }
    // Linear probing; a key already held keeps its first index.
    for (std::size_t slot = FirstSlot(FoldedHash(name), slots);; slot = NextSlot(slot, slots)) {
      if (nameSlots_[slot] < 0) {
        nameSlots_[slot] = i;
        break;
      }
      if (SameFolded(NameOf(nameSlots_[slot]), name)) break;
    }
  }
}

bool TPreLoadObject::AtEndOfFile() {
  const std::int32_t position = stream_->Seek(0, 1);
  return position >= 0 && stream_->Seek(0, 2) == position;
}

int TPreLoadObject::EntryCount() const { return static_cast<int>(recordAt_.size()); }

void TPreLoadObject::CheckIndex(int index) const {
  if (index < 0 || index >= EntryCount()) throw EStringListError(Format(kSListIndexError, {std::to_string(index)}));
}

const std::uint8_t* TPreLoadObject::RecordOf(int index) const {
  if (cutRecord_ != nullptr && index == EntryCount() - 1) return cutRecord_.get();
  const std::uint32_t at = recordAt_[static_cast<std::size_t>(index)];
  return chunks_[at >> kChunkBits].get() + (at & kChunkMask);
}

std::string_view TPreLoadObject::NameOf(int index) const {
  const std::uint8_t* record = RecordOf(index);
  // The name ends where the record ends, whatever its length byte claims.
  const std::size_t recordEnd = 4 + static_cast<std::size_t>(LoadLE32Signed(record));
  const std::size_t nameStart = kRecordNameOffset + 1;
  const std::size_t nameEnd = std::min(nameStart + record[kRecordNameOffset], recordEnd);
  return {reinterpret_cast<const char*>(record + nameStart), nameEnd - nameStart};
}

TPreLoadEntry TPreLoadObject::Entry(int index) const {
  CheckIndex(index);
  const std::uint8_t* record = RecordOf(index);
  return TPreLoadEntry::Decode(record, 4 + static_cast<std::size_t>(LoadLE32Signed(record)));
}

std::string TPreLoadObject::EntryName(int index) const {
  CheckIndex(index);
  return std::string(NameOf(index));
}

bool TPreLoadObject::EntryNameEquals(int index, const std::string& name, std::string* scratch) const {
  scratch->assign(NameOf(index));
  return Sys().CompareTextLocale(*scratch, name) == 0;
}

int TPreLoadObject::ScanEntries(const std::string& name) const {
  const int count = EntryCount();
  std::string scratch;
  for (int i = 0; i < count; ++i)
    if (EntryNameEquals(i, name, &scratch)) return i;
  return -1;
}

int TPreLoadObject::IndexedCandidate(std::string_view name) const {
  const std::size_t slots = nameSlots_.size();
  for (std::size_t slot = FirstSlot(FoldedHash(name), slots);; slot = NextSlot(slot, slots)) {
    const std::int32_t index = nameSlots_[slot];
    if (index < 0 || SameFolded(NameOf(index), name)) return index;
  }
}

int TPreLoadObject::FindEntry(const std::string& name) const {
  if (nameSlots_.empty() || !IsPlainName(name)) return ScanEntries(name);
  const int candidate = IndexedCandidate(name);
  std::string scratch;
  // An unusual name before the candidate may still be the first equal one.
  for (const std::int32_t index : unusualNames_) {
    if (candidate >= 0 && index > candidate) break;
    if (EntryNameEquals(index, name, &scratch)) return index;
  }
  if (candidate >= 0 && EntryNameEquals(candidate, name, &scratch)) return candidate;
  // A miss, or a locale that sees the letters differently: the whole walk
  // decides.
  return ScanEntries(name);
}

double TPreLoadObject::EntryDate(int index) const { return DecodePackedDate(Entry(index).date); }

bool TPreLoadObject::CanOpenEntry(int index) const {
  if (index < 0 || index >= EntryCount()) return false;
  const TPreLoadEntry e = Entry(index);
  if (e.dataOffset < kDataAreaStart) return false;
  if (static_cast<std::int64_t>(e.dataOffset) + e.compressedSize > directoryOffset_) return false;
  return e.compressedSize >= 0;
}

TStream* TPreLoadObject::PackageStream() const { return stream_; }

// --- TPreLoadReader ------------------------------------------------------------

TPreLoadReader::TPreLoadReader(const std::string& fileName) : TPreLoadObject(fileName) {}

bool TPreLoadReader::OpenEntry(int index, std::unique_ptr<TStream>* stream, std::int32_t* size) {
  stream->reset();
  *size = 0;
  if (!CanOpenEntry(index)) return false;
  const TPreLoadEntry e = Entry(index);
  if (e.compressedSize == 0) {
    *stream = std::make_unique<TMemoryStream>();
    return true;
  }
  auto window = std::make_unique<TSubStream>(PackageStream(), e.dataOffset, e.compressedSize);
  window->SetReadOnly(true);
  *stream = std::make_unique<TOwnDecompressor>(std::move(window));
  *size = e.uncompressedSize;
  return true;
}

// --- TOwnDecompressor ----------------------------------------------------------

TOwnDecompressor::TOwnDecompressor(std::unique_ptr<TSubStream> source)
    : TDecompressionStream(source.get()), ownedSource_(source.release()) {}

TOwnDecompressor::~TOwnDecompressor() { FreeAndClear(&ownedSource_); }

}  // namespace plf
