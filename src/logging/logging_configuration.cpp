#include "logging/logging_configuration.h"

#include <boost/algorithm/string/predicate.hpp>
#include <utility>

LoggingConfiguration& LoggingConfiguration::config() {
    static LoggingConfiguration instance;
    return instance;
}

std::wstring LoggingConfiguration::to_string(const severity& value) {
    switch (value) {
        case None: return L"None";
        case Fatal: return L"Fatal";
        case Error: return L"Error";
        case Warning: return L"Warning";
        case Info: return L"Info";
        case Debug: return L"Debug";
        case Trace: return L"Trace";
    }
    return L"";
}

severity LoggingConfiguration::from_string(const std::string& text) {
    // Checked in this order; the first match wins.
    static const std::pair<const char*, severity> names[] = {
        {"Info", Info},   {"Debug", Debug},     {"Trace", Trace}, {"Fatal", Fatal},
        {"Error", Error}, {"Warning", Warning}, {"None", None},
    };
    for (const auto& [name, value] : names) {
        if (boost::algorithm::iequals(text, name)) {
            return value;
        }
    }
    return None;
}
