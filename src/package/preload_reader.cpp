#include "package/preload_reader.h"

#include <string>

#include "runtime/calendar.h"
#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "runtime/string_list.h"
#include "streams/safe_release.h"

namespace plf {

namespace {
constexpr std::uint16_t kReadSharedMode = 0x20;  // read; others may read, not write
}  // namespace

// --- TPreLoadObject ------------------------------------------------------------

TPreLoadObject::TPreLoadObject(const std::string& fileName) {
  try {
    fileName_ = Sys().FullPath(fileName);
    entries_ = new TStringList();
    stream_ = new TFileStream(fileName, kReadSharedMode);

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
  // A directory offset the file cannot be positioned at (a negative one)
  // has no directory header to read, like one past the end of the file.
  if (stream_->Seek(directoryOffset_, 0) != directoryOffset_) throw EReadError(kSReadError);
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

int TPreLoadObject::FindEntry(const std::string& name) const {
  const int count = entries_->Count();
  for (int i = 0; i < count; ++i)
    if (Sys().CompareTextLocale(entries_->Strings(i), name) == 0) return i;
  return -1;
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
