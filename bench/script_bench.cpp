// Times the install-script list on a large script: loading a 1 MiB text of
// 10,000 sections, finding every section, reading a key from each, and a key
// at the end of one 1 MiB section.
#include <chrono>
#include <cstdio>
#include <string>

#include "text/ini_string_list.h"
#include "text/textutil.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string ManySections(int sections, std::size_t targetSize) {
  std::string text;
  text.reserve(targetSize + 256);
  const std::size_t perSection = (targetSize + static_cast<std::size_t>(sections) - 1) / static_cast<std::size_t>(sections);
  for (int i = 0; i < sections; ++i) {
    const std::size_t start = text.size();
    text += "[Section" + std::to_string((i * 7919) % sections) + "]\r\n";
    const std::string key = "Key=" + std::to_string(i) + "\r\n";
    const std::size_t used = text.size() - start + key.size();
    if (used + 8 < perSection) text += "Pad=" + std::string(perSection - used - 6, 'x') + "\r\n";
    text += key;
  }
  return text;
}

}  // namespace

int main() {
  plf::BuildCaseTables();
  constexpr int kSections = 10000;
  const std::string text = ManySections(kSections, 1 << 20);
  std::printf("script: %zu bytes, %d sections\n", text.size(), kSections);

  plf::TIniStringList list;
  Clock::time_point start = Clock::now();
  list.LoadText(text);
  std::printf("LoadText:                   %8.2f ms (%d blocks)\n", MillisecondsSince(start), list.Count());

  start = Clock::now();
  int found = 0;
  for (int i = 0; i < kSections; ++i) found += list.FindSection("Section" + std::to_string(i)) >= 0 ? 1 : 0;
  std::printf("FindSection x %d:        %8.2f ms (%d found)\n", kSections, MillisecondsSince(start), found);

  start = Clock::now();
  std::string value;
  list.ReadString("Section" + std::to_string(kSections / 2), "Key", &value);
  std::printf("first ReadString:           %8.3f ms\n", MillisecondsSince(start));

  start = Clock::now();
  std::size_t total = 0;
  for (int i = 0; i < kSections; ++i) {
    list.ReadString("Section" + std::to_string(i), "Key", &value);
    total += value.size();
  }
  std::printf("ReadString x %d:         %8.2f ms (%zu value bytes)\n", kSections, MillisecondsSince(start), total);

  std::string big = "[Big]\r\n";
  while (big.size() < (1u << 20)) big += "Filler=some value here\r\n";
  big += "Last=found\r\n";
  start = Clock::now();
  list.LoadText(big);
  list.ReadString("Big", "Last", &value);
  std::printf("1 MiB section, last key:    %8.2f ms (%s)\n", MillisecondsSince(start), value.c_str());
  return 0;
}
