// The runtime loads the library, creates the profiler through the class factory
// and runs the application exactly as it would without it.
#include <gtest/gtest.h>

#include "e2e/dotnet_app.h"

namespace e2e {
namespace {

TEST(Smoke, ProfiledAppBehavesAsPlainAppAndLoadsTheLibrary) {
    scratch_directory scratch;
    auto report = scratch.path() / "report.txt";

    auto plain = dotnet_app("SmokeApp", {"5"});
    child_result expected = run_child(plain);
    ASSERT_FALSE(expected.timed_out);
    ASSERT_EQ(expected.exit_code, 5) << expected.err;

    auto profiled = dotnet_app("SmokeApp", {"5"});
    with_profiler(profiled);
    profiled.env["NIMBREL_TEST_REPORT"] = report.string();
    profiled.env["NIMBREL_TEST_LIBRARY"] = profiler_library_path();
    child_result actual = run_child(profiled);

    ASSERT_FALSE(actual.timed_out);
    EXPECT_EQ(actual.exit_code, expected.exit_code) << actual.err;
    EXPECT_EQ(actual.out, expected.out);
    // The report is written by the app after its own work: the library was mapped by
    // the runtime before the app asked for it, and the export answered.
    std::string facts = read_file(report);
    EXPECT_NE(facts.find("mapped=1"), std::string::npos) << facts;
    // With no configuration file the dotnet host running an app activates.
    EXPECT_NE(facts.find("attached=1"), std::string::npos) << facts;
}

TEST(Smoke, WrongClassIdentifierLeavesTheAppUnprofiled) {
    scratch_directory scratch;
    auto report = scratch.path() / "report.txt";
    child_result expected = run_child(dotnet_app("SmokeApp"));
    auto options = dotnet_app("SmokeApp");
    with_profiler(options);
    options.env["CORECLR_PROFILER"] = "{00000000-1111-2222-3333-444444444444}";
    options.env["NIMBREL_TEST_REPORT"] = report.string();
    options.env["NIMBREL_TEST_LIBRARY"] = profiler_library_path();
    child_result result = run_child(options);
    ASSERT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 7) << result.err;
    EXPECT_EQ(result.out, expected.out);
    // The class factory refused the foreign class identifier: no profiler was created.
    EXPECT_NE(read_file(report).find("attached=0"), std::string::npos) << read_file(report);
}

}  // namespace
}  // namespace e2e
