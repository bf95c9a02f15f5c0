// plf test: the whole file checked against the package format, byte by
// byte, and every entry inflated and checked against its record. It reads
// the file itself rather than through the installer's reader, which
// forgives what it can (a cut last record, bytes after the directory).
#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "package/records.h"
#include "runtime/platform.h"
#include "runtime/stream.h"
#include "tools/atomic_file.h"
#include "tools/cli.h"
#include "tools/commands.h"
#include "tools/entry_check.h"

namespace plf::tools {

namespace {

constexpr const char kTestHelp[] =
    "Usage: plf test [OPTIONS] PACKAGE [NAME...]\n"
    "\n"
    "Checks PACKAGE as strictly as the format allows: the header; every\n"
    "directory record lying whole inside the directory, with its name inside\n"
    "its record and free of NUL bytes; the directory ending exactly where\n"
    "the file ends (nothing cut off, nothing appended); every entry's data\n"
    "inside the data area and overlapping no other entry's. Then it inflates\n"
    "every entry in full, which checks its Adler-32 checksum, and compares\n"
    "the bytes it gives and the compressed bytes it takes with the sizes its\n"
    "record states. Shows one row per entry: \"ok\", or what is wrong and at\n"
    "which byte offset of the file; then what is wrong outside the entries.\n"
    "With NAMEs only the entries they match are shown and counted (letter\n"
    "case ignored, \"/\" or \"\\\" between folders, \"*\" and \"?\" as wildcards).\n"
    "\n"
    "Options:\n"
    "      --json   print the result as JSON\n"
    "  -h, --help   show this help\n"
    "\n"
    "Exit code 1 when anything is damaged.\n";

constexpr std::size_t kWindow = 65536;
constexpr std::int64_t kNoEntry = -1;

std::string Bytes(std::int64_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

std::string Hex32(std::uint32_t v) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) s += kHex[(v >> shift) & 15];
  return s;
}

// Reads the file at absolute offsets through a buffer, so that a directory
// of many small records costs few system calls.
class FileBytes {
 public:
  explicit FileBytes(TStream& s) : stream_(s), buffer_(kWindow) {}

  // Copies up to `count` bytes at `at`; fewer at the end of the file.
  std::size_t Get(std::int64_t at, std::size_t count, std::uint8_t* out) {
    std::size_t done = 0;
    while (done < count) {
      const std::int64_t pos = at + static_cast<std::int64_t>(done);
      if (pos < start_ || pos >= start_ + static_cast<std::int64_t>(filled_)) {
        if (!Fill(pos)) break;
      }
      const std::size_t offset = static_cast<std::size_t>(pos - start_);
      const std::size_t n = std::min(count - done, filled_ - offset);
      std::memcpy(out + done, buffer_.data() + offset, n);
      done += n;
    }
    return done;
  }

 private:
  bool Fill(std::int64_t pos) {
    start_ = pos;
    filled_ = 0;
    if (stream_.Seek(static_cast<std::int32_t>(pos), 0) != pos) return false;
    const std::int32_t n = stream_.Read(buffer_.data(), static_cast<std::int32_t>(buffer_.size()));
    filled_ = n > 0 ? static_cast<std::size_t>(n) : 0;
    return filled_ > 0;
  }

