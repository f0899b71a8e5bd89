// Which method of an application domain receives the managed loader: never one of a
// skipped assembly, once per domain however many threads compile there at once, again
// after a failed injection, and again after the domain's unloading finished.
#include "profiler/loader_policy.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "logging/logging_test_support.h"
#include "profiler/clr_profiler.h"
#include "profiler/instrumentation_target.h"
#include "support/fake_profiler_info.h"
#include "support/scoped_environment.h"

namespace {

using test_support::blob;
using test_support::fake_module;
using test_support::fake_profiler_info;

const blob static_void = {0x00, 0x00, 0x01};
const blob tiny_ret = {0x06, 0x2A};  // tiny header, ret

std::wstring hex(UINT_PTR id) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%x", static_cast<unsigned>(id));
    return text;
}

class LoaderPolicy : public ::testing::Test {
protected:
    LoaderPolicy() {
        env_.set("CORECLR_PROFILER_PATH_64", "/opt/nimbrel/NimbrelProfiler.so");
        LoggingConfiguration::config().level = Debug;
        LoggingConfiguration::config().echo_to_stdout = false;
        CClrProfiler::scope.level = Debug;
        CClrProfiler::is_coreclr_ = true;
        CClrProfiler::is_attached_ = true;
        CClrProfiler::is_shutting_down_ = false;
        profiler_.profiler_info_ = com_ptr<ICorProfilerInfo>(&info_);
        clear_domains();
    }
    ~LoaderPolicy() override {
        clear_domains();
        CClrProfiler::is_attached_ = false;
        CClrProfiler::is_coreclr_ = false;
        CClrProfiler::scope.level = Fatal;
        profiler_.profiler_info_.reset();
    }

    static void clear_domains() {
        std::lock_guard<std::mutex> lock(injected_app_domains_mutex);
        loader_injected_app_domains().clear();
    }

    // The record the JIT dispatch builds for a new method of `module`.
    std::unique_ptr<method_info> method(fake_module& module, std::string_view type, std::string_view name) {
        auto record = std::make_unique<method_info>();
        const FunctionID function = module.add_function(module.add_method(type, name, static_void, tiny_ret));
        EXPECT_EQ(record->initialize_method_info(&info_, function), S_OK);
        return record;
    }

    struct outcome {
        HRESULT status;
        bool injected;
    };
    outcome inject(method_info& record) {
        bool injected = true;  // must be cleared by every path
        const HRESULT hr = profiler_.InjectLoadForManagedLoader(record, injected);
        return {hr, injected};
    }

    std::vector<std::wstring> texts(const record_capture& capture, severity level) const {
        std::vector<std::wstring> out;
        for (const auto& r : capture.records()) {
            if (r.level == level) out.push_back(r.text);
        }
        return out;
    }

    test_support::scoped_environment env_;
    configuration_guard configuration_;
    fake_profiler_info info_;
    CClrProfiler profiler_;
};

TEST_F(LoaderPolicy, SkippedAssembliesNeverReceiveTheLoaderAndTheListIsCaseSensitive) {
    EXPECT_EQ(skip_assemblies().size(), 37u);
    const struct {
        const char* assembly;
        bool skipped;
    } rows[] = {
        {"System.Private.CoreLib", true},
        {"mscorlib", true},
        {"tralo.managed.core", true},
        {"Nimbrel.TraloManaged.DynamicLoader", true},
        {"Anonymously Hosted DynamicMethods Assembly", true},
        {"processmonitoringshim", true},
        {"system.private.corelib", false},
        {"MSCORLIB", false},
        {"Tralo.Managed.Core", false},
        {"System.Linq", false},
    };
    for (const auto& r : rows) {
        // A domain of its own per row, so that only the skip list decides.
        fake_module& module = info_.add_module(r.assembly, info_.add_app_domain(r.assembly));
        auto record = method(module, "T", "First");
        const unsigned lookups = info_.calls("GetAssemblyInfo");
        const outcome result = inject(*record);
        EXPECT_EQ(result.status, r.skipped ? S_FALSE : S_OK) << r.assembly;
        EXPECT_EQ(result.injected, !r.skipped) << r.assembly;
        EXPECT_EQ(module.body_set(record->method_token) != nullptr, !r.skipped) << r.assembly;
        // A skipped assembly costs no runtime call.
        if (r.skipped) {
            EXPECT_EQ(info_.calls("GetAssemblyInfo"), lookups) << r.assembly;
        }
    }
}

