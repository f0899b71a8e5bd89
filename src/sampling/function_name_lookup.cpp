#include "sampling/function_name_lookup.h"

#include <exception>
#include <string>
#include <thread>

#include "logging/hresult_text.h"
#include "logging/text_conversions.h"
#include "runtime/com_ptr.h"
#include "runtime/metadata_import.h"
#include "runtime/profiler_info.h"
#include "runtime/profiler_state.h"

namespace {

bool shutting_down() { return profiler_state::is_shutting_down.load(std::memory_order_acquire); }

// A name buffer one longer than the length the metadata asked for, so the name is
// terminated even if the callee fills every character it was offered.
std::wstring name_from(const std::u16string& buffer) { return u16s2ws(std::u16string(buffer.c_str())); }

// Reads the method and type names of one element. Stops at the first failing call,
// logging it, and leaves the element as it was.
HRESULT resolve_names(ICorProfilerInfo2& info, function_name_info& element, const wtracing_scope& scope) {
    com_ptr<IMetaDataImport> import;
    mdToken method = mdTokenNil;
    HRESULT hr = info.GetTokenAndMetaDataFromFunction(to_function_id(element.function_id), IID_IMetaDataImport,
                                                      import.put_unknown(), &method);
    if (SUCCEEDED(hr) && !import) hr = E_POINTER;
    if (FAILED(hr)) {
        scope.trace_f(Debug, L"CClrProfiler::Thread_Function_Names_App().GetTokenAndMetaDataFromFunction() did not return S_OK %s",
                      hresult_text(hr));
        return hr;
    }

    mdTypeDef type = mdTypeDefNil;
    ULONG method_length = 0;
    hr = import->GetMethodProps(method, &type, nullptr, 0, &method_length, nullptr, nullptr, nullptr, nullptr, nullptr);
    std::u16string method_buffer;
    if (SUCCEEDED(hr)) {
        method_buffer.assign(method_length + 1, u'\0');
        hr = import->GetMethodProps(method, nullptr, method_buffer.data(), method_length, &method_length, nullptr,
                                    nullptr, nullptr, nullptr, nullptr);
    }
    if (FAILED(hr)) {
        scope.trace_f(Debug, L"CClrProfiler::Thread_Function_Names_App().GetMethodProps() did not return S_OK %s",
                      hresult_text(hr));
        return hr;
    }

    ULONG type_length = 0;
    hr = import->GetTypeDefProps(type, nullptr, 0, &type_length, nullptr, nullptr);
    std::u16string type_buffer;
    if (SUCCEEDED(hr)) {
        type_buffer.assign(type_length + 1, u'\0');
        hr = import->GetTypeDefProps(type, type_buffer.data(), type_length, &type_length, nullptr, nullptr);
    }
    if (FAILED(hr)) {
        scope.trace_f(Debug, L"CClrProfiler::Thread_Function_Names_App().GetTypeDefProps() did not return S_OK %s",
                      hresult_text(hr));
        return hr;
    }

    // Both converted before either is stored, so a name that is not valid UTF-16
    // leaves the element whole.
    std::wstring type_name = name_from(type_buffer);
    std::wstring method_name = name_from(method_buffer);
    element.type_name = std::move(type_name);
    element.method_name = std::move(method_name);
    return hr;
}

}  // namespace

FunctionID to_function_id(double value) {
    // 2^64 is exactly representable; anything from it upwards (and NaN, and negative
    // values) would make the conversion undefined.
    constexpr double limit = 18446744073709551616.0;
    if (!(value >= 0.0 && value < limit)) return 0;
    return static_cast<FunctionID>(value);
}

HRESULT lookup_function_names(NimbrelFunctionNames* request, const wtracing_scope& scope) {
    if (request == nullptr) return E_POINTER;
    std::vector<function_name_info> working = request->GetFunctionNameInfos();

    com_ptr<ICorProfilerInfo2> info;
    HRESULT hr = profiler_state::profiler_info ? query_interface(profiler_state::profiler_info, IID_ICorProfilerInfo2, info)
                                               : E_POINTER;
    if (FAILED(hr)) {
        scope.trace_f(Error, L"CClrProfiler::Thread_Function_Names_App: unable to get ICorProfilerInfo2 HRESULT=0x%x (%s).",
                      hr, hresult_text(hr));
        return hr;
    }

    for (auto& element : working) {
        if (shutting_down()) break;
        try {
            hr = resolve_names(*info.get(), element, scope);
        } catch (const std::exception& e) {
            // Metadata names are not checked by the runtime; an unpaired surrogate
            // cannot be converted. The element keeps its names.
            hr = E_FAIL;
            scope.trace_f(Debug, L"CClrProfiler::Thread_Function_Names_App(): name not converted. %s",
                          s2ws_replacing(e.what()).c_str());
        }
    }
    request->SetFunctionNameInfos(working);
    return hr;
}

int32_t get_function_names(std::vector<function_name_info>& infos, const wtracing_scope& scope) {
    if (shutting_down()) return 0;
    NimbrelFunctionNames request(infos);
    if (!shutting_down()) {
        try {
            std::thread lookup([&request, &scope] {
                try {
                    lookup_function_names(&request, scope);
                } catch (...) {
                    // Out of memory while copying the list: the names stay empty.
                }
            });
            lookup.join();
        } catch (const std::exception& e) {
            scope.trace_f(Error, L"CClrProfiler::GetFunctionNames(): unable to run the lookup thread. %s",
                          s2ws_replacing(e.what()).c_str());
        }
    }
    infos = request.GetFunctionNameInfos();
    return 0;
}
