// The activation decision: which `dotnet` invocations are skipped, how the command
// line is read, and how the applications list decides for other processes.
#include <gtest/gtest.h>

#include <sstream>

#include "logging/log_files.h"
#include "profiler/activation.h"
#include "profiler/clr_profiler.h"
#include "support/scoped_environment.h"

namespace {

using test_support::scoped_environment;
using test_support::scratch_directory;

TEST(DotnetCommandLine, SkippedCommandsAndOptions) {
    struct row {
        std::vector<std::wstring> args;
        std::optional<std::wstring> option;
        std::optional<std::wstring> command;
    };
    const row rows[] = {
        {{L"build", L"MyProject.csproj"}, std::nullopt, L"build"},
        {{L"MyApp.dll", L"build"}, std::nullopt, std::nullopt},  // the app's own argument
        {{L"exec", L"MyApp.dll"}, std::nullopt, std::nullopt},
        {{L"run"}, std::nullopt, std::nullopt},
        {{L"--version"}, L"--version", std::nullopt},
        {{L"--INFO"}, std::nullopt, std::nullopt},  // membership is case-sensitive
        {{L"test.dll", L"--info"}, std::nullopt, std::nullopt},
        {{L"build.dll"}, std::nullopt, std::nullopt},  // contains .dll: the boundary itself, not "build"
        {{L"-h", L"new"}, L"-h", L"new"},
        {{}, std::nullopt, std::nullopt},
    };
    for (const auto& r : rows) {
        std::wstring joined;
        for (const auto& a : r.args) joined += a + L" ";
        EXPECT_EQ(check_dotnet_command(r.args, dotnet_skip_sdk_options()), r.option) << std::string(joined.begin(), joined.end());
        EXPECT_EQ(check_dotnet_command(r.args, dotnet_skip_commands()), r.command) << std::string(joined.begin(), joined.end());
    }
    EXPECT_EQ(dotnet_skip_commands().size(), 23u);
    EXPECT_EQ(dotnet_skip_sdk_options().size(), 8u);
    EXPECT_EQ(dotnet_skip_commands().count(L"run"), 0u);
}

TEST(DotnetCommandLine, ParsesNulSeparatedEntriesWithoutTheProgram) {
    const char good[] = "/usr/bin/dotnet\0build\0caf\xc3\xa9.csproj\0";
    std::istringstream in(std::string(good, sizeof good - 1));
    EXPECT_EQ(parse_command_line(in), (std::vector<std::wstring>{L"build", L"caf\u00e9.csproj"}));

    // A malformed entry stops the reading; what came before stays, program path included.
    const char malformed[] = "/usr/bin/dotnet\0ok\0\xff\0after\0";
    std::istringstream bad(std::string(malformed, sizeof malformed - 1));
    EXPECT_EQ(parse_command_line(bad), (std::vector<std::wstring>{L"/usr/bin/dotnet", L"ok"}));
}

TEST(DotnetCommandLine, ReadsThisProcesssArguments) {
    // gtest_discover_tests runs us with --gtest_filter=...; the list must show it.
    const auto& args = get_command_line_args();
    bool has_filter = false;
    for (const auto& a : args) has_filter |= a.rfind(L"--gtest", 0) == 0;
    EXPECT_TRUE(has_filter || args.empty());
    EXPECT_EQ(&args, &get_command_line_args());
}

class ApplicationsList : public ::testing::Test {
protected:
    void SetUp() override {
        env.set("NIMBREL_CONFIG", dir.path().string()).unset("NIMBREL_HOME_APM_DOTNET");
        CClrProfiler::is_coreclr_ = true;
    }
    void TearDown() override { CClrProfiler::is_coreclr_ = false; }

    std::string applications(const std::string& entries) {
        return "<configuration><instrumentation><applications>" + entries + "</applications></instrumentation></configuration>";
    }
    // The test executable is not the dotnet host, so its default answer is false.
    std::string me() const { return get_process_name(); }

    scoped_environment env;
    scratch_directory dir;
};

TEST_F(ApplicationsList, DecidesForAProcessThatIsNotTheDotnetHost) {
    std::string upper = me();
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    struct row {
        const char* name;
        std::string content;  // empty: no file
        int answer;
        bool inlining_disabled;
    };
    const row rows[] = {
        {"no file", "", 0, false},
        {"not listed", applications(R"(<application name="other"/>)"), 0, false},
        {"listed in other case", applications("<application name=\"" + upper + "\"/>"), 1, false},
        {"listed but disabled", applications("<application name=\"" + me() + "\" nimBrel=\"Disabled\"/>"), 0, false},
        {"disabled spelled in lower case", applications("<application name=\"" + me() + "\" nimBrel=\"disabled\"/>"), 1, false},
        {"inlining disabled", applications("<application name=\"" + me() + "\" inlining=\"Disabled\"/>"), 1, true},
        {"inlining value case matters", applications("<application name=\"" + me() + "\" inlining=\"disabled\"/>"), 1, false},
        {"first entry decides",
         applications("<application name=\"" + me() + "\" nimBrel=\"Disabled\"/><application name=\"" + me() + "\"/>"), 0, false},
        {"entry without name is skipped", applications("<application/><app name=\"" + me() + "\"/>"), 1, false},
        {"no applications element", "<configuration/>", 0, false},
        {"malformed file", "<configuration><instrumentation>", 0, false},
    };
    for (const auto& r : rows) {
        std::filesystem::remove(dir.path() / "agent.config");
        if (!r.content.empty()) dir.write("agent.config", r.content);
        CClrProfiler profiler;
        EXPECT_EQ(profiler.ShouldTrace(), r.answer) << r.name;
        EXPECT_EQ(profiler.disable_inlining_, r.inlining_disabled) << r.name;
    }
}

}  // namespace