TEST_F(LoaderPolicy, FirstEligibleMethodOfEachDomainReceivesTheLoaderOnce) {
    fake_module& corlib = info_.add_module("System.Private.CoreLib");
    fake_module& app = info_.add_module("Shop");
    fake_module& plugin = info_.add_module("Shop.Plugin");  // same domain, another module
    fake_module& other = info_.add_module("Shop", info_.add_app_domain("second"));

    record_capture capture;
    auto core_method = method(corlib, "System.String", "Concat");
    EXPECT_EQ(inject(*core_method).status, S_FALSE);
    auto main = method(app, "Shop.Program", "Main");
    const outcome first = inject(*main);
    EXPECT_EQ(first.status, S_OK);
    EXPECT_TRUE(first.injected);
    EXPECT_TRUE(CClrProfiler::IsManagedLoaderInjectedIntoDomain(app.app_domain_id));

    for (fake_module* module : {&app, &plugin}) {
        auto later = method(*module, "Shop.Cart", "Total");
        const outcome again = inject(*later);
        EXPECT_EQ(again.status, S_FALSE);
        EXPECT_FALSE(again.injected);
        EXPECT_EQ(module->body_set(later->method_token), nullptr);
    }
    auto other_main = method(other, "Shop.Program", "Main");
    EXPECT_EQ(inject(*other_main).status, S_OK);

    const std::wstring shop_id = hex(main->assembly_id);
    const std::vector<std::wstring> expected = {
        L"CClrProfiler::InjectLoadForManagedLoader: AppDomainID=" + hex(app.app_domain_id) + L" ModuleID=" +
            hex(app.module_id) + L" MethodName=Shop.Program.Main method from assembly AssemblyID=" + shop_id +
            L" AssemblyName=Shop.",
        L"CClrProfiler::InjectLoadForManagedLoader: injected managed loader into MethodName=Shop.Program.Main method "
        L"from assembly AssemblyID=" + shop_id + L" AssemblyName=Shop.",
    };
    const auto debug = texts(capture, Debug);
    ASSERT_GE(debug.size(), 2u);
    EXPECT_EQ(std::vector<std::wstring>(debug.begin(), debug.begin() + 2), expected);
}

TEST_F(LoaderPolicy, FailedInjectionLeavesTheDomainForTheNextMethod) {
    fake_module& app = info_.add_module("Shop");
    auto first = method(app, "Shop.Program", "Main");
    auto second = method(app, "Shop.Program", "Run");

    record_capture capture;
    info_.fail_once("DefineTypeDef", E_FAIL);
    const outcome failed = inject(*first);
    EXPECT_EQ(failed.status, E_FAIL);
    EXPECT_FALSE(failed.injected);
    EXPECT_FALSE(CClrProfiler::IsManagedLoaderInjectedIntoDomain(app.app_domain_id));
    const auto errors = texts(capture, Error);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back(),
              L"CClrProfiler::InjectLoadForManagedLoader: failed to inject into MethodName=Shop.Program.Main method. "
              L"HRESULT=0x80004005 (unspecified error).");

    const outcome retried = inject(*second);
    EXPECT_EQ(retried.status, S_OK);
    EXPECT_TRUE(retried.injected);
    EXPECT_NE(app.body_set(second->method_token), nullptr);
}

TEST_F(LoaderPolicy, UnknownDomainIsReportedAndNothingIsMarked) {
    fake_module& app = info_.add_module("Shop");
    auto main = method(app, "Shop.Program", "Main");
    record_capture capture;
    info_.fail_once("GetAssemblyInfo", E_INVALIDARG);
    const outcome result = inject(*main);
    EXPECT_EQ(result.status, E_INVALIDARG);
    EXPECT_FALSE(result.injected);
    const std::wstring id = hex(main->assembly_id);
    EXPECT_EQ(texts(capture, Error),
              (std::vector<std::wstring>{
                  L"CClrProfiler::GetAssemblyAppDomain: unable to get assembly info for assembly AssemblyID=" + id +
                      L". HRESULT=0x80070057 (invalid argument).",
                  L"CClrProfiler::InjectLoadForManagedLoader: unabled to get application domain for AssemblyID=" + id +
                      L" AssemblyName=Shop.",
              }));
    EXPECT_FALSE(CClrProfiler::IsManagedLoaderInjectedIntoDomain(app.app_domain_id));
    EXPECT_EQ(inject(*main).status, S_OK);
}

TEST_F(LoaderPolicy, ThreadsRacingIntoOneDomainInjectOnce) {
    constexpr int threads = 8;
    for (int round = 0; round < 20; ++round) {
        fake_module& app = info_.add_module("Shop", info_.add_app_domain("round"));
        std::vector<std::unique_ptr<method_info>> records;
        for (int t = 0; t < threads; ++t) records.push_back(method(app, "Shop.Worker", "Run" + std::to_string(t)));

        std::latch start(threads);
        std::atomic<int> injected{0};
        std::atomic<int> not_eligible{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                start.arrive_and_wait();
                const outcome result = inject(*records[t]);
                if (result.status == S_OK && result.injected) ++injected;
                if (result.status == S_FALSE && !result.injected) ++not_eligible;
            });
        }
        for (auto& worker : workers) worker.join();
        ASSERT_EQ(injected.load(), 1) << "round " << round;
        ASSERT_EQ(not_eligible.load(), threads - 1) << "round " << round;
        int installed = 0;
        for (const auto& record : records) installed += app.body_set(record->method_token) != nullptr;
        ASSERT_EQ(installed, 1) << "round " << round;
    }
}

