// The process-wide logger to which every trace record is handed: a thread-safe wide
// Boost.Log logger with a "Severity" attribute and an (always empty) "Channel".
//
// It is created on first use and released by stop_logging. Once stopped_ is set,
// every trace function returns at once and logging never starts again in the process.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include <boost/log/sources/severity_channel_logger.hpp>

#include "logging/severity.h"

class nb_logger {
public:
    using logger_type = boost::log::sources::wseverity_channel_logger_mt<severity, std::wstring>;

    // The logger, created on the first call; null once release() has run.
    static std::shared_ptr<logger_type> get();
    // Drops the process's handle; threads already holding the logger keep it alive.
    static void release();

    // Writes one record with the text up to its first NUL. Does nothing when the
    // logger is released, the core is disabled or no sink accepts the severity.
    // Does not look at stopped_; callers decide that.
    static void write(severity level, const std::wstring& text);

    // Set by stop_logging; read by every tracing thread.
    static std::atomic<bool> stopped_;

private:
    // Swapped atomically because release() may run while other threads trace.
    static std::atomic<std::shared_ptr<logger_type>>& instance();
};
