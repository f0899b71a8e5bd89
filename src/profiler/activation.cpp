// The decision whether this process is instrumented at all, and the log of the
// variables that govern profiler loading.
#include "profiler/activation.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <locale>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/filesystem.hpp>
#include <boost/property_tree/ptree.hpp>

#include "logging/log_files.h"
#include "logging/text_conversions.h"
#include "profiler/clr_profiler.h"

namespace pt = boost::property_tree;

std::vector<std::wstring> parse_command_line(std::istream& in) {
    std::vector<std::wstring> args;
    try {
        std::string entry;
        while (std::getline(in, entry, '\0')) args.push_back(s2ws(entry));
        if (!args.empty()) args.erase(args.begin());
    } catch (...) {
        // Keep what was read; a malformed entry ends the reading.
    }
    return args;
}

const std::vector<std::wstring>& get_command_line_args() {
    static const std::vector<std::wstring> args = [] {
        try {
            boost::filesystem::path path = boost::filesystem::path("/proc") / std::to_string(getpid()) / "cmdline";
            if (boost::filesystem::is_regular_file(path)) {
                std::ifstream in(path.string(), std::ios::binary);
                return parse_command_line(in);
            }
        } catch (...) {
        }
        return std::vector<std::wstring>{};
    }();
    return args;
}

const wide_string_set& dotnet_skip_commands() {
    static const wide_string_set commands = {
        L"add",  L"build", L"build-server", L"clean", L"help", L"list",   L"msbuild",   L"new",
        L"nuget", L"pack", L"publish",      L"remove", L"restore", L"sln", L"store",    L"test",
        L"tool", L"vstest", L"dev-certs",   L"fsi",   L"sql-cache", L"user-secrets", L"watch"};
    return commands;
}

const wide_string_set& dotnet_skip_sdk_options() {
    static const wide_string_set options = {L"-d",     L"--diagnostics",   L"-h",          L"--help",
                                            L"--info", L"--list-runtimes", L"--list-sdks", L"--version"};
    return options;
}

std::optional<std::wstring> check_dotnet_command(const std::vector<std::wstring>& args, const wide_string_set& set) {
    size_t boundary = args.size();
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i].find(L".dll") != std::wstring::npos) {
            boundary = i;
            break;
        }
    }
    for (size_t i = 0; i < args.size() && i <= boundary; ++i) {
        if (set.count(args[i]) != 0) return args[i];
    }
    return std::nullopt;
}

namespace {

bool same_name_ignoring_case(const std::string& a, const std::string& b) {
    return boost::algorithm::iequals(a, b, std::locale());
}

}  // namespace

bool CClrProfiler::DotnetInvokedWithCommandOrOption() {
    const auto& args = get_command_line_args();
    if (auto option = check_dotnet_command(args, dotnet_skip_sdk_options())) {
        scope.trace_f(Debug, L"CClrProfiler::DotnetInvokedWithCommandOrOption(): dotnet invoked with sdk-option '%s'.",
                      option->c_str());
        return true;
    }
    if (auto command = check_dotnet_command(args, dotnet_skip_commands())) {
        scope.trace_f(Debug, L"CClrProfiler::DotnetInvokedWithCommandOrOption(): dotnet invoked with command '%s'.",
                      command->c_str());
        return true;
    }
    return false;
}

int CClrProfiler::ShouldTrace() {
    scope.trace_f(Debug, L"CClrProfiler::ShouldTrace(): Invoked.");
    try {
        const std::string process_name = get_process_name();
        bool default_answer = false;
        if (IsCoreCLR() && same_name_ignoring_case(process_name, "dotnet")) {
            scope.trace_f(Debug, L"CClrProfiler::ShouldTrace(): .net core process.");
            if (DotnetInvokedWithCommandOrOption()) {
                scope.trace_f(Debug, L"CClrProfiler::ShouldTrace(): dotnet process invoked with a command or option. cancel activation.");
                return 0;
            }
            default_answer = true;
        }

        pt::ptree tree;
        switch (LoadAgentConfig(tree)) {
            case 0:
                break;
            case 2:
                scope.trace_f(Error, L"CClrProfiler::ShouldTrace(): could not find agent.config.");
                return default_answer;
            default:
                scope.trace_f(Error, L"CClrProfiler::ShouldTrace(): error parsing agent.config.");
                return 0;
        }

        auto applications = tree.get_child_optional("configuration.instrumentation.applications");
        if (!applications) {
            scope.trace_f(Error, L"CClrProfiler::ShouldTrace(): Could not find configuration.applications.application elements.");
            return default_answer;
        }
        for (const auto& [element_name, application] : *applications) {
            auto name = application.get_optional<std::string>("<xmlattr>.name");
            if (!name) {
                scope.trace_f(Error, L"CClrProfiler::ShouldTrace(): Error configuration.applications.application is missing name attribute.");
                continue;
            }
            if (!same_name_ignoring_case(*name, process_name)) continue;

            // The first entry naming the process decides.
            auto enabled = application.get_optional<std::string>("<xmlattr>.nimBrel");
            if (enabled && *enabled == "Disabled") return 0;
            auto inlining = application.get_optional<std::string>("<xmlattr>.inlining");
            if (inlining && *inlining == "Disabled") disable_inlining_ = true;
            return 1;
        }
        return default_answer;
    } catch (...) {
        scope.trace_f(Error, L"CClrProfiler::ShouldTrace(): Error parsing configuration.applications.");
        return 0;
    }
}

void CClrProfiler::LogEnvironmentInfo() {
    static const char* const coreclr_variables[] = {
        "CORECLR_ENABLE_PROFILING", "CORECLR_PROFILER",        "CORECLR_PROFILER_PATH", "CORECLR_PROFILER_PATH_32",
        "CORECLR_PROFILER_PATH_64", "NIMBREL_HOME_APM_DOTNET", "NIMBREL_CONFIG"};
    static const char* const desktop_variables[] = {
        "COR_ENABLE_PROFILING", "COR_PROFILER",    "COR_PROFILER_PATH", "COR_PROFILER_PATH_32", "COR_PROFILER_PATH_64",
        "COMPLUS_LoaderOptimization", "NIMBREL_HOME_APM_DOTNET", "NIMBREL_CONFIG"};

    auto log_variables = [](const auto& names) {
        for (const char* name : names) {
            std::wstring wide_name = s2ws(name);
            if (const char* value = std::getenv(name)) {
                // s2ws throws on a value that is not UTF-8; Initialize turns that into a
                // cancelled activation.
                scope.trace_f(Debug, L"CClrProfiler::LogEnvironmentInfo(): %s = %s", wide_name.c_str(), s2ws(value).c_str());
            } else {
                scope.trace_f(Debug, L"CClrProfiler::LogEnvironmentInfo(): %s - NOT SET", wide_name.c_str());
            }
        }
    };
    if (IsCoreCLR()) log_variables(coreclr_variables);
    else log_variables(desktop_variables);
}
