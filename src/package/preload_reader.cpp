#include "package/preload_reader.h"

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
bool IsPlainName(const std::string& name) {
  for (char c : name)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

unsigned char FoldAscii(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

std::uint32_t FoldedHash(const std::string& name) {
  std::uint32_t h = 2166136261u;  // FNV-1a
  for (char c : name) h = (h ^ FoldAscii(c)) * 16777619u;
  return h;
}

bool SameFolded(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

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

TPreLoadObject::TPreLoadObject(const std::string& fileName) {
  try {
    fileName_ = Sys().FullPath(fileName);
    entries_ = new TStringList();
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
  FreeAndClear(&entries_);
}

void TPreLoadObject::ClearEntries() {
  if (entries_ == nullptr) return;
  for (int i = entries_->Count() - 1; i >= 0; --i) {
    auto* record = static_cast<TPreLoadEntry*>(entries_->Objects(i));
    entries_->Delete(i);
    delete record;
  }
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

  // Every record is read before it is stored, and a record takes at least
  // 44 bytes of the file, so a huge count in a small file ends with a read
  // error instead of a huge allocation.
  std::uint8_t block[kMaxRecordLength + 4];
  for (std::int32_t i = 0; i < dirHeader.count; ++i) {
    stream_->ReadExact(block, 4);
    const std::int32_t length = LoadLE32Signed(block);
    if (length < kMinRecordLength || length > kMaxRecordLength) throw Exception(kSDamagedPackage);

    // Bytes missing at the end of the file count as zero: Decode reads
    // nothing beyond what arrived.
    const std::int32_t got = stream_->Read(block + 4, length);
    // Only the end of the file may cut a record short. A read that fails
    // before it would otherwise lose the entry without a word.
    if (got < length && !AtEndOfFile()) throw EReadError(kSReadError);
    const std::size_t held = 4 + static_cast<std::size_t>(got > 0 ? got : 0);
    auto record = std::make_unique<TPreLoadEntry>(TPreLoadEntry::Decode(block, held));
    entries_->Add(record->name, record.get());
    record.release();
  }
  BuildNameIndex();
}

void TPreLoadObject::BuildNameIndex() {
  const int count = entries_->Count();
  std::size_t slots = 8;
  while (slots < 2 * static_cast<std::size_t>(count)) slots *= 2;
  nameSlots_.assign(slots, -1);
  unusualNames_.clear();
  for (int i = 0; i < count; ++i) {
    const std::string& name = entries_->Strings(i);
    if (!IsPlainName(name)) {
      unusualNames_.push_back(i);
      continue;
    }
    // Linear probing; a key already held keeps its first index.
    for (std::size_t slot = FoldedHash(name) & (slots - 1);; slot = (slot + 1) & (slots - 1)) {
      if (nameSlots_[slot] < 0) {
        nameSlots_[slot] = i;
        break;
      }
      if (SameFolded(entries_->Strings(nameSlots_[slot]), name)) break;
    }
  }
}

bool TPreLoadObject::AtEndOfFile() {
  const std::int32_t position = stream_->Seek(0, 1);
  return position >= 0 && stream_->Seek(0, 2) == position;
}

int TPreLoadObject::EntryCount() const { return entries_->Count(); }

const TPreLoadEntry& TPreLoadObject::Entry(int index) const {
  // Objects() checks the index and raises the list's own error.
  return *static_cast<const TPreLoadEntry*>(entries_->Objects(index));
}

const std::string& TPreLoadObject::EntryName(int index) const { return entries_->Strings(index); }

bool TPreLoadObject::EntryNameEquals(int index, const std::string& name) const {
  return Sys().CompareTextLocale(entries_->Strings(index), name) == 0;
}

int TPreLoadObject::ScanEntries(const std::string& name) const {
  const int count = entries_->Count();
  for (int i = 0; i < count; ++i)
    if (EntryNameEquals(i, name)) return i;
  return -1;
}

int TPreLoadObject::IndexedCandidate(const std::string& name) const {
  const std::size_t mask = nameSlots_.size() - 1;
  for (std::size_t slot = FoldedHash(name) & mask;; slot = (slot + 1) & mask) {
    const std::int32_t index = nameSlots_[slot];
    if (index < 0 || SameFolded(entries_->Strings(index), name)) return index;
  }
}

int TPreLoadObject::FindEntry(const std::string& name) const {
  if (nameSlots_.empty() || !IsPlainName(name)) return ScanEntries(name);
  const int candidate = IndexedCandidate(name);
  // An unusual name before the candidate may still be the first equal one.
  for (const std::int32_t index : unusualNames_) {
    if (candidate >= 0 && index > candidate) break;
    if (EntryNameEquals(index, name)) return index;
  }
  if (candidate >= 0 && EntryNameEquals(candidate, name)) return candidate;
  // A miss, or a locale that sees the letters differently: the whole walk
  // decides.
  return ScanEntries(name);
}

double TPreLoadObject::EntryDate(int index) const { return DecodePackedDate(Entry(index).date); }

bool TPreLoadObject::CanOpenEntry(int index) const {
  if (index < 0 || index >= entries_->Count()) return false;
  const TPreLoadEntry& e = Entry(index);
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
  const TPreLoadEntry& e = Entry(index);
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
