// Initialize against a fake runtime: the event mask each option set asks for, every
// refusal path with its status, and the attach/detach and shutdown callbacks. Each
// scenario runs in a child process: Initialize writes process-wide state (the global
// info interface, the logging settings, the target table) that must start fresh.
#include <gtest/gtest.h>

#include <fstream>

#include "logging/log_files.h"
#include "logging/logging_configuration.h"
#include "logging/logging_test_support.h"
#include "profiler/clr_profiler.h"
#include "profiler/instrumentation_target.h"
#include "support/fake_profiler_info.h"
#include "support/scoped_environment.h"

namespace {

using test_support::fake_profiler_info;
using test_support::scoped_environment;
using test_support::scratch_directory;

constexpr HRESULT cancel = CORPROF_E_PROFILER_CANCEL_ACTIVATION;

// Writes agent.config with the given settings and an applications entry for this
// test executable (which is not the dotnet host and is otherwise never activated).
void write_config(const scratch_directory& dir, const std::string& settings, const std::string& extra_attributes = "") {
    dir.write("agent.config", "<configuration><appSettings>" + settings +
                                  "</appSettings><instrumentation><applications><application name=\"" +
                                  get_process_name() + "\" " + extra_attributes +
                                  "/></applications></instrumentation></configuration>");
}

struct initialize_case {
    scoped_environment env;
    scratch_directory dir;
    fake_profiler_info info;

