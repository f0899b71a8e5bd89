// DefineImportType of fake_metadata, kept apart from the other Define* calls: the one
// emit call that reads a second metadata scope (the type's own module) through its
// interfaces, as the runtime does when a module gains a reference to a type of
// another assembly.
#include "support/fake_metadata.h"
#include "support/fake_module.h"
#include "support/wide_text.h"

namespace test_support {

HRESULT fake_metadata::DefineImportType(IMetaDataAssemblyImport* pAssemImport, const void* /*pbHashValue*/,
                                        ULONG /*cbHashValue*/, IMetaDataImport* pImport, mdTypeDef tdImport,
                                        IMetaDataAssemblyEmit* /*pAssemEmit*/, mdTypeRef* ptr) {
    if (auto injected = enter(__func__)) return *injected;
    if (pAssemImport == nullptr || pImport == nullptr || ptr == nullptr) return E_INVALIDARG;
    mdTypeDef enclosing = mdTypeDefNil;
    if (pImport->GetNestedClassProps(tdImport, &enclosing) == S_OK) return E_NOTIMPL;  // nested: not modelled

    WCHAR type_name[1024];
    ULONG type_length = 0;
    HRESULT hr = pImport->GetTypeDefProps(tdImport, type_name, 1024, &type_length, nullptr, nullptr);
    if (hr != S_OK) return FAILED(hr) ? hr : E_INVALIDARG;
    mdAssembly source = mdAssemblyNil;
    hr = pAssemImport->GetAssemblyFromScope(&source);
    if (FAILED(hr)) return hr;
    WCHAR assembly_name[1024];
    ULONG assembly_length = 0;
    ASSEMBLYMETADATA version{};
    hr = pAssemImport->GetAssemblyProps(source, nullptr, nullptr, nullptr, assembly_name, 1024, &assembly_length,
                                        &version, nullptr);
    if (hr != S_OK) return FAILED(hr) ? hr : E_INVALIDARG;

    const std::u16string wanted(assembly_name);
    mdAssemblyRef scope = mdAssemblyRefNil;
    for (size_t i = 0; i < module_.assembly_refs.size() && IsNilToken(scope); ++i) {
        if (module_.assembly_refs[i].name == wanted) scope = TokenFromRid(static_cast<uint32_t>(i + 1), mdtAssemblyRef);
    }
    if (IsNilToken(scope)) {
        module_.assembly_refs.push_back({wanted,
                                         {version.usMajorVersion, version.usMinorVersion, version.usBuildNumber,
                                          version.usRevisionNumber},
                                         {},
                                         0});
        scope = TokenFromRid(static_cast<uint32_t>(module_.assembly_refs.size()), mdtAssemblyRef);
    }
    module_.type_refs.push_back({scope, std::u16string(type_name)});
    *ptr = TokenFromRid(static_cast<uint32_t>(module_.type_refs.size()), mdtTypeRef);
    return S_OK;
}

}  // namespace test_support
