// Reading "agent.config", the XML file the profiler shares with the managed agent.
// The file is never cached: every lookup finds, opens and parses it again, so a
// setting edited while the process runs is seen by later lookups. No failure here
// escapes: a missing file means every key takes its default.
#include <cstdlib>
#include <fstream>
#include <locale>
#include <sstream>
#include <stdexcept>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/filesystem.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include "logging/event_log.h"
#include "logging/is_azure.h"
#include "logging/logging_configuration.h"
#include "logging/text_conversions.h"
#include "profiler/clr_profiler.h"

namespace pt = boost::property_tree;
namespace fs = boost::filesystem;

namespace {

// A configuration file larger than this is not a configuration file; refusing it
// keeps a misplaced log or dump from stalling the host's start-up.
constexpr uintmax_t max_config_file_size = 4 * 1024 * 1024;

const char* environment_value(const char* name) { return std::getenv(name); }

fs::path config_directory() {
    if (const char* dir = environment_value("NIMBREL_CONFIG")) return fs::path(dir);
    CClrProfiler::scope.trace_f(Debug, L"CClrProfiler::LoadAgentConfig(): NIMBREL_CONFIG is not set.");
    if (const char* dir = environment_value("NIMBREL_HOME_APM_DOTNET")) return fs::path(dir);
    CClrProfiler::scope.trace_f(Debug, L"CClrProfiler::LoadAgentConfig(): NIMBREL_HOME_APM_DOTNET is not set.");
    const char* library = environment_value("CORECLR_PROFILER_PATH_64");
    if (library == nullptr) library = environment_value("CORECLR_PROFILER_PATH");
    // The library sits one level below the agent's home, which holds the file.
    if (library != nullptr) return fs::path(library).parent_path().parent_path();
    return fs::path(".");
}

// Reads the whole file, refusing anything but a regular file of sane size: opening a
// FIFO or device would block the runtime's start-up thread.
std::string read_config_text(const fs::path& path) {
    if (!fs::is_regular_file(path)) throw std::runtime_error("agent.config is not a regular file");
    if (fs::file_size(path) > max_config_file_size) throw std::runtime_error("agent.config is too large");
    std::ifstream in(path.string(), std::ios::binary);
    if (!in) throw std::runtime_error("agent.config cannot be opened");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw std::runtime_error("agent.config cannot be read");
    return text.str();
}

bool is_add_element(const std::string& name) {
    return boost::algorithm::iequals(name, "add", std::locale());
}

}  // namespace

int CClrProfiler::LoadAgentConfig(pt::ptree& tree) {
    const wchar_t* unhandled = L"CClrProfiler::LoadAgentConfig(): Unhandled exception when attempting to load agent.config.";
    try {
        fs::path path = config_directory();
        path /= "agent.config";
        scope.trace_f(Debug, L"CClrProfiler::LoadAgentConfig(): Trying to load %s.", s2ws_replacing(path.string()).c_str());

        if (!fs::exists(fs::status(path))) {
            const wchar_t* missing = L"CClrProfiler::LoadAgentConfig(): Could not find the agent.config configuration file.";
            scope.trace_f(Error, missing);
            ReportEventLog(Error, missing);
            return 2;
        }
        std::istringstream text(read_config_text(path));
        pt::read_xml(text, tree, pt::xml_parser::no_comments | pt::xml_parser::trim_whitespace);
        return 0;
    } catch (...) {
        scope.trace_f(Error, unhandled);
        ReportEventLog(Error, unhandled);
        return 1;
    }
}

bool CClrProfiler::ReadKey(const pt::ptree& tree, const std::string& key, std::string& value) {
    value.clear();
    if (tree.empty()) return false;
    try {
        auto settings = tree.get_child_optional("configuration.appSettings");
        if (!settings) return false;
        for (const auto& [name, element] : *settings) {
            if (!is_add_element(name)) continue;
            // An add element without a key ends the lookup: get throws.
            if (element.get<std::string>("<xmlattr>.key") == key) {
                value = element.get<std::string>("<xmlattr>.value");
                return true;
            }
        }
    } catch (...) {
        value.clear();
        return false;
    }
    return false;
}

