// The byte layout of a package file: a 20-byte file header, the entries'
// zlib data, then a 20-byte directory header followed by the entry records.
// All integers are little-endian and are (de)serialised byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plf {

inline constexpr std::uint32_t kPreLoadVersion = 0x173FE513u;
inline constexpr std::int32_t kFileHeaderSize = 20;
inline constexpr std::int32_t kDirHeaderSize = 20;
// Bounds of a record's length field (the bytes after the field itself).
inline constexpr std::int32_t kMinRecordLength = 40;
inline constexpr std::int32_t kMaxRecordLength = 16383;
inline constexpr std::int32_t kRecordNameOffset = 28;  // the name's length byte
inline constexpr std::size_t kMaxEntryNameLength = 255;
// The first byte that entry data may occupy.
inline constexpr std::int32_t kDataAreaStart = kFileHeaderSize;

std::uint32_t LoadLE32(const std::uint8_t* p);
void StoreLE32(std::uint8_t* p, std::uint32_t value);
std::int32_t LoadLE32Signed(const std::uint8_t* p);

struct TPreLoadFileHeader {
  char magic[8] = {'Z', 'L', 'I', 'B', '_', 'P', 'L', 'F'};
  std::uint32_t version = kPreLoadVersion;
  std::int32_t directoryOffset = kFileHeaderSize;
  std::uint32_t reserved = 0;

  static TPreLoadFileHeader Decode(const std::uint8_t* bytes);  // kFileHeaderSize bytes
  void Encode(std::uint8_t* bytes) const;
};

struct TPreLoadDirHeader {
  char tag[8] = {'Z', 'L', 'I', 'B', '_', 'D', 'I', 'R'};
  std::uint32_t reserved = 0;
  std::int32_t count = 0;  // 0 or less: no records
  std::uint32_t value = 0;  // kept by the reader, not interpreted

  static TPreLoadDirHeader Decode(const std::uint8_t* bytes);  // kDirHeaderSize bytes
  void Encode(std::uint8_t* bytes) const;
};

// An entry's date: year - 2000 as a signed byte, month, day, one spare byte.
// Month 0 or day 0 means "no date".
struct PackedDate {
  std::uint8_t bytes[4] = {0, 0, 0, 0};

  static PackedDate None() { return PackedDate(); }
  // False (and nothing stored) for a day that does not exist or a year
  // outside 1872..2127, which the year byte cannot hold.
  static bool FromCalendar(int year, int month, int day, PackedDate* date);
  bool operator==(const PackedDate& o) const;
  bool operator!=(const PackedDate& o) const { return !(*this == o); }
};

// The OLE date (whole days) of a packed date; 0 for "no date" and for a day
// that does not exist (31 April, 29 February of a common year, month 13).
double DecodePackedDate(const PackedDate& date);

// One directory record. `length` is the record's length field: the bytes
// that follow the field, at least 25 + the name's length.
struct TPreLoadEntry {
  std::int32_t length = kMinRecordLength;
  std::int32_t dataOffset = 0;
  std::int32_t compressedSize = 0;
  std::int32_t uncompressedSize = 0;
  std::uint32_t reserved1 = 0;  // record offset 16, not interpreted
  PackedDate date;
  std::uint32_t reserved2 = 0;  // record offset 24, not interpreted
  std::string name;

  // The length a record for `nameLength` needs: max(40, 25 + nameLength).
  static std::int32_t LengthFor(std::size_t nameLength);

  // Decodes a record held in `size` bytes that begin with the length field;
  // bytes beyond `size` count as zero. A name that runs past the record's
  // end (or past `size` bytes) is cut there, never read beyond.
  static TPreLoadEntry Decode(const std::uint8_t* record, std::size_t size);
  // The record as stored: length + 4 bytes, zero filler after the name. The
  // name must fit (at most 255 bytes, 25 + its length <= length).
  std::string Encode() const;
};

}  // namespace plf
