#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "logging/generate_guid.h"
#include "logging/hex_dump.h"
#include "logging/hresult_text.h"
#include "logging/logging_configuration.h"
#include "logging/severity.h"
#include "logging/text_conversions.h"
#include "logging_test_support.h"

namespace {

TEST(HresultText, MapsTheTableAndFallsBackToUnknown) {
    const struct {
        uint32_t status;
        const wchar_t* text;
    } rows[] = {
        {0x80004001, L"not implemented"},
        {0x80004002, L"no such interface supported"},
        {0x80004003, L"invalid pointer"},
        {0x80004004, L"operation aborted"},
        {0x80004005, L"unspecified error"},
        {0x8000FFFF, L"catastrophic failure"},
        {0x80070005, L"general access denied error"},
        {0x80070006, L"invalid handle"},
        {0x8007000E, L"run out of memory"},
        {0x80070057, L"invalid argument"},
        {0x80131375, L"unknown com error"},
        {0x00000000, L"unknown com error"},
        {0x80070056, L"unknown com error"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(std::wstring(hresult_text(static_cast<HRESULT>(row.status))), row.text)
            << "status 0x" << std::hex << row.status;
    }
}

TEST(SeverityText, FromStringMatchesNamesIgnoringCaseOnly) {
    const struct {
        const char* text;
        severity expected;
    } rows[] = {
        {"Debug", Debug},   {"DEBUG", Debug},     {"dEbUg", Debug},     {"Info", Info},
        {"trace", Trace},   {"FATAL", Fatal},     {"error", Error},     {"Warning", Warning},
        {"None", None},     {" Debug", None},     {"Debug ", None},     {"Warn", None},
        {"Verbose", None},  {"", None},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(LoggingConfiguration::from_string(row.text), row.expected) << "text \"" << row.text << "\"";
    }
}

TEST(SeverityText, ToStringAndStreamFormCoverEveryValue) {
    const struct {
        int32_t value;
        const wchar_t* text;
        const char* tag;
    } rows[] = {
        {0, L"None", "NONE"},   {1, L"Fatal", "FATAL"}, {2, L"Error", "ERROR"}, {3, L"Warning", "WARN"},
        {4, L"Info", "INFO"},   {5, L"Debug", "DEBUG"}, {6, L"Trace", "TRACE"}, {7, L"", "7"},
        {-1, L"", "-1"},
    };
    for (const auto& row : rows) {
        const auto value = static_cast<severity>(row.value);
        std::ostringstream stream;
        stream << value;
        EXPECT_EQ(LoggingConfiguration::to_string(value), row.text) << "value " << row.value;
        EXPECT_EQ(stream.str(), row.tag) << "value " << row.value;
    }
}

TEST(HexDump, FormatsBytesWithTwoLowerCaseDigitsAndTrailingCommas) {
    EXPECT_EQ(byte_to_hex_string(10), "0x0a");
    EXPECT_EQ(byte_to_hex_string(0xFF), "0xff");
    EXPECT_EQ(byte_to_hex_wstring(0), L"0x00");

    const uint8_t bytes[] = {0x00, 0xAB};
    EXPECT_EQ(array_to_hex_wstring(bytes, 2), L"0x00,0xab,");
    EXPECT_EQ(array_to_hex_string(bytes, 2), "0x00,0xab,");
    EXPECT_EQ(array_to_hex_string(bytes, 1), "0x00,");
    EXPECT_EQ(array_to_hex_string(bytes, 0), "");
    EXPECT_EQ(array_to_hex_wstring(nullptr, 0), L"");
}

TEST(TextConversions, RoundTripThroughAllThreeEncodings) {
    const struct {
        const char* name;
        std::string utf8;
        std::wstring wide;
        std::u16string utf16;
    } rows[] = {
        {"empty", "", L"", u""},
        {"ascii", "abc", L"abc", u"abc"},
        {"two-byte", "\xC3\xA9", L"\u00E9", u"\u00E9"},
        {"three-byte", "\xE2\x82\xAC", L"\u20AC", u"\u20AC"},
        {"last BMP", "\xEF\xBF\xBF", L"\uFFFF", u"\uFFFF"},
        {"supplementary", "\xF0\x9F\x98\x80", L"\U0001F600", u"\xD83D\xDE00"},
        {"highest", "\xF4\x8F\xBF\xBF", L"\U0010FFFF", u"\xDBFF\xDFFF"},
        {"embedded NUL", std::string("a\0b", 3), std::wstring(L"a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(s2ws(row.utf8), row.wide);
        EXPECT_EQ(ws2s(row.wide), row.utf8);
        EXPECT_EQ(s2u16s(row.utf8), row.utf16);
        EXPECT_EQ(u16s2s(row.utf16), row.utf8);
        EXPECT_EQ(u16s2ws(row.utf16), row.wide);
        EXPECT_EQ(ws2u16s(row.wide), row.utf16);
    }
}

TEST(TextConversions, Utf8ToUtf16KeepsSurrogatePairsAsTwoElements) {
    EXPECT_EQ(utf8ToUtf16("a\xF0\x9F\x98\x80"), (std::wstring{L'a', wchar_t(0xD83D), wchar_t(0xDE00)}));
    EXPECT_EQ(u16s2ws(u"\xD83D\xDE00").size(), 1u);
}

TEST(TextConversions, MalformedInputRaisesRangeError) {
    const struct {
        const char* name;
        std::string utf8;
    } bad_utf8[] = {
        {"stray continuation", "a\x80"},
        {"truncated two-byte", "\xC3"},
        {"truncated four-byte", "\xF0\x9F\x98"},
        {"bad continuation", "\xC3\x41"},
        {"overlong slash", "\xC0\xAF"},
        {"overlong three-byte", "\xE0\x80\xAF"},
        {"encoded surrogate", "\xED\xA0\x80"},
        {"above U+10FFFF", "\xF4\x90\x80\x80"},
        {"invalid lead", "\xFF"},
    };
    for (const auto& row : bad_utf8) {
        SCOPED_TRACE(row.name);
        EXPECT_THROW(s2ws(row.utf8), std::range_error);
        EXPECT_THROW(s2u16s(row.utf8), std::range_error);
        EXPECT_THROW(utf8ToUtf16(row.utf8), std::range_error);
    }

    const struct {
        const char* name;
        std::u16string utf16;
    } bad_utf16[] = {
        {"lone high surrogate", std::u16string(1, char16_t(0xD83D))},
        {"high surrogate before a letter", std::u16string{char16_t(0xD83D), u'a'}},
        {"lone low surrogate", std::u16string{u'a', char16_t(0xDE00)}},
        {"pair in the wrong order", std::u16string{char16_t(0xDE00), char16_t(0xD83D)}},
    };
    for (const auto& row : bad_utf16) {
        SCOPED_TRACE(row.name);
        EXPECT_THROW(u16s2ws(row.utf16), std::range_error);
        EXPECT_THROW(u16s2s(row.utf16), std::range_error);
    }

    for (const wchar_t bad : {wchar_t(0xD800), wchar_t(0xDFFF), wchar_t(0x110000), wchar_t(-1)}) {
        SCOPED_TRACE(static_cast<long>(bad));
        EXPECT_THROW(ws2s(std::wstring(1, bad)), std::range_error);
        EXPECT_THROW(ws2u16s(std::wstring(1, bad)), std::range_error);
    }
}

TEST(TextConversions, ReplacingVariantsPutReplacementCharacterInsteadOfThrowing) {
    EXPECT_EQ(ws2s_replacing(std::wstring{L'a', wchar_t(0xD800), L'b', wchar_t(0x110000)}),
              "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_EQ(ws2s_replacing(L"\u00E9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(s2ws_replacing("a\xFF" "b\xC3"), L"a\uFFFDb\uFFFD");
    EXPECT_EQ(s2ws_replacing("\xC3\xA9"), L"\u00E9");
}

TEST(GenerateGuid, GivesFreshVersion4UuidText) {
    const std::string uuid_text = "[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}";
    const std::string first = generate_guid();
    const std::string second = generate_guid();
    EXPECT_TRUE(matches(uuid_text, first)) << first;
    EXPECT_TRUE(matches(uuid_text, second)) << second;
    EXPECT_NE(first, second);
}

}  // namespace
