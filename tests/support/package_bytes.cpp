#include "support/package_bytes.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace plf::test {

std::string Le32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

std::string FileHeaderBytes(std::int32_t directoryOffset, std::uint32_t version) {
  return "ZLIB_PLF" + Le32(version) + Le32s(directoryOffset) + Le32(0);
}

std::string DirHeaderBytes(std::int32_t count, std::uint32_t value) {
  return "ZLIB_DIR" + Le32(0) + Le32s(count) + Le32(value);
}

std::string RecordBytes(const RawRecord& r) {
  const std::int32_t length =
      r.length >= 0 ? r.length : static_cast<std::int32_t>(std::max<std::size_t>(40, 25 + r.name.size()));
  std::string s = Le32s(length) + Le32s(r.dataOffset) + Le32s(r.compressedSize) + Le32s(r.uncompressedSize) +
                  Le32(0) + std::string(reinterpret_cast<const char*>(r.date.data()), 4) + Le32(0);
  s += static_cast<char>(r.nameLengthByte >= 0 ? r.nameLengthByte : static_cast<int>(r.name.size()));
  s += r.name;
  const std::size_t total = static_cast<std::size_t>(length) + 4;
  s.resize(total, '\0');
  return s;
}

std::string PackageBytes(const std::string& data, const std::vector<std::string>& records, std::int32_t count) {
  std::string s = FileHeaderBytes(static_cast<std::int32_t>(20 + data.size())) + data +
                  DirHeaderBytes(count != kRecordCount ? count : static_cast<std::int32_t>(records.size()));
  for (const std::string& r : records) s += r;
  return s;
}

std::int32_t FieldAt(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 4; i-- > 0;) v = v << 8 | static_cast<unsigned char>(bytes.at(at + i));
  return static_cast<std::int32_t>(v);
}

void SetFieldAt(std::string* bytes, std::size_t at, std::int32_t value) { bytes->replace(at, 4, Le32s(value)); }

std::size_t RecordOffset(const std::string& package, int index) {
  std::size_t at = static_cast<std::size_t>(FieldAt(package, 12)) + 20;
  for (int i = 0; i < index; ++i) at += 4 + static_cast<std::size_t>(FieldAt(package, at));
  return at;
}

namespace {
std::string DeflateWith(const std::string& data, int level, const std::string* dictionary) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (deflateInit2(&z, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  if (dictionary != nullptr)
    deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(dictionary->data()), static_cast<uInt>(dictionary->size()));
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}
}  // namespace

std::string ZlibCompress(const std::string& data, int level) { return DeflateWith(data, level, nullptr); }
std::string ZlibWithDictionary(const std::string& data, const std::string& dictionary) {
  return DeflateWith(data, 6, &dictionary);
}

}  // namespace plf::test
