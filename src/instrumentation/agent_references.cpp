#include "instrumentation/agent_references.h"

#include <iterator>
#include <vector>

#include "instrumentation/signature_blob.h"
#include "logging/hresult_text.h"
#include "metadata/metadata_helper.h"
#include "runtime/profiler_state.h"

namespace {

// Version 4.3.1.0 for the agent, 2.0.0.0 for the core library and "system"; neutral
// culture, no processor or OS lists.
ASSEMBLYMETADATA assembly_metadata(USHORT major, USHORT minor, USHORT build) {
    ASSEMBLYMETADATA metadata{};
    metadata.usMajorVersion = major;
    metadata.usMinorVersion = minor;
    metadata.usBuildNumber = build;
    metadata.usRevisionNumber = 0;
    return metadata;
}

template <size_t N>
HRESULT define_assembly_ref(IMetaDataAssemblyEmit* assembly_emit, const uint8_t (&token)[N], LPCWSTR name,
                            const ASSEMBLYMETADATA& metadata, mdAssemblyRef* out) {
    return assembly_emit->DefineAssemblyRef(token, N, name, &metadata, nullptr, 0, 0, out);
}

HRESULT define_member_ref(IMetaDataEmit* emit, mdToken parent, LPCWSTR name, const blob& signature, mdMemberRef* out) {
    return emit->DefineMemberRef(parent, name, signature.data(), static_cast<ULONG>(signature.size()), out);
}

// Logs `message` (one "%s" for the status text) and passes the status on.
HRESULT failed(const wtracing_scope& trace, const wchar_t* message, HRESULT hr) {
    trace.trace_f(Error, message, hresult_text(hr));
    return hr;
}

}  // namespace

const wchar_t* agent_assembly_name() {
    return profiler_state::is_coreclr ? L"tralo.managed.core" : L"tralo.managed";
}

