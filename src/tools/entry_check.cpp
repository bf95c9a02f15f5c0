#include "tools/entry_check.h"

#include <zlib.h>

#include <cstring>
#include <new>
#include <vector>

#include "package/records.h"
#include "runtime/stream.h"

namespace plf::tools {

namespace {

constexpr std::int32_t kPiece = 65536;

EntryVerdict Verdict(EntryState state, const std::string& reason, std::int64_t inflated = 0) {
  EntryVerdict v;
  v.state = state;
  v.reason = reason;
  v.inflated = inflated;
  return v;
}

std::string Bytes(std::int64_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// Why OpenEntry would refuse the entry, in the order the reader tests.
std::string WhyUnopenable(const TPreLoadEntry& e, std::int32_t directoryOffset) {
  if (e.dataOffset < kDataAreaStart)
    return "its data offset " + std::to_string(e.dataOffset) + " lies before the data area, which starts at " +
           std::to_string(kDataAreaStart);
  if (e.compressedSize < 0) return "its compressed size " + std::to_string(e.compressedSize) + " is negative";
  return "its data (" + Bytes(e.compressedSize) + " at offset " + std::to_string(e.dataOffset) +
         ") runs past the directory at offset " + std::to_string(directoryOffset);
}

struct InflateGuard {
  z_stream* z;
  ~InflateGuard() { inflateEnd(z); }
};

std::string ZlibProblem(int result, const z_stream& z) {
  const std::string at = " (at compressed byte " + std::to_string(z.total_in) + ")";
  if (result == Z_NEED_DICT) return "its zlib stream asks for a preset dictionary, which packages never use";
  const std::string message = z.msg != nullptr ? z.msg : "";
  if (message == "incorrect data check") return "its Adler-32 checksum does not match its data";
  if (message == "incorrect header check" || message == "unknown compression method" ||
      message == "invalid window size")
    return "its zlib header is damaged (" + message + ")";
  return "its compressed data is damaged: " + (message.empty() ? "zlib error " + std::to_string(result) : message) +
         at;
}

}  // namespace

EntryVerdict CheckEntry(const TPreLoadEntry& e, std::int32_t directoryOffset, TStream& package) {
  if (e.dataOffset < kDataAreaStart || e.compressedSize < 0 ||
      std::int64_t{e.dataOffset} + e.compressedSize > directoryOffset)
    return Verdict(EntryState::Unopenable, WhyUnopenable(e, directoryOffset));
  if (e.uncompressedSize < 0)
    return Verdict(EntryState::Damaged,
                   "its record gives a negative uncompressed size (" + std::to_string(e.uncompressedSize) + ")");
  if (e.compressedSize == 0) {
    if (e.uncompressedSize != 0)
      return Verdict(EntryState::Damaged, "it has no data, but its record gives " + Bytes(e.uncompressedSize));
    return Verdict(EntryState::Ok, "");
  }

  z_stream z;
  std::memset(&z, 0, sizeof z);
  const int init = inflateInit(&z);
  if (init == Z_MEM_ERROR) throw std::bad_alloc();
  if (init != Z_OK) return Verdict(EntryState::Damaged, "zlib cannot be set up (error " + std::to_string(init) + ")");
  InflateGuard guard{&z};

  std::vector<unsigned char> in(kPiece), out(kPiece);
  std::int64_t inflated = 0;
  std::int32_t left = e.compressedSize;
  std::int32_t position = e.dataOffset;
  int result = Z_OK;
  while (result != Z_STREAM_END) {
    if (z.avail_in == 0) {
      if (left == 0) break;
      const std::int32_t want = left < kPiece ? left : kPiece;
      if (package.Seek(position, 0) != position) return Verdict(EntryState::Damaged, "its data cannot be read", inflated);
      const std::int32_t got = package.Read(in.data(), want);
      if (got <= 0) return Verdict(EntryState::Damaged, "the package file ends inside its data", inflated);
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(got);
      left -= got;
      position += got;
    }
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    result = inflate(&z, Z_NO_FLUSH);
    inflated += static_cast<std::int64_t>(out.size() - z.avail_out);
    if (result == Z_MEM_ERROR) throw std::bad_alloc();
    if (result == Z_NEED_DICT || result == Z_DATA_ERROR || result == Z_STREAM_ERROR)
      return Verdict(EntryState::Damaged, ZlibProblem(result, z), inflated);
    // No need to inflate a bomb to its end to know that it is wrong.
    if (inflated > e.uncompressedSize)
      return Verdict(EntryState::Damaged,
                     "it inflates to more than the " + Bytes(e.uncompressedSize) + " its record gives", inflated);
    // Z_BUF_ERROR: no progress possible with what is there; more input follows.
  }

  if (result != Z_STREAM_END)
    return Verdict(EntryState::Damaged,
                   "its compressed data ends before its zlib stream does, so its checksum was never checked",
                   inflated);
  const std::int64_t trailing = static_cast<std::int64_t>(z.avail_in) + left;
  if (trailing > 0)
    return Verdict(EntryState::Damaged,
                   Bytes(trailing) + (trailing == 1 ? " follows" : " follow") + " the end of its zlib stream", inflated);
  if (inflated != e.uncompressedSize)
    return Verdict(EntryState::Damaged,
                   "it inflates to " + Bytes(inflated) + ", but its record gives " + Bytes(e.uncompressedSize),
                   inflated);
  return Verdict(EntryState::Ok, "", inflated);
}

}  // namespace plf::tools
