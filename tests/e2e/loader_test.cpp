// The managed loader bootstrap in the real runtime. The sample app references no
// agent: the profiler injects the loader into one method, the loader finds the test
// agent in its installation directory (the agent home's netcoreapp3.1 folder, or two
// levels above the library), resolves the agent's own dependency from there into the
// loader's load context and starts the agent, whose record then shows the wrapped
// methods' calls. Without an agent the program's result is unchanged.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#include "e2e/agent_record.h"
#include "e2e/dotnet_app.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

const std::string loader_context = "Nimbrel.TraloManaged.TraloManagedAssemblyLoadContext";

// Every line of `text` that contains `needle`.
std::vector<std::string> lines_with(const std::string& text, const std::string& needle) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.find(needle) != std::string::npos) out.push_back(line);
    }
    return out;
}

class Loader : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(scratch.path() / "config");
        std::ofstream(scratch.path() / "config" / "agent.config")
            << "<?xml version=\"1.0\"?>\n<configuration><appSettings>"
               "<add key=\"LogLevel\" value=\"Debug\"/><add key=\"LogToStandardOutput\" value=\"Disabled\"/>"
               "</appSettings></configuration>\n";
    }

    // An agent installation under `root`: root/netcoreapp3.1 holding the test agent and
    // its dependency, as the build produced them.
    fs::path install_agent(const fs::path& root) {
        const fs::path directory = root / "netcoreapp3.1";
        fs::create_directories(directory);
        const fs::path built = fs::path(NIMBREL_MANAGED_DIR) / "tralo.managed.core";
        for (const char* file : {"tralo.managed.core.dll", "AgentDependency.dll"}) {
            fs::copy_file(built / file, directory / file, fs::copy_options::overwrite_existing);
        }
        return directory;
    }

    // The library at root/native/NimbrelProfiler.so (a link to the built one), so that
    // the agent directory two levels above it is root/netcoreapp3.1.
    fs::path library_under(const fs::path& root) {
        fs::create_directories(root / "native");
        const fs::path link = root / "native" / "NimbrelProfiler.so";
        if (!fs::exists(link)) fs::create_symlink(profiler_library_path(), link);
        return link;
    }

    struct run_result {
        child_result result;
        agent_record record;
        std::string record_text;
        std::string log;
    };

    // LoaderApp under the profiler (or without it when `profiled` is false); `env`
    // adds to or removes from the profiler's variables.
    run_result run(bool profiled, const std::map<std::string, std::optional<std::string>>& env = {}) {
        const std::string tag = std::to_string(runs++);
        const fs::path record = scratch.path() / ("run" + tag + ".record");
        const fs::path home = scratch.path() / ("home" + tag);
        fs::create_directories(home / "LogFiles");
        child_options options = dotnet_app("LoaderApp");
        options.env["NIMBREL_AGENT_RECORD"] = record.string();
        if (profiled) {
            with_profiler(options);
            options.env["NIMBREL_CONFIG"] = (scratch.path() / "config").string();
            options.env["WEBSITE_SITE_NAME"] = "e2e";
            options.env["HOME"] = home.string();
        }
        for (const auto& [name, value] : env) options.env[name] = value;

        run_result r;
        r.result = run_child(options);
        EXPECT_FALSE(r.result.timed_out);
        r.record_text = read_file(record);
        r.record = agent_record::parse(r.record_text);
        const fs::path logs = home / "LogFiles" / "Nimbrel";
        if (fs::exists(logs))
            for (const auto& entry : fs::directory_iterator(logs)) r.log += read_file(entry.path());
        return r;
    }

    // The one "AgentDependency" line of the record: "<load context>|<file>".
    static std::string dependency(const run_result& r) {
        const auto lines = r.record.of("AgentDependency");
        if (lines.size() != 1 || lines[0].fields.size() != 1) {
            ADD_FAILURE() << "expected one AgentDependency line:\n" << r.record_text;
            return {};
        }
        return lines[0].fields[0];
    }

    scratch_directory scratch;
    int runs = 0;
};

