#include "metadata/metadata_helper.h"

#include <string>

#include "logging/hex_dump.h"
#include "logging/hresult_text.h"
#include "logging/text_conversions.h"
#include "logging/wtracing_scope.h"
#include "runtime/com_ptr.h"

namespace metadata_helper {
namespace {

// The scope of one helper: empty assembly and type, the helper's name as function.
wtracing_scope helper_scope(const wchar_t* function) { return wtracing_scope(L"", L"", function); }

// The name a properties call left in `buffer`: up to the terminator the call counted
// in `length`, and never past the buffer. False when the UTF-16 text is malformed.
bool row_name(const WCHAR* buffer, ULONG length, std::wstring& name) {
    size_t size = 0;
    const size_t limit = length < name_buffer_size ? length : name_buffer_size;
    while (size < limit && buffer[size] != u'\0') ++size;
    try {
        name = u16s2ws(std::u16string(buffer, size));
        return true;
    } catch (...) {
        return false;
    }
}

// Enumerations share one shape: count with a one-token enumeration, then fetch all.
template <class Enumerate>
HRESULT enumerate_all(IMetaDataImport* import, std::vector<mdToken>& tokens, const wchar_t* function,
                      const wchar_t* failure_message, Enumerate enumerate) {
    tokens.clear();
    if (import == nullptr) {
        return E_POINTER;
    }
    const wtracing_scope scope = helper_scope(function);
    HCORENUM handle = nullptr;
    mdToken scratch = 0;
    ULONG fetched = 0;
    HRESULT hr = enumerate(&handle, &scratch, 1, &fetched);
    if (FAILED(hr)) {
        if (handle != nullptr) import->CloseEnum(handle);
        scope.trace_f(Error, failure_message, hr, hresult_text(hr));
        return hr;
    }
    ULONG total = 0;
    hr = import->CountEnum(handle, &total);
    import->CloseEnum(handle);
    if (FAILED(hr)) {
        scope.trace_f(Error, L"CountEnum failed HRESULT=0x%x (%s).", hr, hresult_text(hr));
        return hr;
    }
    if (total != 0) {
        // The list keeps the counted size whatever the second call fetches.
        tokens.resize(total);
        handle = nullptr;
        hr = enumerate(&handle, tokens.data(), total, &fetched);
        if (handle != nullptr) import->CloseEnum(handle);
        if (FAILED(hr)) {
            scope.trace_f(Error, failure_message, hr, hresult_text(hr));
            return hr;
        }
    }
    return hr;
}

// "Type::Method" split into its two names; false for anything else.
bool split_method_name(const std::wstring& name, std::wstring& type_name, std::wstring& method_name) {
    const size_t separator = name.find(L"::");
    if (separator == std::wstring::npos || separator == 0 || separator + 2 >= name.size()) {
        return false;
    }
    type_name = name.substr(0, separator);
    method_name = name.substr(separator + 2);
    return type_name.find(L':') == std::wstring::npos && method_name.find(L':') == std::wstring::npos;
}

}  // namespace

HRESULT get_typerefs(IMetaDataImport* import, std::vector<mdTypeRef>& tokens) {
    return enumerate_all(import, tokens, L"get_typerefs", L"EnumTypeRefs failed HRESULT=0x%x (%s).",
                         [import](HCORENUM* handle, mdToken* out, ULONG max, ULONG* fetched) {
                             return import->EnumTypeRefs(handle, out, max, fetched);
                         });
}

HRESULT get_typedefs(IMetaDataImport* import, std::vector<mdTypeDef>& tokens) {
    return enumerate_all(import, tokens, L"get_typedefs", L"EnumTypeDefs failed HRESULT=0x%x (%s).",
                         [import](HCORENUM* handle, mdToken* out, ULONG max, ULONG* fetched) {
                             return import->EnumTypeDefs(handle, out, max, fetched);
                         });
}

HRESULT get_memberrefs(IMetaDataImport* import, mdToken parent, std::vector<mdMemberRef>& tokens) {
    return enumerate_all(import, tokens, L"get_memberrefs", L"EnumMemberRefs failed HRESULT=0x%x (%s).",
                         [import, parent](HCORENUM* handle, mdToken* out, ULONG max, ULONG* fetched) {
                             return import->EnumMemberRefs(handle, parent, out, max, fetched);
                         });
}

HRESULT lookup_type(IMetaDataImport* import, const std::wstring& name, mdTypeRef* token) {
    if (token == nullptr) return E_POINTER;
    *token = mdTypeRefNil;
    if (import == nullptr) return E_POINTER;
    if (name.empty()) return E_INVALIDARG;
    const wtracing_scope scope = helper_scope(L"lookup_type");
    std::vector<mdTypeRef> type_refs;
    HRESULT hr = get_typerefs(import, type_refs);
    if (FAILED(hr)) {
        scope.trace_f(Error, L"Failed to get type references when looking for type %s. HRESULT=0x%x (%s).",
                      name.c_str(), hr, hresult_text(hr));
        return hr;
    }
    scope.trace_f(Debug, L"----- Searching for type reference %s...", name.c_str());
    WCHAR buffer[name_buffer_size];
    std::wstring candidate;
    for (const mdTypeRef type_ref : type_refs) {
        mdToken resolution_scope = 0;
        ULONG length = 0;
        if (import->GetTypeRefProps(type_ref, &resolution_scope, buffer, name_buffer_size, &length) != S_OK ||
            !row_name(buffer, length, candidate)) {
            continue;
        }
        scope.trace_f(Trace, L"Checking type '%s' with token (%lu).", candidate.c_str(),
                      static_cast<unsigned long>(type_ref));
        if (candidate == name) {
            scope.trace_f(Debug, L"----- Found type %s with token (%lu).", name.c_str(),
                          static_cast<unsigned long>(type_ref));
            *token = type_ref;
            return S_OK;
        }
    }
    scope.trace_f(Error, L"Failed to find type %s. HRESULT=0x%x (%s).", name.c_str(), E_INVALIDARG,
                  hresult_text(E_INVALIDARG));
    return E_INVALIDARG;
}

HRESULT lookup_type_def(IMetaDataImport* import, const std::wstring& name, mdTypeDef* token) {
    if (token == nullptr) return E_POINTER;
    *token = mdTypeDefNil;
    if (import == nullptr) return E_POINTER;
    if (name.empty()) return E_INVALIDARG;
    const wtracing_scope scope = helper_scope(L"lookup_type_def");
    std::vector<mdTypeDef> type_defs;
    HRESULT hr = get_typedefs(import, type_defs);
    if (FAILED(hr)) {
        scope.trace_f(Error, L"Failed to get type definitions when looking for type %s. HRESULT=0x%x (%s).",
                      name.c_str(), hr, hresult_text(hr));
        return hr;
    }
    scope.trace_f(Debug, L"----- Searching for type definition %s...", name.c_str());
    WCHAR buffer[name_buffer_size];
    std::wstring candidate;
    for (const mdTypeDef type_def : type_defs) {
        ULONG length = 0;
        if (import->GetTypeDefProps(type_def, buffer, name_buffer_size, &length, nullptr, nullptr) != S_OK ||
            !row_name(buffer, length, candidate)) {
            continue;
        }
        scope.trace_f(Trace, L"Checking type definition %s with token (%lu).", candidate.c_str(),
                      static_cast<unsigned long>(type_def));
        if (candidate == name) {
            scope.trace_f(Trace, L"----- Found type %s with token (%lu).", name.c_str(),
                          static_cast<unsigned long>(type_def));
            *token = type_def;
            return S_OK;
        }
    }
    scope.trace_f(Error, L"Failed to find type definition %s. HRESULT=0x%x (%s).", name.c_str(), E_INVALIDARG,
                  hresult_text(E_INVALIDARG));
    return E_INVALIDARG;
}

HRESULT lookup_member(IMetaDataImport* import, const std::wstring& name, mdToken parent, mdMemberRef* token) {
    if (token == nullptr) return E_POINTER;
    *token = mdMemberRefNil;
    if (import == nullptr) return E_POINTER;
    if (name.empty()) return E_INVALIDARG;
    const wtracing_scope scope = helper_scope(L"lookup_member");
    std::vector<mdMemberRef> member_refs;
    HRESULT hr = get_memberrefs(import, parent, member_refs);
    if (FAILED(hr)) {
        scope.trace_f(Error, L"Failed to get member references when looking for type %s. HRESULT=0x%x (%s).",
                      name.c_str(), hr, hresult_text(hr));
        return hr;
    }
    scope.trace_f(Debug, L"----- Searching for memmber reference %s...", name.c_str());
    WCHAR buffer[name_buffer_size];
    std::wstring candidate;
    for (const mdMemberRef member_ref : member_refs) {
        mdToken member_parent = 0;
        ULONG length = 0;
        PCCOR_SIGNATURE signature = nullptr;
        ULONG signature_size = 0;
        if (import->GetMemberRefProps(member_ref, &member_parent, buffer, name_buffer_size, &length, &signature,
                                      &signature_size) != S_OK ||
            !row_name(buffer, length, candidate)) {
            continue;
        }
        if (candidate == name) {
            scope.trace_f(Trace, L"----- Found member reference %s with signature (%s) and token (%lu).",
                          name.c_str(), array_to_hex_wstring(signature, signature_size).c_str(),
                          static_cast<unsigned long>(member_ref));
            *token = member_ref;
            return S_OK;
        }
    }
    scope.trace_f(Error, L"Failed to find member reference %s. HRESULT=0x%x (%s).", name.c_str(), E_INVALIDARG,
                  hresult_text(E_INVALIDARG));
    return E_INVALIDARG;
}

HRESULT lookup_method(ICorProfilerInfo* info, ModuleID module, const std::wstring& name, mdMemberRef* token) {
    if (token == nullptr) return E_POINTER;
    *token = mdMemberRefNil;
    if (info == nullptr) return E_POINTER;
    std::wstring type_name;
    std::wstring method_name;
    if (!split_method_name(name, type_name, method_name)) return E_INVALIDARG;
    const wtracing_scope scope = helper_scope(L"lookup_method");
    com_ptr<IMetaDataImport> import;
    HRESULT hr = info->GetModuleMetaData(module, ofRead, IID_IMetaDataImport, import.put_unknown());
    if (FAILED(hr)) {
        scope.trace_f(Error, L"Failed to get IMetaDataImport import interface. HRESULT=0x%x (%s).", hr,
                      hresult_text(hr));
        return hr;
    }
    mdTypeRef type_ref = mdTypeRefNil;
    hr = lookup_type(import.get(), type_name, &type_ref);
    if (FAILED(hr)) {
        scope.trace_f(Error, L"Failed to find reference for type %s. HRESULT=0x%x (%s).", type_name.c_str(), hr,
                      hresult_text(hr));
        return hr;
    }
    hr = lookup_member(import.get(), method_name, type_ref, token);
    if (FAILED(hr)) {
        scope.trace_f(Error, L"Failed to find reference for method %s. HRESULT=0x%x (%s).", method_name.c_str(), hr,
                      hresult_text(hr));
        return hr;
    }
    return S_OK;
}

HRESULT import_type(ICorProfilerInfo* info, ModuleID module, const std::wstring& assembly_name,
                    const std::wstring& type_name, mdTypeRef* type_ref) {
    if (info == nullptr) return E_POINTER;
    if (assembly_name.empty() || type_name.empty()) return E_INVALIDARG;
    const wtracing_scope scope = helper_scope(L"import_type");
    com_ptr<IMetaDataEmit> emit;
    HRESULT hr = info->GetModuleMetaData(module, ofWrite, IID_IMetaDataEmit, emit.put_unknown());
    if (FAILED(hr)) {
        scope.trace_f(Error, L"Failed to get IMetaDataEmit interface for assembly %s. HRESULT=0x%x (%s).",
                      assembly_name.c_str(), hr, hresult_text(hr));
        return hr;
    }
    com_ptr<IMetaDataAssemblyEmit> assembly_emit;
    hr = query_interface(emit, IID_IMetaDataAssemblyEmit, assembly_emit);
    if (FAILED(hr)) {
        scope.trace_f(Error, L"Failed to get IMetaDataAssemblyEmit interface for assembly %s. HRESULT=0x%x (%s).",
                      assembly_name.c_str(), hr, hresult_text(hr));
        return hr;
    }
    std::vector<uint8_t> public_key;
    get_assembly_publickey(info, module, public_key);
    ASSEMBLYMETADATA metadata{};
    get_assembly_metadata(info, module, assembly_name, metadata);
    const std::u16string assembly16 = ws2u16s(assembly_name);
    mdAssemblyRef assembly_ref = mdAssemblyRefNil;
    hr = assembly_emit->DefineAssemblyRef(public_key.data(), static_cast<ULONG>(public_key.size()),
                                          assembly16.c_str(), &metadata, nullptr, 0, 0, &assembly_ref);
    if (FAILED(hr)) {
        scope.trace_f(Error, L"DefineAssemblyRef failed for assembly %s. HRESULT=0x%x (%s).", assembly_name.c_str(),
                      hr, hresult_text(hr));
        return hr;
    }
    const std::u16string type16 = ws2u16s(type_name);
    mdTypeRef defined = mdTypeRefNil;
    hr = emit->DefineTypeRefByName(assembly_ref, type16.c_str(), &defined);
    if (FAILED(hr)) {
        scope.trace_f(Error,
                      L"Failed to define %s type reference for assembly %s. DefineTypeRefByName failed "
                      L"HRESULT=0x%x (%s).",
                      type_name.c_str(), assembly_name.c_str(), hr, hresult_text(hr));
        return hr;
    }
    if (type_ref != nullptr) *type_ref = defined;
    return hr;
}

HRESULT import_method(ICorProfilerInfo* info, ModuleID module, const std::wstring& name, PCCOR_SIGNATURE signature,
                      ULONG signature_size, mdMemberRef* member_ref) {
    if (info == nullptr) return E_POINTER;
    std::wstring type_name;
    std::wstring method_name;
    if (!split_method_name(name, type_name, method_name)) return E_INVALIDARG;
    const wtracing_scope scope = helper_scope(L"import_method");
    com_ptr<IMetaDataImport> import;
    HRESULT hr = info->GetModuleMetaData(module, ofRead, IID_IMetaDataImport, import.put_unknown());
    if (FAILED(hr)) {
        scope.trace_f(Error, L"Failed to get IMetaDataImport interface. HRESULT=0x%x (%s).", hr, hresult_text(hr));
        return hr;
    }
    mdTypeRef type_ref = mdTypeRefNil;
    hr = lookup_type(import.get(), type_name, &type_ref);
    if (FAILED(hr)) {
        scope.trace_f(Error, L"Failed to find reference for type %s. HRESULT=0x%x (%s).", type_name.c_str(), hr,
                      hresult_text(hr));
        return hr;
    }
    com_ptr<IMetaDataEmit> emit;
    hr = info->GetModuleMetaData(module, ofWrite, IID_IMetaDataEmit, emit.put_unknown());
    if (FAILED(hr)) {
        scope.trace_f(Error, L"Failed to get IMetaDataEmit interface. HRESULT=0x%x (%s).", hr, hresult_text(hr));
        return hr;
    }
    const std::u16string method16 = ws2u16s(method_name);
    mdMemberRef defined = mdTokenNil;
    hr = emit->DefineMemberRef(type_ref, method16.c_str(), signature, signature_size, &defined);
    if (FAILED(hr)) {
        scope.trace_f(Error, L"Failed to define %s method reference. HRESULT=0x%x (%s).", method_name.c_str(), hr,
                      hresult_text(hr));
        return hr;
    }
    if (member_ref != nullptr) *member_ref = defined;
    return defined == mdTokenNil ? E_INVALIDARG : S_OK;
}

HRESULT get_assembly_metadata(ICorProfilerInfo*, ModuleID, const std::wstring&, ASSEMBLYMETADATA& metadata) {
    metadata.usMajorVersion = 4;
    metadata.usMinorVersion = 0;
    metadata.usBuildNumber = 0;
    metadata.usRevisionNumber = 0;
    return S_OK;
}

HRESULT get_assembly_publickey(ICorProfilerInfo* info, ModuleID, std::vector<uint8_t>& key) {
    if (info == nullptr) return E_POINTER;
    key = {0xb7, 0x7a, 0x5c, 0x56, 0x19, 0x34, 0xe0, 0x89};
    return S_OK;
}

bool compress_unsigned(uint32_t value, std::vector<uint8_t>& bytes) {
    if (value <= 0x7F) {
        bytes.push_back(static_cast<uint8_t>(value));
    } else if (value <= 0x3FFF) {
        bytes.push_back(static_cast<uint8_t>(0x80 | (value >> 8)));
        bytes.push_back(static_cast<uint8_t>(value));
    } else if (value <= 0x1FFFFFFF) {
        bytes.push_back(static_cast<uint8_t>(0xC0 | (value >> 24)));
        bytes.push_back(static_cast<uint8_t>(value >> 16));
        bytes.push_back(static_cast<uint8_t>(value >> 8));
        bytes.push_back(static_cast<uint8_t>(value));
    } else {
        return false;
    }
    return true;
}

bool uncompress_unsigned(const uint8_t* p, const uint8_t* end, uint32_t* value, uint32_t* width) {
    if (p >= end) return false;
    const uint8_t lead = p[0];
    if ((lead & 0x80) == 0) {
        *value = lead;
        *width = 1;
    } else if ((lead & 0xC0) == 0x80) {
        if (end - p < 2) return false;
        *value = (uint32_t{lead & 0x3Fu} << 8) | p[1];
        *width = 2;
    } else if ((lead & 0xE0) == 0xC0) {
        if (end - p < 4) return false;
        *value = (uint32_t{lead & 0x1Fu} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
        *width = 4;
    } else {
        return false;
    }
    return true;
}

HRESULT get_compress_signature_token(mdToken token, std::vector<uint8_t>& bytes) {
    bytes.clear();
    uint32_t tag = 0;
    switch (TypeFromToken(token)) {
        case mdtTypeRef:
            tag = 1;
            break;
        case mdtTypeSpec:
            tag = 2;
            break;
        case mdtBaseType:
            tag = 3;
            break;
        default:
            tag = 0;
            break;
    }
    compress_unsigned((RidFromToken(token) << 2) | tag, bytes);
    return S_OK;
}

}  // namespace metadata_helper
