// Wrapped methods in the real runtime: the sample app's table targets and
// attribute-marked methods call the test agent, which records every call. Each
// scenario also runs without the profiler: the program's output must not change.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "e2e/agent_record.h"
#include "e2e/dotnet_app.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// `pattern` matches `text` where each '*' stands for any run of characters.
bool glob(const std::string& pattern, const std::string& text) {
    size_t p = 0, t = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::string join(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& part : parts) out += (out.empty() ? "" : " | ") + part;
    return out;
}

class Instrumentation : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(scratch.path() / "home" / "LogFiles");
        fs::create_directories(scratch.path() / "config");
        std::ofstream(scratch.path() / "config" / "agent.config")
            << "<?xml version=\"1.0\"?>\n<configuration><appSettings>"
               "<add key=\"LogLevel\" value=\"Debug\"/><add key=\"LogToStandardOutput\" value=\"Disabled\"/>"
               "</appSettings></configuration>\n";
    }

    struct run_result {
        child_result plain, traced;
        agent_record record;
        std::string log;
    };

    // Runs `TracedApp <scenario>` without and with the profiler, both with the same
    // agent settings; the traced run's record and log are kept.
    run_result run(const std::string& scenario, const std::map<std::string, std::string>& agent_env = {}) {
        run_result result;
        for (bool traced : {false, true}) {
            const fs::path record = scratch.path() / (traced ? "traced.record" : "plain.record");
            fs::remove(record);  // the agent appends
            child_options options = dotnet_app("TracedApp", {scenario});
            options.env["NIMBREL_AGENT_RECORD"] = record.string();
            for (const auto& [name, value] : agent_env) options.env[name] = value;
            if (traced) {
                fs::remove_all(scratch.path() / "home" / "LogFiles" / "Nimbrel");  // keep this run's log only
                with_profiler(options);
                // TracedApp carries the agent itself; no installed agent home, whose
                // loader would also answer binding requests the runtime refuses.
                options.env["NIMBREL_HOME_APM_DOTNET"] = std::nullopt;
                options.env["NIMBREL_CONFIG"] = (scratch.path() / "config").string();
                options.env["WEBSITE_SITE_NAME"] = "e2e";
                options.env["HOME"] = (scratch.path() / "home").string();
            }
            child_result r = run_child(options);
            EXPECT_FALSE(r.timed_out) << scenario;
            EXPECT_EQ(r.err.find("InvalidProgramException"), std::string::npos) << r.err;
            if (traced) {
                result.traced = r;
                result.record = agent_record::parse(read_file(record));
            } else {
                result.plain = r;
            }
        }
        const fs::path logs = scratch.path() / "home" / "LogFiles" / "Nimbrel";
        if (fs::exists(logs))
            for (const auto& entry : fs::directory_iterator(logs)) result.log += read_file(entry.path());
        return result;
    }

    static void expect_same_program(const run_result& r) {
        EXPECT_EQ(r.plain.exit_code, 0) << r.plain.err;
        EXPECT_EQ(r.traced.exit_code, r.plain.exit_code) << r.traced.err;
        EXPECT_EQ(r.traced.out, r.plain.out);
    }

    // Every registered id: registered once, one epilogue per prologue.
    static void expect_balanced(const agent_record& record) {
        std::map<std::string, int> registered;
        for (const auto& call : record.of("RegisterMethod")) ++registered[call.fields[0]];
        for (const auto& [id, times] : registered) {
            EXPECT_EQ(times, 1) << "id " << id;
            EXPECT_EQ(record.of("GenericPrologue", id).size(), record.of("GenericEpilogue", id).size()) << "id " << id;
        }
    }

    scratch_directory scratch;
};