TEST_F(Loader, BringsTheAgentIntoAnApplicationThatDoesNotReferenceIt) {
    const fs::path agent = install_agent(scratch.path() / "agent");
    const run_result plain = run(false);
    const run_result traced = run(true, {{"NIMBREL_HOME_APM_DOTNET", (scratch.path() / "agent").string()}});

    ASSERT_EQ(plain.result.exit_code, 0) << plain.result.err;
    EXPECT_EQ(traced.result.exit_code, 0) << traced.result.err;
    EXPECT_EQ(traced.result.out, plain.result.out) << traced.result.err;
    EXPECT_EQ(plain.record_text, "");  // the plain run never meets the agent

    // Injected into exactly one method: the application's Main, not a method of any
    // framework assembly compiled before it.
    const auto injected = lines_with(traced.log, "InjectLoadForManagedLoader: injected managed loader into");
    ASSERT_EQ(injected.size(), 1u) << traced.log;
    EXPECT_NE(injected[0].find("MethodName=dotnetcore_console_app.Program.Main method from assembly"), std::string::npos)
        << injected[0];
    EXPECT_NE(injected[0].find(" AssemblyName=LoaderApp."), std::string::npos) << injected[0];
    EXPECT_TRUE(lines_with(traced.log, "InjectLoadForManagedLoader: failed").empty()) << traced.log;
    // The agent comes from its installation directory.
    EXPECT_EQ(lines_with(traced.log, "ModuleName=" + (agent / "tralo.managed.core.dll").string() + " ").size(), 1u)
        << traced.log;

    // The agent started once; its dependency came from the agent directory into the
    // loader's own load context.
    EXPECT_EQ(traced.record.of("TraloInit.Initialize").size(), 1u) << traced.record_text;
    EXPECT_EQ(dependency(traced), loader_context + "|" + (agent / "AgentDependency.dll").string());

    // The wrapped methods report to the agent: a table target (selection 0) and an
    // attribute-marked method (selection 1), each entered and left once.
    const std::multimap<std::string, std::string> expected_registrations = {
        {"dotnetcore_console_app.Program.myfunction(Int32,String)", "0"},
        {"dotnetcore_console_app.Greeter.Greet(String)", "1"},
    };
    EXPECT_EQ(traced.record.registrations(), expected_registrations) << traced.record_text;
    const std::string sum = traced.record.id_of("dotnetcore_console_app.Program.myfunction(Int32,String)");
    const auto sum_exit = traced.record.of("GenericEpilogue", sum);
    ASSERT_EQ(traced.record.of("GenericPrologue", sum).size(), 1u);
    ASSERT_EQ(sum_exit.size(), 1u);
    EXPECT_EQ(agent_record::return_value(sum_exit[0]), "System.Int32:7");
    const std::string greet = traced.record.id_of("dotnetcore_console_app.Greeter.Greet(String)");
    const auto greet_exit = traced.record.of("GenericEpilogue", greet);
    ASSERT_EQ(greet_exit.size(), 1u);
    EXPECT_EQ(agent_record::return_value(greet_exit[0]), "System.String:hello loader");
}

TEST_F(Loader, FindsTheAgentDirectoryInItsOrder) {
    const fs::path home = scratch.path() / "home-agent";
    const fs::path empty_home = scratch.path() / "empty-home";
    const fs::path beside = scratch.path() / "beside";       // the library's installation
    const fs::path elsewhere = scratch.path() / "elsewhere";  // named by the generic variable
    const fs::path home_agent = install_agent(home);
    const fs::path beside_agent = install_agent(beside);
    const fs::path elsewhere_agent = install_agent(elsewhere);
    fs::create_directories(empty_home);
    const std::string beside_library = library_under(beside).string();
    const std::string elsewhere_library = library_under(elsewhere).string();
    const std::string built_library = profiler_library_path();  // two levels up: no agent

    using env = std::map<std::string, std::optional<std::string>>;
    const struct {
        const char* name;
        env variables;
        fs::path expected;
    } rows[] = {
        {"64-bit library path alone",
         {{"NIMBREL_HOME_APM_DOTNET", std::nullopt}, {"CORECLR_PROFILER_PATH", std::nullopt},
          {"CORECLR_PROFILER_PATH_64", beside_library}},
         beside_agent},
        {"agent home first",
         {{"NIMBREL_HOME_APM_DOTNET", home.string()}, {"CORECLR_PROFILER_PATH", std::nullopt},
          {"CORECLR_PROFILER_PATH_64", beside_library}},
         home_agent},
        {"agent home without the framework folder",
         {{"NIMBREL_HOME_APM_DOTNET", empty_home.string()}, {"CORECLR_PROFILER_PATH", std::nullopt},
          {"CORECLR_PROFILER_PATH_64", beside_library}},
         beside_agent},
        {"generic library path after the 64-bit one",
         {{"NIMBREL_HOME_APM_DOTNET", std::nullopt}, {"CORECLR_PROFILER_PATH_64", built_library},
          {"CORECLR_PROFILER_PATH", elsewhere_library}},
         elsewhere_agent},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const run_result r = run(true, row.variables);
        EXPECT_EQ(r.result.exit_code, 0) << r.result.err;
        EXPECT_EQ(r.record.of("TraloInit.Initialize").size(), 1u) << r.record_text << r.result.out;
        EXPECT_EQ(dependency(r), loader_context + "|" + (row.expected / "AgentDependency.dll").string());
    }
}

TEST_F(Loader, WithoutAnAgentTheProgramRunsToTheSameResult) {
    const run_result plain = run(false);
    // The library named only by the 64-bit variable, with nothing installed around it.
    const run_result traced = run(true, {{"NIMBREL_HOME_APM_DOTNET", std::nullopt},
                                         {"CORECLR_PROFILER_PATH", std::nullopt},
                                         {"CORECLR_PROFILER_PATH_64", library_under(scratch.path() / "bare").string()}});

    ASSERT_EQ(plain.result.exit_code, 0) << plain.result.err;
    EXPECT_EQ(traced.result.exit_code, 0) << traced.result.err;
    EXPECT_EQ(traced.result.err, plain.result.err);
    // The loader's one console line ("Exception: " and the message, which may end in a
    // line break of its own) comes first, from Main's first instruction.
    const std::string& out = traced.result.out;
    ASSERT_GE(out.size(), plain.result.out.size());
    const std::string loader_line = out.substr(0, out.size() - plain.result.out.size());
    EXPECT_EQ(out.substr(loader_line.size()), plain.result.out);
    EXPECT_EQ(loader_line.rfind("Exception: Could not load file or assembly 'tralo.managed.core, Version=4.3.1.0", 0), 0u)
        << out;
    EXPECT_EQ(loader_line.find("Exception: ", 1), std::string::npos) << out;
    EXPECT_EQ(lines_with(traced.log, "InjectLoadForManagedLoader: injected managed loader into").size(), 1u);
    EXPECT_EQ(traced.record_text, "");
}

}  // namespace
}  // namespace e2e
