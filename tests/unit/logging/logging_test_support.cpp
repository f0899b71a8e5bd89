#include "logging_test_support.h"

#include <regex.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/core/core.hpp>
#include <boost/log/expressions/message.hpp>
#include <gtest/gtest.h>

record_capture::record_capture() : sink_(boost::make_shared<boost::log::sinks::synchronous_sink<backend>>()) {
    boost::log::core::get()->add_sink(sink_);
}

record_capture::~record_capture() { boost::log::core::get()->remove_sink(sink_); }

std::vector<captured_record> record_capture::records() const { return sink_->locked_backend()->records; }

void record_capture::backend::consume(const boost::log::record_view& record) {
    const auto level = boost::log::extract<severity>("Severity", record);
    const auto text = record[boost::log::expressions::wmessage];
    records.push_back({level ? *level : static_cast<severity>(-1), text ? *text : L"<no wide message>"});
}

std::vector<std::string> directory_entries(const std::filesystem::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::vector<std::string>> match_groups(const std::string& pattern, const std::string& text) {
    regex_t compiled;
    if (regcomp(&compiled, ("^(" + pattern + ")$").c_str(), REG_EXTENDED) != 0) {
        throw std::invalid_argument("bad pattern: " + pattern);
    }
    std::vector<regmatch_t> found(compiled.re_nsub + 1);
    const bool matched = regexec(&compiled, text.c_str(), found.size(), found.data(), 0) == 0;
    regfree(&compiled);
    if (!matched) {
        return std::nullopt;
    }
    // found[1] is the whole text; the caller's groups follow.
    std::vector<std::string> groups;
    for (size_t i = 2; i < found.size(); ++i) {
        groups.push_back(found[i].rm_so < 0 ? std::string()
                                            : text.substr(found[i].rm_so, found[i].rm_eo - found[i].rm_so));
    }
    return groups;
}

bool matches(const std::string& pattern, const std::string& text) { return match_groups(pattern, text).has_value(); }

void run_in_child(const std::function<void()>& body) {
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    ASSERT_NE(child, -1) << "fork failed";
    if (child == 0) {
        bool threw = false;
        try {
            body();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "scenario threw: %s\n", e.what());
            threw = true;
        } catch (...) {
            std::fprintf(stderr, "scenario threw a non-standard exception\n");
            threw = true;
        }
        std::fflush(stdout);
        std::fflush(stderr);
        // _exit: the child must not run the parent's remaining tests or its exit handlers.
        _exit(threw || testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "scenario died with signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the scenario's failures are printed above";
}
