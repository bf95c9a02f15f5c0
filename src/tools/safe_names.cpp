#include "tools/safe_names.h"

namespace plf::tools {

namespace {

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsForbidden(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  if (u < 32 || u == 0x7F) return true;
  switch (c) {
    case '<':
    case '>':
    case ':':
    case '"':
    case '|':
    case '?':
    case '*':
      return true;
    default:
      return false;
  }
}

// Windows opens the device, not a file, for these names, with or without an
// extension ("nul.txt" included).
bool IsDeviceName(const std::string& part) {
  std::string base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = AsciiUpper(c);
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
  for (const char* device : kDevices)
    if (base == device) return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '0' && base[3] <= '9';
}

std::string SafePart(const std::string& part) {
  std::string safe = part;
  for (char& c : safe)
    if (IsForbidden(c)) c = '_';
  for (std::size_t i = safe.size(); i > 0 && (safe[i - 1] == '.' || safe[i - 1] == ' '); --i) safe[i - 1] = '_';
  if (IsDeviceName(safe)) safe.insert(0, "_");
  return safe;
}

}  // namespace

bool SafeRelativeParts(const std::string& entryName, std::vector<std::string>* parts, std::string* problem) {
  parts->clear();
  std::string name = entryName;
  // "C:\x" and "C:x" are names on drive C: the drive goes, the rest stays.
  if (name.size() >= 2 && name[1] == ':' && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
    name.erase(0, 2);
  std::string::size_type start = 0;
  while (start <= name.size()) {
    std::string::size_type end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    if (part == "..") {
      *problem = "its name climbs out of the folder with \"..\"";
      parts->clear();
      return false;
    }
    if (!part.empty() && part != ".") parts->push_back(SafePart(part));
    start = end + 1;
  }
  if (parts->empty()) {
    *problem = "its name holds no file name";
    return false;
  }
  return true;
}

std::string JoinParts(const std::vector<std::string>& parts, char separator) {
  std::string joined;
  for (const std::string& part : parts) {
    if (!joined.empty()) joined += separator;
    joined += part;
  }
  return joined;
}

bool SamePart(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

}  // namespace plf::tools
