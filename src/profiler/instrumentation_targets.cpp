// The content of the built-in target table: which framework and library methods are
// instrumented, and under which runtime flavour and options.
#include <cwchar>
#include <vector>

#include "profiler/clr_profiler.h"
#include "profiler/instrumentation_target.h"
#include "runtime/cor_types.h"

namespace {

enum class when {
    always,
    desktop,                // only on the desktop runtime
    mvc_view,               // mvc_view_instrumentation_
    mvc,                    // mvc_instrumentation_
    no_web_module,          // the agent's own web module is not installed
    log_trace_id,           // log_trace_id_enabled_
    log_add_attribute,      // log_trace_id_enabled_ and add_attribute_log_trace_id_
    log_insert_trace_id,    // log_trace_id_enabled_ and insert_log_trace_id_
};

struct target_row {
    when condition;
    const wchar_t* full_name;
};

// Rows in registration order.
const target_row target_rows[] = {
    {when::always, L"dotnetcore_console_app.Program.myfunction"},
    {when::always, L"dotnetcore_console_app.Program.myfunctionthrow"},
    {when::always, L"dotnetcore_console_app.Program.myfunctionwithobject"},
    {when::always, L"dotnetcore_console_app.Program.myfunctionreturnobject"},
    {when::always, L"dotnetcore_console_app.Program.myfunctionreturnchar"},

    {when::always, L"Microsoft.Data.SqlClient.SqlCommand.BeginExecuteNonQuery"},
    {when::always, L"Microsoft.Data.SqlClient.SqlCommand.EndExecuteNonQuery"},
    {when::always, L"Microsoft.Data.SqlClient.SqlCommand.BeginExecuteReader"},
    {when::always, L"Microsoft.Data.SqlClient.SqlCommand.EndExecuteReader"},
    {when::always, L"Microsoft.Data.SqlClient.SqlCommand.BeginExecuteXmlReader"},
    {when::always, L"Microsoft.Data.SqlClient.SqlCommand.EndExecuteXmlReader"},
    {when::always, L"Microsoft.Data.SqlClient.SqlCommand.ExecuteReader"},
    {when::always, L"Microsoft.Data.SqlClient.SqlCommand.ExecuteScalar"},
    {when::always, L"Microsoft.Data.SqlClient.SqlCommand.ExecuteXmlReader"},
    {when::always, L"Microsoft.Data.SqlClient.SqlCommand.BeginExecuteReaderInternal"},
    {when::always, L"Microsoft.Data.SqlClient.SqlCommand.EndExecuteReaderAsync"},
    {when::always, L"Microsoft.Data.SqlClient.SqlCommand.BeginExecuteXmlReaderInternal"},
    {when::always, L"Microsoft.Data.SqlClient.SqlCommand.EndExecuteXmlReaderAsync"},
    {when::always, L"Microsoft.Data.SqlClient.SqlCommand.BeginExecuteNonQueryInternal"},
    {when::always, L"Microsoft.Data.SqlClient.SqlCommand.EndExecuteNonQueryAsync"},

    {when::always, L"Microsoft.Extensions.Hosting.GenericHostWebHostBuilderExtensions.ConfigureWebHost"},
    {when::always, L"Microsoft.AspNetCore.Hosting.WebHostBuilder.BuildCommonServices"},

    {when::always, L"System.Data.SqlClient.SqlCommand.ExecuteReader"},
    {when::always, L"System.Data.SqlClient.SqlCommand.ExecuteScalar"},
    {when::always, L"System.Data.SqlClient.SqlCommand.ExecuteNonQuery"},
    {when::always, L"System.Data.SqlClient.SqlCommand.ExecuteXmlReader"},
    {when::always, L"System.Data.SqlClient.SqlCommand.BeginExecuteReader"},
    {when::always, L"System.Data.SqlClient.SqlCommand.EndExecuteReader"},
    {when::always, L"System.Data.SqlClient.SqlCommand.BeginExecuteXmlReader"},
    {when::always, L"System.Data.SqlClient.SqlCommand.EndExecuteXmlReader"},
    {when::always, L"System.Data.SqlClient.SqlCommand.BeginExecuteNonQuery"},
    {when::always, L"System.Data.SqlClient.SqlCommand.EndExecuteNonQuery"},
    {when::always, L"System.Data.SqlClient.SqlCommand.BeginExecuteReaderInternal"},
    {when::always, L"System.Data.SqlClient.SqlCommand.EndExecuteReaderAsync"},
    {when::always, L"System.Data.SqlClient.SqlCommand.BeginExecuteXmlReaderInternal"},
    {when::always, L"System.Data.SqlClient.SqlCommand.EndExecuteXmlReaderAsync"},
    {when::always, L"System.Data.SqlClient.SqlCommand.BeginExecuteNonQueryInternal"},
    {when::always, L"System.Data.SqlClient.SqlCommand.EndExecuteNonQueryAsync"},

    {when::always, L"Oracle.DataAccess.Client.OracleCommand.ExecuteReader"},
    {when::always, L"Oracle.DataAccess.Client.OracleCommand.ExecuteScalar"},
    {when::always, L"Oracle.DataAccess.Client.OracleCommand.ExecuteNonQuery"},
    {when::always, L"Oracle.DataAccess.Client.OracleCommand.ExecuteXmlReader"},
    {when::always, L"Oracle.ManagedDataAccess.Client.OracleCommand.ExecuteReader"},
    {when::always, L"Oracle.ManagedDataAccess.Client.OracleCommand.ExecuteScalar"},
    {when::always, L"Oracle.ManagedDataAccess.Client.OracleCommand.ExecuteNonQuery"},
    {when::always, L"Oracle.ManagedDataAccess.Client.OracleCommand.ExecuteXmlReader"},
    {when::always, L"System.Data.OracleClient.OracleCommand.ExecuteReader"},
    {when::always, L"System.Data.OracleClient.OracleCommand.ExecuteScalar"},
    {when::always, L"System.Data.OracleClient.OracleCommand.ExecuteNonQuery"},

    {when::always, L"System.Net.Http.HttpClientHandler.SetRequestHeaders"},

    {when::desktop, L"System.Net.HttpWebRequest.BeginGetResponse"},
    {when::desktop, L"System.Net.HttpWebRequest.EndGetResponse"},
    {when::desktop, L"System.Net.HttpWebRequest.GetResponse"},
    {when::desktop, L"System.Net.HttpWebRequest.BeginGetRequestStream"},
    {when::desktop, L"System.Net.HttpWebRequest.GetRequestStream"},

    {when::always, L"System.Net.Http.HttpMessageHandler.SendAsync"},
    {when::always, L"System.Net.Http.HttpClient.Send"},
    {when::always, L"System.Net.Http.HttpClientHandler.SendAsync"},

    {when::mvc_view, L"System.Web.Mvc.ViewResultBase.ExecuteResult"},

    {when::mvc, L"System.Web.Mvc.MvcHandler.BeginProcessRequest"},
    {when::mvc, L"System.Web.Mvc.MvcHandler.EndProcessRequest"},
    {when::mvc, L"System.Web.Mvc.ReflectedActionDescriptor.Execute"},
    {when::mvc, L"System.Web.Mvc.Async.TaskAsyncActionDescriptor.BeginExecute"},

    {when::always, L"System.ServiceModel.ServiceHostBase.InitializeRuntime"},
    {when::always, L"System.ServiceModel.Dispatcher.ImmutableClientRuntime.BeforeSendRequest"},
    {when::always, L"System.ServiceModel.Dispatcher.ImmutableDispatchRuntime.PrepareAndAddressReply"},
    {when::always, L"System.ServiceModel.Dispatcher.ImmutableClientRuntime.AfterReceiveReply"},
    {when::always, L"System.ServiceModel.Channels.ServiceChannel.EndCall"},
    {when::always, L"System.ServiceModel.Channels.ServiceChannel.BeginCall"},
    {when::always, L"System.ServiceModel.Channels.HttpRequestContext.OnReply"},
    {when::always, L"System.ServiceModel.Dispatcher.ChannelHandler.HandleRequest"},
    {when::always, L"System.ServiceModel.Dispatcher.SyncMethodInvoker.Invoke"},
    {when::always, L"System.ServiceModel.Channels.ServiceChannel.Call"},
    {when::always, L"System.ServiceModel.Channels.ServiceChannel.SendAsyncResult.CallComplete"},
    {when::always, L"System.ServiceModel.Channels.ServiceChannel.HandleReply"},
    {when::always, L"System.ServiceModel.Dispatcher.ImmutableDispatchRuntime.PrepareReply"},

    {when::no_web_module, L"System.Web.HttpRuntime.ProcessRequestNotificationPrivate"},
    {when::no_web_module, L"System.Web.HttpRuntime.FinishPipelineRequest"},
    {when::no_web_module, L"System.Web.HttpContext.ReportRuntimeErrorIfExists"},

    {when::always, L"Nimbrel.Instrumentation.MultipleExitPoints.InstrumentedMethod"},
    {when::always, L"Nimbrel.Instrumentation.MultipleExitPoints.SomeVoidMethod"},
    {when::always, L"Nimbrel.Instrumentation.MethodArguments.InstrumentedMethod"},
    {when::always, L"System.Web.ThreadContext.AssociateWithCurrentThread"},
    {when::always, L"System.Web.ThreadContext.DisassociateFromCurrentThread"},
    {when::always, L"ThreadContext.Enter"},
    {when::always, L"Nimbrel.Instrumentation.Internals.TraceBase.LoadHandler"},
    {when::always, L"System.ServiceProcess.ServiceBase.ServiceMainCallback"},

    {when::log_trace_id, L"Serilog.Context.LogContext.Enrich"},
    {when::log_add_attribute, L"Serilog.Formatting.Compact.CompactJsonFormatter.Format"},
    {when::log_add_attribute, L"Serilog.Sinks.Loggly.LogEventConverter.CreateLogglyEvent"},
    {when::log_insert_trace_id, L"Serilog.Formatting.Display.MessageTemplateTextFormatter..ctor"},
    {when::log_insert_trace_id, L"log4net.Core.LoggerManager.GetLogger"},
    {when::log_insert_trace_id, L"log4net.Layout.SimpleLayout.Format"},
    {when::log_add_attribute, L"log4net.Repository.Hierarchy.Logger.CallAppenders"},
    {when::log_trace_id, L"log4net.Layout.Pattern.PropertyPatternConverter.Convert"},
};

constexpr uint8_t klass = ELEMENT_TYPE_CLASS;
constexpr uint8_t object = ELEMENT_TYPE_OBJECT;
constexpr uint8_t value_type = ELEMENT_TYPE_VALUETYPE;

struct argument_constraint {
    const wchar_t* full_name;
    std::vector<uint8_t> argument_types;
};

// Targets that match only the overload whose parameters have exactly these element types.
const argument_constraint argument_constraints[] = {
    {L"Microsoft.Data.SqlClient.SqlCommand.BeginExecuteNonQuery", {klass, object}},
    {L"Microsoft.Data.SqlClient.SqlCommand.BeginExecuteReader", {klass, object, value_type}},
    {L"Microsoft.Data.SqlClient.SqlCommand.BeginExecuteXmlReader", {klass, object}},
    {L"Microsoft.Data.SqlClient.SqlCommand.ExecuteReader", {value_type}},
    {L"Microsoft.Extensions.Hosting.GenericHostWebHostBuilderExtensions.ConfigureWebHost", {klass, klass}},
    {L"System.Data.SqlClient.SqlCommand.BeginExecuteReader", {klass, object, value_type}},
    {L"System.Data.SqlClient.SqlCommand.BeginExecuteXmlReader", {klass, object}},
    {L"System.Data.SqlClient.SqlCommand.BeginExecuteNonQuery", {klass, object}},
    {L"System.Net.HttpWebRequest.GetRequestStream", {klass}},
};

const argument_constraint* constraint_of(const wchar_t* full_name) {
    for (const auto& constraint : argument_constraints)
        if (std::wcscmp(constraint.full_name, full_name) == 0) return &constraint;
    return nullptr;
}

}  // namespace

void CClrProfiler::ConfigureInstrumentationTargets() {
    auto holds = [this](when condition) {
        switch (condition) {
            case when::always: return true;
            case when::desktop: return !IsCoreCLR();
            case when::mvc_view: return mvc_view_instrumentation_;
            case when::mvc: return mvc_instrumentation_;
            case when::no_web_module: return !web_module_enabled_;
            case when::log_trace_id: return log_trace_id_enabled_;
            case when::log_add_attribute: return log_trace_id_enabled_ && add_attribute_log_trace_id_;
            case when::log_insert_trace_id: return log_trace_id_enabled_ && insert_log_trace_id_;
        }
        return false;
    };
    for (const target_row& row : target_rows) {
        if (!holds(row.condition)) continue;
        if (const argument_constraint* constraint = constraint_of(row.full_name)) {
            auto types = std::make_shared<std::vector<uint8_t>>(constraint->argument_types);
            add_instrumentation_target(InstrumentationTarget(row.full_name, types));
        } else {
            add_instrumentation_target(row.full_name);
        }
    }
}
