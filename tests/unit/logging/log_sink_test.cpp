#include <pthread.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>

#include "logging/log_files.h"
#include "logging/log_sink.h"
#include "logging/logging_configuration.h"
#include "logging/nb_logger.h"
#include "logging/nb_timestamp.h"
#include "logging/wtrace.h"
#include "logging/wtracing_scope.h"
#include "logging_test_support.h"
#include "support/scoped_environment.h"

namespace fs = std::filesystem;
using test_support::scoped_environment;
using test_support::scratch_directory;

namespace {

struct log_line {
    std::string level;
    uint64_t pid;
    uint64_t tid;
    std::string message;
};

const std::string timestamp_format = R"(\[[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{6}\])";
const std::string line_format = timestamp_format + " Level=([A-Z0-9]+) PID=([0-9]+) TID=([0-9]+) Message: (.*)";

// Parses every line of a log file, failing on any line not in the log line format.
std::vector<log_line> read_log(const fs::path& file) {
    std::ifstream in(file.string(), std::ios::binary);
    EXPECT_TRUE(in.is_open()) << file;
    std::vector<log_line> lines;
    std::string text;
    while (std::getline(in, text)) {
        const auto groups = match_groups(line_format, text);
        if (!groups) {
            ADD_FAILURE() << "not a log line: " << text.substr(0, 200);
            continue;
        }
        const auto& field = *groups;
        lines.push_back({field[0], std::stoull(field[1]), std::stoull(field[2]), field[3]});
    }
    return lines;
}

std::vector<std::string> messages(const std::vector<log_line>& lines) {
    std::vector<std::string> out;
    for (const auto& line : lines) {
        out.push_back(line.message);
    }
    return out;
}


std::string started_line() { return "Nimbrel Profiler Logger - started for process logging_tests(" + std::to_string(getpid()) + ")."; }
std::string stopped_line() { return "Nimbrel Profiler Logger - stopped for process logging_tests(" + std::to_string(getpid()) + ")."; }

// A temporary $HOME with LogFiles in it, steering the log directory to
// $HOME/LogFiles/Nimbrel, with the configured level set and the echo off.
class log_home {
public:
    explicit log_home(severity configured_level) {
        fs::create_directory(home_.path() / "LogFiles");
        environment_.set("WEBSITE_SITE_NAME", "site");
        environment_.set("HOME", home_.path().string());
        LoggingConfiguration::config().level = configured_level;
        LoggingConfiguration::config().echo_to_stdout = false;
    }
    fs::path directory() const { return home_.path() / "LogFiles" / "Nimbrel"; }
    std::vector<std::string> files() const {
        return fs::exists(directory()) ? directory_entries(directory()) : std::vector<std::string>{};
    }

private:
    scratch_directory home_;
    scoped_environment environment_;
};

TEST(NbTimestamp, FormatsLocalTimeWithMicrosecondsInBrackets) {
    using namespace boost::posix_time;
    const boost::gregorian::date day(2026, 12, 11);
    EXPECT_EQ(nb_timestamp::format(ptime(day, hours(7) + minutes(40) + seconds(1) + microseconds(123456))),
              "[2026-12-11 07:40:01.123456]");
    EXPECT_EQ(nb_timestamp::format(ptime(day, hours(23) + microseconds(5))), "[2026-12-11 23:00:00.000005]");
    EXPECT_TRUE(matches(timestamp_format, nb_timestamp::now())) << nb_timestamp::now();
}

TEST(LogSink, WritesOneFileWithNamePatternAndLineFormat) {
    run_in_child([] {
        log_home home(Debug);
        auto sink = init_logging(Debug, Fatal);
        ASSERT_TRUE(sink);

        const std::string base = get_log_file_name();
        EXPECT_EQ(get_log_file_name(), base);
        EXPECT_TRUE(matches(home.directory().string() + "/ZizEzeRevezOde_profiler_logging_tests_" +
                                std::to_string(getpid()) + "__[0-9a-f-]{36}",
                            base))
            << base;

        wtracing_scope scope(L"App", L"Ns.Type", L"Run");
        scope.level = Debug;
        scope.trace(Debug, L"caf\u00e9 \U0001F600");
        wtrace_always(Error, L"already ends in a newline\n");
        uint64_t worker_handle = 0;
        std::thread worker([&] {
            worker_handle = static_cast<uint64_t>(pthread_self());
            trace_always(Info, "from another thread");
        });
        worker.join();
        stop_logging(sink);
        EXPECT_FALSE(sink);

        const std::string file_name = fs::path(base).filename().string() + "_00000.log";
        ASSERT_EQ(home.files(), std::vector<std::string>{file_name});
        const auto lines = read_log(home.directory() / file_name);
        EXPECT_EQ(messages(lines),
                  (std::vector<std::string>{started_line(), "[App]Ns.Type:Run() :  caf\xC3\xA9 \xF0\x9F\x98\x80",
                                            "already ends in a newline", "from another thread", stopped_line()}));
        ASSERT_EQ(lines.size(), 5u);
        const std::vector<std::string> levels = {"DEBUG", "DEBUG", "ERROR", "INFO", "DEBUG"};
        const auto main_handle = static_cast<uint64_t>(pthread_self());
        for (size_t i = 0; i < lines.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(lines[i].level, levels[i]);
            EXPECT_EQ(lines[i].pid, static_cast<uint64_t>(getpid()));
            EXPECT_EQ(lines[i].tid, i == 3 ? worker_handle : main_handle);
        }
        EXPECT_NE(worker_handle, main_handle);
    });
}

TEST(LogSink, FilterUsesLevelArgumentAndConfiguredLevelAtStart) {
    const struct {
        severity configured;
        severity level;
        std::vector<std::string> expected;  // messages in the file; empty: no file at all
    } rows[] = {
        {Debug, Debug, {"start", "error", "info", "debug", "stop"}},
        {Trace, Trace, {"start", "error", "info", "debug", "trace", "stop"}},
        {Debug, Info, {"error", "info"}},
        {None, Trace, {}},  // switched off: not even the start line, and no file
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "configured " << row.configured << ", level " << row.level);
        run_in_child([&row] {
            log_home home(row.configured);
            auto sink = init_logging(row.level, Fatal);
            ASSERT_TRUE(sink);
            wtrace_always(Error, L"error");
            wtrace_always(Info, L"info");
            wtrace_always(Debug, L"debug");
            wtrace_always(Trace, L"trace");
            stop_logging(sink);

            const auto files = home.files();
            if (row.expected.empty()) {
                EXPECT_EQ(files, std::vector<std::string>{});
                return;
            }
            ASSERT_EQ(files.size(), 1u);
            auto got = messages(read_log(home.directory() / files[0]));
            for (auto& message : got) {
                if (message == started_line()) message = "start";
                if (message == stopped_line()) message = "stop";
            }
            EXPECT_EQ(got, row.expected);
        });
    }
}

