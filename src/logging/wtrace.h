// Writing records without a scope: only the log file's own filter stands between these
// functions and the file. None of them throws.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

#include "logging/severity.h"

// The longest formatted message, in characters: longer output is cut.
constexpr size_t max_formatted_message_length = 1021;

// Writes one record and, unless LoggingConfiguration::echo_to_stdout is off, echoes
// the text with a newline to standard output.
void wtrace_always(severity level, const std::wstring& text);
// Writes one record of UTF-8 text, without the echo.
void trace_always(severity level, const std::string& text);

// printf-style, with "%s" taking a wide string (see widen_string_conversions).
void wtrace_f_always(severity level, const wchar_t* format, ...);
void trace_f_always(severity level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Rewrites every "%s" of the format into "%ls", so that "%s" takes a wide string.
// A plain replace-all: "%%s" becomes "%%ls" too and prints "%ls".
std::wstring widen_string_conversions(std::wstring format);
// Formats with a wide printf, cut to max_formatted_message_length characters.
std::wstring format_wide_message(const std::wstring& format, va_list args);
