#include "driver/entry.h"

#include <memory>
#include <new>

#include "driver/install.h"
#include "driver/verify.h"
#include "package/preload_reader.h"
#include "streams/safe_release.h"
#include "text/ini_string_list.h"
#include "text/textutil.h"

#include "runtime/exceptions.h"
#include "runtime/file_tests.h"
#include "runtime/platform.h"
#include "runtime/stream.h"
#include "text/message_box.h"

namespace plf {

namespace {

// The module path is a full path, so its folder ends at the last separator.
// A ":" is no delimiter there: on POSIX it is a file-name character, and an
// installer copied as "setup:v2" still finds the package beside it.
std::string PackageFolder(const std::string& modulePath) {
  const std::string::size_type cut = modulePath.rfind(Sys().PathSeparator());
  return cut == std::string::npos ? std::string() : modulePath.substr(0, cut + 1);
}

}  // namespace

void RunInstall() {
  const std::string packagePath = PackageFolder(Sys().ModulePath()) + kPackageName;
  // A real package dated before 1980 (reproducible builds stamp 0) is still
  // a package: only a folder or nothing at the path counts as missing.
  if (!FilePresent(packagePath)) {
    ShowWarning(Format(kSPackageNotFound, {kPackageName}));
    return;
  }

  // Members are released in reverse order of declaration: the script stream
  // first, then the reader, then the script (the entry stream reads through
  // the reader's file).
  std::unique_ptr<TIniStringList> script;
  TPreLoadReader reader(packagePath);
  std::unique_ptr<TStream> scriptStream;

  const int index = reader.FindEntry("SCRIPT");
  if (index < 0) ExitBadFormat();
  std::int32_t scriptSize = 0;
  reader.OpenEntry(index, &scriptStream, &scriptSize);  // unopenable: empty script
  script = std::make_unique<TIniStringList>();
  std::string text;
  ReadStreamToString(scriptStream.get(), scriptSize, &text);
  scriptStream.reset();
  script->LoadText(text);

  if (script->FindSection("Verify") == -1 || VerifyScript(*script)) InstallFiles(reader, *script);
}

void ExitBadFormat() {
  ShowWarning(Format(kSBadFormat, {kPackageName}));
  throw ProcessExit{1};
}

void ReadStreamToString(TStream* stream, std::int32_t count, std::string* text) {
  text->clear();
  if (stream == nullptr) return;
  if (count < 0) count = stream->Size() - stream->Position();
  if (count <= 0) return;
  // Grow with what arrives, so a tiny entry that records a huge size fails
  // with a read error instead of a huge allocation.
  constexpr std::int32_t kPiece = 65536;
  while (count > 0) {
    const std::int32_t want = count < kPiece ? count : kPiece;
    const std::size_t at = text->size();
    text->resize(at + static_cast<std::size_t>(want));
    stream->ReadExact(&(*text)[at], want);
    count -= want;
  }
}

int InstallerMain() {
  BuildCaseTables();
  Sys().InitMessageQueue();
  int code = 0;
  try {
    RunInstall();
  } catch (const ProcessExit& e) {
    code = e.code;
  } catch (const Exception& e) {
    ShowError(e.Message());
    code = 1;
  } catch (const std::bad_alloc&) {
    ShowError("Out of memory");
    code = 1;
  } catch (const std::exception& e) {
    ShowError(e.what());
    code = 1;
  } catch (...) {
    ShowError("Unexpected error");
    code = 1;
  }
  RunTempFilesExitStep();
  return code;
}

}  // namespace plf
