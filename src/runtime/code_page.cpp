#include "runtime/code_page.h"

#include <cstdint>

namespace plf {

namespace {

// The characters of bytes 0x80 to 0xFF; below 0x80 every code page is ASCII.
constexpr char16_t k1250[128] = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,  // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,  // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,  // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,  // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,  // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,  // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,  // F8
};

constexpr char16_t k1252[128] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,  // A8
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,  // B8
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,  // C0
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,  // C8
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,  // D0
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,  // D8
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,  // E0
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,  // E8
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,  // F0
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,  // F8
};

const char16_t* HighHalf(int codePage) {
  switch (codePage) {
    case 1250: return k1250;
    case 1252: return k1252;
    default: return nullptr;
  }
}

// The byte for a character, or -1.
int ByteFor(const char16_t* high, std::uint32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  for (int i = 0; i < 128; ++i)
    if (high[i] == cp) return 0x80 + i;
  return -1;
}

void AppendUtf8(std::uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one character at text[*i] and moves past it; false (moving one
// byte) for a byte that starts no well-formed UTF-8 sequence.
bool NextCodePoint(std::string_view text, std::size_t* i, std::uint32_t* cp) {
  const auto byte = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b = byte(*i);
  std::size_t length = 0;
  std::uint32_t value = 0, minimum = 0;
  if (b < 0x80) {
    *cp = b;
    ++*i;
    return true;
  } else if (b >= 0xC2 && b <= 0xDF) {
    length = 2, value = b & 0x1F, minimum = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3, value = b & 0x0F, minimum = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4, value = b & 0x07, minimum = 0x10000;
  } else {
    ++*i;
    return false;
  }
  if (text.size() - *i < length) {
    ++*i;
    return false;
  }
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char c = byte(*i + k);
    if ((c & 0xC0) != 0x80) {
      ++*i;
      return false;
    }
    value = (value << 6) | (c & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    ++*i;
    return false;
  }
  *cp = value;
  *i += length;
  return true;
}

// The Unicode capital of the letters the supported code pages hold.
std::uint32_t UpperCodePoint(std::uint32_t cp) {
  if (cp >= 'a' && cp <= 'z') return cp - 0x20;
  if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) return cp - 0x20;
  if (cp == 0xFF) return 0x178;
  if ((cp >= 0x100 && cp <= 0x137) || (cp >= 0x14A && cp <= 0x177)) return cp & ~1u;
  if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) return (cp & 1u) != 0 ? cp : cp - 1;
  if (cp == 0x192) return 0x191;
  return cp;
}

}  // namespace

bool IsKnownCodePage(int codePage) { return HighHalf(codePage) != nullptr; }

std::string ToUtf8(int codePage, std::string_view bytes) {
  const char16_t* high = HighHalf(codePage);
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const unsigned char b = static_cast<unsigned char>(ch);
    AppendUtf8(b < 0x80 || high == nullptr ? b : high[b - 0x80], &out);
  }
  return out;
}

bool FromUtf8(int codePage, std::string_view utf8, std::string* out, std::size_t* badOffset) {
  const char16_t* high = HighHalf(codePage);
  out->clear();
  out->reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const std::size_t at = i;
    std::uint32_t cp = 0;
    const int b = NextCodePoint(utf8, &i, &cp) && high != nullptr ? ByteFor(high, cp) : -1;
    if (b < 0) {
      if (badOffset != nullptr) *badOffset = at;
      return false;
    }
    *out += static_cast<char>(b);
  }
  return true;
}

std::string FromUtf8Lossy(int codePage, std::string_view utf8) {
  const char16_t* high = HighHalf(codePage);
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    std::uint32_t cp = 0;
    const int b = NextCodePoint(utf8, &i, &cp) && high != nullptr ? ByteFor(high, cp) : -1;
    out += b < 0 ? '?' : static_cast<char>(b);
  }
  return out;
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  std::uint32_t cp = 0;
  while (i < text.size())
    if (!NextCodePoint(text, &i, &cp)) return false;
  return true;
}

unsigned char UpperInCodePage(int codePage, unsigned char c) {
  const char16_t* high = HighHalf(codePage);
  if (c < 0x80 || high == nullptr) return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 0x20) : c;
  const int b = ByteFor(high, UpperCodePoint(high[c - 0x80]));
  return b < 0 ? c : static_cast<unsigned char>(b);
}

}  // namespace plf