  TStream& stream_;
  std::vector<std::uint8_t> buffer_;
  std::int64_t start_ = 0;
  std::size_t filled_ = 0;
};

struct Finding {
  std::int64_t entry;   // index, or kNoEntry for the header and the directory as a whole
  std::int64_t offset;  // in the file
  std::string text;
};

struct Record {
  std::int64_t at = 0;  // of its length field
  TPreLoadEntry e;
  bool fieldsRead = false;  // the record is whole, so its data can be looked at
  bool unopenable = false;
};

struct Scan {
  std::vector<Record> records;
  std::vector<Finding> findings;
};

bool MagicIs(const std::uint8_t* bytes, const char* magic) { return std::memcmp(bytes, magic, 8) == 0; }

// The header and the directory. Stops where the bytes no longer tell where
// the next record would start.
void ScanDirectory(FileBytes& file, std::int64_t size, std::int32_t* directoryOffset, Scan* scan) {
  auto add = [&](std::int64_t entry, std::int64_t offset, const std::string& text) {
    scan->findings.push_back({entry, offset, text});
  };
  std::uint8_t header[kFileHeaderSize];
  if (size < kFileHeaderSize || file.Get(0, sizeof header, header) != sizeof header) {
    add(kNoEntry, 0, "the file ends inside its 20-byte header, after " + Bytes(size < 0 ? 0 : size));
    return;
  }
  const TPreLoadFileHeader h = TPreLoadFileHeader::Decode(header);
  if (h.version != kPreLoadVersion) {
    add(kNoEntry, 8, "the version word is " + Hex32(h.version) + ", not " + Hex32(kPreLoadVersion) + ": this is no package");
    return;
  }
  if (!MagicIs(header, TPreLoadFileHeader().magic)) add(kNoEntry, 0, "the header does not start with \"ZLIB_PLF\"");
  const std::int32_t d = h.directoryOffset;
  *directoryOffset = d;
  if (d < kFileHeaderSize || std::int64_t{d} + kDirHeaderSize > size) {
    add(kNoEntry, 12,
        "the directory offset " + std::to_string(d) + " leaves no room for the 20-byte directory header between the "
        "file header and the end of the file at offset " + std::to_string(size));
    return;
  }
  std::uint8_t dirHeader[kDirHeaderSize];
  file.Get(d, sizeof dirHeader, dirHeader);
  const TPreLoadDirHeader dh = TPreLoadDirHeader::Decode(dirHeader);
  if (!MagicIs(dirHeader, TPreLoadDirHeader().tag)) add(kNoEntry, d, "the directory header does not start with \"ZLIB_DIR\"");
  if (dh.count < 0) add(kNoEntry, std::int64_t{d} + 12, "the record count " + std::to_string(dh.count) + " is negative");

  std::int64_t at = std::int64_t{d} + kDirHeaderSize;
  std::vector<std::uint8_t> bytes;
  for (std::int32_t i = 0; i < dh.count; ++i) {
    if (at + 4 > size) {
      add(kNoEntry, at,
          "the file ends before record " + std::to_string(i) + " of the " + std::to_string(dh.count) +
              " that the directory lists");
      return;
    }
    std::uint8_t lengthField[4];
    file.Get(at, 4, lengthField);
    const std::int32_t length = LoadLE32Signed(lengthField);
    Record r;
    r.at = at;
    if (length < kMinRecordLength || length > kMaxRecordLength) {
      scan->records.push_back(r);
      add(i, at,
          "its record length " + std::to_string(length) + " lies outside " + std::to_string(kMinRecordLength) +
              ".." + std::to_string(kMaxRecordLength) + ", so no record after it can be found");
      return;
    }
    const std::size_t whole = static_cast<std::size_t>(length) + 4;
    bytes.assign(whole, 0);
    const std::size_t got = file.Get(at, whole, bytes.data());
    r.e = TPreLoadEntry::Decode(bytes.data(), got);
    if (got < whole) {
      scan->records.push_back(r);
      add(i, at,
          "its record (" + Bytes(static_cast<std::int64_t>(whole)) + ") runs past the end of the file, which has " +
              Bytes(static_cast<std::int64_t>(got)) + " of it");
      return;
    }
    r.fieldsRead = true;
    const std::size_t nameLength = bytes[kRecordNameOffset];
    if (kRecordNameOffset + 1 + nameLength > whole)
      add(i, at + kRecordNameOffset,
          "its name of " + Bytes(static_cast<std::int64_t>(nameLength)) + " runs past the end of its record");
    const std::string::size_type nul = r.e.name.find('\0');
    if (nul != std::string::npos)
      add(i, at + kRecordNameOffset + 1 + static_cast<std::int64_t>(nul),
          "its name holds a NUL byte, where the installer's text would end");
    scan->records.push_back(r);
    at += static_cast<std::int64_t>(whole);
  }
  if (at < size) add(kNoEntry, at, Bytes(size - at) + (size - at == 1 ? " follows" : " follow") + " the end of the directory");
}

// The data area: inside it, no overlaps, and every stream whole.
void ScanData(TStream& stream, std::int32_t directoryOffset, Scan* scan) {
  struct Area {
    std::int64_t start, end;
    std::size_t index;
  };
  std::vector<Area> areas;
  for (std::size_t i = 0; i < scan->records.size(); ++i) {
    Record& r = scan->records[i];
    if (!r.fieldsRead) continue;
    const EntryVerdict v = CheckEntry(r.e, directoryOffset, stream);
    if (v.state != EntryState::Ok)
      scan->findings.push_back({static_cast<std::int64_t>(i), r.e.dataOffset, v.reason});
    r.unopenable = v.state == EntryState::Unopenable;
    if (!r.unopenable && r.e.compressedSize > 0)
      areas.push_back({r.e.dataOffset, std::int64_t{r.e.dataOffset} + r.e.compressedSize, i});
  }
  std::sort(areas.begin(), areas.end(),
            [](const Area& a, const Area& b) { return a.start != b.start ? a.start < b.start : a.index < b.index; });
  const Area* reach = nullptr;  // the area seen so far that ends last
  for (const Area& a : areas) {
    if (reach != nullptr && a.start < reach->end) {
      const Record& other = scan->records[reach->index];
      scan->findings.push_back({static_cast<std::int64_t>(a.index), a.start,
                                "its data (" + Bytes(a.end - a.start) + ") overlaps the data of entry " +
                                    std::to_string(reach->index) + " \"" + Shown(other.e.name) + "\" (" +
                                    Bytes(reach->end - reach->start) + " at offset " + std::to_string(reach->start) +
                                    ")"});
    }
    if (reach == nullptr || a.end > reach->end) reach = &a;
  }
}

// Closes the handle however the test ends.
struct HandleGuard {
  FileHandle h;
  ~HandleGuard() {
    if (h != kInvalidHandle) Sys().CloseFile(h);
  }
};

}  // namespace

int TestCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ParsedArguments parsed;
  std::string problem;
  if (!ParseArguments(args, {{nullptr, "--json", nullptr}}, &parsed, &problem)) return UsageError(err, "test", problem);
  if (parsed.help) {
    out << kTestHelp;
    return kExitOk;
  }
  if (parsed.positional.empty()) return UsageError(err, "test", "no PACKAGE given");
  const std::string& package = parsed.positional[0];
  const std::vector<std::string> patterns(parsed.positional.begin() + 1, parsed.positional.end());

  const std::uint32_t attributes = Sys().GetAttributes(package);
  if (attributes != kInvalidAttributes && (attributes & kAttrDirectory) != 0)
    return Failure(err, "test", Shown(package) + ": is a folder, not a package");
  HandleGuard guard{Sys().OpenFile(package, Access::Read, Share::Read, Disposition::OpenExisting)};
  if (guard.h == kInvalidHandle) return Failure(err, "test", Shown(package) + ": cannot be opened: " + LastSystemError());
  THandleStream stream(guard.h);
  const std::int64_t size = Sys().SeekFile(guard.h, 0, 2);
  if (size < 0) return Failure(err, "test", Shown(package) + ": its size cannot be read: " + LastSystemError());

  Scan scan;
  try {
    if (size > 0x7FFFFFFF) {
      scan.findings.push_back({kNoEntry, 0x7FFFFFFF, "the file is 2 GiB or larger, which no package can be"});
    } else {
      FileBytes bytes(stream);
      std::int32_t directoryOffset = 0;
      ScanDirectory(bytes, size, &directoryOffset, &scan);
      ScanData(stream, directoryOffset, &scan);
    }
  } catch (const std::bad_alloc&) {
    return Failure(err, "test", Shown(package) + ": out of memory");
  }

  // Entries not asked for are not shown, and their damage is not counted.
  std::vector<std::string> recordNames;
  for (const Record& r : scan.records) recordNames.push_back(r.e.name);
  std::vector<std::string> unmatched;
  std::vector<bool> wanted(scan.records.size(), false);
  for (std::size_t i : SelectEntries(recordNames, patterns, &unmatched)) wanted[i] = true;
  scan.findings.erase(std::remove_if(scan.findings.begin(), scan.findings.end(),
                                     [&](const Finding& f) {
                                       return f.entry != kNoEntry && !wanted[static_cast<std::size_t>(f.entry)];
                                     }),
                      scan.findings.end());
  for (const std::string& p : unmatched)
    err << "plf test: " << Shown(package) << ": no entry matches \"" << Shown(p) << "\"\n";

  std::stable_sort(scan.findings.begin(), scan.findings.end(), [](const Finding& a, const Finding& b) {
    const std::int64_t ka = a.entry == kNoEntry ? 0x7FFFFFFFFFFF : a.entry;
    const std::int64_t kb = b.entry == kNoEntry ? 0x7FFFFFFFFFFF : b.entry;
    return ka < kb;
  });
  const std::size_t count = scan.records.size();
  std::vector<std::vector<const Finding*>> byEntry(count);
  std::vector<const Finding*> outside;
  for (const Finding& f : scan.findings) {
    if (f.entry == kNoEntry)
      outside.push_back(&f);
    else
      byEntry[static_cast<std::size_t>(f.entry)].push_back(&f);
  }
  auto name = [&](std::size_t i) { return scan.records[i].e.name; };
  auto state = [&](std::size_t i) {
    return byEntry[i].empty() ? "ok" : scan.records[i].unopenable ? "unopenable" : "damaged";
  };
  std::size_t bad = 0;
  for (const auto& list : byEntry) bad += list.empty() ? 0 : 1;

  for (const Finding& f : scan.findings) {
    err << "plf test: " << Shown(package) << ": ";
    if (f.entry != kNoEntry) err << "entry " << f.entry << " \"" << Shown(name(static_cast<std::size_t>(f.entry))) << "\" ";
    err << (f.entry != kNoEntry ? "at offset " : "offset ") << f.offset << ": " << f.text << "\n";
  }

  if (parsed.Has("--json")) {
    JsonWriter j(out);
    j.BeginObject().Field("package", Sys().AnsiToUtf8(package)).Key("entries").BeginArray();
    for (std::size_t i = 0; i < count; ++i) {
      if (!wanted[i]) continue;
      j.BeginObject().Field("index", static_cast<std::int64_t>(i)).Field("name", Sys().AnsiToUtf8(name(i)));
      j.Field("state", state(i));
      if (!byEntry[i].empty()) {
        j.Key("findings").BeginArray();
        for (const Finding* f : byEntry[i]) j.BeginObject().Field("offset", f->offset).Field("reason", f->text).EndObject();
        j.EndArray();
      }
      j.EndObject();
    }
    j.EndArray().Key("package_findings").BeginArray();
    for (const Finding* f : outside) j.BeginObject().Field("offset", f->offset).Field("reason", f->text).EndObject();
    j.EndArray();
    j.Field("damaged", static_cast<std::int64_t>(bad)).Field("intact", scan.findings.empty()).EndObject();
  } else {
    std::vector<std::vector<std::string>> rows{{"#", "Name", "Result"}};
    for (std::size_t i = 0; i < count; ++i) {
      if (!wanted[i]) continue;
      std::string result = state(i);
      for (std::size_t k = 0; k < byEntry[i].size(); ++k)
        result += (k == 0 ? " at offset " : "; at offset ") + std::to_string(byEntry[i][k]->offset) + ": " +
                  byEntry[i][k]->text;
      rows.push_back({std::to_string(i), Shown(name(i)), result});
    }
    if (rows.size() > 1) PrintTable(rows, {true, false, false}, out);
    for (const Finding* f : outside) out << "offset " << f->offset << ": " << f->text << "\n";
    const auto shown = static_cast<std::size_t>(std::count(wanted.begin(), wanted.end(), true));
    out << shown << (shown == 1 ? " entry" : " entries") << ", ";
    if (scan.findings.empty()) {
      out << "all intact\n";
    } else {
      std::string summary;
      if (bad > 0) summary = std::to_string(bad) + " damaged or unopenable";
      if (!outside.empty())
        summary += (summary.empty() ? "" : ", ") + std::to_string(outside.size()) +
                   (outside.size() == 1 ? " problem" : " problems") + " outside the entries";
      out << summary << "\n";
    }
  }
  return scan.findings.empty() && unmatched.empty() ? kExitOk : kExitFailure;
}

}  // namespace plf::tools