    initialize_case() {
        env.set("NIMBREL_CONFIG", dir.path().string()).unset("NIMBREL_HOME_APM_DOTNET").unset("CORECLR_PROFILER_PATH");
        env.set("WEBSITE_SITE_NAME", "unit").set("HOME", (dir.path() / "home").string());
        std::filesystem::create_directories(dir.path() / "home" / "LogFiles");
    }
    ~initialize_case() { profiler_state::profiler_info.reset(); }
};

TEST(Initialize, EventMaskPerOptionSet) {
    struct row {
        const char* name;
        std::string settings;
        std::string application_attributes;
        DWORD mask;
    };
    const row rows[] = {
        {"defaults", "", "", 0x10020234},
        {"inlining and optimizations off",
         R"(<add key="Inlining" value="Disabled"/><add key="Optimizations" value="Disabled"/>)", "", 0x90620234},
        {"every option",
         R"(<add key="Inlining" value="Disabled"/><add key="Optimizations" value="Disabled"/>)"
         R"(<add key="SecurityTransparencyInstrumentation" value="2"/>)",
         "", 0xD0620234},
        {"inlining off through the applications list", "", R"(inlining="Disabled")", 0x10220234},
        {"transparency instrumentation only", R"(<add key="SecurityTransparencyInstrumentation" value="1"/>)", "",
         0x10020234},
    };
    for (const auto& r : rows) {
        run_in_child([&] {
            initialize_case c;
            write_config(c.dir, r.settings, r.application_attributes);
            auto* profiler = new CClrProfiler();
            profiler->AddRef();
            ASSERT_EQ(profiler->Initialize(&c.info), S_OK) << r.name;
            ASSERT_EQ(c.info.event_masks_set.size(), 1u) << r.name;
            EXPECT_EQ(c.info.event_masks_set[0], r.mask) << r.name;
            EXPECT_TRUE(CClrProfiler::IsAttached());
            EXPECT_TRUE(CClrProfiler::IsCoreCLR());
            EXPECT_EQ(target_methods().size(), 82u);
            profiler->Release();
        });
    }
}

TEST(Initialize, OptionFlagsFromTheConfiguration) {
    run_in_child([] {
        initialize_case c;
        write_config(c.dir, R"(<add key="SecurityTransparencyInstrumentation" value="2"/>)"
                            R"(<add key="MvcInstrumentation" value="MvcViewEnabled"/>)"
                            R"(<add key="NimbrelHttpModule" value="Enabled"/>)"
                            R"(<add key="InsertLogTraceIdIntoLogs" value="Enabled"/>)");
        CClrProfiler profiler;
        ASSERT_EQ(profiler.Initialize(&c.info), S_OK);
        EXPECT_TRUE(profiler.disable_transparency_checks_);
        EXPECT_TRUE(profiler.security_transparency_instrumentation_);
        EXPECT_FALSE(profiler.mvc_instrumentation_);
        EXPECT_TRUE(profiler.mvc_view_instrumentation_);
        EXPECT_TRUE(profiler.web_module_enabled_);
        EXPECT_TRUE(profiler.log_trace_id_enabled_ && profiler.insert_log_trace_id_);
        EXPECT_FALSE(profiler.add_attribute_log_trace_id_);
        // 82 - 4 controller rows - 3 pipeline rows + 5 trace-id rows
        EXPECT_EQ(target_methods().size(), 80u);
    });
}

TEST(Initialize, RefusalsAndTheirStatuses) {
    struct row {
        const char* name;
        std::function<void(fake_profiler_info&, scoped_environment&)> arrange;
        HRESULT status;
        const wchar_t* fatal_line;  // expected Fatal record, or nullptr
    };
    const row rows[] = {
        {"no ICorProfilerInfo", [](fake_profiler_info& i, scoped_environment&) { i.answered_level = 0; }, E_NOINTERFACE,
         nullptr},
        {"no ICorProfilerInfo2", [](fake_profiler_info& i, scoped_environment&) { i.refused_levels = {2, 3}; }, cancel,
         L"CClrProfiler::Initialize(): Unable to get ICorProfilerInfo2 profiler interface. Load error."},
        {"runtime information fails",
         [](fake_profiler_info& i, scoped_environment&) { i.fail("GetRuntimeInformation", E_FAIL); }, cancel,
         L"CClrProfiler::Initialize(): Unable to get runtime information. Failed to detect if running CoreCLR or Desktop CLR runtime."},
        // The process is listed; a desktop runtime under the hosting service still needs
        // the loader optimisation.
        {"desktop runtime hosted without loader optimisation",
         [](fake_profiler_info& i, scoped_environment&) { i.runtime_type = COR_PRF_DESKTOP_CLR; }, cancel, nullptr},
        {"desktop runtime hosted with loader optimisation",
         [](fake_profiler_info& i, scoped_environment& env) {
             i.runtime_type = COR_PRF_DESKTOP_CLR;
             env.set("COMPLUS_LoaderOptimization", "1");
         },
         S_OK, nullptr},
    };
    for (const auto& r : rows) {
        run_in_child([&] {
            initialize_case c;
            write_config(c.dir, R"(<add key="LogLevel" value="Debug"/><add key="LogToStandardOutput" value="Disabled"/>)");
            r.arrange(c.info, c.env);
            record_capture capture;
            CClrProfiler profiler;
            EXPECT_EQ(profiler.Initialize(&c.info), r.status) << r.name;
            EXPECT_EQ(CClrProfiler::IsAttached(), r.status == S_OK) << r.name;
            if (r.fatal_line) {
                bool found = false;
                for (const auto& record : capture.records()) found |= record.level == Fatal && record.text == r.fatal_line;
                EXPECT_TRUE(found) << r.name;
            }
        });
    }
}

TEST(Initialize, OlderDesktopRuntimeIsDetectedWithoutAskingForRuntimeInformation) {
    run_in_child([] {
        initialize_case c;
        c.info.answered_level = 2;  // no ICorProfilerInfo3
        c.dir.write("agent.config", "<configuration/>");  // this process is not listed
        CClrProfiler profiler;
        EXPECT_EQ(profiler.Initialize(&c.info), cancel);  // desktop, not listed
        EXPECT_FALSE(CClrProfiler::IsCoreCLR());
        EXPECT_EQ(c.info.calls("GetRuntimeInformation"), 0u);
    });
}

TEST(Initialize, UnwritableLogDirectoryCancelsSilently) {
    run_in_child([] {
        initialize_case c;
        write_config(c.dir, R"(<add key="LogLevel" value="Debug"/>)");
        // A regular file where the log directory's parent should be: even root cannot
        // create the directory below it.
        std::filesystem::remove_all(c.dir.path() / "home" / "LogFiles");
        c.dir.write("home/LogFiles", "not a directory");
        record_capture capture;
        CClrProfiler profiler;
        EXPECT_EQ(profiler.Initialize(&c.info), cancel);
        EXPECT_TRUE(capture.records().empty());
        EXPECT_EQ(c.info.calls("SetEventMask"), 0u);
    });
}

TEST(Initialize, FailedEventMaskIsLoggedAndActivationGoesOn) {
    run_in_child([] {
        initialize_case c;
        write_config(c.dir, R"(<add key="LogLevel" value="Debug"/><add key="LogToStandardOutput" value="Disabled"/>)");
        c.info.fail("SetEventMask", E_ACCESSDENIED);
        record_capture capture;
        CClrProfiler profiler;
        EXPECT_EQ(profiler.Initialize(&c.info), S_OK);
        EXPECT_TRUE(CClrProfiler::IsAttached());
        bool logged = false;
        for (const auto& record : capture.records())
            logged |= record.text ==
                      L" CClrProfiler::MonitorJitCompilation: Failed to set event mask. HRESULT=0x80070005 (general access denied error).";
        EXPECT_TRUE(logged);
    });
}

TEST(Initialize, AttachDetachAndShutdown) {
    run_in_child([] {
        initialize_case c;
        c.dir.write("agent.config", "<configuration><instrumentation><applications><application name=\"" +
                                        get_process_name() + "\" nimBrel=\"Disabled\"/></applications></instrumentation></configuration>");
        CClrProfiler profiler;
        // Attaching reports success to the runtime even when activation is refused.
        EXPECT_EQ(profiler.InitializeForAttach(&c.info, nullptr, 0), S_OK);
        EXPECT_FALSE(CClrProfiler::IsAttached());
        EXPECT_EQ(profiler.Shutdown(), S_OK);  // no sink was started
        EXPECT_TRUE(CClrProfiler::is_shutting_down_);
    });
    run_in_child([] {
        initialize_case c;
        write_config(c.dir, "");
        CClrProfiler profiler;
        ASSERT_EQ(profiler.Initialize(&c.info), S_OK);
        EXPECT_TRUE(CClrProfiler::IsAttached());
        EXPECT_EQ(profiler.ProfilerAttachComplete(), S_OK);
        EXPECT_EQ(profiler.ProfilerDetachSucceeded(), S_OK);
        EXPECT_FALSE(CClrProfiler::IsAttached());
    });
}

TEST(Initialize, GlobalProfilingInterface) {
    run_in_child([] {
        com_ptr<ICorProfilerInfo2> info2;
        EXPECT_EQ(CClrProfiler::GetGlobalProfilingInterface(info2), E_POINTER);
        fake_profiler_info info;
        info.answered_level = 2;
        CClrProfiler::g_profiler_info = com_ptr<ICorProfilerInfo>(static_cast<ICorProfilerInfo*>(&info));
        EXPECT_EQ(CClrProfiler::GetGlobalProfilingInterface(info2), S_OK);
        EXPECT_EQ(static_cast<void*>(info2.get()), static_cast<void*>(&info));
        com_ptr<ICorProfilerInfo3> info3;
        EXPECT_EQ(CClrProfiler::GetGlobalProfilingInterface(info3), E_NOINTERFACE);
        info2.reset();
        CClrProfiler::g_profiler_info.reset();
        EXPECT_EQ(info.references(), 0u);
    });
}

}  // namespace
