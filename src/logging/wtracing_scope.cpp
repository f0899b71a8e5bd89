#include "logging/wtracing_scope.h"

#include <algorithm>
#include <cstdarg>

#include "logging/logging_configuration.h"
#include "logging/wtrace.h"

namespace {

severity initial_scope_level() {
    const auto& config = LoggingConfiguration::config();
    return std::max(config.level, config.event_log_level);
}

// The prefix is made of names read from metadata, which may hold '%'. Spliced into a
// printf format unescaped, such a name would be read as a conversion and consume
// arguments the caller never passed.
std::wstring escape_percent(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (const wchar_t c : text) {
        out += c;
        if (c == L'%') {
            out += L'%';
        }
    }
    return out;
}

}  // namespace

wtracing_scope::wtracing_scope() : level(initial_scope_level()) {}

wtracing_scope::wtracing_scope(const std::wstring& assembly, const std::wstring& type,
                               const std::wstring& function)
    : level(initial_scope_level()) {
    set_scope(assembly, type, function);
}

void wtracing_scope::set_scope(const std::wstring& assembly, const std::wstring& type,
                               const std::wstring& function) {
    prefix = L"[" + assembly + L"]" + type + L":" + function + L"() : ";
}

bool wtracing_scope::accepts(severity message_level) const {
    return message_level != None && LoggingConfiguration::config().level != None && message_level <= level;
}

void wtracing_scope::trace(severity message_level, const std::wstring& text) const {
    if (!accepts(message_level)) {
        return;
    }
    try {
        wtrace_always(message_level, prefix + L" " + text);
    } catch (...) {
    }
}

void wtracing_scope::trace_f(severity message_level, const wchar_t* format, ...) const {
    if (!accepts(message_level)) {
        return;
    }
    va_list args;
    va_start(args, format);
    try {
        // Only the caller's format gets the "%s" rewrite; the escaped prefix is joined
        // afterwards so that a name holding "%s" still prints as itself.
        std::wstring working = widen_string_conversions(format);
        if (!prefix.empty()) {
            working = L"Scope=" + escape_percent(prefix) + L" " + working;
        }
        wtrace_always(message_level, format_wide_message(working, args));
    } catch (...) {
    }
    va_end(args);
}
