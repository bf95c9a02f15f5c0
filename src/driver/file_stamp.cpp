#include "driver/file_stamp.h"

#include "runtime/calendar.h"
#include "runtime/platform.h"
#include "runtime/stream.h"

namespace plf {

std::uint32_t StampToDos(double stamp) {
  DateTimeParts p;
  if (!DecodeDateTime(stamp, &p) || p.year < 1980 || p.year > 2099) return 0;
  const std::uint32_t date = static_cast<std::uint32_t>(p.day + p.month * 32 + (p.year - 1980) * 512);
  const std::uint32_t time = static_cast<std::uint32_t>(p.second / 2 + p.minute * 32 + p.hour * 2048);
  return date << 16 | time;
}

bool StampFileTime(double stamp, std::int64_t* utc) {
  if (!(stamp > 0)) return false;
  const std::uint32_t dos = StampToDos(stamp);
  std::int64_t local = 0;
  return DosToFileTime(static_cast<std::uint16_t>(dos >> 16), static_cast<std::uint16_t>(dos & 0xFFFF), &local) &&
         Sys().LocalToUtc(local, utc);
}

void SetFileStamp(const std::string& path, double stamp) {
  if (!(stamp > 0)) return;
  const FileHandle h = FileOpen(path, 2);
  if (h == kInvalidHandle) return;
  std::int64_t utc = 0;
  if (StampFileTime(stamp, &utc)) Sys().SetLastWriteTime(h, utc);
  Sys().CloseFile(h);
}

}  // namespace plf
