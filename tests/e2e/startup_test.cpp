// Start-up against the real runtime: which processes activate, what the log file
// holds, and that the application's behaviour never changes.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "e2e/dotnet_app.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> parse_report(const std::string& text) {
    std::map<std::string, std::string> facts;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq != std::string::npos) facts[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return facts;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// Every line of `part` appears in `whole`, in the same order.
bool is_subsequence(const std::string& part, const std::string& whole) {
    auto wanted = lines_of(part), have = lines_of(whole);
    size_t i = 0;
    for (const auto& line : have)
        if (i < wanted.size() && line == wanted[i]) ++i;
    return i == wanted.size();
}

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(home() / "LogFiles");
        fs::create_directories(config_dir());
    }

    fs::path home() const { return scratch.path() / "home"; }
    fs::path config_dir() const { return scratch.path() / "config"; }
    fs::path log_dir() const { return home() / "LogFiles" / "Nimbrel"; }
    fs::path report_path() const { return scratch.path() / "report.txt"; }

    void write_config(const std::string& settings, const std::string& applications = "") {
        std::ofstream(config_dir() / "agent.config")
            << "<?xml version=\"1.0\"?>\n<configuration>\n<appSettings>\n" << settings << "</appSettings>\n"
            << "<instrumentation><applications>" << applications << "</applications></instrumentation>\n"
            << "</configuration>\n";
    }

    // The profiler attached, logs steered into the scratch home, configuration from
    // the scratch config folder.
    child_options profiled(child_options options) {
        with_profiler(options);
        options.env["NIMBREL_CONFIG"] = config_dir().string();
        options.env["WEBSITE_SITE_NAME"] = "e2e";
        options.env["HOME"] = home().string();
        options.env["NIMBREL_TEST_REPORT"] = report_path().string();
        options.env["NIMBREL_TEST_LIBRARY"] = profiler_library_path();
        return options;
    }

    child_options smoke_app(const std::vector<std::string>& args = {"3"}) { return dotnet_app("SmokeApp", args); }

    std::map<std::string, std::string> report() const { return parse_report(read_file(report_path())); }

    std::vector<fs::path> log_files() const {
        std::vector<fs::path> files;
        if (fs::exists(log_dir()))
            for (const auto& entry : fs::directory_iterator(log_dir())) files.push_back(entry.path());
        return files;
    }

    std::string only_log() const {
        auto files = log_files();
        EXPECT_EQ(files.size(), 1u);
        return files.empty() ? std::string() : read_file(files.front());
    }

    child_result run(const child_options& options) {
        child_result result = run_child(options);
        EXPECT_FALSE(result.timed_out);
        return result;
    }

    scratch_directory scratch;
};

TEST_F(Startup, DotnetHostWithDebugLoggingActivatesAndLogs) {
    write_config(R"(<add key="LogLevel" value="Debug"/>)");
    child_result plain = run(smoke_app());
    child_result traced = run(profiled(smoke_app()));

    EXPECT_EQ(traced.exit_code, plain.exit_code) << traced.err;
    // Log records are echoed on top of the application's own output.
    EXPECT_TRUE(is_subsequence(plain.out, traced.out)) << traced.out;
    EXPECT_NE(traced.out.find("CClrProfiler::Initialize(): Nimbrel Profiler initialized succesfully."), std::string::npos);

    auto facts = report();
    EXPECT_EQ(facts["attached"], "1");
    auto files = log_files();
    ASSERT_EQ(files.size(), 1u);
    std::regex name(R"(ZizEzeRevezOde_profiler_dotnet_[0-9]+__[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}_00000\.log)");
    EXPECT_TRUE(std::regex_match(files.front().filename().string(), name)) << files.front();

    std::string log = read_file(files.front());
    // The version the runtime reports to the profiler is the one the app runs on.
    std::string version = facts["runtime"];  // major.minor.build
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(version, parts, std::regex(R"((\d+)\.(\d+)\.(\d+).*)"))) << version;
    std::string detection = "CClrProfiler::IsCoreCLR: Runtime is CoreCRL. Version:" + parts[1].str() + "." + parts[2].str() +
                            " Build:" + parts[3].str() + " QFEVersion:";
    EXPECT_NE(log.find(detection), std::string::npos) << log;
    for (const char* line : {"CClrProfiler::LogEnvironmentInfo(): CORECLR_ENABLE_PROFILING = 1",
                             "CClrProfiler::LogEnvironmentInfo(): CORECLR_PROFILER_PATH_64 - NOT SET",
                             "CClrProfiler::Initialize(): Nimbrel Profiler initialized succesfully.",
                             "CClrProfiler::Shutdown(): Shudown Nimbrel Profiler. Stop logging system."})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    std::regex line_format(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}\] Level=DEBUG PID=\d+ TID=\d+ Message: .*)");
    for (const auto& line : lines_of(log)) EXPECT_TRUE(std::regex_match(line, line_format)) << line;
}

