#include "logging/log_sink.h"

#include <unistd.h>

#include <exception>
#include <ios>
#include <string>

#include <boost/log/attributes/attribute_value_set.hpp>
#include <boost/log/core/core.hpp>
#include <boost/log/expressions/message.hpp>
#include <boost/log/utility/formatting_ostream.hpp>

#include "logging/log_files.h"
#include "logging/logging_configuration.h"
#include "logging/nb_logger.h"
#include "logging/nb_timestamp.h"
#include "logging/text_conversions.h"

namespace logging = boost::log;

namespace {

// Called by the writer thread for every record. The message of the wide logger is
// narrowed to UTF-8 here rather than through the stream's locale: the process locale
// is the host's ("C" in most services), which cannot narrow non-ASCII names and would
// drop them, while characters that UTF-8 cannot carry become U+FFFD.
void format_log_line(const logging::record_view& record, logging::formatting_ostream& out) {
    if (const auto stamp = logging::extract<std::string>("TimeStamp", record)) {
        out << *stamp;
    }
    out << " Level=";
    if (const auto level = logging::extract<severity>("Severity", record)) {
        out.stream() << *level;
    }
    out << " PID=" << get_native_process_id(logging::extract<logging::process_id>("PID", record))
        << " TID=" << get_native_thread_id(logging::extract<logging::thread_id>("TID", record))
        << " Message: ";
    if (const auto wide = record[logging::expressions::wmessage]) {
        out << ws2s_replacing(*wide);
    } else if (const auto narrow = record[logging::expressions::smessage]) {
        out << *narrow;
    }
}

std::wstring process_description() {
    return s2ws_replacing(get_process_name()) + L"(" + std::to_wstring(getpid()) + L").";
}

void add_global_attribute(logging::core& core, const char* name, const logging::attribute& value) {
    const auto added = core.add_global_attribute(name, value);
    if (added.second) {
        global_iterators_atrributes().push_back(added.first);
    }
}

}  // namespace

uint64_t get_native_process_id(const logging::value_ref<logging::process_id>& pid) {
    return pid ? static_cast<uint64_t>(pid->native_id()) : 0;
}

uint64_t get_native_thread_id(const logging::value_ref<logging::thread_id>& tid) {
    return tid ? static_cast<uint64_t>(tid->native_id()) : 0;
}

std::vector<logging::attribute_set::iterator>& global_iterators_atrributes() {
    static std::vector<logging::attribute_set::iterator> registrations;
    return registrations;
}

boost::shared_ptr<log_sink> init_logging(severity level, severity /*event_log_level*/) {
    if (nb_logger::stopped_.load(std::memory_order_acquire)) {
        return {};
    }
    const auto core = logging::core::get();
    if (!core) {
        return {};
    }
    try {
        const std::string pattern = get_log_file_name() + "_%5N.log";
        auto backend = boost::make_shared<logging::sinks::text_file_backend>(
            logging::keywords::file_name = pattern,
            logging::keywords::rotation_size = log_rotation_size,
            logging::keywords::open_mode = std::ios_base::out | std::ios_base::trunc,
            logging::keywords::enable_final_rotation = true,
            logging::keywords::auto_newline_mode = logging::sinks::insert_if_missing);
        backend->auto_flush(true);

        // The writer thread starts with the sink.
        auto sink = boost::make_shared<log_sink>(backend);

        // The configured level is read once, here: logging switched off at start stays off.
        const bool enabled = LoggingConfiguration::config().level != None;
        sink->set_filter([enabled, level](const logging::attribute_value_set& values) {
            const auto record_level = logging::extract<severity>("Severity", values);
            return enabled && record_level && *record_level <= level;
        });
        sink->set_formatter(&format_log_line);

        add_global_attribute(*core, "TimeStamp", nb_timestamp());
        add_global_attribute(*core, "TID", logging::attributes::current_thread_id());
        add_global_attribute(*core, "PID", logging::attributes::current_process_id());

        core->add_sink(sink);

        nb_logger::write(Debug, L"Nimbrel Profiler Logger - started for process " + process_description());
        return sink;
    } catch (const std::exception& e) {
        nb_logger::write(Error, L"An error occured during init logging. Exception:" + s2ws_replacing(e.what()));
    } catch (...) {
        nb_logger::write(Error, L"An error occured during during init logging. Unhandled exception.");
    }
    return {};
}

void stop_logging(boost::shared_ptr<log_sink>& sink) {
    if (nb_logger::stopped_.load(std::memory_order_acquire)) {
        return;
    }
    try {
        nb_logger::write(Debug, L"Nimbrel Profiler Logger - stopped for process " + process_description());

        if (const auto core = logging::core::get()) {
            if (sink) {
                // Detached first, so that no new record reaches the queue being drained.
                core->remove_sink(sink);
                sink->stop();
                sink->flush();
            }
            sink.reset();
            core->flush();
            core->remove_all_sinks();
            for (const auto& registration : global_iterators_atrributes()) {
                core->remove_global_attribute(registration);
            }
            global_iterators_atrributes().clear();
        }

        nb_logger::stopped_.store(true, std::memory_order_release);
        nb_logger::release();
    } catch (const std::exception& e) {
        nb_logger::write(Error, L"An error occured during stop logging. Exception:" + s2ws_replacing(e.what()));
    } catch (...) {
        nb_logger::write(Error, L"An error occured during stop logging. Unhandled exception.");
    }
}
