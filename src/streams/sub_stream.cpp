#include "streams/sub_stream.h"

#include <cstdint>

namespace plf {

TSubStream::TSubStream(TStream* baseStream, std::int32_t start, std::int32_t size) {
  if (baseStream == nullptr) throw EInvalidOperation(kSSubStreamInvalid);
  // A base stream that cannot tell its position or size gives no window
  // that could be checked against it.
  const std::int32_t basePosition = baseStream->Seek(0, 1);
  if (basePosition < 0) throw EInvalidOperation(kSSubStreamInvalid);
  if (start < 0) start = basePosition;
  const std::int32_t baseSize = baseStream->Seek(0, 2);
  baseStream->Seek(basePosition, 0);
  if (baseSize < 0) throw EInvalidOperation(kSSubStreamInvalid);

  if (size < 0) {
    // Both are non-negative, so the difference fits; it is negative when the
    // start lies past the end, and such a window reads nothing.
    size = baseSize - start;
  } else if (static_cast<std::int64_t>(start) + size > baseSize) {
    throw EInvalidOperation(kSSubStreamInvalid);
  }
  baseStream_ = baseStream;
  windowStart_ = start;
  windowSize_ = size;
  windowPosition_ = 0;
  // A negative window keeps its position at its size, so that Seek (and
  // with it Size) reports the size and no read finds room.
  if (windowSize_ < 0) windowPosition_ = windowSize_;
}

void TSubStream::PositionBase() {
  // start + position lies within [0, base size] for every window: the
  // position never exceeds the size, and a negative window ends at the base
  // stream's end.
  baseStream_->Seek(static_cast<std::int32_t>(static_cast<std::int64_t>(windowStart_) + windowPosition_), 0);
}

std::int32_t TSubStream::Seek(std::int32_t offset, std::uint16_t origin) {
  std::int64_t p = windowPosition_;
  switch (origin) {
    case 0: p = offset; break;
    case 1: p += offset; break;
    case 2: p = static_cast<std::int64_t>(offset) + windowSize_; break;
    default: break;
  }
  if (p < 0) p = 0;
  if (p > windowSize_) p = windowSize_;
  windowPosition_ = static_cast<std::int32_t>(p);
  return windowPosition_;
}

std::int32_t TSubStream::Read(void* buffer, std::int32_t count) {
  PositionBase();
  const std::int64_t room = static_cast<std::int64_t>(windowSize_) - windowPosition_;
  if (count > room) count = static_cast<std::int32_t>(room);
  if (count < 0) return 0;
  const std::int32_t n = baseStream_->Read(buffer, count);
  if (n <= 0) return 0;
  windowPosition_ += n;
  return n;
}

std::int32_t TSubStream::Write(const void* buffer, std::int32_t count) {
  if (readOnly_) throw Exception(kSSubStreamReadOnly);
  PositionBase();
  if (static_cast<std::int64_t>(windowPosition_) + count > windowSize_) return WriteOverflow(buffer, count);
  if (count <= 0) return 0;
  const std::int32_t n = baseStream_->Write(buffer, count);
  if (n <= 0) return 0;
  windowPosition_ += n;
  return n;
}

std::int32_t TSubStream::WriteOverflow(const void* buffer, std::int32_t count) {
  const std::int64_t room = static_cast<std::int64_t>(windowSize_) - windowPosition_;
  if (count > room) {
    if (raiseOnOverflow_) throw ESubStreamOverflow(kSSubStreamOverflow);
    if (room < 0) return 0;
    count = static_cast<std::int32_t>(room);
  }
  return Write(buffer, count);
}

}  // namespace plf
