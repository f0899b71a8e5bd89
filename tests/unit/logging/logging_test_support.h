// Helpers shared by the logging tests: capturing what reaches the logging core,
// restoring the process-wide settings, listing directories, matching text, and running
// a scenario in a child process.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/shared_ptr.hpp>

#include "logging/logging_configuration.h"

struct captured_record {
    severity level;
    std::wstring text;
};

// Keeps the severity and message of every record that reaches the core while it
// lives, through a synchronous sink that accepts everything.
class record_capture {
public:
    record_capture();
    ~record_capture();
    record_capture(const record_capture&) = delete;
    record_capture& operator=(const record_capture&) = delete;

    std::vector<captured_record> records() const;

private:
    class backend : public boost::log::sinks::basic_sink_backend<boost::log::sinks::synchronized_feeding> {
    public:
        void consume(const boost::log::record_view& record);
        std::vector<captured_record> records;
    };
    boost::shared_ptr<boost::log::sinks::synchronous_sink<backend>> sink_;
};

// Restores LoggingConfiguration::config() to what it was when the guard was made.
class configuration_guard {
public:
    configuration_guard() : saved_(LoggingConfiguration::config()) {}
    ~configuration_guard() { LoggingConfiguration::config() = saved_; }

private:
    LoggingConfiguration saved_;
};

// The names of the entries of a directory, sorted.
std::vector<std::string> directory_entries(const std::filesystem::path& directory);

// Matches the whole text against a POSIX extended regular expression and returns the
// text of each parenthesised group, or nothing when it does not match. (POSIX rather
// than std::regex, whose instantiation trips false warnings under the sanitizers.)
std::optional<std::vector<std::string>> match_groups(const std::string& pattern, const std::string& text);
bool matches(const std::string& pattern, const std::string& text);

// Runs body in a forked child and fails when the child reports a failed assertion,
// throws or dies. Logging cannot start again once stopped, and the log file name is
// fixed on first use, so every scenario that starts the sink needs a fresh process.
void run_in_child(const std::function<void()>& body);
