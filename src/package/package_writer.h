// Writes a package file that the package reader reads back: the header, each
// entry's data compressed by zlib as it is added (streamed through fixed
// buffers, never held whole), then the directory. Whatever the reader could
// not read back is refused with an Exception naming the entry or the file:
// a name over 255 bytes, an entry or a package of 2 GiB or more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "package/records.h"
#include "runtime/object.h"
#include "runtime/stream.h"

namespace plf {

class TPackageWriter : public TObject {
  PLF_DECLARE_CLASS(TPackageWriter, TObject)

 public:
  static constexpr int kDefaultLevel = 6;

  // Creates (or truncates) the file; `level` is zlib's 0..9 (Exception
  // otherwise). Raises EFCreateError when the file cannot be created.
  explicit TPackageWriter(const std::string& fileName, int level = kDefaultLevel);
  // Writes into `stream`, an empty file open for reading and writing, which
  // its owner keeps open until Finish or failure and then disposes of (the
  // writer neither closes nor deletes it). `fileName` names the package in
  // messages.
  TPackageWriter(TStream& stream, const std::string& fileName, int level = kDefaultLevel);
  // Without Finish the incomplete file is closed and deleted (a borrowed
  // stream is only left alone).
  ~TPackageWriter() override;
  TPackageWriter(const TPackageWriter&) = delete;
  TPackageWriter& operator=(const TPackageWriter&) = delete;

  // Each adds one entry; its data is compressed and written at once.
  void AddFile(const std::string& name, const std::string& path, PackedDate date = PackedDate::None());
  void AddBuffer(const std::string& name, const void* data, std::size_t size,
                 PackedDate date = PackedDate::None());
  // Reads `source` from its position until a read gives 0 bytes.
  void AddStream(const std::string& name, TStream& source, PackedDate date = PackedDate::None());
  // An entry without data (compressed size 0), recording `uncompressedSize`.
  void AddEmpty(const std::string& name, std::int32_t uncompressedSize = 0,
                PackedDate date = PackedDate::None());

  // An entry whose zlib data was made elsewhere (one complete RFC 1950
  // stream that inflates to `uncompressedSize` bytes, as deflate at the
  // writer's level makes it): its compressed bytes are appended piece by
  // piece between BeginCompressed and EndCompressed. No other entry may be
  // added, and Finish not called, in between.
  void BeginCompressed(const std::string& name, PackedDate date = PackedDate::None());
  void AppendCompressed(const void* data, std::size_t size);
  void EndCompressed(std::int64_t uncompressedSize);

  // Writes the directory and the final header and closes the file (not a
  // borrowed stream).
  void Finish();

  int Level() const { return level_; }

  const std::string& FileName() const { return fileName_; }
  const std::vector<TPreLoadEntry>& Entries() const { return entries_; }

 // Where an entry's bytes come from.
  class Source;

 private:
  void AddFrom(const std::string& name, Source& source, PackedDate date);
  void CheckName(const std::string& name) const;
  void CheckNoPendingEntry() const;
  void WriteBytes(const void* data, std::size_t size, const std::string& what);
  void Abandon() noexcept;
  void WriteInitialHeader();

  std::string fileName_;
  int level_;
  std::unique_ptr<TFileStream> ownStream_;
  TStream* stream_ = nullptr;  // ownStream_ or the borrowed one; null once closed
  std::int64_t offset_ = 0;  // bytes written so far
  std::vector<TPreLoadEntry> entries_;
  std::vector<unsigned char> inBuffer_;
  std::vector<unsigned char> outBuffer_;
  bool finished_ = false;
  bool pending_ = false;  // between BeginCompressed and EndCompressed
  TPreLoadEntry pendingEntry_;
};

namespace testing_hooks {
// Replaces the 2 GiB limit on entries and packages (bytes - 1); a value of
// 0 or less restores it.
void SetPackageLimit(std::int64_t limit);
}  // namespace testing_hooks

}  // namespace plf
