// Reports to the system event log. Linux has no such log, so these calls have no
// visible effect; callers still make them where a report belongs, which keeps the
// call sites the same on every platform.
#pragma once

#include <cstdint>
#include <string>

#include "logging/severity.h"

// Makes sure the logging settings exist; reports nothing.
void ReportEventLog(const severity& level, const std::wstring& text);
void ReportEventLogWithType(const std::wstring& text, uint16_t event_type);
void ReportEventLogAlways(const std::wstring& text);
