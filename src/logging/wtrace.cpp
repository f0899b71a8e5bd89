#include "logging/wtrace.h"

#include <cstdio>
#include <cwchar>

#include <boost/algorithm/string/replace.hpp>

#include "logging/logging_configuration.h"
#include "logging/nb_logger.h"
#include "logging/text_conversions.h"

namespace {

// The echo is written as UTF-8 through the narrow stdout: using the wide stream would
// fix stdout's orientation to wide and silently break narrow stdio output elsewhere
// in the host process, and it would fail on non-ASCII text under the "C" locale.
// One fwrite per line keeps lines from several threads whole.
void echo_to_stdout(const std::wstring& text) {
    std::string line = ws2s_replacing(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

void wtrace_always(severity level, const std::wstring& text) {
    if (nb_logger::stopped_.load(std::memory_order_acquire)) {
        return;
    }
    try {
        if (LoggingConfiguration::config().echo_to_stdout) {
            echo_to_stdout(text);
        }
        nb_logger::write(level, text);
    } catch (...) {
    }
}

void trace_always(severity level, const std::string& text) {
    if (nb_logger::stopped_.load(std::memory_order_acquire)) {
        return;
    }
    try {
        nb_logger::write(level, s2ws_replacing(text));
    } catch (...) {
    }
}

std::wstring widen_string_conversions(std::wstring format) {
    boost::algorithm::replace_all(format, L"%s", L"%ls");
    return format;
}

std::wstring format_wide_message(const std::wstring& format, va_list args) {
    // Zero-filled, and one more than the count given to vswprintf leaves room for the
    // terminator, so a cut or failed format still leaves a terminated prefix.
    wchar_t buffer[max_formatted_message_length + 5] = {};
    std::vswprintf(buffer, max_formatted_message_length + 1, format.c_str(), args);
    return buffer;
}

void wtrace_f_always(severity level, const wchar_t* format, ...) {
    if (nb_logger::stopped_.load(std::memory_order_acquire)) {
        return;
    }
    va_list args;
    va_start(args, format);
    try {
        const std::wstring text = format_wide_message(widen_string_conversions(format), args);
        wtrace_always(level, text);
    } catch (...) {
    }
    va_end(args);
}

void trace_f_always(severity level, const char* format, ...) {
    if (nb_logger::stopped_.load(std::memory_order_acquire)) {
        return;
    }
    va_list args;
    va_start(args, format);
    char buffer[max_formatted_message_length + 5] = {};
    std::vsnprintf(buffer, max_formatted_message_length + 1, format, args);
    va_end(args);
    trace_always(level, buffer);
}
