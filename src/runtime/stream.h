// The stream abstraction every byte of the system moves through, with the
// file and memory streams. Positions and sizes are signed 32-bit counts.
// Read, Write and Seek never raise: they report short counts (0 at the end of
// data or on failure). ReadExact and WriteExact turn a short count into
// EReadError "Stream read error" / EWriteError "Stream write error".
#pragma once

#include <cstdint>
#include <string>

#include "runtime/object.h"
#include "runtime/platform.h"

namespace plf {

inline constexpr const char kSReadError[] = "Stream read error";
inline constexpr const char kSWriteError[] = "Stream write error";
inline constexpr const char kSFCreateError[] = "Nelze vytvořit soubor %s";
inline constexpr const char kSFOpenError[] = "Nelze otevřít soubor %s";
inline constexpr const char kSMemoryStreamError[] = "Out of memory while expanding memory stream";

class TStream : public TObject {
  PLF_DECLARE_CLASS(TStream, TObject)

 public:
  virtual void SetSize(std::int32_t newSize);
  virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
  virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
  virtual std::int32_t Seek(std::int32_t offset, std::uint16_t origin) = 0;

  std::int32_t Position() { return Seek(0, 1); }
  void SetPosition(std::int32_t p) { Seek(p, 0); }
  std::int32_t Size();

  void ReadExact(void* buffer, std::int32_t count);
  void WriteExact(const void* buffer, std::int32_t count);
};

// Holds one operating-system file handle; does not close it.
class THandleStream : public TStream {
  PLF_DECLARE_CLASS(THandleStream, TStream)

 public:
  explicit THandleStream(FileHandle handle) : handle_(handle) {}
  FileHandle Handle() const { return handle_; }

  void SetSize(std::int32_t newSize) override;  // raises EOSError on failure
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int32_t Seek(std::int32_t offset, std::uint16_t origin) override;

 protected:
  FileHandle handle_;
};

// Opens or creates its file and closes it on destruction.
// Mode kCreate: created anew or truncated, read/write, no sharing
// (EFCreateError). Other modes open an existing file: bits 0-1 access
// (0 read, 1 write, 2 both), bits 4-7 sharing (0/1 none, 2 read, 3 write,
// 4 both) (EFOpenError). Messages name the file as given.
class TFileStream : public THandleStream {
  PLF_DECLARE_CLASS(TFileStream, THandleStream)

 public:
  static constexpr std::uint16_t kCreate = 0xFFFF;
  TFileStream(const std::string& fileName, std::uint16_t mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  const std::string& FileName() const { return fileName_; }
  // Closes the handle now; false when the platform reports a failed close.
  bool Close();

 protected:
  struct AdoptHandle {};
  // For subclasses that open the handle themselves.
  TFileStream(AdoptHandle, const std::string& fileName, FileHandle handle);

 private:
  std::string fileName_;
};

// Opens a file with the mode rule above and returns its handle, or
// kInvalidHandle; raises nothing.
FileHandle FileOpen(const std::string& fileName, std::uint16_t mode);

class TMemoryStream : public TStream {
  PLF_DECLARE_CLASS(TMemoryStream, TStream)

 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  void SetSize(std::int32_t newSize) override;
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int32_t Seek(std::int32_t offset, std::uint16_t origin) override;

  const char* Memory() const { return memory_; }

 private:
  void SetCapacity(std::int64_t capacity);

  char* memory_ = nullptr;
  std::int32_t size_ = 0;
  std::int32_t position_ = 0;
  std::int32_t capacity_ = 0;
};

}  // namespace plf