TEST_F(Instrumentation, TargetsReportArgumentsReturnValuesAndThis) {
    run_result r = run("arguments");
    expect_same_program(r);
    expect_balanced(r.record);

    struct row {
        std::string method;
        std::string self;
        std::vector<std::string> arguments;       // patterns, at entry
        std::vector<std::string> exit_arguments;  // patterns, at exit; empty: same as at entry
        std::vector<std::string> returns;         // one pattern per call
    };
    const std::string program = "dotnetcore_console_app.Program.";
    const row rows[] = {
        {"myfunction(Int32,Char,Double,String,Object,Point,Color,Int32&,Int32[],List`1,KeyValuePair`2)", "null",
         {"System.Int32:3", "System.Char:x", "System.Double:2.5", "System.String:four", "dotnetcore_console_app.Widget:Widget(o)",
          "dotnetcore_console_app.Point:(1,2)", "dotnetcore_console_app.Color:Green", "System.Int32:5", "System.Int32[]:[1,2,3]",
          "System.Collections.Generic.List`1*:[a,b]", "System.Collections.Generic.KeyValuePair`2*:[7, seven]"},
         {"System.Int32:3", "*", "*", "*", "*", "*", "*", "System.Int32:8", "*", "*", "*"},
         {"System.Int32:155"}},
        {"myfunction(Int32)", "null", {"System.Int32:20"}, {}, {"System.Int32:41"}},
        {"myfunction()", "null", {}, {}, {"null"}},
        {"myfunction(Point,Int32)", "null", {"dotnetcore_console_app.Point:(4,5)", "System.Int32:2"}, {},
         {"dotnetcore_console_app.Point:(6,3)"}},
        {"myfunction(String)", "null", {"System.String:hey"}, {}, {"System.String:hey!"}},
        {"myfunction(Int32[])", "null", {"System.Int32[]:[2,3]"}, {}, {"System.Int32[]:[4,9]"}},
        {"myfunction(Color)", "null", {"dotnetcore_console_app.Color:Blue"}, {}, {"dotnetcore_console_app.Color:Red"}},
        {"myfunction(List`1)", "null", {"System.Collections.Generic.List`1*:[1,2,3,4]"}, {},
         {"System.Collections.Generic.List`1*:[2,4]"}},
        {"myfunction(String,Int32)", "null", {"System.String:k", "System.Int32:4"}, {},
         {"System.Collections.Generic.KeyValuePair`2*:[k, 40]"}},
        {"myfunction(Double,Double)", "null", {"System.Double:1", "System.Double:4"}, {}, {"System.Double:0.25"}},
        {"myfunctionreturnchar(Char)", "null", {"System.Char:q"}, {}, {"System.Char:Q"}},
        {"myfunctionreturnobject(Int32)", "null", {"System.Int32:*"}, {},
         {"dotnetcore_console_app.Widget:Widget(w9)", "null"}},
        {"myfunctionwithobject(Widget)", "dotnetcore_console_app.Program:Program(42)",
         {"dotnetcore_console_app.Widget:Widget(arg)"}, {}, {"System.String:Program(42):Widget(arg)"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.method);
        const std::string id = r.record.id_of(program + row.method);
        if (id.empty()) continue;
        auto registration = r.record.of("RegisterMethod", id);
        EXPECT_EQ(registration.front().fields[2], "0") << "selected by the table";
        auto prologues = r.record.of("GenericPrologue", id);
        auto epilogues = r.record.of("GenericEpilogue", id);
        ASSERT_EQ(prologues.size(), row.returns.size());
        ASSERT_EQ(epilogues.size(), row.returns.size());
        for (size_t call = 0; call < row.returns.size(); ++call) {
            EXPECT_EQ(prologues[call].fields[1], row.self);
            EXPECT_EQ(epilogues[call].fields[1], row.self);
            const auto exit_patterns = row.exit_arguments.empty() ? row.arguments : row.exit_arguments;
            for (const auto& [patterns, call_record] :
                 {std::pair{row.arguments, prologues[call]}, std::pair{exit_patterns, epilogues[call]}}) {
                auto values = agent_record::arguments(call_record);
                ASSERT_EQ(values.size(), patterns.size()) << join(values);
                for (size_t i = 0; i < values.size(); ++i) EXPECT_TRUE(glob(patterns[i], values[i])) << patterns[i] << " vs " << values[i];
            }
            EXPECT_TRUE(glob(row.returns[call], agent_record::return_value(epilogues[call])))
                << row.returns[call] << " vs " << agent_record::return_value(epilogues[call]);
        }
    }

    // One call, in the order the wrapper makes it.
    const std::string id = r.record.id_of(program + "myfunction(String)");
    std::vector<std::string> sequence;
    bool inside = false;
    for (const auto& call : r.record.calls()) {
        if (call.member == "ContainsKey" && call.fields[0] == id) inside = true;
        if (inside) sequence.push_back(call.member + (call.member == "Log" ? " " + call.fields[0] : ""));
        if (inside && call.member == "GenericEpilogue") break;
    }
    EXPECT_EQ(sequence, (std::vector<std::string>{"ContainsKey", "RegisterMethod", "InstrumentationDirectives",
                                                  "GenericPrologue", "GetIndexes", "Log 5", "InstrumentationDirectives",
                                                  "GenericEpilogue"}));
}

TEST_F(Instrumentation, ExceptionReachesTheCallerWithItsOriginalStackTrace) {
    for (const char* failing_member : {"", "Error"}) {
        SCOPED_TRACE(std::string("agent throws from: ") + failing_member);
        run_result r = run("exceptions", {{"NIMBREL_AGENT_THROW", failing_member}});
        expect_same_program(r);
        // The throw site stays the first frame, and the caller gets the thrown object.
        EXPECT_NE(r.traced.out.find("frames: Fail>myfunctionthrow>Exceptions\n"), std::string::npos) << r.traced.out;
        EXPECT_NE(r.traced.out.find("same object: True"), std::string::npos);

        const std::string id = r.record.id_of("dotnetcore_console_app.Program.myfunctionthrow(Int32)");
        auto errors = r.record.of("Error");
        auto notes = r.record.of("Note");
        ASSERT_EQ(errors.size(), 2u);
        ASSERT_EQ(notes.size(), 2u);
        for (size_t i = 0; i < errors.size(); ++i) {
            EXPECT_EQ(errors[i].fields[0], "null");
            EXPECT_EQ(errors[i].fields[1],
                      "System.InvalidOperationException:boom " + std::to_string(i + 1) + ":" + notes[i].fields[1]);
        }
        // Log 4 right before each Error; with Error throwing, Log 1 right after; the
        // epilogue still runs for every call, the caught ones included.
        const auto& calls = r.record.calls();
        for (size_t i = 0; i < calls.size(); ++i) {
            if (calls[i].member != "Error") continue;
            ASSERT_GT(i, 0u);
            EXPECT_EQ(calls[i - 1].member, "Log");
            EXPECT_EQ(calls[i - 1].fields[0], "4");
            if (*failing_member) {
                ASSERT_LT(i + 1, calls.size());
                EXPECT_EQ(calls[i + 1].member, "Log");
                EXPECT_EQ(calls[i + 1].fields[0], "1");
                EXPECT_NE(calls[i + 1].fields[1].find("Failed while invoking Tralo.Managed.span.Error"), std::string::npos);
            }
        }
        EXPECT_EQ(r.record.of("GenericEpilogue", id).size(), 3u);
    }
}

TEST_F(Instrumentation, ExitPointsSwitchesAndLoopsReturnTheSameValues) {
    run_result r = run("exits");
    expect_same_program(r);
    expect_balanced(r.record);
    const std::string type = "Nimbrel.Instrumentation.MultipleExitPoints.";
    struct row {
        std::string method;
        size_t calls;
    };
    const row rows[] = {{"InstrumentedMethod(Int32)", 4},    {"InstrumentedMethod(String)", 3},
                        {"InstrumentedMethod(Int32,Int32)", 27}, {"InstrumentedMethod(Int64)", 3},
                        {"InstrumentedMethod(Double)", 3},   {"InstrumentedMethod(Int32[],Int32)", 3},
                        {"SomeVoidMethod(Int32,List`1)", 3}};
    for (const auto& row : rows) {
        const std::string id = r.record.id_of(type + row.method);
        EXPECT_EQ(r.record.of("GenericPrologue", id).size(), row.calls) << row.method;
    }
    auto returns = r.record.of("GenericEpilogue", r.record.id_of(type + "InstrumentedMethod(String)"));
    ASSERT_EQ(returns.size(), 3u);
    EXPECT_EQ(agent_record::return_value(returns[0]), "System.String:null!");  // returned from the catch
    EXPECT_EQ(agent_record::return_value(returns[2]), "System.String:ABC");    // returned from the try
}

TEST_F(Instrumentation, AgentFailuresChangeNothingTheProgramComputes) {
    struct row {
        const char* name;
        std::map<std::string, std::string> env;
        const char* logged;  // part of the Log 1 text that must appear; nullptr: no Log 1 at all
    };
    const row rows[] = {
        {"prologue throws", {{"NIMBREL_AGENT_THROW", "GenericPrologue"}}, "::Prologue();"},
        {"epilogue throws", {{"NIMBREL_AGENT_THROW", "GenericEpilogue"}}, "::Epilogue();"},
        {"registration throws", {{"NIMBREL_AGENT_THROW", "RegisterMethod,ContainsKey"}}, "::Prologue();"},
        // A null result means "nothing replaced": the write-back is skipped, nothing throws.
        {"GetIndexes returns null", {{"NIMBREL_AGENT_NULL_INDEXES", "1"}}, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        run_result r = run("exits", row.env);
        expect_same_program(r);
        size_t failures = 0, matching = 0;
        for (const auto& log : r.record.of("Log")) {
            if (log.fields[0] != "1") continue;
            ++failures;
            matching += row.logged && log.fields[1].find(row.logged) != std::string::npos;
        }
        if (row.logged) {
            EXPECT_GT(matching, 0u);
        } else {
            EXPECT_EQ(failures, 0u);
        }
        EXPECT_FALSE(r.record.of("GenericEpilogue").empty());
    }
}

TEST_F(Instrumentation, AgentReplacesClassObjectAndPrimitiveArgumentsButNeverStrings) {
    run_result r = run("replace", {{"NIMBREL_AGENT_REPLACE",
                                    "InstrumentedMethod#6:0=Replaced,1=other,2=42,3=changed,4=2.5,5=z;"
                                    "InstrumentedMethod#4:0=99,1=changed,2=null,3=77"}});
    EXPECT_EQ(r.traced.exit_code, 0) << r.traced.err;
    EXPECT_NE(r.traced.out.find("values: Widget(Replaced)|other|42|text|2.5|z\n"), std::string::npos) << r.traced.out;
    // By-reference parameters are never written back through their slot: the method
    // and its caller see the original values.
    std::string by_reference = r.plain.out.substr(r.plain.out.find("by reference:"));
    EXPECT_NE(r.traced.out.find(by_reference), std::string::npos) << r.traced.out;
    const std::string id = r.record.id_of("Nimbrel.Instrumentation.MethodArguments.InstrumentedMethod(Widget,Object,Int32,String,Double,Char)");
    auto indexes = r.record.of("GetIndexes");
    ASSERT_FALSE(indexes.empty());
    EXPECT_EQ(indexes.front().fields[0], "0,1,2,3,4,5");
    auto epilogue = r.record.of("GenericEpilogue", id);
    ASSERT_EQ(epilogue.size(), 1u);
    EXPECT_EQ(agent_record::arguments(epilogue[0]),
              (std::vector<std::string>{"dotnetcore_console_app.Widget:Widget(Replaced)", "System.String:other", "System.Int32:42",
                                        "System.String:text", "System.Double:2.5", "System.Char:z"}));
}

TEST_F(Instrumentation, HotLoopUnderTieringIsReportedExactlyTwentyThousandTimes) {
    run_result r = run("hotloop");
    expect_same_program(r);
    EXPECT_NE(r.traced.out.find("over two seconds: True"), std::string::npos);
    const std::string id = r.record.id_of("dotnetcore_console_app.Program.myfunction(Int32)");
    EXPECT_EQ(r.record.of("GenericPrologue", id).size(), 20000u);
    EXPECT_EQ(r.record.of("GenericEpilogue", id).size(), 20000u);
    // A caller compiled fully optimised before its callee was ever compiled would
    // inline the callee's original IL: every one of its calls must be reported too.
    const std::string callee = r.record.id_of("dotnetcore_console_app.Program.myfunction(Int64)");
    EXPECT_EQ(r.record.of("GenericPrologue", callee).size(), 1000u);
    EXPECT_EQ(r.record.of("GenericEpilogue", callee).size(), 1000u);
    // The runtime did compile the target again (tier 1) and asked about inlining it.
    EXPECT_NE(r.log.find("dotnetcore_console_app.Program.myfunction (ModuleID="), std::string::npos);
    EXPECT_NE(r.log.find("was dealt with before; its body is not rewritten again."), std::string::npos);
    EXPECT_NE(r.log.find("CClrProfiler::JITInlining(): dotnetcore_console_app.Program.myfunction is instrumented; it is never inlined."),
              std::string::npos);
}

TEST_F(Instrumentation, AttributeMethodsGenericsAndHazardsRunUnchanged) {
    run_result r = run("attributes");
    expect_same_program(r);
    expect_balanced(r.record);
    for (const auto& [description, flag] : r.record.registrations()) EXPECT_EQ(flag, "1") << description;

    const std::string id = r.record.id_of("Nimbrel.Samples.Traced.Sum(Int32,Int32)");
    auto epilogue = r.record.of("GenericEpilogue", id);
    ASSERT_EQ(epilogue.size(), 1u);
    EXPECT_EQ(agent_record::arguments(epilogue[0]), (std::vector<std::string>{"System.Int32:2", "System.Int32:3"}));
    EXPECT_EQ(agent_record::return_value(epilogue[0]), "System.Int32:5");
    // A method of a generic class whose own signature names no type parameter; the
    // agent names the declaring type with its instantiation.
    size_t describe = 0;
    for (const auto& [description, flag] : r.record.registrations())
        describe += glob("Nimbrel.Samples.Box`1*.Describe(Int32)", description);
    EXPECT_EQ(describe, 1u);

    struct generic_row {
        const char* logged;      // the name in the log line
        const char* registered;  // a pattern no registration may match
    };
    const generic_row generics[] = {
        {"Nimbrel.Samples.Traced.Echo", "Nimbrel.Samples.Traced.Echo(*"},
        {"Nimbrel.Samples.Traced.Twice", "Nimbrel.Samples.Traced.Twice(*"},
        {"Nimbrel.Samples.Traced.Typed", "Nimbrel.Samples.Traced.Typed(*"},
        {"Nimbrel.Samples.Box`1.Get", "Nimbrel.Samples.Box`1*.Get(*"},
        {"Nimbrel.Samples.Box`1.Set", "Nimbrel.Samples.Box`1*.Set(*"},
        {"Nimbrel.Samples.Box`1.Count", "Nimbrel.Samples.Box`1*.Count(*"},
    };
    for (const auto& g : generics) {
        EXPECT_NE(r.log.find(std::string("Method ") + g.logged + " not traced because it has generic types"), std::string::npos)
            << g.logged;
        for (const auto& [description, flag] : r.record.registrations()) EXPECT_FALSE(glob(g.registered, description)) << description;
    }
}

TEST_F(Instrumentation, ManyThreadsCompilingDistinctMethodsAtOnce) {
    run_result r = run("threads");
    expect_same_program(r);
    expect_balanced(r.record);
    std::set<std::string> ids;
    for (int i = 0; i < 32; ++i) {
        char name[64];
        snprintf(name, sizeof name, "Nimbrel.Samples.Parallel.Work%02d(Int32)", i);
        const std::string id = r.record.id_of(name);
        EXPECT_TRUE(ids.insert(id).second) << name << " shares id " << id;
        EXPECT_EQ(r.record.of("GenericPrologue", id).size(), 50u) << name;
        EXPECT_EQ(r.record.of("GenericEpilogue", id).size(), 50u) << name;
        // All calls of one method come from the one thread that runs it.
        std::set<long> threads;
        for (const auto& call : r.record.of("GenericPrologue", id)) threads.insert(call.thread);
        EXPECT_EQ(threads.size(), 1u) << name;
    }
}

TEST_F(Instrumentation, PrecompiledHttpClientSendIsForcedThroughTheJitAndReported) {
    run_result r = run("http");
    expect_same_program(r);
    EXPECT_NE(r.log.find("UseCachedFunction(System.Net.Http, System.Net.Http.HttpClient.Send)=False"), std::string::npos);
    bool reported = false;
    for (const auto& [description, flag] : r.record.registrations()) {
        if (description.rfind("System.Net.Http.HttpClient.Send(HttpRequestMessage", 0) != 0) continue;
        for (const auto& id : r.record.ids_of(description)) {
            for (const auto& prologue : r.record.of("GenericPrologue", id)) {
                auto arguments = agent_record::arguments(prologue);
                reported |= !arguments.empty() &&
                            glob("System.Net.Http.HttpRequestMessage:Method: GET, RequestUri: 'http://127.0.0.1:*/traced/path'*",
                                 arguments[0]);
            }
        }
    }
    EXPECT_TRUE(reported);
}

// The rewritten IL references the agent with public key token 3c9e51d07ab4f862; the
// test agent is signed with another key. Normal binding ignores the token.
TEST_F(Instrumentation, AgentReferenceBindsDespiteAnotherPublicKeyToken) {
    run_result r = run("binding");
    expect_same_program(r);
    EXPECT_EQ(r.plain.out.find("PublicKeyToken=3c9e51d07ab4f862\n"), std::string::npos) << "the agent must not carry the token";
    EXPECT_NE(r.plain.out.find("Version=4.3.1.0, Culture=neutral, PublicKeyToken=3c9e51d07ab4f862 -> binds to the agent"),
              std::string::npos) << r.plain.out;
    EXPECT_NE(r.plain.out.find("Version=4.3.2.0, Culture=neutral, PublicKeyToken=3c9e51d07ab4f862 -> fails"), std::string::npos);
}

}  // namespace
}  // namespace e2e
