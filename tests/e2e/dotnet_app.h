// Building blocks of the end-to-end scenarios: the sample apps built by the SDK,
// the profiler attached through the child's environment, and a scratch directory
// per test.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/child_process.h"

namespace e2e {

inline constexpr const char* profiler_clsid = "{5E1A9C37-40B2-4F6D-9A81-2C7D3B6E0F54}";

// Absolute path of the built NimbrelProfiler.so.
std::string profiler_library_path();

// `dotnet <build>/managed/<app>/<app>.dll <args...>`.
child_options dotnet_app(const std::string& app, const std::vector<std::string>& args = {});

// Sets the three runtime variables that load the profiler into that child only, and
// names the agent home the build prepared (the test agent in its netcoreapp3.1
// folder), as an installation has one: the loader then starts the agent silently
// instead of printing that it found none. Remove NIMBREL_HOME_APM_DOTNET for a run
// without an agent.
child_options& with_profiler(child_options& options);

std::string read_file(const std::filesystem::path& path);

// A fresh directory under the system temp folder, removed with the object.
class scratch_directory {
public:
    scratch_directory();
    ~scratch_directory();
    scratch_directory(const scratch_directory&) = delete;
    scratch_directory& operator=(const scratch_directory&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace e2e
