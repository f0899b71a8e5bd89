// Text helpers of the runtime doubles: UTF-8 <-> UTF-16 for names written in tests,
// and the two ways the runtime fills a caller's name buffer. Header only.
#pragma once

#include <string>
#include <string_view>

#include "runtime/com_types.h"

namespace test_support {

// "Buffer too small" answers. Metadata calls copy what fits and succeed with
// CLDB_S_TRUNCATION; profiler-info calls copy what fits and fail with
// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER).
constexpr HRESULT metadata_truncated = hr_of(0x00131106);
constexpr HRESULT insufficient_buffer = hr_of(0x8007007A);
// GetILFunctionBody of a method that has no IL (abstract, extern, runtime-implemented).
constexpr HRESULT function_not_il = hr_of(0x80131354);

// Decodes UTF-8 (as written in test sources) into UTF-16; malformed bytes become U+FFFD.
inline std::u16string utf16(std::string_view utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const size_t length = lead < 0x80 ? 1
                              : (lead >> 5) == 0x6 ? 2
                              : (lead >> 4) == 0xE ? 3
                              : (lead >> 3) == 0x1E ? 4
                                                    : 0;
        if (length == 0 || i + length > utf8.size()) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

// Encodes UTF-16 as UTF-8, for readable assertions; lone surrogates become U+FFFD.
inline std::string utf8(std::u16string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (code >= 0xD800 && code <= 0xDFFF)
            code = 0xFFFD;
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

// Fills a name buffer the runtime's way: *needed (if asked) gets the length
// including the terminating NUL; a buffer with room gets the whole name; a
// smaller one gets as much as fits, still terminated, and the call answers
// `too_small`. No buffer at all is a size query and succeeds.
inline HRESULT copy_name(std::u16string_view name, WCHAR* buffer, ULONG capacity, ULONG* needed, HRESULT too_small) {
    const auto length = static_cast<ULONG>(name.size() + 1);
    if (needed != nullptr) *needed = length;
    if (buffer == nullptr) return S_OK;
    if (capacity == 0) return too_small;
    const ULONG copied = capacity < length ? capacity - 1 : length - 1;
    name.copy(buffer, copied);
    buffer[copied] = u'\0';
    return capacity < length ? too_small : S_OK;
}

}  // namespace test_support
