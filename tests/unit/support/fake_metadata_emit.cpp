// The writing half of fake_metadata: every Define* appends a row to the
// module's tables and answers its new token. Identical rows are not merged
// (the runtime may merge some; code under test must not rely on either).
#include <string_view>

#include "support/fake_metadata.h"
#include "support/fake_module.h"
#include "support/wide_text.h"

namespace test_support {
namespace {

blob bytes(const void* data, ULONG size) {
    const auto* p = static_cast<const BYTE*>(data);
    return p == nullptr ? blob{} : blob(p, p + size);
}

template <class Row>
mdToken append(std::vector<Row>& table, Row row, CorTokenType type) {
    table.push_back(std::move(row));
    return TokenFromRid(static_cast<uint32_t>(table.size()), type);
}

}  // namespace

HRESULT fake_metadata::DefineTypeDef(LPCWSTR szTypeDef, DWORD dwTypeDefFlags, mdToken tkExtends,
                                     mdToken /*rtkImplements*/[], mdTypeDef* ptd) {
    if (auto injected = enter(__func__)) return *injected;
    if (szTypeDef == nullptr || ptd == nullptr) return E_INVALIDARG;
    *ptd = append(module_.type_defs, {szTypeDef, dwTypeDefFlags, tkExtends, mdTypeDefNil}, mdtTypeDef);
    return S_OK;
}

HRESULT fake_metadata::DefineMethod(mdTypeDef td, LPCWSTR szName, DWORD dwMethodFlags, PCCOR_SIGNATURE pvSigBlob,
                                    ULONG cbSigBlob, ULONG /*ulCodeRVA*/, DWORD dwImplFlags, mdMethodDef* pmd) {
    if (auto injected = enter(__func__)) return *injected;
    if (szName == nullptr || pmd == nullptr) return E_INVALIDARG;
    if (module_.type_def(td) == nullptr) return CLDB_E_RECORD_NOTFOUND;
    *pmd = append(module_.methods,
                  {td, szName, dwMethodFlags, bytes(pvSigBlob, cbSigBlob), blob{}, dwImplFlags, std::nullopt},
                  mdtMethodDef);
    return S_OK;
}

HRESULT fake_metadata::DefineTypeRefByName(mdToken tkResolutionScope, LPCWSTR szName, mdTypeRef* ptr) {
    if (auto injected = enter(__func__)) return *injected;
    if (szName == nullptr || ptr == nullptr) return E_INVALIDARG;
    *ptr = append(module_.type_refs, {tkResolutionScope, szName}, mdtTypeRef);
    return S_OK;
}

HRESULT fake_metadata::DefineMemberRef(mdToken tkImport, LPCWSTR szName, PCCOR_SIGNATURE pvSigBlob, ULONG cbSigBlob,
                                       mdMemberRef* pmr) {
    if (auto injected = enter(__func__)) return *injected;
    if (szName == nullptr || pmr == nullptr) return E_INVALIDARG;
    *pmr = append(module_.member_refs, {tkImport, szName, bytes(pvSigBlob, cbSigBlob)}, mdtMemberRef);
    return S_OK;
}

HRESULT fake_metadata::GetTokenFromSig(PCCOR_SIGNATURE pvSig, ULONG cbSig, mdSignature* pmsig) {
    if (auto injected = enter(__func__)) return *injected;
    if (pmsig == nullptr) return E_INVALIDARG;
    *pmsig = append(module_.standalone_sigs, bytes(pvSig, cbSig), mdtSignature);
    return S_OK;
}

HRESULT fake_metadata::DefineModuleRef(LPCWSTR szName, mdModuleRef* pmur) {
    if (auto injected = enter(__func__)) return *injected;
    if (szName == nullptr || pmur == nullptr) return E_INVALIDARG;
    *pmur = append(module_.module_refs, std::u16string(szName), mdtModuleRef);
    return S_OK;
}

HRESULT fake_metadata::GetTokenFromTypeSpec(PCCOR_SIGNATURE pvSig, ULONG cbSig, mdTypeSpec* ptypespec) {
    if (auto injected = enter(__func__)) return *injected;
    if (ptypespec == nullptr) return E_INVALIDARG;
    *ptypespec = append(module_.type_specs, bytes(pvSig, cbSig), mdtTypeSpec);
    return S_OK;
}

HRESULT fake_metadata::DefineUserString(LPCWSTR szString, ULONG cchString, mdString* pstk) {
    if (auto injected = enter(__func__)) return *injected;
    if ((szString == nullptr && cchString > 0) || pstk == nullptr) return E_INVALIDARG;
    *pstk = module_.add_user_string(std::u16string_view(szString == nullptr ? u"" : szString, cchString));
    return S_OK;
}

HRESULT fake_metadata::DefinePinvokeMap(mdToken tk, DWORD dwMappingFlags, LPCWSTR szImportName,
                                        mdModuleRef mrImportDLL) {
    if (auto injected = enter(__func__)) return *injected;
    if (module_.method(tk) == nullptr) return CLDB_E_RECORD_NOTFOUND;
    module_.pinvoke_maps.push_back({tk, dwMappingFlags, szImportName == nullptr ? u"" : szImportName, mrImportDLL});
    return S_OK;
}

HRESULT fake_metadata::DefineParam(mdMethodDef md, ULONG ulParamSeq, LPCWSTR szName, DWORD dwParamFlags,
                                   DWORD /*dwCPlusTypeFlag*/, const void* /*pValue*/, ULONG /*cchValue*/,
                                   mdParamDef* ppd) {
    if (auto injected = enter(__func__)) return *injected;
    if (module_.method(md) == nullptr) return CLDB_E_RECORD_NOTFOUND;
    const mdParamDef token =
        append(module_.params, {md, ulParamSeq, szName == nullptr ? u"" : szName, dwParamFlags}, mdtParamDef);
    if (ppd != nullptr) *ppd = token;
    return S_OK;
}

HRESULT fake_metadata::SetMethodImplFlags(mdMethodDef md, DWORD dwImplFlags) {
    if (auto injected = enter(__func__)) return *injected;
    method_row* row = module_.method(md);
    if (row == nullptr) return CLDB_E_RECORD_NOTFOUND;
    row->impl_flags = dwImplFlags;
    return S_OK;
}

HRESULT fake_metadata::DefineMethodSpec(mdToken tkParent, PCCOR_SIGNATURE pvSigBlob, ULONG cbSigBlob,
                                        mdMethodSpec* pmi) {
    if (auto injected = enter(__func__)) return *injected;
    if (pmi == nullptr) return E_INVALIDARG;
    *pmi = append(module_.method_specs, {tkParent, bytes(pvSigBlob, cbSigBlob)}, mdtMethodSpec);
    return S_OK;
}

HRESULT fake_metadata::DefineAssemblyRef(const void* pbPublicKeyOrToken, ULONG cbPublicKeyOrToken, LPCWSTR szName,
                                         const ASSEMBLYMETADATA* pMetaData, const void* /*pbHashValue*/,
                                         ULONG /*cbHashValue*/, DWORD dwAssemblyRefFlags, mdAssemblyRef* pmdar) {
    if (auto injected = enter(__func__)) return *injected;
    if (szName == nullptr || pmdar == nullptr) return E_INVALIDARG;
    assembly_version version;
    if (pMetaData != nullptr)
        version = {pMetaData->usMajorVersion, pMetaData->usMinorVersion, pMetaData->usBuildNumber,
                   pMetaData->usRevisionNumber};
    *pmdar = append(module_.assembly_refs,
                    {szName, version, bytes(pbPublicKeyOrToken, cbPublicKeyOrToken), dwAssemblyRefFlags},
                    mdtAssemblyRef);
    return S_OK;
}

}  // namespace test_support
