// The trace scope every part of the library logs through: a prefix naming where the
// message comes from, and the scope's own level.
//
// A message is written only when its severity is not None, the configured level is
// not None, and the severity is not above the scope's level. A rejected call costs
// three comparisons and allocates nothing. Tracing only reads the scope, so one scope
// may serve many threads; set_scope must not run while another thread traces
// through the same scope.
#pragma once

#include <string>

#include "logging/severity.h"

class wtracing_scope {
public:
    // Empty prefix; level is the less severe of the configured level and event-log
    // level at construction time.
    wtracing_scope();
    wtracing_scope(const std::wstring& assembly, const std::wstring& type, const std::wstring& function);

    // prefix = "[" + assembly + "]" + type + ":" + function + "() : "
    void set_scope(const std::wstring& assembly, const std::wstring& type, const std::wstring& function);

    // Writes prefix + " " + text (the blank also when the prefix is empty).
    void trace(severity level, const std::wstring& text) const;
    // printf-style; "%s" takes a wide string and "%x" a 32-bit status. A non-empty
    // prefix is put in front as "Scope=" + prefix + " ", with any '%' in it printed as
    // itself. Output is cut to 1021 characters.
    void trace_f(severity level, const wchar_t* format, ...) const;

    std::wstring prefix;
    severity level;

private:
    bool accepts(severity message_level) const;
};
