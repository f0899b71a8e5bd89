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

// The log lines of one name lookup; each takes the wanted name first.
struct lookup_texts {
    const wchar_t* function;     // the helper's own scope
    const wchar_t* list_failed;  // Error: the rows could not be listed (name, status, text)
    const wchar_t* searching;    // Debug: the scan starts (name)
    const wchar_t* not_found;    // Error: no row has the name (name, status, text)
};

// The lookups share one shape: list the rows, read each row's name (rows whose
// properties cannot be read are skipped), and stop at the first exact match. "Not
// found" is E_INVALIDARG with the token left at `nil`.
template <class ListRows, class ReadName, class LogCandidate, class LogFound>
HRESULT lookup_by_name(IMetaDataImport* import, const std::wstring& name, mdToken nil, mdToken* token,
                       const lookup_texts& texts, ListRows list_rows, ReadName read_name, LogCandidate log_candidate,
                       LogFound log_found) {
    if (token == nullptr) return E_POINTER;
    *token = nil;
    if (import == nullptr) return E_POINTER;
    if (name.empty()) return E_INVALIDARG;
    const wtracing_scope scope = helper_scope(texts.function);
    std::vector<mdToken> rows;
    HRESULT hr = list_rows(rows);
    if (FAILED(hr)) {
        scope.trace_f(Error, texts.list_failed, name.c_str(), hr, hresult_text(hr));
        return hr;
    }
    scope.trace_f(Debug, texts.searching, name.c_str());
    std::wstring candidate;
    for (const mdToken row : rows) {
        if (!read_name(row, candidate)) continue;
        log_candidate(scope, row, candidate);
        if (candidate == name) {
            log_found(scope, row);
            *token = row;
            return S_OK;
        }
    }
    scope.trace_f(Error, texts.not_found, name.c_str(), E_INVALIDARG, hresult_text(E_INVALIDARG));
    return E_INVALIDARG;
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
    const lookup_texts texts{L"lookup_type",
                             L"Failed to get type references when looking for type %s. HRESULT=0x%x (%s).",
                             L"----- Searching for type reference %s...",
                             L"Failed to find type %s. HRESULT=0x%x (%s)."};
    WCHAR buffer[name_buffer_size];
    return lookup_by_name(
        import, name, mdTypeRefNil, token, texts, [&](std::vector<mdToken>& rows) { return get_typerefs(import, rows); },
        [&](mdToken type_ref, std::wstring& candidate) {
            mdToken resolution_scope = 0;
            ULONG length = 0;
            return import->GetTypeRefProps(type_ref, &resolution_scope, buffer, name_buffer_size, &length) == S_OK &&
                   row_name(buffer, length, candidate);
        },
        [](const wtracing_scope& scope, mdToken type_ref, const std::wstring& candidate) {
            scope.trace_f(Trace, L"Checking type '%s' with token (%lu).", candidate.c_str(),
                          static_cast<unsigned long>(type_ref));
        },
        [&](const wtracing_scope& scope, mdToken type_ref) {
            scope.trace_f(Debug, L"----- Found type %s with token (%lu).", name.c_str(),
                          static_cast<unsigned long>(type_ref));
        });
}

HRESULT lookup_type_def(IMetaDataImport* import, const std::wstring& name, mdTypeDef* token) {
    const lookup_texts texts{L"lookup_type_def",
                             L"Failed to get type definitions when looking for type %s. HRESULT=0x%x (%s).",
                             L"----- Searching for type definition %s...",
                             L"Failed to find type definition %s. HRESULT=0x%x (%s)."};
    WCHAR buffer[name_buffer_size];
    return lookup_by_name(
        import, name, mdTypeDefNil, token, texts, [&](std::vector<mdToken>& rows) { return get_typedefs(import, rows); },
        [&](mdToken type_def, std::wstring& candidate) {
            ULONG length = 0;
            return import->GetTypeDefProps(type_def, buffer, name_buffer_size, &length, nullptr, nullptr) == S_OK &&
                   row_name(buffer, length, candidate);
        },
        [](const wtracing_scope& scope, mdToken type_def, const std::wstring& candidate) {
            scope.trace_f(Trace, L"Checking type definition %s with token (%lu).", candidate.c_str(),
                          static_cast<unsigned long>(type_def));
        },
        [&](const wtracing_scope& scope, mdToken type_def) {
            scope.trace_f(Trace, L"----- Found type %s with token (%lu).", name.c_str(),
                          static_cast<unsigned long>(type_def));
        });
}

HRESULT lookup_member(IMetaDataImport* import, const std::wstring& name, mdToken parent, mdMemberRef* token) {
    const lookup_texts texts{L"lookup_member",
                             L"Failed to get member references when looking for type %s. HRESULT=0x%x (%s).",
                             L"----- Searching for memmber reference %s...",
                             L"Failed to find member reference %s. HRESULT=0x%x (%s)."};
    WCHAR buffer[name_buffer_size];
    PCCOR_SIGNATURE signature = nullptr;  // of the row read last, for the found line
    ULONG signature_size = 0;
    return lookup_by_name(
        import, name, mdMemberRefNil, token, texts,
        [&](std::vector<mdToken>& rows) { return get_memberrefs(import, parent, rows); },
        [&](mdToken member_ref, std::wstring& candidate) {
            mdToken member_parent = 0;
            ULONG length = 0;
            return import->GetMemberRefProps(member_ref, &member_parent, buffer, name_buffer_size, &length, &signature,
                                             &signature_size) == S_OK &&
                   row_name(buffer, length, candidate);
        },
        [](const wtracing_scope&, mdToken, const std::wstring&) {},
        [&](const wtracing_scope& scope, mdToken member_ref) {
            scope.trace_f(Trace, L"----- Found member reference %s with signature (%s) and token (%lu).",
                          name.c_str(), array_to_hex_wstring(signature, signature_size).c_str(),
                          static_cast<unsigned long>(member_ref));
        });
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
