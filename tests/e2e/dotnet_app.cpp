#include "e2e/dotnet_app.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace e2e {

std::string profiler_library_path() { return NIMBREL_PROFILER_LIBRARY; }

child_options dotnet_app(const std::string& app, const std::vector<std::string>& args) {
    child_options options;
    options.argv = {"dotnet", std::string(NIMBREL_MANAGED_DIR) + "/" + app + "/" + app + ".dll"};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env["DOTNET_NOLOGO"] = "1";
    options.env["DOTNET_CLI_TELEMETRY_OPTOUT"] = "1";
    return options;
}

child_options& with_profiler(child_options& options) {
    options.env["CORECLR_ENABLE_PROFILING"] = "1";
    options.env["CORECLR_PROFILER"] = profiler_clsid;
    options.env["CORECLR_PROFILER_PATH"] = profiler_library_path();
    options.env["NIMBREL_HOME_APM_DOTNET"] = NIMBREL_E2E_AGENT_HOME;
    return options;
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

scratch_directory::scratch_directory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nimbrel-e2e-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

scratch_directory::~scratch_directory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace e2e
