// Log severities. A lower value is more severe; None is never written, and a level
// of None switches writing off.
#pragma once

#include <cstdint>
#include <iterator>
#include <ostream>

enum severity : int32_t {
    None = 0,
    Fatal = 1,
    Error = 2,
    Warning = 3,
    Info = 4,
    Debug = 5,
    Trace = 6,
};

// The tag a severity shows in a log line ("DEBUG", "WARN", ...). A value outside the
// enumeration prints as its decimal number.
inline std::ostream& operator<<(std::ostream& out, severity value) {
    static constexpr const char* tags[] = {"NONE", "FATAL", "ERROR", "WARN", "INFO", "DEBUG", "TRACE"};
    const auto index = static_cast<int32_t>(value);
    if (index >= 0 && index < static_cast<int32_t>(std::size(tags))) {
        return out << tags[index];
    }
    return out << index;
}
