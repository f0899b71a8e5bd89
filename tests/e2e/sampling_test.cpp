// Function names and thread callbacks against the real runtime: SamplingApp asks
// the library for the names of its own methods through the GetFunctionNames export
// and reads the array from memory; with the profiler attached and tracing on, the
// log shows the runtime's thread callbacks for the app's threads.
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/dotnet_app.h"

namespace e2e {
namespace {

// The app's own report: the lines that start with one of its keys (the profiler
// echoes its log records to the same output).
std::vector<std::string> report_lines(const std::string& out) {
    static const char* keys[] = {"names:", "name[", "empty:", "missing_ids:", "missing_result:"};
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        for (const char* key : keys) {
            if (line.rfind(key, 0) == 0) {
                lines.push_back(line);
                break;
            }
        }
    }
    return lines;
}

std::string first_match(const std::string& text, const std::string& pattern) {
    std::smatch found;
    return std::regex_search(text, found, std::regex(pattern)) ? found[1].str() : std::string();
}

child_options sampling_app() {
    auto options = dotnet_app("SamplingApp");
    options.env["NIMBREL_TEST_LIBRARY"] = profiler_library_path();
    return options;
}

TEST(Sampling, FunctionNamesOfTheAppsOwnMethodsResolveUnderTheProfiler) {
    scratch_directory scratch;
    std::filesystem::create_directories(scratch.path() / "LogFiles");
    {
        std::ofstream config(scratch.path() / "agent.config");
        config << R"(<?xml version="1.0" encoding="utf-8"?>
<configuration>
  <appSettings>
    <add key="LogLevel" value="Trace" />
  </appSettings>
</configuration>
)";
    }
    auto options = sampling_app();
    with_profiler(options);
    options.env["NIMBREL_CONFIG"] = scratch.path().string();
    options.env["WEBSITE_SITE_NAME"] = "sampling-e2e";
    options.env["HOME"] = scratch.path().string();

    child_result result = run_child(options);
    ASSERT_FALSE(result.timed_out);
    ASSERT_EQ(result.exit_code, 0) << result.err << result.out;

    // Names as the metadata stores them: a nested type by its own name, a namespaced
    // one with its namespace; three characters or fewer inside the string object;
    // identifier 0 keeps empty names.
    EXPECT_EQ(report_lines(result.out), (std::vector<std::string>{
                                             "names: code=0 count=5",
                                             "name[0]: id_echoed=1 type='Program'(heap) method='Add'(inplace)",
                                             "name[1]: id_echoed=1 type='Program'(heap) method='ResolveThisOne'(heap)",
                                             "name[2]: id_echoed=1 type='Inner'(heap) method='Work'(heap)",
                                             "name[3]: id_echoed=1 type='Sample.Space.Tool'(heap) method='Helper'(heap)",
                                             "name[4]: id_echoed=1 type=''(inplace) method=''(inplace)",
                                             "empty: code=0 count=0",
                                             "missing_ids: code=1 result_untouched=1",
                                             "missing_result: code=1",
                                         }))
        << result.out;

    // One log file for the process, named after its id, which is also the native id
    // of its main thread.
    std::vector<std::filesystem::path> logs;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path() / "LogFiles" / "Nimbrel"))
        logs.push_back(entry.path());
    ASSERT_EQ(logs.size(), 1u);
    const std::string log = read_file(logs[0]);
    const std::string pid = first_match(logs[0].filename().string(), R"(_profiler_dotnet_(\d+)__)");
    ASSERT_FALSE(pid.empty()) << logs[0];
    const std::string main_thread =
        first_match(log, R"(ThreadAssignedToOSThread\(\): ManagedThreadID=(\d+) assigned to NativeThreadID=)" + pid + R"(\.)");
    EXPECT_FALSE(main_thread.empty()) << "no callback for the main thread " << pid;
    EXPECT_NE(log.find("CClrProfiler::ThreadCreated(): created managed thread ManagedThreadID=" + main_thread + "."),
              std::string::npos);

    // The thread the app started and joined was created, placed, destroyed and
    // forgotten by the map.
    const std::string worker_tid = first_match(result.out, R"(worker_tid=(\d+))");
    ASSERT_FALSE(worker_tid.empty()) << result.out;
    const std::string worker = first_match(
        log, R"(ThreadAssignedToOSThread\(\): ManagedThreadID=(\d+) assigned to NativeThreadID=)" + worker_tid + R"(\.)");
    ASSERT_FALSE(worker.empty()) << "no callback for the worker thread " << worker_tid;
    for (const std::string& line : {
             "CClrProfiler::ThreadCreated(): created managed thread ManagedThreadID=" + worker + ".",
             "CClrProfiler::ThreadDestroyed(): destroyed managed thread ManagedThreadID=" + worker + ".",
             "CClrProfiler::RemoveManagedThreadFromMap(): removed managed thread ManagedThreadID=" + worker + " from map.",
         }) {
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
    // Identifier 0 is refused by the runtime: one Debug line, the others resolve.
    EXPECT_NE(log.find("CClrProfiler::Thread_Function_Names_App().GetTokenAndMetaDataFromFunction() did not return S_OK"),
              std::string::npos);
}

TEST(Sampling, NamesStayEmptyWhenTheRuntimeDidNotLoadTheLibraryAsProfiler) {
    child_result result = run_child(sampling_app());
    ASSERT_FALSE(result.timed_out);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const auto lines = report_lines(result.out);
    ASSERT_EQ(lines.size(), 9u) << result.out;
    EXPECT_EQ(lines[0], "names: code=0 count=5");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(lines[1 + i], "name[" + std::to_string(i) + "]: id_echoed=1 type=''(inplace) method=''(inplace)");
    EXPECT_EQ(lines[6], "empty: code=0 count=0");
}

}  // namespace
}  // namespace e2e
