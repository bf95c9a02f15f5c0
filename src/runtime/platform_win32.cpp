// Win32 implementation of the platform layer. Files and names go through the
// ANSI (*A) calls, so paths stay in the system's code page exactly as the
// install script spells them; text that must read right whatever that code
// page is (message boxes, the string table, the module path) goes through the
// wide calls.
#include "runtime/platform.h"

#include <windows.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/resources.h"

// <windows.h> maps these to their A/W forms; here they name Platform members.
#undef CreateDirectory
#undef DeleteFile
#undef MessageBox
#undef MoveFile

namespace plf {

namespace {

HANDLE ToHandle(FileHandle h) { return reinterpret_cast<HANDLE>(h); }

// A FILETIME is unsigned; the layer's times are signed, so the upper half of
// the range is no time at all.
bool FromFileTime(const FILETIME& ft, std::int64_t* t) {
  const std::uint64_t v = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  if (v > static_cast<std::uint64_t>(INT64_MAX)) return false;
  *t = static_cast<std::int64_t>(v);
  return true;
}

bool ToFileTime(std::int64_t t, FILETIME* ft) {
  if (t < 0) return false;
  const std::uint64_t v = static_cast<std::uint64_t>(t);
  ft->dwLowDateTime = static_cast<DWORD>(v & 0xFFFFFFFFu);
  ft->dwHighDateTime = static_cast<DWORD>(v >> 32);
  return true;
}

// The conversion calls count in int; no text of this program comes near it.
int CallLength(std::size_t n) { return n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n); }

// UTF-16 text that always ends in a NUL. A vector rather than a wide string
// class: the library's wide strings would add some 35 KiB to the installer.
using WideText = std::vector<wchar_t>;

int WideLength(const WideText& text) { return CallLength(text.size() - 1); }

WideText Widen(const std::string& text, UINT codePage) {
  WideText wide(1, L'\0');
  if (text.empty()) return wide;
  const int length = CallLength(text.size());
  const int n = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (n <= 0) return wide;
  wide.assign(static_cast<std::size_t>(n) + 1, L'\0');
  const int done = MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), n);
  wide.resize(done > 0 ? static_cast<std::size_t>(done) + 1 : 1);
  wide.back() = L'\0';
  return wide;
}

// `lossy` (optional) reports a character that the code page cannot express;
// best-fit look-alikes count as lost, since a path spelt with them names
// another file.
std::string Narrow(const wchar_t* text, int length, UINT codePage, bool* lossy) {
  if (lossy != nullptr) *lossy = false;
  if (length <= 0) return std::string();
  // UTF-8 takes neither flags nor a default-character report (and an ANSI
  // code page may be UTF-8 on recent Windows).
  const bool utf8 = codePage == CP_UTF8 || (codePage == CP_ACP && GetACP() == CP_UTF8);
  DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* report = utf8 ? nullptr : &usedDefault;
  int n = WideCharToMultiByte(codePage, flags, text, length, nullptr, 0, nullptr, report);
  if (n <= 0 && flags != 0 && GetLastError() == ERROR_INVALID_FLAGS) {
    flags = 0;  // a code page without best-fit tables
    n = WideCharToMultiByte(codePage, flags, text, length, nullptr, 0, nullptr, report);
  }
  if (n <= 0) {
    if (lossy != nullptr) *lossy = true;
    return std::string();
  }
  std::string out(static_cast<std::size_t>(n), '\0');
  usedDefault = FALSE;
  const int done = WideCharToMultiByte(codePage, flags, text, length, &out[0], n, nullptr, report);
  out.resize(done > 0 ? static_cast<std::size_t>(done) : 0);
  if (lossy != nullptr) *lossy = done <= 0 || usedDefault != FALSE;
  return out;
}

std::string LocaleText(LCTYPE type, const char* fallback) {
  const int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, nullptr, 0);
  if (n <= 0) return fallback;
  std::vector<char> buffer(static_cast<std::size_t>(n) + 1, '\0');
  const int done = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer.data(), n);
  if (done <= 0) return fallback;
  return std::string(buffer.data());  // the count includes the closing NUL
}

// The executable's path without a length limit: the buffer grows while the
// result fills it.
WideText ModulePathWide() {
  WideText buffer(MAX_PATH + 1);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return WideText(1, L'\0');
    if (n < buffer.size()) {
      buffer.resize(n + 1);
      buffer.back() = L'\0';
      return buffer;
    }
    if (buffer.size() >= 65536) return WideText(1, L'\0');  // past any Windows path
    buffer.resize(buffer.size() * 2);
  }
}

