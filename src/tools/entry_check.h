// The integrity test of a package's entries: each entry's compressed bytes
// are inflated in full, so that zlib verifies the Adler-32 checksum, and the
// count of bytes produced is compared with the size the record gives. The
// test is stricter than the installer, which stops reading at the recorded
// size: data cut short, bytes after the end of the zlib stream and a size
// that disagrees are all reported.
#pragma once

#include <cstdint>
#include <string>

namespace plf {
struct TPreLoadEntry;
class TStream;
}  // namespace plf

namespace plf::tools {

enum class EntryState { Ok, Damaged, Unopenable };

struct EntryVerdict {
  EntryState state = EntryState::Ok;
  std::string reason;     // one sentence without a final period; empty when Ok
  std::int64_t inflated = 0;  // bytes produced before the test stopped
};

// Tests the entry of record `e`, reading its bytes from `package`, an open
// stream on the package file whose directory starts at `directoryOffset`.
// Raises only when memory runs out.
EntryVerdict CheckEntry(const TPreLoadEntry& e, std::int32_t directoryOffset, TStream& package);

}  // namespace plf::tools