TEST(LogSink, RotatesToNextFileAtTenMebibytes) {
    run_in_child([] {
        log_home home(Debug);
        auto sink = init_logging(Debug, Fatal);
        ASSERT_TRUE(sink);
        const std::string text(1000, 'r');
        // About 10.9 MB of lines: enough to fill the first file and start the second.
        const int count = 10000;
        for (int i = 0; i < count; ++i) {
            trace_always(Debug, text);
        }
        trace_always(Debug, "last");
        stop_logging(sink);

        const std::string base = fs::path(get_log_file_name()).filename().string();
        ASSERT_EQ(home.files(), (std::vector<std::string>{base + "_00000.log", base + "_00001.log"}));
        const auto first = home.directory() / (base + "_00000.log");
        const auto second = home.directory() / (base + "_00001.log");
        const auto first_size = fs::file_size(first);
        const auto line_size = read_log(second).front().message.size() + 100;
        EXPECT_LT(first_size, 10485760u);
        EXPECT_GT(first_size, 10485760u - line_size);

        const auto first_lines = read_log(first);
        const auto second_lines = read_log(second);
        EXPECT_EQ(first_lines.front().message, started_line());
        EXPECT_EQ(second_lines.back().message, stopped_line());
        EXPECT_EQ(second_lines[second_lines.size() - 2].message, "last");
        // Every record made it into one of the two files.
        EXPECT_EQ(first_lines.size() + second_lines.size(), static_cast<size_t>(count) + 3);
    });
}

TEST(LogSink, StoppedLoggingStaysStoppedAndSilent) {
    run_in_child([] {
        log_home home(Debug);
        LoggingConfiguration::config().echo_to_stdout = true;
        testing::internal::CaptureStdout();
        auto sink = init_logging(Debug, Fatal);
        ASSERT_TRUE(sink);
        wtrace_always(Debug, L"before stop");
        stop_logging(sink);
        EXPECT_TRUE(nb_logger::stopped_);
        EXPECT_EQ(nb_logger::get(), nullptr);

        auto again = sink;
        stop_logging(again);  // nothing left to stop
        auto restarted = init_logging(Debug, Fatal);
        EXPECT_FALSE(restarted);

        wtracing_scope scope;
        scope.level = Debug;
        scope.trace(Debug, L"after stop");
        scope.trace_f(Debug, L"after stop %d", 1);
        wtrace_always(Error, L"after stop");
        wtrace_f_always(Error, L"after stop");
        trace_always(Error, "after stop");
        trace_f_always(Error, "after stop");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "before stop\n");

        const auto files = home.files();
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(messages(read_log(home.directory() / files[0])),
                  (std::vector<std::string>{started_line(), "before stop", stopped_line()}));
    });
}

}  // namespace