WideText ShortPathWide(const WideText& path) {
  const DWORD need = GetShortPathNameW(path.data(), nullptr, 0);
  if (need == 0) return WideText(1, L'\0');
  WideText buffer(need + 1);
  const DWORD n = GetShortPathNameW(path.data(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n == 0 || n >= buffer.size()) return WideText(1, L'\0');
  buffer.resize(n + 1);
  buffer.back() = L'\0';
  return buffer;
}

class Win32Platform final : public Platform {
 public:
  FileHandle OpenFile(const std::string& path, Access access, Share share, Disposition disposition) override {
    DWORD desired = GENERIC_READ | GENERIC_WRITE;
    if (access == Access::Read) desired = GENERIC_READ;
    if (access == Access::Write) desired = GENERIC_WRITE;
    DWORD shareMode = 0;
    if (share == Share::Read || share == Share::ReadWrite) shareMode |= FILE_SHARE_READ;
    if (share == Share::Write || share == Share::ReadWrite) shareMode |= FILE_SHARE_WRITE;
    DWORD creation = OPEN_EXISTING;
    if (disposition == Disposition::CreateAlways) creation = CREATE_ALWAYS;
    if (disposition == Disposition::CreateNew) creation = CREATE_NEW;
    // Windows refuses to write to a read-only file; Wine run as root would
    // not, so the layer asks first and behaves the same everywhere. A
    // create that must make a new file fails on any existing one anyway.
    if (access != Access::Read && disposition != Disposition::CreateNew) {
      const DWORD attributes = GetFileAttributesA(path.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
          (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return kInvalidHandle;
      }
    }
    const HANDLE h = ::CreateFileA(path.c_str(), desired, shareMode, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kInvalidHandle;
    return reinterpret_cast<FileHandle>(h);
  }

  std::int32_t ReadFile(FileHandle h, void* buffer, std::int32_t count) override {
    if (count <= 0) return 0;
    DWORD done = 0;
    if (!::ReadFile(ToHandle(h), buffer, static_cast<DWORD>(count), &done, nullptr)) return -1;
    return static_cast<std::int32_t>(done);
  }

  std::int32_t WriteFile(FileHandle h, const void* buffer, std::int32_t count) override {
    if (count <= 0) return 0;
    DWORD done = 0;
    if (!::WriteFile(ToHandle(h), buffer, static_cast<DWORD>(count), &done, nullptr)) return -1;
    return static_cast<std::int32_t>(done);
  }

  std::int64_t SeekFile(FileHandle h, std::int64_t offset, int origin) override {
    DWORD method;
    switch (origin) {
      case 0: method = FILE_BEGIN; break;
      case 1: method = FILE_CURRENT; break;
      case 2: method = FILE_END; break;
      default: return -1;
    }
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position;
    if (!SetFilePointerEx(ToHandle(h), distance, &position, method)) return -1;
    return position.QuadPart;
  }

  bool SetEndOfFile(FileHandle h) override { return ::SetEndOfFile(ToHandle(h)) != 0; }
  bool FlushFile(FileHandle h) override { return FlushFileBuffers(ToHandle(h)) != 0; }

  // A volume handle flushes only the files that are open on it (and needs
  // administrative rights), so each file is flushed through its own handle.
  bool FlushFileSystems(const std::vector<std::string>&) override { return false; }
  bool CanFlushFileSystem(const std::string&) override { return false; }
  bool CanFlushInBackground() override { return true; }
  // The lazy writer already writes closed files back while the run goes on.
  void StartFlushFileSystem(const std::string&) override {}

  bool FlushNamedFile(const std::string& path) override {
    const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = FlushFileBuffers(h) != 0;
    return CloseHandle(h) != 0 && ok;
  }
  bool CloseFile(FileHandle h) override { return CloseHandle(ToHandle(h)) != 0; }

  bool SetLastWriteTime(FileHandle h, std::int64_t utc) override {
    FILETIME ft;
    return ToFileTime(utc, &ft) && SetFileTime(ToHandle(h), nullptr, nullptr, &ft) != 0;
  }

  bool FindFirst(const std::string& pattern, FoundItem* first) override {
    if (pattern.empty()) return false;
    WIN32_FIND_DATAA data;
    const HANDLE search = FindFirstFileA(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    first->attributes = data.dwFileAttributes;
    // A time past the signed range cannot be a DOS date either: report the
    // latest time there is.
    if (!FromFileTime(data.ftLastWriteTime, &first->lastWriteTime)) first->lastWriteTime = INT64_MAX;
    return true;
  }

  std::uint32_t GetAttributes(const std::string& path) override {
    if (path.empty()) return kInvalidAttributes;
    return GetFileAttributesA(path.c_str());
  }

  bool MoveFile(const std::string& from, const std::string& to) override {
    return MoveFileA(from.c_str(), to.c_str()) != 0;
  }

  bool DeleteFile(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }

  bool CreateDirectory(const std::string& path) override {
    return CreateDirectoryA(path.c_str(), nullptr) != 0;
  }

  std::string FullPath(const std::string& name) override {
    if (name.empty()) return name;
    DWORD size = MAX_PATH;
    for (int attempt = 0; attempt < 4; ++attempt) {
      std::vector<char> buffer(size + 1);
      const DWORD n = GetFullPathNameA(name.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
      if (n == 0) return name;
      if (n < buffer.size()) return std::string(buffer.data(), n);
      size = n;  // the size needed, closing NUL included
    }
    return name;
  }

  std::string ModulePath() override {
    const WideText wide = ModulePathWide();
    bool lossy = false;
    const std::string ansi = Narrow(wide.data(), WideLength(wide), CP_ACP, &lossy);
    if (!lossy) return ansi;
    // A folder with characters outside the code page: its short form is
    // plain ASCII wherever the volume keeps short names.
    const WideText shortPath = ShortPathWide(wide);
    bool shortLossy = false;
    const std::string shortAnsi = Narrow(shortPath.data(), WideLength(shortPath), CP_ACP, &shortLossy);
    return WideLength(shortPath) == 0 || shortLossy ? ansi : shortAnsi;
  }

  bool UtcToLocal(std::int64_t utc, std::int64_t* local) override {
    FILETIME in, out;
    return ToFileTime(utc, &in) && FileTimeToLocalFileTime(&in, &out) != 0 && FromFileTime(out, local);
  }

  bool LocalToUtc(std::int64_t local, std::int64_t* utc) override {
    FILETIME in, out;
    return ToFileTime(local, &in) && LocalFileTimeToFileTime(&in, &out) != 0 && FromFileTime(out, utc);
  }

  int CompareTextLocale(const std::string& a, const std::string& b) override {
    const int r = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), CallLength(a.size()), b.data(),
                                 CallLength(b.size()));
    if (r == CSTR_LESS_THAN) return -1;
    if (r == CSTR_EQUAL) return 0;
    if (r == CSTR_GREATER_THAN) return 1;
    // The call failed: an ordinal order still keeps a sorted list consistent.
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }

  unsigned char UpperChar(unsigned char c) override {
    // CharUpperA takes a lone character in the low word of its pointer
    // argument, zero-extended: a sign-extended byte would be taken for the
    // address of a text.
    const ULONG_PTR single = c;
    const LPSTR upper = CharUpperA(reinterpret_cast<LPSTR>(single));
    return static_cast<unsigned char>(reinterpret_cast<ULONG_PTR>(upper) & 0xFFu);
  }

  LocaleTimeFormat TimeFormat() override {
    LocaleTimeFormat f;
    f.amDesignator = LocaleText(LOCALE_S1159, "AM");
    f.pmDesignator = LocaleText(LOCALE_S2359, "PM");
    f.decimalSeparator = LocaleText(LOCALE_SDECIMAL, ".");
    return f;
  }

  std::string AnsiToUtf8(const std::string& ansi) override {
    const WideText wide = Widen(ansi, CP_ACP);
    return Narrow(wide.data(), WideLength(wide), CP_UTF8, nullptr);
  }

  int AnsiCodePage() override { return static_cast<int>(GetACP()); }

  std::string ScriptPath(const std::string& path) override { return path; }
  const char* PathDelimiters() override { return "\\:"; }
  char PathSeparator() override { return '\\'; }

  void InitMessageQueue() override {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
  }

  std::string LoadResString(unsigned id) override {
    // With a zero buffer size LoadStringW hands out the resource text itself
    // (not NUL-terminated) and returns its length.
    const wchar_t* text = nullptr;
    const int n = id <= 0xFFFFu ? LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0) : 0;
    if (n > 0 && text != nullptr) return Narrow(text, n, CP_UTF8, nullptr);
    const char* builtin = BuiltinResString(id);
    return builtin != nullptr ? std::string(builtin) : std::string();
  }

  std::uintptr_t GetActiveWindow() override { return reinterpret_cast<std::uintptr_t>(::GetActiveWindow()); }

  void SetActiveWindow(std::uintptr_t window) override { ::SetActiveWindow(reinterpret_cast<HWND>(window)); }

  // The wide call shows the Czech texts right under any ANSI code page.
  int MessageBox(std::uintptr_t owner, const std::string& text, const std::string& caption,
                 std::uint32_t style) override {
    const WideText wideText = Widen(text, CP_UTF8);
    const WideText wideCaption = Widen(caption, CP_UTF8);
    const int answer = MessageBoxW(reinterpret_cast<HWND>(owner), wideText.data(), wideCaption.data(), style);
    return answer < 0 ? 0 : answer;  // a box that could not be shown answers 0
  }
};

}  // namespace

Platform& DefaultPlatform() {
  static Win32Platform platform;
  return platform;
}

}  // namespace plf
