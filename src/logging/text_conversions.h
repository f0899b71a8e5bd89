// Conversions between the three encodings the library meets: narrow text is UTF-8,
// wide text (std::wstring) is UTF-32, and the runtime's text is UTF-16.
//
// The strict conversions throw std::range_error on malformed input: invalid UTF-8
// (bad lead or continuation bytes, truncated or overlong sequences, encoded
// surrogates, values above U+10FFFF), an unpaired UTF-16 surrogate, or a wide
// character that is a surrogate or lies above U+10FFFF. The *_replacing variants
// never throw; they put U+FFFD in place of each malformed piece and are meant for
// diagnostics output, where losing a record is worse than a replaced character.
#pragma once

#include <string>

std::wstring s2ws(const std::string& text);
std::string ws2s(const std::wstring& text);
std::string u16s2s(const std::u16string& text);
std::u16string s2u16s(const std::string& text);
std::wstring u16s2ws(const std::u16string& text);
std::u16string ws2u16s(const std::wstring& text);

// Decodes UTF-8 into UTF-16 code units, one unit per wide character: a supplementary
// character stays a surrogate pair of two elements.
std::wstring utf8ToUtf16(const std::string& text);

std::wstring s2ws_replacing(const std::string& text);
std::string ws2s_replacing(const std::wstring& text);
