// The process-wide logging settings. The configuration reader writes them while the
// profiler initialises, before any other thread traces; afterwards they are only read,
// so they are plain fields read without locks.
#pragma once

#include <string>

#include "logging/severity.h"

class LoggingConfiguration {
public:
    // The single settings record, created with the initial values on first use.
    static LoggingConfiguration& config();

    // Text form of a severity ("Debug"); the empty string outside None..Trace.
    static std::wstring to_string(const severity& value);
    // The severity named by text, compared without regard to letter case and without
    // trimming; anything else, the empty text included, gives None.
    static severity from_string(const std::string& text);

    // Records above this level are not written; None switches logging off.
    severity level = None;
    // Level of the reports to the system event log.
    severity event_log_level = Fatal;
    // Whether wtrace_always echoes each record to standard output.
    bool echo_to_stdout = true;
};
