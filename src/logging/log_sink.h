// The logging pipeline behind nb_logger: an asynchronous text-file sink (its own
// writer thread, an unbounded queue), a severity filter, the fixed line format
//   [2026-12-11 07:40:01.123456] Level=DEBUG PID=123 TID=140234 Message: text
// and the global attributes "TimeStamp", "TID" and "PID".
//
// init_logging and stop_logging run one at a time, from the profiler's start-up and
// shutdown; they are not safe against each other. Once stopped, logging cannot be
// started again in the process.
#pragma once

#include <cstdint>
#include <vector>

#include <boost/log/attributes/attribute_set.hpp>
#include <boost/log/attributes/current_process_id.hpp>
#include <boost/log/attributes/current_thread_id.hpp>
#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/sinks/async_frontend.hpp>
#include <boost/log/sinks/text_file_backend.hpp>
#include <boost/log/sinks/unbounded_fifo_queue.hpp>
#include <boost/shared_ptr.hpp>

#include "logging/severity.h"

using log_sink = boost::log::sinks::asynchronous_sink<boost::log::sinks::text_file_backend,
                                                      boost::log::sinks::unbounded_fifo_queue>;

// Files rotate when the next line would make the current one reach this size.
constexpr uintmax_t log_rotation_size = 10485760;

// Starts writing records of severity up to `level` to the log files, provided the
// configured level is not None at this moment. Returns the sink, or an empty handle
// when logging is stopped or could not be set up. event_log_level is unused here.
boost::shared_ptr<log_sink> init_logging(severity level, severity event_log_level);

// Writes the closing record, drains the queue into the file, detaches the sink and
// the global attributes, and stops logging for good. Empties the handle.
void stop_logging(boost::shared_ptr<log_sink>& sink);

// The numeric ids of a record's "PID" and "TID" values; 0 when the record has none.
// The thread id is the recording thread's pthread handle.
uint64_t get_native_process_id(const boost::log::value_ref<boost::log::process_id>& pid);
uint64_t get_native_thread_id(const boost::log::value_ref<boost::log::thread_id>& tid);

// The global attributes added by init_logging, so that stop_logging removes exactly
// these.
std::vector<boost::log::attribute_set::iterator>& global_iterators_atrributes();
