// The package reader: opens a package file, keeps its whole directory in
// memory and hands out streams of the entries' uncompressed bytes. Opening
// reads only the header and the directory; entry data is read when an
// entry stream is read. Hostile packages are refused with an exception or
// leave entries that cannot be opened; nothing is allocated for a count
// before the records that it counts have been read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "package/records.h"
#include "package/zlib_stream.h"
#include "runtime/object.h"
#include "runtime/stream.h"
#include "streams/sub_stream.h"

namespace plf {

class TStringList;

inline constexpr const char kSBadVersion[] = "Špatná verze inicializačního souboru!";
inline constexpr const char kSDamagedPackage[] = "Inicializační soubor je poškozen!";

// An open package and its directory, in file order (duplicates kept).
class TPreLoadObject : public TObject {
  PLF_DECLARE_CLASS(TPreLoadObject, TObject)

 public:
  ~TPreLoadObject() override;
  TPreLoadObject(const TPreLoadObject&) = delete;
  TPreLoadObject& operator=(const TPreLoadObject&) = delete;

  // The first index whose name equals `name` in the locale comparison with
  // case ignored, or -1.
  int FindEntry(const std::string& name) const;
  // The entry's date as whole days (OLE date), 0 for no date. A bad index
  // raises EStringListError "List index out of bounds (<index>)".
  double EntryDate(int index) const;
  int EntryCount() const;
  // The entry's record as read (name cut at the record's end). A bad index
  // raises EStringListError.
  const TPreLoadEntry& Entry(int index) const;
  const std::string& EntryName(int index) const;
  // True when the entry's data lies inside the data area, so that
  // OpenEntry would hand out a stream.
  bool CanOpenEntry(int index) const;

  const std::string& FileName() const { return fileName_; }  // full path
  std::int32_t DirectoryOffset() const { return directoryOffset_; }
  std::uint32_t DirectoryValue() const { return directoryValue_; }

 protected:
  // Opens the package (mode 0x20: read, others may only read) and loads the
  // directory. Raises EFOpenError, EReadError "Stream read error" (file too
  // short, or a directory offset that cannot be reached), Exception
  // "Špatná verze inicializačního souboru!" or "Inicializační soubor je
  // poškozen!"; nothing stays open then.
  explicit TPreLoadObject(const std::string& fileName);

  TStream* PackageStream() const;

 private:
  void LoadDirectory();
  bool AtEndOfFile();
  void ClearEntries();
  void Release();

  std::string fileName_;
  TFileStream* stream_ = nullptr;
  std::int32_t directoryOffset_ = 0;
  std::uint32_t directoryValue_ = 0;
  TStringList* entries_ = nullptr;  // names; each holds its TPreLoadEntry
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
