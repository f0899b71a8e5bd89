#include "metadata/method_info.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "logging/hresult_text.h"
#include "metadata_log_capture.h"
#include "support/fake_profiler_info.h"
#include "support/wide_text.h"

namespace {

using texts = std::vector<std::wstring>;

class MethodInfoTest : public testing::Test {
protected:
    MethodInfoTest() {
        cart = module.add_type_def("Shop.Cart");
        total = module.add_method(cart, "Total", {0x20, 0x00, 0x08}, {0x0A, 0x16, 0x2A});
        function = module.add_function(total);
    }
    // Builds the record after the log capture has set the levels its scope reads.
    HRESULT initialize() {
        record = std::make_unique<method_info>();
        return record->initialize_method_info(&info, function);
    }

    metadata_log_capture log;
    test_support::fake_profiler_info info;
    test_support::fake_module& module = info.add_module("Shop");
    mdTypeDef cart;
    mdMethodDef total;
    FunctionID function;
    std::unique_ptr<method_info> record;
};

TEST_F(MethodInfoTest, InitializeFillsEveryField) {
    info.current_thread = 0x5150;
    ASSERT_EQ(initialize(), S_OK);
    EXPECT_EQ(record->assembly_id, module.assembly_id);
    EXPECT_EQ(record->assembly_name, L"Shop");
    EXPECT_EQ(record->module_id, module.module_id);
    EXPECT_EQ(record->module_name, L"/app/Shop.dll");
    EXPECT_EQ(record->class_id, module.class_id(cart));
    EXPECT_EQ(record->type_name, L"Shop.Cart");
    EXPECT_EQ(record->function_id, function);
    EXPECT_EQ(record->method_name, L"Total");
    EXPECT_EQ(record->method_token, total);
    EXPECT_EQ(record->signature, module.method(total)->signature.data()) << "points into the runtime's metadata";
    EXPECT_EQ(record->signature_size, 3u);
    EXPECT_EQ(record->thread_id, 0x5150u);
    EXPECT_EQ(record->has_trace_attribute, 0u);
    EXPECT_EQ(record->is_security_transparent, 0u);
    EXPECT_EQ(log.count(), 0u);
    EXPECT_EQ(module.metadata().references(), 0u) << "every metadata interface is released";
}

TEST_F(MethodInfoTest, AttributeFlags) {
    const struct {
        const char* name;
        bool trace_on_method;
        bool transparent_on_method;
        bool transparent_on_assembly;
        ULONG has_trace;
        ULONG transparent;
        unsigned lookups;
    } rows[] = {
        {"unmarked", false, false, false, 0, 0, 3},
        {"trace attribute on the method", true, false, false, 1, 0, 3},
        {"transparent assembly", false, false, true, 0, 1, 3},
        {"transparent method: the assembly is not asked", false, true, true, 0, 1, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test_support::fake_profiler_info process;
        test_support::fake_module& shop = process.add_module("Shop");
        const mdMethodDef method = shop.add_method("Shop.Cart", "Total", {0x20, 0x00, 0x08}, {0x0A, 0x16, 0x2A});
        if (row.trace_on_method) shop.add_custom_attribute(method, "Nimbrel.Instrumentation.TraceAttribute");
        if (row.transparent_on_method) {
            shop.add_custom_attribute(method, "System.Security.SecurityTransparentAttribute");
        }
        if (row.transparent_on_assembly) {
            shop.add_custom_attribute(shop.assembly(), "System.Security.SecurityTransparentAttribute");
        }
        method_info built;
        ASSERT_EQ(built.initialize_method_info(&process, shop.add_function(method)), S_OK);
        EXPECT_EQ(built.has_trace_attribute, row.has_trace);
        EXPECT_EQ(built.is_security_transparent, row.transparent);
        EXPECT_EQ(process.calls("GetCustomAttributeByName"), row.lookups);
    }
}

TEST_F(MethodInfoTest, FailingTraceAttributeLookupLeavesTheFlagClear) {
    module.add_custom_attribute(total, "Nimbrel.Instrumentation.TraceAttribute");
    info.fail_once("GetCustomAttributeByName", E_FAIL, 1);  // the method's trace attribute
    ASSERT_EQ(initialize(), S_OK);
    EXPECT_EQ(record->has_trace_attribute, 0u);
    EXPECT_EQ(log.count(), 0u) << "attribute lookups are not logged";
}

TEST_F(MethodInfoTest, EachFailingRuntimeCallGivesItsMessagesAndStatus) {
    auto fail = [](const wchar_t* text, HRESULT status) {
        return std::wstring(text) + L" (" + hresult_text(status) + L")";
    };
    const struct {
        const char* call;
        unsigned nth;
        HRESULT status;
        texts errors;
    } rows[] = {
        {"GetTokenAndMetaDataFromFunction", 1, E_FAIL,
         {fail(L"Failed to query IMetaDataImport interface", E_FAIL), fail(L"get_class_method_info() failed", E_FAIL)}},
        {"GetMethodProps", 1, E_ACCESSDENIED,
         {fail(L"Failed to query method properties size", E_ACCESSDENIED),
          fail(L"get_class_method_info() failed", E_ACCESSDENIED)}},
        {"GetMethodProps", 2, E_OUTOFMEMORY,
         {fail(L"Failed to query method properties", E_OUTOFMEMORY),
          fail(L"get_class_method_info() failed", E_OUTOFMEMORY)}},
        {"GetTypeDefProps", 1, E_FAIL,
         {fail(L"Failed to query class properties size", E_FAIL), fail(L"get_class_method_info() failed", E_FAIL)}},
        {"GetTypeDefProps", 2, E_FAIL,
         {fail(L"Failed to query class properties", E_FAIL), fail(L"get_class_method_info() failed", E_FAIL)}},
        {"GetFunctionInfo", 1, E_INVALIDARG,
         {fail(L"Failed to class/module ids", E_INVALIDARG), fail(L"get_class_method_info() failed", E_INVALIDARG)}},
        {"GetModuleInfo", 1, E_FAIL, {fail(L"get_module_info() failed", E_FAIL)}},
        {"GetModuleMetaData", 1, E_ACCESSDENIED, {fail(L"get_assembly_info() failed", E_ACCESSDENIED)}},
        {"QueryInterface", 1, E_NOINTERFACE, {fail(L"get_assembly_info() failed", E_NOINTERFACE)}},
        {"GetCustomAttributeByName", 3, E_FAIL, {fail(L"get_assembly_info() failed", E_FAIL)}},  // the assembly's
        {"GetCurrentThreadID", 1, E_UNEXPECTED, {fail(L"get_thread_id() failed", E_UNEXPECTED)}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.call << " #" << row.nth);
        info.failures().clear();
        info.fail_once(row.call, row.status, row.nth);
        const size_t before = log.count();
        EXPECT_EQ(initialize(), row.status);
        const auto lines = log.lines();
        texts errors;
        for (size_t i = before; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].level, Error);
            EXPECT_EQ(lines[i].scope, L"method_info");
            errors.push_back(lines[i].text);
        }
        EXPECT_EQ(errors, row.errors);
        EXPECT_EQ(module.metadata().references(), 0u) << "released on the failing path too";
    }
}