TEST_F(Startup, EchoSwitchedOffKeepsStandardOutputByteForByte) {
    write_config(R"(<add key="LogLevel" value="Trace"/><add key="LogToStandardOutput" value="Disabled"/>)");
    child_result plain = run(smoke_app());
    child_result traced = run(profiled(smoke_app()));
    EXPECT_EQ(traced.out, plain.out);
    EXPECT_EQ(traced.exit_code, plain.exit_code);
    EXPECT_EQ(report()["attached"], "1");
    EXPECT_NE(only_log().find("Nimbrel Profiler initialized succesfully."), std::string::npos);
}

TEST_F(Startup, NoConfigurationFileActivatesWithoutALogFile) {
    child_result plain = run(smoke_app());
    child_result traced = run(profiled(smoke_app()));
    EXPECT_EQ(traced.out, plain.out);
    EXPECT_EQ(traced.exit_code, plain.exit_code);
    EXPECT_EQ(report()["attached"], "1");
    EXPECT_TRUE(log_files().empty());
}

TEST_F(Startup, RefusalsLeaveTheAppUnchanged) {
    struct row {
        const char* name;
        std::string config;  // written verbatim; empty: no file
    };
    const row rows[] = {
        {"malformed configuration", "<configuration><appSettings><add key=\"LogLevel\" value=\"Debug\"/>"},
        {"dotnet disabled in the applications list",
         "<configuration><instrumentation><applications><application name=\"DotNet\" nimBrel=\"Disabled\"/>"
         "</applications></instrumentation></configuration>"},
    };
    child_result plain = run(smoke_app());
    for (const auto& r : rows) {
        std::ofstream(config_dir() / "agent.config") << r.config;
        child_result traced = run(profiled(smoke_app()));
        EXPECT_EQ(traced.out, plain.out) << r.name;
        EXPECT_EQ(traced.exit_code, plain.exit_code) << r.name;
        EXPECT_EQ(report()["attached"], "0") << r.name;
        EXPECT_TRUE(log_files().empty()) << r.name;
    }
}

TEST_F(Startup, ApphostActivatesOnlyWhenListed) {
    child_options apphost;
    apphost.argv = {std::string(NIMBREL_MANAGED_DIR) + "/SmokeApp/SmokeApp", "4"};
    child_result plain = run(apphost);
    ASSERT_EQ(plain.exit_code, 4) << plain.err;

    write_config(R"(<add key="LogLevel" value="Debug"/><add key="LogToStandardOutput" value="Disabled"/>)");
    child_result unlisted = run(profiled(apphost));
    EXPECT_EQ(unlisted.out, plain.out);
    EXPECT_EQ(unlisted.exit_code, 4);
    EXPECT_EQ(report()["attached"], "0");
    EXPECT_NE(only_log().find("CClrProfiler::Initialize(): ShouldTrace returned false. Cancel activation for profiler."),
              std::string::npos);

    for (const auto& entry : log_files()) fs::remove(entry);
    write_config(R"(<add key="LogLevel" value="Debug"/><add key="LogToStandardOutput" value="Disabled"/>)",
                 R"(<application name="SMOKEAPP"/>)");
    child_result listed = run(profiled(apphost));
    EXPECT_EQ(listed.out, plain.out);
    EXPECT_EQ(listed.exit_code, 4);
    EXPECT_EQ(report()["attached"], "1");
}

TEST_F(Startup, InliningSwitchReachesTheJit) {
    child_result plain = run(smoke_app());
    ASSERT_EQ(report().count("inlined"), 0u);  // the plain run wrote no report
    auto without_option = profiled(smoke_app());
    write_config("");
    run(without_option);
    EXPECT_EQ(report()["inlined"], "1");

    struct row {
        const char* name;
        std::string settings, applications;
    };
    const row rows[] = {
        {"applications list", "", R"(<application name="dotnet" inlining="Disabled"/>)"},
        {"Inlining key", R"(<add key="Inlining" value="Disabled"/>)", ""},
    };
    for (const auto& r : rows) {
        write_config(r.settings, r.applications);
        child_result traced = run(profiled(smoke_app()));
        EXPECT_EQ(traced.out, plain.out) << r.name;
        auto facts = report();
        EXPECT_EQ(facts["attached"], "1") << r.name;
        EXPECT_EQ(facts["inlined"], "0") << r.name;
    }
}

