#include "package/records.h"

#include <cstring>
#include <limits>

#include "runtime/calendar.h"
#include "runtime/exceptions.h"
#include "runtime/platform.h"

namespace plf {

namespace {

// The years a signed year byte can hold.
constexpr int kFirstStorableYear = 2000 - 128;
constexpr int kLastStorableYear = 2000 + 127;

std::uint8_t ByteAt(const std::uint8_t* record, std::size_t size, std::size_t at) {
  return at < size ? record[at] : 0;
}

std::uint32_t WordAt(const std::uint8_t* record, std::size_t size, std::size_t at) {
  std::uint8_t b[4];
  for (std::size_t i = 0; i < 4; ++i) b[i] = ByteAt(record, size, at + i);
  return LoadLE32(b);
}

std::int32_t ToSigned(std::uint32_t v) {
  if (v <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) return static_cast<std::int32_t>(v);
  return -static_cast<std::int32_t>(~v) - 1;
}

}  // namespace

std::uint32_t LoadLE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::int32_t LoadLE32Signed(const std::uint8_t* p) { return ToSigned(LoadLE32(p)); }

void StoreLE32(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  p[2] = static_cast<std::uint8_t>(value >> 16);
  p[3] = static_cast<std::uint8_t>(value >> 24);
}

TPreLoadFileHeader TPreLoadFileHeader::Decode(const std::uint8_t* bytes) {
  TPreLoadFileHeader h;
  std::memcpy(h.magic, bytes, sizeof h.magic);
  h.version = LoadLE32(bytes + 8);
  h.directoryOffset = LoadLE32Signed(bytes + 12);
  h.reserved = LoadLE32(bytes + 16);
  return h;
}

void TPreLoadFileHeader::Encode(std::uint8_t* bytes) const {
  std::memcpy(bytes, magic, sizeof magic);
  StoreLE32(bytes + 8, version);
  StoreLE32(bytes + 12, static_cast<std::uint32_t>(directoryOffset));
  StoreLE32(bytes + 16, reserved);
}

TPreLoadDirHeader TPreLoadDirHeader::Decode(const std::uint8_t* bytes) {
  TPreLoadDirHeader h;
  std::memcpy(h.tag, bytes, sizeof h.tag);
  h.reserved = LoadLE32(bytes + 8);
  h.count = LoadLE32Signed(bytes + 12);
  h.value = LoadLE32(bytes + 16);
  return h;
}

void TPreLoadDirHeader::Encode(std::uint8_t* bytes) const {
  std::memcpy(bytes, tag, sizeof tag);
  StoreLE32(bytes + 8, reserved);
  StoreLE32(bytes + 12, static_cast<std::uint32_t>(count));
  StoreLE32(bytes + 16, value);
}

bool PackedDate::FromCalendar(int year, int month, int day, PackedDate* date) {
  if (year < kFirstStorableYear || year > kLastStorableYear || !IsValidDate(year, month, day)) return false;
  const int offset = year - 2000;
  date->bytes[0] = static_cast<std::uint8_t>(offset < 0 ? offset + 256 : offset);
  date->bytes[1] = static_cast<std::uint8_t>(month);
  date->bytes[2] = static_cast<std::uint8_t>(day);
  date->bytes[3] = 0;
  return true;
}

bool PackedDate::operator==(const PackedDate& o) const { return std::memcmp(bytes, o.bytes, sizeof bytes) == 0; }

double DecodePackedDate(const PackedDate& date) {
  const int month = date.bytes[1];
  const int day = date.bytes[2];
  if (month == 0 || month > 12 || day == 0 || day > 31) return 0;
  const int yearByte = date.bytes[0];
  const int year = 2000 + (yearByte < 128 ? yearByte : yearByte - 256);
  double result = 0;
  if (!EncodeDate(year, month, day, &result)) return 0;
  return result;
}

std::int32_t TPreLoadEntry::LengthFor(std::size_t nameLength) {
  const std::size_t needed = 25 + nameLength;
  return needed < static_cast<std::size_t>(kMinRecordLength) ? kMinRecordLength : static_cast<std::int32_t>(needed);
}

TPreLoadEntry TPreLoadEntry::Decode(const std::uint8_t* record, std::size_t size) {
  TPreLoadEntry e;
  e.length = ToSigned(WordAt(record, size, 0));
  e.dataOffset = ToSigned(WordAt(record, size, 4));
  e.compressedSize = ToSigned(WordAt(record, size, 8));
  e.uncompressedSize = ToSigned(WordAt(record, size, 12));
  e.reserved1 = WordAt(record, size, 16);
  for (std::size_t i = 0; i < 4; ++i) e.date.bytes[i] = ByteAt(record, size, 20 + i);
  e.reserved2 = WordAt(record, size, 24);

  // The name ends where the record ends, whatever its length byte claims.
  const std::int64_t recordEnd = e.length < 0 ? 0 : static_cast<std::int64_t>(e.length) + 4;
  const std::int64_t nameStart = kRecordNameOffset + 1;
  std::int64_t nameEnd = nameStart + ByteAt(record, size, kRecordNameOffset);
  if (nameEnd > recordEnd) nameEnd = recordEnd;
  for (std::int64_t i = nameStart; i < nameEnd; ++i)
    e.name.push_back(static_cast<char>(ByteAt(record, size, static_cast<std::size_t>(i))));
  return e;
}

std::string TPreLoadEntry::Encode() const {
  if (name.size() > kMaxEntryNameLength || length < 25 || static_cast<std::size_t>(length) < 25 + name.size())
    throw Exception(Format("Entry name \"%s\" does not fit its record", {Sys().AnsiToUtf8(name)}));
  std::string out(static_cast<std::size_t>(length) + 4, '\0');
  auto* p = reinterpret_cast<std::uint8_t*>(&out[0]);
  StoreLE32(p, static_cast<std::uint32_t>(length));
  StoreLE32(p + 4, static_cast<std::uint32_t>(dataOffset));
  StoreLE32(p + 8, static_cast<std::uint32_t>(compressedSize));
  StoreLE32(p + 12, static_cast<std::uint32_t>(uncompressedSize));
  StoreLE32(p + 16, reserved1);
  std::memcpy(p + 20, date.bytes, sizeof date.bytes);
  StoreLE32(p + 24, reserved2);
  p[kRecordNameOffset] = static_cast<std::uint8_t>(name.size());
  std::memcpy(p + kRecordNameOffset + 1, name.data(), name.size());
  return out;
}

}  // namespace plf