bool CClrProfiler::CheckKey(const std::string& key, const std::string& expected) {
    std::wstring wide_key = s2ws_replacing(key);
    scope.trace_f(Debug, L"CClrProfiler::CheckKey(): Searching for '%s' config variable in agent config.", wide_key.c_str());
    try {
        pt::ptree tree;
        if (LoadAgentConfig(tree) != 0) {
            scope.trace_f(Error, L"CClrProfiler::CheckKey(): Could not load agent config.");
            return false;
        }
        std::string value;
        if (ReadKey(tree, key, value) && value == expected) {
            scope.trace_f(Debug, L"CClrProfiler::CheckKey(): Found key='%s' with value='%s'.", wide_key.c_str(),
                          s2ws_replacing(value).c_str());
            return true;
        }
    } catch (const std::exception& e) {
        scope.trace_f(Error, L"CClrProfiler::CheckKey(): Unable to read key '%s'. Exception: %s.", wide_key.c_str(),
                      s2ws_replacing(e.what()).c_str());
    } catch (...) {
        scope.trace_f(Error, L"CClrProfiler::CheckKey(): Unable to read key '%s'. Unhandled exception.", wide_key.c_str());
    }
    scope.trace_f(Debug, L"CClrProfiler::CheckKey(): '%s' config variable not found in agent config.", wide_key.c_str());
    return false;
}

void CClrProfiler::ReadLogConfiguration() {
    auto& config = LoggingConfiguration::config();
    try {
        pt::ptree tree;
        if (LoadAgentConfig(tree) != 0) {
            ReportEventLog(Error, L"CClrProfiler::ReadLogConfiguration(): unable to read agent.config configuration file.");
            return;
        }
        std::string value;
        // The profiler's own key wins over the general one even when its value is ignored.
        if (ReadKey(tree, "LogLevel.Nimbrel.Instrumentation.ClrProfiler", value) || ReadKey(tree, "LogLevel", value)) {
            // Only the verbose levels write a file; anything quieter leaves it off.
            severity level = LoggingConfiguration::from_string(value);
            if (level >= Debug) config.level = level;
        }
        if (ReadKey(tree, "EventViewerLogLevel", value)) config.event_log_level = LoggingConfiguration::from_string(value);
        // A service whose standard output is read by something else keeps it clean
        // with "LogToStandardOutput" = "Disabled"; the echo is on otherwise.
        if (ReadKey(tree, "LogToStandardOutput", value)) config.echo_to_stdout = value != "Disabled";
    } catch (...) {
        ReportEventLog(Error,
                       L"CClrProfiler::ReadLogConfiguration(): unable to read agent.config configuration file. unhandled exception.");
    }
}

bool CClrProfiler::EnableInstrumentationLoggingLibraries() {
    bool insert = CheckKey("InsertLogTraceIdIntoLogs", "Enabled");
    bool add_attribute = CheckKey("AddAttributeLogTraceId", "Enabled");
    if (insert || add_attribute) {
        log_trace_id_enabled_ = true;
        insert_log_trace_id_ = insert;
        add_attribute_log_trace_id_ = add_attribute;
    }
    return insert || add_attribute;
}

bool CClrProfiler::IsDynamicLoaderEnabled() {
    if (IsCoreCLR()) return true;
    if (is_azure()) {
        const char* optimization = environment_value("COMPLUS_LoaderOptimization");
        if (optimization != nullptr && std::string(optimization) == "1") return true;
        if (optimization != nullptr) {
            scope.trace_f(Warning, L"CClrProfiler::IsDynamicLoaderEnabled(): detected .NET Framework running on Azure and COMPLUS_LoaderOptimization is not set to 1.");
        } else {
            scope.trace_f(Warning, L"CClrProfiler::IsDynamicLoaderEnabled(): detected .NET Framework running on Azure and COMPLUS_LoaderOptimization is not set.");
        }
        return false;
    }
    // The desktop runtime outside the hosting service loads the loader dynamically only
    // when this switch is on; nothing sets it yet.
    if (dynamic_framework_loader_) return CheckKey("DynamicFrameworkLoader", "Enabled");
    return false;
}
