// Captures what the metadata code logs: every level on, echo off, and the scope
// prefix ("Scope=[]:lookup_type() :  ") split from each message so tests compare
// the message texts the code defines.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "logging/logging_configuration.h"
#include "logging/text_conversions.h"
#include "logging_test_support.h"

class metadata_log_capture {
public:
    metadata_log_capture() {
        LoggingConfiguration::config().level = Trace;
        LoggingConfiguration::config().event_log_level = Fatal;
        LoggingConfiguration::config().echo_to_stdout = false;
    }

    struct line {
        severity level;
        std::wstring scope;  // the function named by the prefix
        std::wstring text;
        bool operator==(const line&) const = default;
    };

    std::vector<line> lines() const {
        std::vector<line> out;
        for (const captured_record& record : capture_.records()) {
            const std::wstring& text = record.text;
            const size_t colon = text.find(L":");
            const size_t end = text.find(L"() :  ");
            if (text.rfind(L"Scope=[]", 0) == 0 && colon != std::wstring::npos && end != std::wstring::npos) {
                out.push_back({record.level, text.substr(colon + 1, end - colon - 1), text.substr(end + 6)});
            } else {
                out.push_back({record.level, L"", text});
            }
        }
        return out;
    }
    // The texts of the lines at `level`, in order.
    std::vector<std::wstring> texts(severity level) const {
        std::vector<std::wstring> out;
        for (const line& l : lines()) {
            if (l.level == level) out.push_back(l.text);
        }
        return out;
    }
    size_t count() const { return capture_.records().size(); }

private:
    configuration_guard configuration_;  // restores the settings changed above
    record_capture capture_;
};

// Readable failure output for the lines.
inline void PrintTo(const metadata_log_capture::line& line, std::ostream* out) {
    *out << line.level << " " << ws2s_replacing(line.scope) << ": " << ws2s_replacing(line.text);
}
