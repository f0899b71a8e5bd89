#include "metadata/method_info.h"

#include <vector>

#include "logging/hresult_text.h"
#include "logging/text_conversions.h"
#include "runtime/com_ptr.h"
#include "runtime/metadata_import.h"

namespace {

constexpr WCHAR trace_attribute[] = u"Nimbrel.Instrumentation.TraceAttribute";
constexpr WCHAR transparent_attribute[] = u"System.Security.SecurityTransparentAttribute";

// A name buffer for a length the runtime reported with its terminator counted.
std::vector<WCHAR> name_buffer(ULONG reported_length) {
    return std::vector<WCHAR>(reported_length > 0 ? reported_length : 1, u'\0');
}

// The text in `buffer` up to its terminator. A name with an unpaired surrogate keeps
// each code unit as one character rather than losing the name.
std::wstring to_wide(const std::vector<WCHAR>& buffer) {
    size_t size = 0;
    while (size < buffer.size() && buffer[size] != u'\0') ++size;
    const std::u16string text(buffer.data(), size);
    try {
        return u16s2ws(text);
    } catch (...) {
        return std::wstring(text.begin(), text.end());
    }
}

}  // namespace

method_info::method_info() : trace(L"", L"", L"method_info") {}

HRESULT method_info::initialize_method_info(ICorProfilerInfo* info, FunctionID function) {
    HRESULT hr = get_class_method_info(info, function);
    if (FAILED(hr)) {
        trace.trace_f(Error, L"get_class_method_info() failed (%s)", hresult_text(hr));
        return hr;
    }
    function_id = function;
    hr = get_module_info(info);
    if (FAILED(hr)) {
        trace.trace_f(Error, L"get_module_info() failed (%s)", hresult_text(hr));
        return hr;
    }
    hr = get_assembly_info(info);
    if (FAILED(hr)) {
        trace.trace_f(Error, L"get_assembly_info() failed (%s)", hresult_text(hr));
        return hr;
    }
    hr = get_thread_id(info);
    if (FAILED(hr)) {
        trace.trace_f(Error, L"get_thread_id() failed (%s)", hresult_text(hr));
    }
    return hr;
}

HRESULT method_info::get_class_method_info(ICorProfilerInfo* info, FunctionID function) {
    com_ptr<IMetaDataImport> import;
    HRESULT hr = info->GetTokenAndMetaDataFromFunction(function, IID_IMetaDataImport, import.put_unknown(),
                                                       &method_token);
    if (FAILED(hr)) {
        trace.trace_f(Error, L"Failed to query IMetaDataImport interface (%s)", hresult_text(hr));
        return hr;
    }
    has_trace_attribute = 0;
    is_security_transparent = 0;
    signature_size = 0;
    signature = nullptr;
    mdTypeDef type_token = mdTypeDefNil;
    ULONG length = 0;
    DWORD attributes = 0;  // read, not kept

    hr = import->GetMethodProps(method_token, &type_token, nullptr, 0, &length, &attributes, nullptr, nullptr,
                                nullptr, nullptr);
    if (FAILED(hr)) {
        trace.trace_f(Error, L"Failed to query method properties size (%s)", hresult_text(hr));
        return hr;
    }
    std::vector<WCHAR> buffer = name_buffer(length);
    hr = import->GetMethodProps(method_token, &type_token, buffer.data(), static_cast<ULONG>(buffer.size()), &length,
                                &attributes, &signature, &signature_size, nullptr, nullptr);
    method_name = to_wide(buffer);
    if (FAILED(hr)) {
        trace.trace_f(Error, L"Failed to query method properties (%s)", hresult_text(hr));
        return hr;
    }

    // Only S_OK means "present"; S_FALSE (absent) and failures leave the flags clear.
    if (import->GetCustomAttributeByName(method_token, trace_attribute, nullptr, nullptr) == S_OK) {
        has_trace_attribute = 1;
    }
    if (import->GetCustomAttributeByName(method_token, transparent_attribute, nullptr, nullptr) == S_OK) {
        is_security_transparent = 1;
    }

    hr = import->GetTypeDefProps(type_token, nullptr, 0, &length, nullptr, nullptr);
    if (FAILED(hr)) {
        trace.trace_f(Error, L"Failed to query class properties size (%s)", hresult_text(hr));
        return hr;
    }
    buffer = name_buffer(length);
    hr = import->GetTypeDefProps(type_token, buffer.data(), static_cast<ULONG>(buffer.size()), &length, nullptr,
                                 nullptr);
    type_name = to_wide(buffer);
    if (FAILED(hr)) {
        trace.trace_f(Error, L"Failed to query class properties (%s)", hresult_text(hr));
        return hr;
    }

    hr = info->GetFunctionInfo(function, &class_id, &module_id, &method_token);
    if (FAILED(hr)) {
        trace.trace_f(Error, L"Failed to class/module ids (%s)", hresult_text(hr));
    }
    return hr;
}

