#include "runtime/stream.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "runtime/exceptions.h"

namespace plf {

void TStream::SetSize(std::int32_t) {}

std::int32_t TStream::Size() {
  const std::int32_t position = Seek(0, 1);
  const std::int32_t size = Seek(0, 2);
  Seek(position, 0);
  return size;
}

void TStream::ReadExact(void* buffer, std::int32_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError(kSReadError);
}

void TStream::WriteExact(const void* buffer, std::int32_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError(kSWriteError);
}

// --- THandleStream -----------------------------------------------------------

void THandleStream::SetSize(std::int32_t newSize) {
  Seek(newSize, 0);
  if (!Sys().SetEndOfFile(handle_)) throw EOSError("System error: cannot set the file size");
}

std::int32_t THandleStream::Read(void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  const std::int32_t n = Sys().ReadFile(handle_, buffer, count);
  return n < 0 ? 0 : n;
}

std::int32_t THandleStream::Write(const void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  const std::int32_t n = Sys().WriteFile(handle_, buffer, count);
  return n < 0 ? 0 : n;
}

std::int32_t THandleStream::Seek(std::int32_t offset, std::uint16_t origin) {
  const std::int64_t p = Sys().SeekFile(handle_, offset, origin);
  // A file position that a 32-bit count cannot express is a failed seek.
  if (p < 0 || p > std::numeric_limits<std::int32_t>::max()) return -1;
  return static_cast<std::int32_t>(p);
}

// --- TFileStream -------------------------------------------------------------

FileHandle FileOpen(const std::string& fileName, std::uint16_t mode) {
  static const Access kAccess[4] = {Access::Read, Access::Write, Access::ReadWrite, Access::ReadWrite};
  if ((mode & 3) == 3) return kInvalidHandle;
  Share share;
  switch ((mode >> 4) & 15) {
    case 0:
    case 1: share = Share::None; break;
    case 2: share = Share::Read; break;
    case 3: share = Share::Write; break;
    case 4: share = Share::ReadWrite; break;
    default: return kInvalidHandle;
  }
  return Sys().OpenFile(fileName, kAccess[mode & 3], share, Disposition::OpenExisting);
}

TFileStream::TFileStream(const std::string& fileName, std::uint16_t mode)
    : THandleStream(kInvalidHandle), fileName_(fileName) {
  if (mode == kCreate) {
    handle_ = Sys().OpenFile(fileName, Access::ReadWrite, Share::None, Disposition::CreateAlways);
    if (handle_ == kInvalidHandle) throw EFCreateError(Format(kSFCreateError, {Sys().AnsiToUtf8(fileName)}));
  } else {
    handle_ = FileOpen(fileName, mode);
    if (handle_ == kInvalidHandle) throw EFOpenError(Format(kSFOpenError, {Sys().AnsiToUtf8(fileName)}));
  }
}

TFileStream::TFileStream(AdoptHandle, const std::string& fileName, FileHandle handle)
    : THandleStream(handle), fileName_(fileName) {}

TFileStream::~TFileStream() { Close(); }

bool TFileStream::Close() {
  if (handle_ == kInvalidHandle) return true;
  const FileHandle h = handle_;
  handle_ = kInvalidHandle;
  return Sys().CloseFile(h);
}

// --- TMemoryStream -----------------------------------------------------------

TMemoryStream::~TMemoryStream() { std::free(memory_); }

void TMemoryStream::SetCapacity(std::int64_t capacity) {
  constexpr std::int64_t kDelta = 8192;
  if (capacity <= 0) {
    std::free(memory_);
    memory_ = nullptr;
    capacity_ = 0;
    return;
  }
  capacity = (capacity + kDelta - 1) / kDelta * kDelta;
  if (capacity > std::numeric_limits<std::int32_t>::max()) throw EStreamError(kSMemoryStreamError);
  if (capacity == capacity_) return;
  void* grown = std::realloc(memory_, static_cast<std::size_t>(capacity));
  if (grown == nullptr) throw EStreamError(kSMemoryStreamError);
  memory_ = static_cast<char*>(grown);
  capacity_ = static_cast<std::int32_t>(capacity);
}

void TMemoryStream::SetSize(std::int32_t newSize) {
  if (newSize < 0) newSize = 0;
  if (newSize > capacity_) SetCapacity(newSize);
  size_ = newSize;
  if (position_ > newSize) position_ = newSize;
}

std::int32_t TMemoryStream::Read(void* buffer, std::int32_t count) {
  if (position_ < 0 || count <= 0 || position_ >= size_) return 0;
  const std::int32_t n = size_ - position_ < count ? size_ - position_ : count;
  std::memcpy(buffer, memory_ + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int32_t TMemoryStream::Write(const void* buffer, std::int32_t count) {
  if (position_ < 0 || count <= 0) return 0;
  const std::int64_t end = static_cast<std::int64_t>(position_) + count;
  if (end > std::numeric_limits<std::int32_t>::max()) return 0;
  if (end > size_) {
    if (end > capacity_) SetCapacity(end);
    if (position_ > size_) std::memset(memory_ + size_, 0, static_cast<std::size_t>(position_ - size_));
    size_ = static_cast<std::int32_t>(end);
  }
  std::memcpy(memory_ + position_, buffer, static_cast<std::size_t>(count));
  position_ = static_cast<std::int32_t>(end);
  return count;
}

std::int32_t TMemoryStream::Seek(std::int32_t offset, std::uint16_t origin) {
  std::int64_t p = position_;
  switch (origin) {
    case 0: p = offset; break;
    case 1: p += offset; break;
    case 2: p = static_cast<std::int64_t>(size_) + offset; break;
    default: break;
  }
  // No bounds checks, but a position must stay a 32-bit count.
  if (p < std::numeric_limits<std::int32_t>::min() || p > std::numeric_limits<std::int32_t>::max()) return -1;
  position_ = static_cast<std::int32_t>(p);
  return position_;
}

}  // namespace plf