TEST_F(LoaderPolicy, DomainIsForgottenOnlyWhenItsUnloadingSucceeded) {
    const AppDomainID domain = info_.add_app_domain("unloading");
    const struct {
        const char* name;
        bool attached, shutting_down;
        HRESULT status;
        bool still_marked;
        std::wstring line;  // empty: nothing logged
    } rows[] = {
        {"unloaded", true, false, S_OK, false, L"CClrProfiler::AppDomainShutdownFinished(): AppDomainID=" + hex(domain) + L" ."},
        {"unloading failed", true, false, E_FAIL, true,
         L"CClrProfiler::AppDomainShutdownFinished(): AppDomainID=" + hex(domain) + L" hrStatus=0x80004005 (unspecified error)."},
        {"not attached", false, false, S_OK, true, L""},
        {"shutting down", true, true, S_OK, true, L""},
    };
    for (const auto& r : rows) {
        CClrProfiler::MarkManagedLoaderInjectedIntoDomain(domain);
        CClrProfiler::is_attached_ = r.attached;
        CClrProfiler::is_shutting_down_ = r.shutting_down;
        record_capture capture;
        EXPECT_EQ(profiler_.AppDomainShutdownFinished(domain, r.status), S_OK) << r.name;
        CClrProfiler::is_attached_ = true;
        CClrProfiler::is_shutting_down_ = false;
        EXPECT_EQ(CClrProfiler::IsManagedLoaderInjectedIntoDomain(domain), r.still_marked) << r.name;
        const auto debug = texts(capture, Debug);
        EXPECT_EQ(debug, r.line.empty() ? std::vector<std::wstring>{} : std::vector<std::wstring>{r.line}) << r.name;
    }

    // A domain id reused after a successful unload receives the loader again.
    EXPECT_EQ(profiler_.AppDomainShutdownFinished(domain, S_OK), S_OK);
    fake_module& app = info_.add_module("Shop", domain);
    auto first = method(app, "Shop.Program", "Main");
    EXPECT_EQ(inject(*first).status, S_OK);
    auto second = method(app, "Shop.Program", "Run");
    EXPECT_EQ(inject(*second).status, S_FALSE);
    EXPECT_EQ(profiler_.AppDomainShutdownFinished(domain, S_OK), S_OK);
    auto reused = method(app, "Shop.Program", "Main2");
    EXPECT_EQ(inject(*reused).status, S_OK);
}

// The bootstrap step of JITCompilationStarted: the chosen method gets the loader
// instead of a wrapper, also when it is a target and when it is compiled again.
TEST_F(LoaderPolicy, JitDispatchGivesTheFirstMethodTheLoaderAndNeverWrapsIt) {
    const instrumentation_target_table saved_table = target_methods();
    profiler_.ConfigureInstrumentationTargets();
    fake_module& app = info_.add_module("Console");
    const blob int_of_int = {0x00, 0x01, 0x08, 0x08};
    const blob identity = {0x0A, 0x02, 0x2A};  // tiny: ldarg.0; ret
    const mdMethodDef first = app.add_method("dotnetcore_console_app.Program", "myfunction", int_of_int, identity);
    const mdMethodDef second =
        app.add_method("dotnetcore_console_app.Program", "myfunctionreturnchar", int_of_int, identity);
    const FunctionID first_function = app.add_function(first);
    const auto agent_referenced = [&] {
        for (const auto& row : app.assembly_refs) {
            if (row.name == u"tralo.managed.core") return true;
        }
        return false;
    };

    ASSERT_EQ(profiler_.JITCompilationStarted(first_function, TRUE), S_OK);
    ASSERT_NE(app.body_set(first), nullptr);
    const blob installed = *app.body_set(first);
    ASSERT_GT(installed.size(), 12u + 5u);
    EXPECT_EQ(installed[12], 0x28);  // call __NBVoidMethodCall__, then the method's own code
    EXPECT_FALSE(agent_referenced());

    // A later tier reads the installed body back: it is left as it is.
    ASSERT_EQ(profiler_.JITCompilationStarted(first_function, TRUE), S_OK);
    EXPECT_EQ(*app.body_set(first), installed);
    EXPECT_FALSE(agent_referenced());

    // Once the loader has brought the agent in, the next target of the domain is
    // wrapped as usual.
    CClrProfiler::agent_loaded_ = true;
    ASSERT_EQ(profiler_.JITCompilationStarted(app.add_function(second), TRUE), S_OK);
    CClrProfiler::agent_loaded_ = false;
    EXPECT_NE(app.body_set(second), nullptr);
    EXPECT_TRUE(agent_referenced());
    target_methods() = saved_table;
}

}  // namespace