HRESULT define_agent_references(IMetaDataEmit* emit, IMetaDataAssemblyEmit* assembly_emit, IMetaDataImport* import,
                                const wtracing_scope& trace, agent_references* refs) {
    using namespace agent_blobs;
    HRESULT hr = S_OK;

    const bool core = profiler_state::is_coreclr;
    mdAssemblyRef agent = mdAssemblyRefNil;
    hr = define_assembly_ref(assembly_emit, public_key_token, core ? u"tralo.managed.core" : u"tralo.managed",
                             assembly_metadata(4, 3, 1), &agent);
    if (FAILED(hr)) {
        trace.trace_f(Error, L"Failed to define assembly reference for assembly (%s).  HRESULT=0x%x (%s).",
                      agent_assembly_name(), hr, hresult_text(hr));
        return hr;
    }
    mdAssemblyRef corlib = mdAssemblyRefNil;
    hr = define_assembly_ref(assembly_emit, mscorlib_public_key_token, u"mscorlib", assembly_metadata(2, 0, 0),
                             &corlib);
    if (FAILED(hr)) return failed(trace, L"Failed to query module token (%s)", hr);

    // Type references, in definition order; the unused ones are defined all the same
    // (a failure to define them stops the wrapping like any other).
    mdTypeRef boolean_type = mdTypeRefNil;
    mdTypeRef argument_callback_type = mdTypeRefNil;
    mdTypeRef span_type = mdTypeRefNil;
    mdTypeRef invokers_type = mdTypeRefNil;
    mdTypeRef method_base_type = mdTypeRefNil;
    const struct {
        mdAssemblyRef scope;
        LPCWSTR name;
        mdTypeRef* token;
        const wchar_t* message;
    } type_refs[] = {
        {corlib, u"System.Boolean", &boolean_type, L"Failed to define System.Boolean type reference (%s)."},
        {corlib, u"System.Exception", &refs->exception_type, L"Failed to define System.Exception type reference (%s)."},
        {corlib, u"System.Object", &refs->object_type, L"Failed to get System.Object class reference (%s)"},
        {agent, u"Nimbrel.Instrumentation.InstrumentationDirectives", &refs->directives_type,
         L"Failed to get Nimbrel.Instrumentation.InstrumentationDirectives class reference (%s)"},
        {agent, u"Nimbrel.Instrumentation.MethodArgumentCallback", &argument_callback_type,
         L"Failed to get Nimbrel.Instrumentation.MethodArgumentCallback class reference (%s)"},
        {agent, u"tralo.managed.span", &span_type, L"Failed to get tralo.managed.span class reference (%s)"},
        {agent, u"Nimbrel.Instrumentation.Invokers", &invokers_type,
         L"Failed to get Nimbrel.Instrumentation.Invokers class reference (%s)"},
        {corlib, u"System.Reflection.MethodBase", &method_base_type,
         L"Failed to get System.Reflection.MethodBase class reference (%s)"},
    };
    for (const auto& row : type_refs) {
        hr = emit->DefineTypeRefByName(row.scope, row.name, row.token);
        if (FAILED(hr)) return failed(trace, row.message, hr);
    }

    hr = define_member_ref(emit, refs->directives_type, u".ctor", to_blob(sigInstrumentationDirectivesConstructor),
                           &refs->directives_ctor);
    if (FAILED(hr)) {
        return failed(trace,
                      L"Failed to get Nimbrel.Instrumentation.InstrumentationDirectives::ctor() construction method "
                      L"reference (%s)",
                      hr);
    }
    hr = define_member_ref(emit, refs->directives_type, u"GetIndexes", to_blob(sigGetIndexes), &refs->get_indexes);
    if (FAILED(hr)) {
        return failed(trace,
                      L"Failed to get Nimbrel.Instrumentation.InstrumentationDirectives::GetIndexes() method "
                      L"reference (%s)",
                      hr);
    }
    mdTypeRef method_data_type = mdTypeRefNil;
    hr = emit->DefineTypeRefByName(agent, u"Nimbrel.Instrumentation.MethodData", &method_data_type);
    if (FAILED(hr)) return failed(trace, L"Failed to get Nimbrel.Instrumentation.MethodData class reference (%s)", hr);
    mdAssemblyRef system = mdAssemblyRefNil;
    hr = define_assembly_ref(assembly_emit, system_public_key_token, u"system", assembly_metadata(2, 0, 0), &system);
    if (FAILED(hr)) {
        return failed(trace,
                      L"Failed to query module token of System.dll  Version=4.0.0.0, Culture=neutral, "
                      L"PublicKeyToken=b77a5c561934e089) (%s)",
                      hr);
    }
    hr = define_member_ref(emit, span_type, u"Log", to_blob(sigSpanLog), &refs->log);
    if (FAILED(hr)) return failed(trace, L"Failed to get span::Log() method reference (%s)", hr);

    blob directives_token;
    hr = metadata_helper::get_compress_signature_token(refs->directives_type, directives_token);
    if (FAILED(hr)) {
        return failed(
            trace, L"Failed to get compress the token for Nimbrel.Instrumentation.InstrumentationDirectives type (%s)",
            hr);
    }
    const blob prologue_signature = with_token(to_blob(generic_prologue_head), directives_token);
    const blob epilogue_signature = with_token(to_blob(generic_epilogue_head), directives_token);

    blob exception_token;
    hr = metadata_helper::get_compress_signature_token(refs->exception_type, exception_token);
    if (FAILED(hr)) return failed(trace, L"Failed to get compress the token for System.Exception type (%s)", hr);
    hr = define_member_ref(emit, span_type, u"Error", with_token(to_blob(error_head), exception_token), &refs->error);
    if (FAILED(hr)) return failed(trace, L"Failed to get span::Error() method reference (%s)", hr);

    // The module's first reference of that name: its own, or the one defined above.
    mdTypeRef method_base_lookup = mdTypeRefNil;
    hr = metadata_helper::lookup_type(import, L"System.Reflection.MethodBase", &method_base_lookup);
    if (FAILED(hr)) return failed(trace, L"Failed to get token for System.Reflection.MethodBase type (%s)", hr);
    blob method_base_token;
    hr = metadata_helper::get_compress_signature_token(method_base_lookup, method_base_token);
    if (FAILED(hr)) {
        return failed(trace, L"Failed to get compress the token for System.Reflection.MethodBase type (%s)", hr);
    }

    const struct {
        mdToken parent;
        LPCWSTR name;
        blob signature;
        mdMemberRef* token;
        const wchar_t* message;
    } member_refs[] = {
        {span_type, u"GenericPrologue", prologue_signature, &refs->generic_prologue,
         L"Failed to get span::GenericPrologue() method reference (%s)"},
        {span_type, u"GenericEpilogue", epilogue_signature, &refs->generic_epilogue,
         L"Failed to get span::GenericEpilogue() method reference (%s)"},
        {invokers_type, u"ContainsKey", to_blob(contains_key_method_signature), &refs->contains_key,
         L"Failed to get Nimbrel.Instrumentation.Invokers::ContainsKey() method reference (%s)"},
        {method_base_type, u"GetCurrentMethod", with_token(to_blob(get_current_method_head), method_base_token),
         &refs->get_current_method,
         L"Failed to get System.Reflection.MethodBase::GetCurrentMethod() method reference (%s)"},
        {invokers_type, u"RegisterMethod",
         with_token(to_blob(register_method_head), method_base_token, to_blob(register_method_tail)),
         &refs->register_method,
         L"Failed to get Nimbrel.Instrumentation.Invokers::Register_Method() method reference (%s)"},
    };
    for (const auto& row : member_refs) {
        hr = define_member_ref(emit, row.parent, row.name, row.signature, row.token);
        if (FAILED(hr)) return failed(trace, row.message, hr);
    }
    return S_OK;
}
