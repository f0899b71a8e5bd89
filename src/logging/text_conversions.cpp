#include "logging/text_conversions.h"

#include <stdexcept>
#include <string_view>

namespace {

constexpr char32_t replacement_character = 0xFFFD;

bool is_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool is_scalar_value(char32_t c) { return c <= 0x10FFFF && !is_surrogate(c); }

// What a decoder does with a malformed piece of input.
enum class on_malformed { raise, replace };

char32_t reject_or_replace(on_malformed policy, const char* what) {
    if (policy == on_malformed::raise) {
        throw std::range_error(what);
    }
    return replacement_character;
}

// Calls put(code point) for each character of the UTF-8 text. A malformed sequence
// raises, or yields one U+FFFD and resumes at the next byte.
template <typename Put>
void decode_utf8(std::string_view in, on_malformed policy, Put&& put) {
    size_t i = 0;
    while (i < in.size()) {
        const auto lead = static_cast<unsigned char>(in[i]);
        if (lead < 0x80) {
            put(static_cast<char32_t>(lead));
            ++i;
            continue;
        }
        size_t length = 0;
        char32_t value = 0;
        char32_t smallest = 0;  // below this the sequence is overlong
        if ((lead & 0xE0) == 0xC0) {
            length = 2, value = lead & 0x1F, smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, value = lead & 0x0F, smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, value = lead & 0x07, smallest = 0x10000;
        } else {
            put(reject_or_replace(policy, "invalid UTF-8 lead byte"));
            ++i;
            continue;
        }
        bool well_formed = i + length <= in.size();
        for (size_t k = 1; well_formed && k < length; ++k) {
            const auto next = static_cast<unsigned char>(in[i + k]);
            well_formed = (next & 0xC0) == 0x80;
            value = (value << 6) | (next & 0x3F);
        }
        if (!well_formed || value < smallest || !is_scalar_value(value)) {
            put(reject_or_replace(policy, "malformed UTF-8 sequence"));
            ++i;
            continue;
        }
        put(value);
        i += length;
    }
}

// Calls put(code point) for each character of the UTF-16 text; a surrogate without
// its partner raises or yields U+FFFD.
template <typename Put>
void decode_utf16(std::u16string_view in, on_malformed policy, Put&& put) {
    for (size_t i = 0; i < in.size(); ++i) {
        const char32_t unit = in[i];
        if (!is_surrogate(unit)) {
            put(unit);
        } else if (unit <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            put(0x10000 + ((unit - 0xD800) << 10) + (in[i + 1] - 0xDC00));
            ++i;
        } else {
            put(reject_or_replace(policy, "unpaired UTF-16 surrogate"));
        }
    }
}

// Calls put(code point) for each wide character, checking that it is a Unicode
// scalar value.
template <typename Put>
void decode_utf32(std::wstring_view in, on_malformed policy, Put&& put) {
    for (const wchar_t c : in) {
        const auto value = static_cast<char32_t>(c);
        put(is_scalar_value(value) ? value : reject_or_replace(policy, "invalid wide character"));
    }
}

// Appenders for a code point already known to be a scalar value.
void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

template <typename String>
void append_utf16(String& out, char32_t c) {
    using unit = typename String::value_type;
    if (c < 0x10000) {
        out += static_cast<unit>(c);
    } else {
        c -= 0x10000;
        out += static_cast<unit>(0xD800 + (c >> 10));
        out += static_cast<unit>(0xDC00 + (c & 0x3FF));
    }
}

}  // namespace

std::wstring s2ws(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    decode_utf8(text, on_malformed::raise, [&](char32_t c) { out += static_cast<wchar_t>(c); });
    return out;
}

std::string ws2s(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    decode_utf32(text, on_malformed::raise, [&](char32_t c) { append_utf8(out, c); });
    return out;
}

std::string u16s2s(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    decode_utf16(text, on_malformed::raise, [&](char32_t c) { append_utf8(out, c); });
    return out;
}

std::u16string s2u16s(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    decode_utf8(text, on_malformed::raise, [&](char32_t c) { append_utf16(out, c); });
    return out;
}

// Going through UTF-8 and back would give the same characters and the same errors;
// decoding the UTF-16 directly skips the intermediate string.
std::wstring u16s2ws(const std::u16string& text) {
    std::wstring out;
    out.reserve(text.size());
    decode_utf16(text, on_malformed::raise, [&](char32_t c) { out += static_cast<wchar_t>(c); });
    return out;
}

std::u16string ws2u16s(const std::wstring& text) {
    std::u16string out;
    out.reserve(text.size());
    decode_utf32(text, on_malformed::raise, [&](char32_t c) { append_utf16(out, c); });
    return out;
}

std::wstring utf8ToUtf16(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    decode_utf8(text, on_malformed::raise, [&](char32_t c) { append_utf16(out, c); });
    return out;
}

std::wstring s2ws_replacing(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    decode_utf8(text, on_malformed::replace, [&](char32_t c) { out += static_cast<wchar_t>(c); });
    return out;
}

std::string ws2s_replacing(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    decode_utf32(text, on_malformed::replace, [&](char32_t c) { append_utf8(out, c); });
    return out;
}
