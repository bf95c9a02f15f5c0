#include "package/zlib_stream.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace plf {

namespace {

int gAllocationBudget = -1;

// zlib's allocation callbacks run inside zlib's C frames: they must never
// throw, and an allocation that cannot be had returns null so that zlib
// reports Z_MEM_ERROR itself.
voidpf ZlibAllocate(voidpf, uInt items, uInt size) {
  if (size != 0 && items > std::numeric_limits<std::size_t>::max() / size) return Z_NULL;
  if (gAllocationBudget == 0) return Z_NULL;
  if (gAllocationBudget > 0) --gAllocationBudget;
  return std::malloc(static_cast<std::size_t>(items) * size);
}

void ZlibRelease(voidpf, voidpf address) { std::free(address); }

constexpr std::int32_t kSkipPiece = 4096;

}  // namespace

namespace testing_hooks {
void SetZlibAllocationBudget(int allocations) { gAllocationBudget = allocations; }
}  // namespace testing_hooks

int CheckInflateResult(int code) {
  if (code < 0) throw EDecompressionError(Format(kSDecompressionError, {std::to_string(code)}));
  return code;
}

// --- TCustomZlibStream ---------------------------------------------------------

TCustomZlibStream::TCustomZlibStream(TStream* source) : source_(source), sourcePosition_(0) {
  if (source_ == nullptr) throw EDecompressionError(kSInvalidStreamOperation);
  sourcePosition_ = source_->Position();
  std::memset(&zStream_, 0, sizeof zStream_);
  zStream_.zalloc = ZlibAllocate;
  zStream_.zfree = ZlibRelease;
  zStream_.opaque = Z_NULL;
  zStream_.next_in = inputBuffer_;
  zStream_.avail_in = 0;
}

void TCustomZlibStream::NotifyProgress(TObject& sender) {
  if (progressHandler_) progressHandler_(sender);
}

// --- TDecompressionStream ------------------------------------------------------

TDecompressionStream::TDecompressionStream(TStream* source) : TCustomZlibStream(source) {
  CheckInflateResult(inflateInit(&zStream_));
  initialized_ = true;
}

TDecompressionStream::~TDecompressionStream() {
  if (initialized_) inflateEnd(&zStream_);
}

std::int32_t TDecompressionStream::Read(void* buffer, std::int32_t count) {
  if (failure_ < 0) CheckInflateResult(failure_);
  if (count <= 0) return 0;
  zStream_.next_out = static_cast<Bytef*>(buffer);
  zStream_.avail_out = static_cast<uInt>(count);
  if (source_->Position() != sourcePosition_) source_->SetPosition(sourcePosition_);
  while (zStream_.avail_out > 0) {
    if (zStream_.avail_in == 0) {
      const std::int32_t got = source_->Read(inputBuffer_, kInputBufferSize);
      if (got <= 0) break;
      zStream_.next_in = inputBuffer_;
      zStream_.avail_in = static_cast<uInt>(got);
      sourcePosition_ = source_->Position();
      NotifyProgress(*this);
    }
    int result = inflate(&zStream_, Z_NO_FLUSH);
    // The package format has no preset dictionaries: such a stream is not
    // one of ours, and inflate would not move without one.
    if (result == Z_NEED_DICT) result = Z_DATA_ERROR;
    if (result < 0) {
      // Remembered, so that a damaged entry never later reads as one that
      // merely ended early.
      failure_ = result;
      CheckInflateResult(result);
    }
    // No output can follow the end of the zlib stream; bytes after it in the
    // source would only make inflate stand still.
    if (result == Z_STREAM_END) break;
  }
  return count - static_cast<std::int32_t>(zStream_.avail_out);
}

std::int32_t TDecompressionStream::Write(const void*, std::int32_t) {
  throw EDecompressionError(kSInvalidStreamOperation);
}

std::int32_t TDecompressionStream::Seek(std::int32_t offset, std::uint16_t origin) {
  if (origin == 0 && offset == 0) {
    CheckInflateResult(inflateReset(&zStream_));
    failure_ = 0;
    zStream_.next_in = inputBuffer_;
    zStream_.avail_in = 0;
    source_->SetPosition(0);
    sourcePosition_ = 0;
    return 0;
  }
  // total_out is unsigned (and 32 bits wide on some targets): positions are
  // compared as signed 64-bit values, so a negative target never looks like
  // a far-forward one.
  const std::int64_t position = static_cast<std::int64_t>(zStream_.total_out);
  std::int64_t distance;
  if (origin == 1 && offset >= 0) {
    distance = offset;
  } else if (origin == 0 && static_cast<std::int64_t>(offset) > position) {
    distance = offset - position;
  } else {
    throw EDecompressionError(kSInvalidStreamOperation);
  }
  char scrap[kSkipPiece];
  while (distance > 0) {
    const std::int32_t piece = distance < kSkipPiece ? static_cast<std::int32_t>(distance) : kSkipPiece;
    ReadExact(scrap, piece);
    distance -= piece;
  }
  const std::int64_t now = static_cast<std::int64_t>(zStream_.total_out);
  return now > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                        : static_cast<std::int32_t>(now);
}

}  // namespace plf
