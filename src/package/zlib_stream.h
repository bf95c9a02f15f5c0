// A read-only, forward-only stream that inflates zlib data (RFC 1950)
// pulled from a source stream. Position is the count of bytes produced;
// Seek rewinds (to 0) or skips forward, nothing else. Compressed input is
// pulled in pieces of up to 64 KiB into a buffer inside the object, so the
// object is large and belongs on the heap.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <functional>

#include "runtime/exceptions.h"
#include "runtime/stream.h"

namespace plf {

inline constexpr const char kSInvalidStreamOperation[] = "Invalid stream operation";
inline constexpr const char kSDecompressionError[] = "Decompression error %d";

class EZlibError : public Exception {
 public:
  using Exception::Exception;
};

class EDecompressionError : public EZlibError {
 public:
  using EZlibError::EZlibError;
};

// Returns a code of 0 or more unchanged; raises EDecompressionError
// "Decompression error <code>" for a negative one.
int CheckInflateResult(int code);

class TCustomZlibStream : public TStream {
  PLF_DECLARE_CLASS(TCustomZlibStream, TStream)

 public:
  static constexpr std::int32_t kInputBufferSize = 65536;
  using ProgressHandler = std::function<void(TObject& sender)>;

  ~TCustomZlibStream() override = default;
  TCustomZlibStream(const TCustomZlibStream&) = delete;
  TCustomZlibStream& operator=(const TCustomZlibStream&) = delete;

  // Called after every refill of the input buffer.
  void SetProgressHandler(ProgressHandler handler) { progressHandler_ = std::move(handler); }
  TStream* Source() const { return source_; }

 protected:
  // The source is not owned; compressed bytes are read from its current
  // position on.
  explicit TCustomZlibStream(TStream* source);
  virtual void NotifyProgress(TObject& sender);

  TStream* source_;
  std::int32_t sourcePosition_;
  ProgressHandler progressHandler_;
  z_stream zStream_;
  unsigned char inputBuffer_[kInputBufferSize];
};

class TDecompressionStream : public TCustomZlibStream {
  PLF_DECLARE_CLASS(TDecompressionStream, TCustomZlibStream)

 public:
  // Raises EDecompressionError when inflate cannot be set up (-4 when
  // memory runs out).
  explicit TDecompressionStream(TStream* source);
  ~TDecompressionStream() override;

  // Produces up to `count` bytes; fewer when the source ends early or the
  // zlib stream has ended. Damaged data, a wrong checksum or a stream that
  // asks for a preset dictionary raise EDecompressionError (-3), and so does
  // every further Read until a rewind.
  std::int32_t Read(void* buffer, std::int32_t count) override;
  // Always raises EDecompressionError "Invalid stream operation".
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  // Seek(0, 0) rewinds the inflate state and the source (to its position
  // 0); a forward move skips by reading (EReadError "Stream read error"
  // when the data ends first); anything else - including reading the
  // size - raises EDecompressionError "Invalid stream operation".
  std::int32_t Seek(std::int32_t offset, std::uint16_t origin) override;

 private:
  bool initialized_ = false;
  int failure_ = 0;  // the negative zlib result that stopped reading
};

namespace testing_hooks {
// Lets the next `allocations` zlib allocations succeed and fails the rest;
// a negative budget (the default) never fails.
void SetZlibAllocationBudget(int allocations);
}  // namespace testing_hooks

}  // namespace plf
