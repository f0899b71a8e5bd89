// Locating and reading agent.config: which file is used, how keys are found, what
// the log levels and option keys turn into, and that no bad file escapes as a failure.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <string>

#include "logging/logging_configuration.h"
#include "profiler/clr_profiler.h"
#include "support/scoped_environment.h"

namespace {

using test_support::scoped_environment;
using test_support::scratch_directory;

std::string config_with_settings(const std::string& add_elements) {
    return "<?xml version=\"1.0\"?>\n<configuration>\n  <appSettings>\n" + add_elements +
           "  </appSettings>\n</configuration>\n";
}

class AgentConfig : public ::testing::Test {
protected:
    void SetUp() override {
        env.unset("NIMBREL_CONFIG").unset("NIMBREL_HOME_APM_DOTNET").unset("CORECLR_PROFILER_PATH_64")
            .unset("CORECLR_PROFILER_PATH").unset("WEBSITE_SITE_NAME").unset("COMPLUS_LoaderOptimization");
        auto& config = LoggingConfiguration::config();
        config.level = None;
        config.event_log_level = Fatal;
        config.echo_to_stdout = true;
    }
    void TearDown() override { SetUp(); }

    void use_config(const std::string& content) {
        dir.write("agent.config", content);
        env.set("NIMBREL_CONFIG", dir.path().string());
    }

