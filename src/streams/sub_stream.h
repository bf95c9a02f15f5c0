// A read-only window onto part of another stream. Positions run from 0 to
// the window size; reads never reach past the window's end, so a reader
// that asks for more than the window holds gets a short count instead of
// the bytes that follow. Every Read and Write first positions the base
// stream, so several windows over one base stream may be used in turn.
// The base stream is not owned and must outlive the window.
#pragma once

#include <cstdint>

#include "runtime/exceptions.h"
#include "runtime/stream.h"

namespace plf {

inline constexpr const char kSSubStreamInvalid[] = "Invalid sub-stream operation!";
inline constexpr const char kSSubStreamReadOnly[] = "Sub-Stream is read-only!";
inline constexpr const char kSSubStreamOverflow[] = "Sub-stream overflow!";

class EInvalidOperation : public Exception {
 public:
  using Exception::Exception;
};

class ESubStreamOverflow : public Exception {
 public:
  using Exception::Exception;
};

class TSubStream : public TStream {
  PLF_DECLARE_CLASS(TSubStream, TStream)

 public:
  // A negative start stands for the base stream's current position, a
  // negative size for everything from the start to the base stream's end.
  // Raises EInvalidOperation "Invalid sub-stream operation!" without a base
  // stream, when the base stream cannot tell its position or size, or when
  // the window would end past the base stream's end. The base stream's
  // position is left as it was.
  TSubStream(TStream* baseStream, std::int32_t start, std::int32_t size);

  // Clipped to the window; a window of negative size (a start past the end
  // of the base stream) reads nothing.
  std::int32_t Read(void* buffer, std::int32_t count) override;
  // Refused with Exception "Sub-Stream is read-only!" while ReadOnly();
  // a write past the window's end goes to WriteOverflow.
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  // Never fails and never touches the base stream; the result is clamped to
  // 0..WindowSize (for a negative window: WindowSize itself).
  std::int32_t Seek(std::int32_t offset, std::uint16_t origin) override;

  // Raises ESubStreamOverflow "Sub-stream overflow!" while
  // RaiseOnOverflow(); otherwise writes what still fits.
  virtual std::int32_t WriteOverflow(const void* buffer, std::int32_t count);

  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value) { readOnly_ = value; }
  bool RaiseOnOverflow() const { return raiseOnOverflow_; }
  void SetRaiseOnOverflow(bool value) { raiseOnOverflow_ = value; }

  TStream* BaseStream() const { return baseStream_; }
  std::int32_t WindowPosition() const { return windowPosition_; }
  std::int32_t WindowStart() const { return windowStart_; }
  std::int32_t WindowSize() const { return windowSize_; }

 private:
  void PositionBase();

  bool readOnly_ = true;
  bool raiseOnOverflow_ = true;
  TStream* baseStream_ = nullptr;
  std::int32_t windowPosition_ = 0;
  std::int32_t windowStart_ = 0;
  std::int32_t windowSize_ = 0;
};

}  // namespace plf
