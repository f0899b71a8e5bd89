// Helpers shared by the sampling tests: a trace scope that writes everything, the
// captured texts, and a guard for the process-wide shutting-down flag.
#pragma once

#include <string>
#include <vector>

#include "logging/logging_configuration.h"
#include "logging/logging_test_support.h"
#include "logging/wtracing_scope.h"
#include "runtime/profiler_state.h"

namespace sampling_test {

// Records of every severity reach the capture, and `scope` writes all of them; echo
// to standard output is off.
class traced : public testing::Test {
protected:
    traced() {
        LoggingConfiguration::config().level = Trace;
        LoggingConfiguration::config().echo_to_stdout = false;
        scope.level = Trace;
    }

    std::vector<std::wstring> texts() const {
        std::vector<std::wstring> out;
        for (const auto& record : capture_.records()) out.push_back(record.text);
        return out;
    }
    // The captured texts that contain part.
    std::vector<std::wstring> texts_with(const std::wstring& part) const {
        std::vector<std::wstring> out;
        for (const auto& text : texts())
            if (text.find(part) != std::wstring::npos) out.push_back(text);
        return out;
    }

    configuration_guard configuration_;
    record_capture capture_;
    wtracing_scope scope;
};

// Sets the shutting-down flag for its lifetime.
class shutting_down_guard {
public:
    shutting_down_guard() { profiler_state::is_shutting_down = true; }
    ~shutting_down_guard() { profiler_state::is_shutting_down = false; }
    shutting_down_guard(const shutting_down_guard&) = delete;
    shutting_down_guard& operator=(const shutting_down_guard&) = delete;
};

}  // namespace sampling_test