TEST_F(Startup, MalformedEnvironmentValueCancelsWithOneErrorLine) {
    write_config(R"(<add key="LogLevel" value="Debug"/><add key="LogToStandardOutput" value="Disabled"/>)");
    child_result plain = run(smoke_app());
    auto options = profiled(smoke_app());
    options.env["NIMBREL_HOME_APM_DOTNET"] = "/opt/\xff\xfe";  // not UTF-8
    child_result traced = run(options);
    EXPECT_EQ(traced.out, plain.out);
    EXPECT_EQ(traced.exit_code, plain.exit_code);
    EXPECT_EQ(report()["attached"], "0");
    std::string log = only_log();
    EXPECT_NE(log.find("Level=ERROR"), std::string::npos) << log;
    EXPECT_EQ(log.find("initialized succesfully"), std::string::npos);
}

// SDK commands and options run the runtime inside the dotnet process (or not at all);
// either way they must behave exactly as without the profiler.
TEST_F(Startup, SdkCommandsAndOptionsAreLeftAlone) {
    write_config(R"(<add key="LogLevel" value="Debug"/><add key="LogToStandardOutput" value="Disabled"/>)");
    struct row {
        std::vector<std::string> argv;
        const char* cancel_line;  // nullptr: the runtime may not start at all
    };
    const row rows[] = {
        {{"dotnet", "help"}, "CClrProfiler::DotnetInvokedWithCommandOrOption(): dotnet invoked with command 'help'."},
        {{"dotnet", "--version"}, nullptr},
        {{"dotnet", "--info"}, nullptr},
    };
    for (const auto& r : rows) {
        child_options plain_options;
        plain_options.argv = r.argv;
        plain_options.env["DOTNET_NOLOGO"] = "1";
        plain_options.env["DOTNET_CLI_TELEMETRY_OPTOUT"] = "1";
        child_result plain = run(plain_options);
        for (const auto& entry : log_files()) fs::remove(entry);
        child_result traced = run(profiled(plain_options));
        EXPECT_EQ(traced.out, plain.out) << r.argv[1];
        EXPECT_EQ(traced.exit_code, plain.exit_code) << r.argv[1];
        std::string log;
        for (const auto& file : log_files()) log += read_file(file);
        EXPECT_EQ(log.find("initialized succesfully"), std::string::npos) << r.argv[1];
        if (r.cancel_line) {
            EXPECT_NE(log.find(r.cancel_line), std::string::npos) << log;
        }
    }
}

TEST_F(Startup, DotnetBuildOfATinyProjectIsLeftAlone) {
    write_config(R"(<add key="LogLevel" value="Debug"/><add key="LogToStandardOutput" value="Disabled"/>)");
    fs::path project = scratch.path() / "tiny";
    fs::create_directories(project);
    std::ofstream(project / "tiny.csproj") << "<Project Sdk=\"Microsoft.NET.Sdk\"><PropertyGroup>"
                                              "<OutputType>Exe</OutputType><TargetFramework>net10.0</TargetFramework>"
                                              "</PropertyGroup></Project>\n";
    std::ofstream(project / "Program.cs") << "System.Console.WriteLine(\"tiny\");\n";

    child_options build;
    // No build servers: they would outlive the test with the profiler in their environment.
    build.argv = {"dotnet", "build", (project / "tiny.csproj").string(), "--disable-build-servers", "-nologo",
                  "-p:UseSharedCompilation=false", "-o", (project / "out").string()};
    build.env["DOTNET_NOLOGO"] = "1";
    build.env["DOTNET_CLI_TELEMETRY_OPTOUT"] = "1";
    build.env["MSBUILDDISABLENODEREUSE"] = "1";
    build.timeout = std::chrono::seconds(300);
    child_result traced = run(profiled(build));
    EXPECT_EQ(traced.exit_code, 0) << traced.out << traced.err;
    EXPECT_TRUE(fs::exists(project / "out" / "tiny.dll"));
    std::string log;
    for (const auto& file : log_files()) log += read_file(file);
    EXPECT_NE(log.find("CClrProfiler::DotnetInvokedWithCommandOrOption(): dotnet invoked with command 'build'."),
              std::string::npos);
}

}  // namespace
}  // namespace e2e