HRESULT method_info::get_module_info(ICorProfilerInfo* info) {
    ULONG length = 0;
    HRESULT hr = info->GetModuleInfo(module_id, nullptr, 0, &length, nullptr, nullptr);
    if (FAILED(hr)) {
        return hr;
    }
    std::vector<WCHAR> buffer = name_buffer(length);
    hr = info->GetModuleInfo(module_id, nullptr, static_cast<ULONG>(buffer.size()), &length, buffer.data(),
                             &assembly_id);
    module_name = to_wide(buffer);
    return hr;
}

HRESULT method_info::get_assembly_info(ICorProfilerInfo* info) {
    ULONG length = 0;
    // The name is wanted but not needed: a failing size query leaves it as it was.
    if (SUCCEEDED(info->GetAssemblyInfo(assembly_id, 0, &length, nullptr, nullptr, nullptr))) {
        std::vector<WCHAR> buffer = name_buffer(length);
        info->GetAssemblyInfo(assembly_id, static_cast<ULONG>(buffer.size()), &length, buffer.data(), nullptr,
                              nullptr);
        assembly_name = to_wide(buffer);
    }

    com_ptr<IMetaDataImport> import;
    HRESULT hr = info->GetModuleMetaData(module_id, ofWrite, IID_IMetaDataImport, import.put_unknown());
    if (FAILED(hr)) {
        return hr;
    }
    com_ptr<IMetaDataAssemblyImport> assembly_import;
    hr = query_interface(import, IID_IMetaDataAssemblyImport, assembly_import);
    if (FAILED(hr)) {
        return hr;
    }
    mdAssembly assembly_token = 0;
    assembly_import->GetAssemblyFromScope(&assembly_token);  // a nil token finds no attribute
    if (is_security_transparent == 0) {
        hr = import->GetCustomAttributeByName(assembly_token, transparent_attribute, nullptr, nullptr);
        if (hr == S_OK) {
            is_security_transparent = 1;
        }
    }
    return hr;
}

HRESULT method_info::get_thread_id(ICorProfilerInfo* info) { return info->GetCurrentThreadID(&thread_id); }

HRESULT method_info::get_body_bytes(ICorProfilerInfo* info, LPCBYTE* body, ULONG* body_size) {
    const HRESULT hr = info->GetILFunctionBody(module_id, method_token, body, body_size);
    if (FAILED(hr)) {
        trace.trace_f(Error, L"Failed to query method body size (%s)", hresult_text(hr));
    }
    return hr;
}

HRESULT method_info::set_body_bytes(ICorProfilerInfo* info, LPCBYTE body) {
    const HRESULT hr = info->SetILFunctionBody(module_id, method_token, body);
    if (FAILED(hr)) {
        trace.trace_f(Error, L"Failed to set new body (%s)", hresult_text(hr));
    }
    return hr;
}
