#include "logging/event_log.h"

#include "logging/logging_configuration.h"

void ReportEventLog(const severity& /*level*/, const std::wstring& /*text*/) { LoggingConfiguration::config(); }

void ReportEventLogWithType(const std::wstring& /*text*/, uint16_t /*event_type*/) {}

void ReportEventLogAlways(const std::wstring& /*text*/) {}
