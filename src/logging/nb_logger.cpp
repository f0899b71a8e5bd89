#include "logging/nb_logger.h"

#include <mutex>

#include <boost/log/core/core.hpp>
#include <boost/log/core/record.hpp>
#include <boost/log/sources/record_ostream.hpp>

std::atomic<bool> nb_logger::stopped_{false};

std::atomic<std::shared_ptr<nb_logger::logger_type>>& nb_logger::instance() {
    static std::atomic<std::shared_ptr<logger_type>> logger;
    return logger;
}

std::shared_ptr<nb_logger::logger_type> nb_logger::get() {
    static std::once_flag created;
    std::call_once(created, [] { instance().store(std::make_shared<logger_type>()); });
    return instance().load();
}

void nb_logger::release() { instance().store(nullptr); }

void nb_logger::write(severity level, const std::wstring& text) {
    const auto logger = get();
    if (!logger) {
        return;
    }
    const auto core = boost::log::core::get();
    if (!core || !core->get_logging_enabled()) {
        return;
    }
    // The core runs the sinks' filters here; no accepting sink means no record.
    boost::log::record record = logger->open_record(boost::log::keywords::severity = level);
    if (!record) {
        return;
    }
    {
        boost::log::wrecord_ostream message(record);
        message << text.c_str();
    }
    logger->push_record(std::move(record));
}
