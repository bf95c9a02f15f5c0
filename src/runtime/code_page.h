// The Windows code pages that package text is kept in (8-bit, one byte a
// character), and their conversion to and from UTF-8: the one place where
// text meets the UTF-8 of Linux file names, terminals and JSON. Inside, text
// stays bytes; it is converted once, at that edge.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace plf {

// The installer's language is Czech: Windows-1250, Central European.
inline constexpr int kDefaultCodePage = 1250;

// 1250 (Central European) and 1252 (Western European).
bool IsKnownCodePage(int codePage);

// Every byte has a character: the five bytes 1250 leaves undefined (and 1252
// its five) stand for the control characters of the same value, as Windows
// converts them, so that decoding and encoding give the bytes back.
std::string ToUtf8(int codePage, std::string_view bytes);

// False when the text is not UTF-8 or holds a character the code page has
// no byte for; *badOffset then is the byte offset of that character.
bool FromUtf8(int codePage, std::string_view utf8, std::string* out, std::size_t* badOffset = nullptr);
// Such characters, and bytes that are not UTF-8, become "?", as in the
// ANSI calls of Windows.
std::string FromUtf8Lossy(int codePage, std::string_view utf8);

bool IsValidUtf8(std::string_view text);

// The capital of a letter in the code page, as CharUpperA gives it; other
// bytes, and letters whose capital the code page lacks ("ß"), unchanged.
unsigned char UpperInCodePage(int codePage, unsigned char c);

}  // namespace plf