TEST_F(MethodInfoTest, RecordKeepsWhatWasFilledBeforeTheFailingStep) {
    info.fail_once("GetTypeDefProps", E_FAIL, 2);
    EXPECT_EQ(initialize(), E_FAIL);
    EXPECT_EQ(record->method_name, L"Total") << "filled before the failing step";
    EXPECT_EQ(record->module_id, 0u) << "not reached";
}

TEST_F(MethodInfoTest, UnreadableAssemblyNameStillInitializes) {
    info.fail("GetAssemblyInfo", E_FAIL);
    ASSERT_EQ(initialize(), S_OK);
    EXPECT_EQ(record->assembly_name, L"");
    EXPECT_EQ(record->module_name, L"/app/Shop.dll");
    EXPECT_EQ(log.count(), 0u);
}

TEST_F(MethodInfoTest, CopyIsDeepButSharesTheSignature) {
    ASSERT_EQ(initialize(), S_OK);
    method_info copy(*record);
    record->method_name = L"changed";
    EXPECT_EQ(copy.method_name, L"Total");
    EXPECT_EQ(copy.type_name, L"Shop.Cart");
    EXPECT_EQ(copy.function_id, function);
    EXPECT_EQ(copy.signature, record->signature);
    EXPECT_EQ(copy.signature_size, record->signature_size);
}

TEST_F(MethodInfoTest, BodyBytesThroughTheRuntime) {
    ASSERT_EQ(initialize(), S_OK);
    LPCBYTE body = nullptr;
    ULONG size = 0;
    ASSERT_EQ(record->get_body_bytes(&info, &body, &size), S_OK);
    EXPECT_EQ(test_support::blob(body, body + size), (test_support::blob{0x0A, 0x16, 0x2A}));

    auto* replacement = static_cast<BYTE*>(module.allocator().Alloc(3));
    replacement[0] = 0x0A;
    replacement[1] = 0x17;
    replacement[2] = 0x2A;
    ASSERT_EQ(record->set_body_bytes(&info, replacement), S_OK);
    EXPECT_EQ(*module.body_set(total), (test_support::blob{0x0A, 0x17, 0x2A}));

    info.fail("GetILFunctionBody", E_FAIL);
    info.fail("SetILFunctionBody", E_ACCESSDENIED);
    EXPECT_EQ(record->get_body_bytes(&info, &body, &size), E_FAIL);
    EXPECT_EQ(record->set_body_bytes(&info, replacement), E_ACCESSDENIED);
    EXPECT_EQ(log.texts(Error), (texts{L"Failed to query method body size (unspecified error)",
                                       L"Failed to set new body (general access denied error)"}));
}

}  // namespace
