// Runs a child process with a chosen environment and collects what it printed.
// The harness's own environment is never changed: profiler variables reach only
// the child. Inherited CORECLR_* and NIMBREL_* variables are dropped first, so a
// stray setting of the developer's shell cannot leak into a test.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

struct child_result {
    int exit_code = -1;        // exit status, or 128 + signal number
    bool timed_out = false;
    std::string out;
    std::string err;
};

struct child_options {
    std::vector<std::string> argv;                           // argv[0] is looked up on PATH
    std::map<std::string, std::optional<std::string>> env;   // nullopt removes a variable
    std::string working_directory;                           // empty: the harness's own
    std::chrono::seconds timeout{120};
};

child_result run_child(const child_options& options);

}  // namespace e2e
