// The package reader: opens a package file, keeps its whole directory in
// memory and hands out streams of the entries' uncompressed bytes. Opening
// reads only the header and the directory; entry data is read when an
// entry stream is read. Hostile packages are refused with an exception or
// leave entries that cannot be opened. The directory is kept as its own
// bytes with a small table per entry, so that it costs little more than
// its size in the file; a record count never makes the reader allocate
// more than the file can hold.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "package/records.h"
#include "package/zlib_stream.h"
#include "runtime/object.h"
#include "runtime/stream.h"
#include "streams/sub_stream.h"

namespace plf {

inline constexpr const char kSBadVersion[] = "Špatná verze inicializačního souboru!";
inline constexpr const char kSDamagedPackage[] = "Inicializační soubor je poškozen!";

// The package file, opened for reading with writers shut out (mode 0x20),
// so neither its size nor its bytes change while it is open. Its position
// and size are kept here, so that the entry windows, which ask for both
// before every read, cost no system call; the file is positioned only when
// a read needs it somewhere else than where the last read ended. A failed
// positioning makes that read give 0 bytes. Writing fails, as on any file
// opened for reading.
class TPackageFileStream : public TFileStream {
  PLF_DECLARE_CLASS(TPackageFileStream, TFileStream)

 public:
  // EFOpenError "Nelze otevřít soubor %s" when the file cannot be opened.
  explicit TPackageFileStream(const std::string& fileName);

  std::int32_t Read(void* buffer, std::int32_t count) override;
  // Moves only the kept position; -1 (position unchanged) for a negative
  // target, one past 32 bits, or a size that cannot be had.
  std::int32_t Seek(std::int32_t offset, std::uint16_t origin) override;

 private:
  std::int64_t position_ = 0;
  std::int64_t filePosition_ = 0;  // the handle's own position; -1 unknown
  std::int64_t size_ = -1;         // -1 until asked for
};

// An open package and its directory, in file order (duplicates kept).
class TPreLoadObject : public TObject {
  PLF_DECLARE_CLASS(TPreLoadObject, TObject)

 public:
  ~TPreLoadObject() override;
  TPreLoadObject(const TPreLoadObject&) = delete;
  TPreLoadObject& operator=(const TPreLoadObject&) = delete;

  // The first index whose name equals `name` in the locale comparison with
  // case ignored, or -1. Names of printable ASCII are looked up in an index
  // built at load; the locale comparison still judges every answer, and
  // whatever the index cannot vouch for is found by walking the directory.
  int FindEntry(const std::string& name) const;
  // The entry's date as whole days (OLE date), 0 for no date. A bad index
  // raises EStringListError "List index out of bounds (<index>)".
  double EntryDate(int index) const;
  int EntryCount() const;
  // The entry's record as read (name cut at the record's end), decoded from
  // the directory's bytes on each call. A bad index raises EStringListError.
  TPreLoadEntry Entry(int index) const;
  std::string EntryName(int index) const;
  // True when the entry's data lies inside the data area, so that
  // OpenEntry would hand out a stream.
  bool CanOpenEntry(int index) const;

  const std::string& FileName() const { return fileName_; }  // full path
  std::int32_t DirectoryOffset() const { return directoryOffset_; }
  std::uint32_t DirectoryValue() const { return directoryValue_; }

 protected:
  // Opens the package (mode 0x20: read, others may only read) and loads the
  // directory. Raises EFOpenError, EReadError "Stream read error" (file too
  // short, or a directory offset that is negative or past the end), Exception
  // "Špatná verze inicializačního souboru!" or "Inicializační soubor je
  // poškozen!"; nothing stays open then.
  explicit TPreLoadObject(const std::string& fileName);

  TStream* PackageStream() const;

 private:
  class TDirectoryLoader;

  void LoadDirectory();
  void BuildNameIndex();
  void CheckIndex(int index) const;
  // The record of a valid index: its length field and the length's bytes.
  const std::uint8_t* RecordOf(int index) const;
  std::string_view NameOf(int index) const;
  int IndexedCandidate(std::string_view name) const;
  bool EntryNameEquals(int index, const std::string& name, std::string* scratch) const;
  int ScanEntries(const std::string& name) const;
  bool AtEndOfFile();
  void ClearEntries();
  void Release();

  std::string fileName_;
  TFileStream* stream_ = nullptr;
  std::int32_t directoryOffset_ = 0;
  std::uint32_t directoryValue_ = 0;
  // The records as read, back to back in chunks that no record straddles.
  std::vector<std::unique_ptr<std::uint8_t[]>> chunks_;
  // Per entry, in file order: the chunk times 2^20 plus the offset in it.
  std::vector<std::uint32_t> recordAt_;
  // The last record when the file ends inside it, filled up with zeros to
  // its length; the chunk holds only the bytes that the file had.
  std::unique_ptr<std::uint8_t[]> cutRecord_;
  // Open addressing over the printable-ASCII names, keyed by the name with
  // a-z folded: each key's first index; -1 marks a free slot.
  std::vector<std::int32_t> nameSlots_;
  // Indices (ascending) of the other names, which letter folding alone
  // cannot match.
  std::vector<std::int32_t> unusualNames_;
};

class TPreLoadReader : public TPreLoadObject {
  PLF_DECLARE_CLASS(TPreLoadReader, TPreLoadObject)

 public:
  explicit TPreLoadReader(const std::string& fileName);

  // True: *stream holds the entry stream (caller owns; free it before the
  // reader) and *size the recorded uncompressed size. False, with *stream
  // empty and *size 0, for a bad index or data outside the data area. An
  // entry without data opens as an empty memory stream of size 0.
  bool OpenEntry(int index, std::unique_ptr<TStream>* stream, std::int32_t* size);
};

// A decompression stream that owns the window it reads from.
class TOwnDecompressor : public TDecompressionStream {
  PLF_DECLARE_CLASS(TOwnDecompressor, TDecompressionStream)

 public:
  explicit TOwnDecompressor(std::unique_ptr<TSubStream> source);
  ~TOwnDecompressor() override;

  TSubStream* OwnedSource() const { return ownedSource_; }

 private:
  TSubStream* ownedSource_;
};

}  // namespace plf
