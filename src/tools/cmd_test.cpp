// plf test: every entry inflated and checked against its record.
#include <ostream>
#include <string>
#include <vector>

#include "package/preload_reader.h"
#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "runtime/stream.h"
#include "tools/cli.h"
#include "tools/commands.h"
#include "tools/entry_check.h"

namespace plf::tools {

namespace {

constexpr const char kTestHelp[] =
    "Usage: plf test [OPTIONS] PACKAGE\n"
    "\n"
    "Inflates every entry of PACKAGE in full, which checks its Adler-32\n"
    "checksum, and compares the bytes it gives with the size its record\n"
    "states. Shows one row per entry: \"ok\", or why it is damaged or cannot\n"
    "be opened. Stricter than the installer, which reads only the recorded\n"
    "size: data cut short and bytes after the end of an entry's data are\n"
    "reported too.\n"
    "\n"
    "Options:\n"
    "      --json   print the result as JSON\n"
    "  -h, --help   show this help\n"
    "\n"
    "Exit code 1 when an entry is damaged or cannot be opened.\n";

constexpr std::uint16_t kReadShared = 0x20;

const char* StateName(EntryState state) {
  switch (state) {
    case EntryState::Ok:
      return "ok";
    case EntryState::Damaged:
      return "damaged";
    case EntryState::Unopenable:
      return "unopenable";
  }
  return "?";
}

}  // namespace

int TestCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ParsedArguments parsed;
  std::string problem;
  if (!ParseArguments(args, {{nullptr, "--json", nullptr}}, &parsed, &problem)) return UsageError(err, "test", problem);
  if (parsed.help) {
    out << kTestHelp;
    return kExitOk;
  }
  if (parsed.positional.size() != 1)
    return UsageError(err, "test", parsed.positional.empty() ? "no PACKAGE given" : "give one PACKAGE only");
  const std::string& package = parsed.positional[0];

  std::vector<std::string> names;
  std::vector<EntryVerdict> verdicts;
  try {
    TPreLoadReader reader(package);
    TFileStream data(package, kReadShared);
    for (int i = 0; i < reader.EntryCount(); ++i) {
      names.push_back(reader.EntryName(i));
      verdicts.push_back(CheckEntry(reader, i, data));
    }
  } catch (const Exception& e) {
    return Failure(err, "test", Shown(package) + ": " + e.Message());
  } catch (const std::bad_alloc&) {
    return Failure(err, "test", Shown(package) + ": out of memory");
  }

  int bad = 0;
  for (std::size_t i = 0; i < verdicts.size(); ++i) {
    if (verdicts[i].state == EntryState::Ok) continue;
    ++bad;
    err << "plf test: " << Shown(package) << ": entry " << i << " \"" << Shown(names[i]) << "\" is "
        << StateName(verdicts[i].state) << ": " << verdicts[i].reason << "\n";
  }

  if (parsed.Has("--json")) {
    JsonWriter j(out);
    j.BeginObject().Field("package", Sys().AnsiToUtf8(package)).Key("entries").BeginArray();
    for (std::size_t i = 0; i < verdicts.size(); ++i) {
      j.BeginObject().Field("index", static_cast<int>(i)).Field("name", Sys().AnsiToUtf8(names[i]));
      j.Field("state", StateName(verdicts[i].state));
      if (verdicts[i].state != EntryState::Ok) j.Field("reason", verdicts[i].reason);
      j.EndObject();
    }
    j.EndArray().Field("damaged", bad).EndObject();
  } else {
    std::vector<std::vector<std::string>> rows{{"#", "Name", "Result"}};
    for (std::size_t i = 0; i < verdicts.size(); ++i)
      rows.push_back({std::to_string(i), Shown(names[i]),
                      verdicts[i].state == EntryState::Ok
                          ? "ok"
                          : std::string(StateName(verdicts[i].state)) + ": " + verdicts[i].reason});
    PrintTable(rows, {true, false, false}, out);
    out << verdicts.size() << (verdicts.size() == 1 ? " entry" : " entries") << ", ";
    out << (bad == 0 ? "all intact" : std::to_string(bad) + " damaged or unopenable") << "\n";
  }
  return bad == 0 ? kExitOk : kExitFailure;
}

}  // namespace plf::tools