    scoped_environment env;
    scratch_directory dir;
    CClrProfiler profiler;
};

TEST_F(AgentConfig, KeyLookups) {
    struct row {
        const char* name;
        std::string settings;
        const char* key;
        bool found;
        const char* value;
    };
    const row rows[] = {
        {"plain", R"(<add key="Inlining" value="Disabled"/>)", "Inlining", true, "Disabled"},
        {"element name in capitals", R"(<ADD key="Inlining" value="Disabled"/>)", "Inlining", true, "Disabled"},
        {"key case matters", R"(<add key="inlining" value="Disabled"/>)", "Inlining", false, ""},
        {"first of two wins", R"(<add key="LogLevel" value="Debug"/><add key="LogLevel" value="Trace"/>)", "LogLevel",
         true, "Debug"},
        {"add without key stops the lookup", R"(<add value="x"/><add key="Inlining" value="Disabled"/>)", "Inlining",
         false, ""},
        {"other elements are skipped", R"(<remove key="Inlining"/><addx key="Inlining" value="A"/><add key="Inlining" value="B"/>)",
         "Inlining", true, "B"},
        {"matching add without value", R"(<add key="Inlining"/>)", "Inlining", false, ""},
        {"absent key", R"(<add key="Other" value="1"/>)", "Inlining", false, ""},
    };
    for (const auto& r : rows) {
        use_config(config_with_settings(r.settings));
        boost::property_tree::ptree tree;
        ASSERT_EQ(profiler.LoadAgentConfig(tree), 0) << r.name;
        std::string value = "stale";
        EXPECT_EQ(profiler.ReadKey(tree, r.key, value), r.found) << r.name;
        EXPECT_EQ(value, r.value) << r.name;
    }
}

TEST_F(AgentConfig, CheckKeyComparesTheValueExactly) {
    use_config(config_with_settings(R"(<add key="Inlining" value="disabled"/><add key="Optimizations" value="Disabled"/>)"));
    EXPECT_FALSE(profiler.CheckKey("Inlining", "Disabled"));
    EXPECT_TRUE(profiler.CheckKey("Optimizations", "Disabled"));
    EXPECT_FALSE(profiler.CheckKey("Missing", "Disabled"));
}

TEST_F(AgentConfig, FileLocationFollowsTheEnvironmentInOrder) {
    scratch_directory config_dir, home_dir, library_root;
    config_dir.write("agent.config", config_with_settings(R"(<add key="Where" value="config"/>)"));
    home_dir.write("agent.config", config_with_settings(R"(<add key="Where" value="home"/>)"));
    library_root.write("agent.config", config_with_settings(R"(<add key="Where" value="library"/>)"));
    std::string library = (library_root.path() / "bin" / "NimbrelProfiler.so").string();

    env.set("NIMBREL_CONFIG", config_dir.path().string())
        .set("NIMBREL_HOME_APM_DOTNET", home_dir.path().string())
        .set("CORECLR_PROFILER_PATH_64", library);
    EXPECT_TRUE(profiler.CheckKey("Where", "config"));
    env.unset("NIMBREL_CONFIG");
    EXPECT_TRUE(profiler.CheckKey("Where", "home"));
    env.unset("NIMBREL_HOME_APM_DOTNET");
    EXPECT_TRUE(profiler.CheckKey("Where", "library"));  // one level above the library's folder
    env.unset("CORECLR_PROFILER_PATH_64").set("CORECLR_PROFILER_PATH", library);
    EXPECT_TRUE(profiler.CheckKey("Where", "library"));
}

TEST_F(AgentConfig, WorkingDirectoryIsTheLastResort) {
    dir.write("agent.config", config_with_settings(R"(<add key="Where" value="cwd"/>)"));
    auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    bool found = profiler.CheckKey("Where", "cwd");
    std::filesystem::current_path(previous);
    EXPECT_TRUE(found);
}

TEST_F(AgentConfig, LoadStatusForBadFiles) {
    struct row {
        const char* name;
        std::function<void(const scratch_directory&)> prepare;
        int status;
    };
    const row rows[] = {
        {"missing", [](const scratch_directory&) {}, 2},
        {"malformed", [](const scratch_directory& d) { d.write("agent.config", "<configuration><appSettings>"); }, 1},
        // An empty file parses to an empty tree: every key is simply absent.
        {"empty", [](const scratch_directory& d) { d.write("agent.config", ""); }, 0},
        {"directory in its place", [](const scratch_directory& d) { std::filesystem::create_directory(d.path() / "agent.config"); }, 1},
        // A FIFO would block the reader forever: refused without opening it.
        {"fifo in its place", [](const scratch_directory& d) { mkfifo((d.path() / "agent.config").c_str(), 0600); }, 1},
        {"huge", [](const scratch_directory& d) {
             d.write("agent.config", config_with_settings(std::string(5 * 1024 * 1024, ' ')));
         }, 1},
        {"not xml", [](const scratch_directory& d) { d.write("agent.config", "\xff\xfe<<configuration"); }, 1},
    };
    for (const auto& r : rows) {
        scratch_directory case_dir;
        r.prepare(case_dir);
        env.set("NIMBREL_CONFIG", case_dir.path().string());
        boost::property_tree::ptree tree;
        EXPECT_EQ(profiler.LoadAgentConfig(tree), r.status) << r.name;
        EXPECT_FALSE(profiler.CheckKey("Inlining", "Disabled")) << r.name;
    }
}

TEST_F(AgentConfig, ConfigVariableNamesADirectoryNeverTheFile) {
    auto file = dir.write("agent.config", config_with_settings(R"(<add key="Inlining" value="Disabled"/>)"));
    env.set("NIMBREL_CONFIG", file.string());
    boost::property_tree::ptree tree;
    EXPECT_EQ(profiler.LoadAgentConfig(tree), 2);
}

TEST_F(AgentConfig, LogLevels) {
    struct row {
        const char* name;
        std::string settings;
        severity level;
        severity event_log_level;
        bool echo;
    };
    const row rows[] = {
        {"no keys", "", None, Fatal, true},
        {"Info stays off", R"(<add key="LogLevel" value="Info"/>)", None, Fatal, true},
        {"lower-case debug", R"(<add key="LogLevel" value="debug"/>)", Debug, Fatal, true},
        {"Trace", R"(<add key="LogLevel" value="Trace"/>)", Trace, Fatal, true},
        {"specific key wins even when ignored",
         R"(<add key="LogLevel.Nimbrel.Instrumentation.ClrProfiler" value="Info"/><add key="LogLevel" value="Trace"/>)",
         None, Fatal, true},
        {"specific key", R"(<add key="LogLevel.Nimbrel.Instrumentation.ClrProfiler" value="Debug"/>)", Debug, Fatal, true},
        {"unknown event level switches the event log off", R"(<add key="EventViewerLogLevel" value="Loud"/>)", None, None, true},
        {"event level Warning", R"(<add key="EventViewerLogLevel" value="Warning"/>)", None, Warning, true},
        {"echo off", R"(<add key="LogLevel" value="Debug"/><add key="LogToStandardOutput" value="Disabled"/>)", Debug,
         Fatal, false},
    };
    for (const auto& r : rows) {
        SetUp();
        use_config(config_with_settings(r.settings));
        profiler.ReadLogConfiguration();
        const auto& config = LoggingConfiguration::config();
        EXPECT_EQ(config.level, r.level) << r.name;
        EXPECT_EQ(config.event_log_level, r.event_log_level) << r.name;
        EXPECT_EQ(config.echo_to_stdout, r.echo) << r.name;
    }
}

TEST_F(AgentConfig, MalformedFileLeavesLogLevelsAtDefaults) {
    use_config("<configuration><appSettings><add key=\"LogLevel\" value=\"Debug\"/>");
    profiler.ReadLogConfiguration();
    EXPECT_EQ(LoggingConfiguration::config().level, None);
    EXPECT_EQ(LoggingConfiguration::config().event_log_level, Fatal);
}

TEST_F(AgentConfig, LogTraceIdOptions) {
    struct row {
        const char* settings;
        bool result, enabled, insert, add_attribute;
    };
    const row rows[] = {
        {"", false, false, false, false},
        {R"(<add key="InsertLogTraceIdIntoLogs" value="Enabled"/>)", true, true, true, false},
        {R"(<add key="AddAttributeLogTraceId" value="Enabled"/>)", true, true, false, true},
        {R"(<add key="AddAttributeLogTraceId" value="Enabled"/><add key="InsertLogTraceIdIntoLogs" value="Enabled"/>)", true,
         true, true, true},
    };
    for (const auto& r : rows) {
        CClrProfiler fresh;
        use_config(config_with_settings(r.settings));
        EXPECT_EQ(fresh.EnableInstrumentationLoggingLibraries(), r.result) << r.settings;
        EXPECT_EQ(fresh.log_trace_id_enabled_, r.enabled) << r.settings;
        EXPECT_EQ(fresh.insert_log_trace_id_, r.insert) << r.settings;
        EXPECT_EQ(fresh.add_attribute_log_trace_id_, r.add_attribute) << r.settings;
    }
}

TEST_F(AgentConfig, DynamicLoaderDecision) {
    CClrProfiler::is_coreclr_ = true;
    env.set("WEBSITE_SITE_NAME", "site");
    EXPECT_TRUE(profiler.IsDynamicLoaderEnabled());

    CClrProfiler::is_coreclr_ = false;
    EXPECT_FALSE(profiler.IsDynamicLoaderEnabled());
    env.set("COMPLUS_LoaderOptimization", "2");
    EXPECT_FALSE(profiler.IsDynamicLoaderEnabled());
    env.set("COMPLUS_LoaderOptimization", "1");
    EXPECT_TRUE(profiler.IsDynamicLoaderEnabled());
    env.unset("WEBSITE_SITE_NAME");
    EXPECT_FALSE(profiler.IsDynamicLoaderEnabled());
    CClrProfiler::is_coreclr_ = false;
}

}  // namespace
