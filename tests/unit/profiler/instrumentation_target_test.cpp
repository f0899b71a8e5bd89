// The built-in target table: its content per runtime flavour and options, and how
// later registrations replace earlier ones.
#include <gtest/gtest.h>

#include "profiler/clr_profiler.h"
#include "profiler/instrumentation_target.h"
#include "runtime/cor_types.h"

namespace {

struct options {
    bool coreclr = true;
    bool web_module = false;
    const char* mvc = "";  // "", "Disabled", "MvcViewEnabled"
    bool insert_trace_id = false;
    bool add_attribute = false;
};

instrumentation_target_table configure(const options& o) {
    target_methods().clear();
    CClrProfiler::is_coreclr_ = o.coreclr;
    CClrProfiler profiler;
    profiler.web_module_enabled_ = o.web_module;
    if (std::string(o.mvc) == "Disabled") profiler.mvc_instrumentation_ = profiler.mvc_view_instrumentation_ = false;
    if (std::string(o.mvc) == "MvcViewEnabled") profiler.mvc_instrumentation_ = false;
    profiler.log_trace_id_enabled_ = o.insert_trace_id || o.add_attribute;
    profiler.insert_log_trace_id_ = o.insert_trace_id;
    profiler.add_attribute_log_trace_id_ = o.add_attribute;
    profiler.ConfigureInstrumentationTargets();
    CClrProfiler::is_coreclr_ = false;
    auto table = target_methods();
    target_methods().clear();
    return table;
}

size_t count_prefix(const instrumentation_target_table& table, const std::wstring& prefix) {
    size_t n = 0;
    for (const auto& [name, target] : table) n += name.rfind(prefix, 0) == 0;
    return n;
}

TEST(TargetTable, CountsPerOptionSet) {
    struct row {
        const char* name;
        options o;
        size_t count;
    };
    const row rows[] = {
        {"CoreCLR defaults", {}, 82},
        {"desktop defaults", {false}, 87},
        {"web module installed", {true, true}, 79},
        {"MVC disabled", {true, false, "Disabled"}, 77},
        {"MVC views only", {true, false, "MvcViewEnabled"}, 78},
        {"insert trace id", {true, false, "", true, false}, 87},
        {"add attribute", {true, false, "", false, true}, 87},
        {"both trace-id options", {true, false, "", true, true}, 90},
        {"desktop with everything", {false, false, "", true, true}, 95},
    };
    for (const auto& r : rows) EXPECT_EQ(configure(r.o).size(), r.count) << r.name;
}

TEST(TargetTable, CoreClrDefaultsLeaveOutDesktopAndLogLibraryRows) {
    auto table = configure({});
    EXPECT_EQ(count_prefix(table, L"System.Net.HttpWebRequest."), 0u);
    EXPECT_EQ(count_prefix(table, L"Serilog."), 0u);
    EXPECT_EQ(count_prefix(table, L"log4net."), 0u);
    EXPECT_EQ(count_prefix(table, L"System.Web.Mvc."), 5u);
    EXPECT_EQ(count_prefix(table, L"System.Web.HttpRuntime."), 2u);
    for (const auto& [name, target] : table) EXPECT_EQ(name, target.full_name);
}

TEST(TargetTable, OptionGroups) {
    auto views_only = configure({true, false, "MvcViewEnabled"});
    EXPECT_EQ(views_only.count(L"System.Web.Mvc.ViewResultBase.ExecuteResult"), 1u);
    EXPECT_EQ(count_prefix(views_only, L"System.Web.Mvc."), 1u);

    auto web_module = configure({true, true});
    EXPECT_EQ(web_module.count(L"System.Web.HttpContext.ReportRuntimeErrorIfExists"), 0u);
    EXPECT_EQ(count_prefix(web_module, L"System.Web.HttpRuntime."), 0u);

    auto attribute = configure({true, false, "", false, true});
    for (const wchar_t* name : {L"Serilog.Context.LogContext.Enrich", L"Serilog.Formatting.Compact.CompactJsonFormatter.Format",
                                L"Serilog.Sinks.Loggly.LogEventConverter.CreateLogglyEvent",
                                L"log4net.Repository.Hierarchy.Logger.CallAppenders",
                                L"log4net.Layout.Pattern.PropertyPatternConverter.Convert"})
        EXPECT_EQ(attribute.count(name), 1u) << std::wstring(name).size();
    auto insert = configure({true, false, "", true, false});
    EXPECT_EQ(insert.count(L"Serilog.Formatting.Display.MessageTemplateTextFormatter..ctor"), 1u);
    EXPECT_EQ(insert.count(L"log4net.Repository.Hierarchy.Logger.CallAppenders"), 0u);
}

TEST(TargetTable, ArgumentConstraints) {
    auto table = configure({false});
    using types = std::vector<uint8_t>;
    auto args = [&](const wchar_t* name) { return table.at(name).argument_types; };
    ASSERT_NE(args(L"Microsoft.Data.SqlClient.SqlCommand.ExecuteReader"), nullptr);
    EXPECT_EQ(*args(L"Microsoft.Data.SqlClient.SqlCommand.ExecuteReader"), types{ELEMENT_TYPE_VALUETYPE});
    EXPECT_EQ(*args(L"System.Data.SqlClient.SqlCommand.BeginExecuteReader"),
              (types{ELEMENT_TYPE_CLASS, ELEMENT_TYPE_OBJECT, ELEMENT_TYPE_VALUETYPE}));
    EXPECT_EQ(*args(L"System.Net.HttpWebRequest.GetRequestStream"), types{ELEMENT_TYPE_CLASS});
    EXPECT_EQ(args(L"System.Data.SqlClient.SqlCommand.ExecuteReader"), nullptr);
    size_t constrained = 0;
    for (const auto& [name, target] : table) constrained += target.argument_types != nullptr;
    EXPECT_EQ(constrained, 9u);
}

TEST(TargetTable, LaterRegistrationReplacesTheConstraint) {
    target_methods().clear();
    add_instrumentation_target(L"A.B.C", 2, ELEMENT_TYPE_CLASS, 0x1C);
    ASSERT_NE(target_methods().at(L"A.B.C").argument_types, nullptr);
    EXPECT_EQ(*target_methods().at(L"A.B.C").argument_types, (std::vector<uint8_t>{0x12, 0x1C}));

    add_instrumentation_target(L"A.B.C");
    EXPECT_EQ(target_methods().at(L"A.B.C").argument_types, nullptr);

    add_instrumentation_target(L"A.B.C", 1, 0x111);  // truncated to one byte
    EXPECT_EQ(*target_methods().at(L"A.B.C").argument_types, std::vector<uint8_t>{0x11});

    add_instrumentation_target(L"A.B.C", 0);  // non-null and empty: only parameterless methods match
    ASSERT_NE(target_methods().at(L"A.B.C").argument_types, nullptr);
    EXPECT_TRUE(target_methods().at(L"A.B.C").argument_types->empty());
    EXPECT_EQ(target_methods().size(), 1u);

    // Copies share the array rather than copying it.
    InstrumentationTarget copy = target_methods().at(L"A.B.C");
    EXPECT_EQ(copy.argument_types.get(), target_methods().at(L"A.B.C").argument_types.get());
    target_methods().clear();
}

}  // namespace
