// The reading half of fake_metadata: QueryInterface, enumerators, Find* and
// Get*Props over the module's tables.
#include <string_view>

#include "support/fake_metadata.h"
#include "support/fake_module.h"
#include "support/wide_text.h"

namespace test_support {
namespace {

// An open HCORENUM: the tokens fixed when the enumeration began and how many
// have been handed out.
struct enum_cursor {
    std::vector<mdToken> tokens;
    size_t next = 0;
};

template <class Row, class Keep>
std::vector<mdToken> tokens_of(const std::vector<Row>& table, CorTokenType type, Keep keep) {
    std::vector<mdToken> tokens;
    for (size_t i = 0; i < table.size(); ++i) {
        if (keep(table[i])) tokens.push_back(TokenFromRid(static_cast<uint32_t>(i + 1), type));
    }
    return tokens;
}

// The first row `keep` accepts, or the table's nil token.
template <class Row, class Keep>
mdToken first_of(const std::vector<Row>& table, CorTokenType type, Keep keep) {
    for (size_t i = 0; i < table.size(); ++i) {
        if (keep(table[i])) return TokenFromRid(static_cast<uint32_t>(i + 1), type);
    }
    return TokenFromRid(0, type);
}

bool signature_matches(const blob& stored, PCCOR_SIGNATURE sig, ULONG size) {
    // No signature given means "any signature", as in the real Find* calls.
    if (sig == nullptr || size == 0) return true;
    return stored.size() == size && std::equal(stored.begin(), stored.end(), sig);
}

void fill_version(ASSEMBLYMETADATA* metadata, const assembly_version& version) {
    if (metadata == nullptr) return;
    metadata->usMajorVersion = version.major;
    metadata->usMinorVersion = version.minor;
    metadata->usBuildNumber = version.build;
    metadata->usRevisionNumber = version.revision;
    // Culture-neutral: an empty locale, one character with its terminator.
    if (metadata->szLocale != nullptr && metadata->cbLocale > 0) metadata->szLocale[0] = u'\0';
    metadata->cbLocale = 1;
    metadata->ulProcessor = 0;
    metadata->ulOS = 0;
}

constexpr ULONG sha1_hash_algorithm = 0x8004;

// A plausible non-zero RVA for a method with IL, zero for one without.
ULONG code_rva(const method_row& row, mdMethodDef token) {
    return row.body.empty() ? 0 : 0x2050 + 0x10 * RidFromToken(token);
}

}  // namespace

std::optional<HRESULT> fake_metadata::enter(const char* method) { return module_.failures().enter(method); }

HRESULT fake_metadata::interface_for(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    for (const IID& refused : refused_interfaces) {
        if (riid == refused) return E_NOINTERFACE;
    }
    // Each interface has its own vtable inside this object, so the pointer
    // handed out depends on the interface asked for.
    if (riid == IID_IUnknown || riid == IID_IMetaDataImport || riid == IID_IMetaDataImport2)
        *ppv = static_cast<IMetaDataImport2*>(this);
    else if (riid == IID_IMetaDataAssemblyImport)
        *ppv = static_cast<IMetaDataAssemblyImport*>(this);
    else if (riid == IID_IMetaDataEmit || riid == IID_IMetaDataEmit2)
        *ppv = static_cast<IMetaDataEmit2*>(this);
    else if (riid == IID_IMetaDataAssemblyEmit)
        *ppv = static_cast<IMetaDataAssemblyEmit*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

HRESULT fake_metadata::QueryInterface(REFIID riid, void** ppv) {
    if (auto injected = enter(__func__)) return *injected;
    return interface_for(riid, ppv);
}

HRESULT fake_metadata::enumerate(HCORENUM* phEnum, std::vector<mdToken> all, mdToken out[], ULONG cMax,
                            ULONG* pcTokens) {
    if (phEnum == nullptr || (out == nullptr && cMax > 0)) return E_INVALIDARG;
    auto* cursor = static_cast<enum_cursor*>(*phEnum);
    if (cursor == nullptr) {
        cursor = new enum_cursor{std::move(all)};
        *phEnum = cursor;
        ++open_enums_;
    }
    ULONG count = 0;
    while (count < cMax && cursor->next < cursor->tokens.size()) out[count++] = cursor->tokens[cursor->next++];
    if (pcTokens != nullptr) *pcTokens = count;
    return count > 0 ? S_OK : S_FALSE;
}

void fake_metadata::CloseEnum(HCORENUM hEnum) {
    enter(__func__);
    if (hEnum == nullptr) return;
    delete static_cast<enum_cursor*>(hEnum);
    --open_enums_;
}

HRESULT fake_metadata::CountEnum(HCORENUM hEnum, ULONG* pulCount) {
    if (auto injected = enter(__func__)) return *injected;
    if (pulCount == nullptr) return E_INVALIDARG;
    *pulCount = hEnum == nullptr ? 0 : static_cast<ULONG>(static_cast<enum_cursor*>(hEnum)->tokens.size());
    return S_OK;
}

HRESULT fake_metadata::EnumTypeDefs(HCORENUM* phEnum, mdTypeDef rTypeDefs[], ULONG cMax, ULONG* pcTypeDefs) {
    if (auto injected = enter(__func__)) return *injected;
    // <Module> (row 1) is never enumerated.
    auto all = tokens_of(module_.type_defs, mdtTypeDef, [](const type_def_row&) { return true; });
    all.erase(all.begin());
    return enumerate(phEnum, std::move(all), rTypeDefs, cMax, pcTypeDefs);
}

HRESULT fake_metadata::EnumTypeRefs(HCORENUM* phEnum, mdTypeRef rTypeRefs[], ULONG cMax, ULONG* pcTypeRefs) {
    if (auto injected = enter(__func__)) return *injected;
    auto all = tokens_of(module_.type_refs, mdtTypeRef, [](const type_ref_row&) { return true; });
    return enumerate(phEnum, std::move(all), rTypeRefs, cMax, pcTypeRefs);
}

HRESULT fake_metadata::EnumMethods(HCORENUM* phEnum, mdTypeDef cl, mdMethodDef rMethods[], ULONG cMax,
                              ULONG* pcTokens) {
    if (auto injected = enter(__func__)) return *injected;
    auto all = tokens_of(module_.methods, mdtMethodDef, [cl](const method_row& m) { return m.owner == cl; });
    return enumerate(phEnum, std::move(all), rMethods, cMax, pcTokens);
}

HRESULT fake_metadata::EnumMemberRefs(HCORENUM* phEnum, mdToken tkParent, mdMemberRef rMemberRefs[], ULONG cMax,
                                 ULONG* pcTokens) {
    if (auto injected = enter(__func__)) return *injected;
    auto all = tokens_of(module_.member_refs, mdtMemberRef,
                    [tkParent](const member_ref_row& r) { return r.parent == tkParent; });
    return enumerate(phEnum, std::move(all), rMemberRefs, cMax, pcTokens);
}

HRESULT fake_metadata::EnumAssemblyRefs(HCORENUM* phEnum, mdAssemblyRef rAssemblyRefs[], ULONG cMax,
                                   ULONG* pcTokens) {
    if (auto injected = enter(__func__)) return *injected;
    auto all = tokens_of(module_.assembly_refs, mdtAssemblyRef, [](const assembly_ref_row&) { return true; });
    return enumerate(phEnum, std::move(all), rAssemblyRefs, cMax, pcTokens);
}

HRESULT fake_metadata::FindTypeRef(mdToken tkResolutionScope, LPCWSTR szName, mdTypeRef* ptr) {
    if (auto injected = enter(__func__)) return *injected;
    if (szName == nullptr || ptr == nullptr) return E_INVALIDARG;
    const std::u16string_view name(szName);
    *ptr = first_of(module_.type_refs, mdtTypeRef, [&](const type_ref_row& r) {
        // Nil scopes of any table are one and the same "no scope".
        const bool same_scope =
            IsNilToken(tkResolutionScope) ? IsNilToken(r.scope) : r.scope == tkResolutionScope;
        return r.name == name && same_scope;
    });
    return IsNilToken(*ptr) ? CLDB_E_RECORD_NOTFOUND : S_OK;
}

HRESULT fake_metadata::FindTypeDefByName(LPCWSTR szTypeDef, mdToken tkEnclosingClass, mdTypeDef* ptd) {
    if (auto injected = enter(__func__)) return *injected;
    if (szTypeDef == nullptr || ptd == nullptr) return E_INVALIDARG;
    const std::u16string_view name(szTypeDef);
    *ptd = first_of(module_.type_defs, mdtTypeDef, [&](const type_def_row& r) {
        const bool same_encloser =
            IsNilToken(tkEnclosingClass) ? IsNilToken(r.enclosing) : r.enclosing == tkEnclosingClass;
        return r.name == name && same_encloser;
    });
    return IsNilToken(*ptd) ? CLDB_E_RECORD_NOTFOUND : S_OK;
}

HRESULT fake_metadata::FindMethod(mdTypeDef td, LPCWSTR szName, PCCOR_SIGNATURE pvSigBlob, ULONG cbSigBlob,
                             mdMethodDef* pmb) {
    if (auto injected = enter(__func__)) return *injected;
    if (szName == nullptr || pmb == nullptr) return E_INVALIDARG;
    const std::u16string_view name(szName);
    *pmb = first_of(module_.methods, mdtMethodDef, [&](const method_row& m) {
        return m.owner == td && m.name == name && signature_matches(m.signature, pvSigBlob, cbSigBlob);
    });
    return IsNilToken(*pmb) ? CLDB_E_RECORD_NOTFOUND : S_OK;
}

HRESULT fake_metadata::FindMemberRef(mdTypeRef td, LPCWSTR szName, PCCOR_SIGNATURE pvSigBlob, ULONG cbSigBlob,
                                mdMemberRef* pmr) {
    if (auto injected = enter(__func__)) return *injected;
    if (szName == nullptr || pmr == nullptr) return E_INVALIDARG;
    const std::u16string_view name(szName);
    *pmr = first_of(module_.member_refs, mdtMemberRef, [&](const member_ref_row& r) {
        return r.parent == td && r.name == name && signature_matches(r.signature, pvSigBlob, cbSigBlob);
    });
    return IsNilToken(*pmr) ? CLDB_E_RECORD_NOTFOUND : S_OK;
}

HRESULT fake_metadata::GetTypeDefProps(mdTypeDef td, LPWSTR szTypeDef, ULONG cchTypeDef, ULONG* pchTypeDef,
                                  DWORD* pdwTypeDefFlags, mdToken* ptkExtends) {
    if (auto injected = enter(__func__)) return *injected;
    const type_def_row* row = module_.type_def(td);
    if (row == nullptr) return CLDB_E_RECORD_NOTFOUND;
    if (pdwTypeDefFlags != nullptr) *pdwTypeDefFlags = row->flags;
    if (ptkExtends != nullptr) *ptkExtends = row->extends;
    return copy_name(row->name, szTypeDef, cchTypeDef, pchTypeDef, metadata_truncated);
}

HRESULT fake_metadata::GetTypeRefProps(mdTypeRef tr, mdToken* ptkResolutionScope, LPWSTR szName, ULONG cchName,
                                  ULONG* pchName) {
    if (auto injected = enter(__func__)) return *injected;
    const type_ref_row* row = module_.type_ref(tr);
    if (row == nullptr) return CLDB_E_RECORD_NOTFOUND;
    if (ptkResolutionScope != nullptr) *ptkResolutionScope = row->scope;
    return copy_name(row->name, szName, cchName, pchName, metadata_truncated);
}

HRESULT fake_metadata::GetMethodProps(mdMethodDef mb, mdTypeDef* pClass, LPWSTR szMethod, ULONG cchMethod,
                                 ULONG* pchMethod, DWORD* pdwAttr, PCCOR_SIGNATURE* ppvSigBlob,
                                 ULONG* pcbSigBlob, ULONG* pulCodeRVA, DWORD* pdwImplFlags) {
    if (auto injected = enter(__func__)) return *injected;
    const method_row* row = module_.method(mb);
    if (row == nullptr) return CLDB_E_RECORD_NOTFOUND;
    if (pClass != nullptr) *pClass = row->owner;
    if (pdwAttr != nullptr) *pdwAttr = row->flags;
    if (ppvSigBlob != nullptr) *ppvSigBlob = row->signature.data();
    if (pcbSigBlob != nullptr) *pcbSigBlob = static_cast<ULONG>(row->signature.size());
    if (pulCodeRVA != nullptr) *pulCodeRVA = code_rva(*row, mb);
    if (pdwImplFlags != nullptr) *pdwImplFlags = row->impl_flags;
    return copy_name(row->name, szMethod, cchMethod, pchMethod, metadata_truncated);
}

HRESULT fake_metadata::GetMemberProps(mdToken mb, mdTypeDef* pClass, LPWSTR szMember, ULONG cchMember,
                                 ULONG* pchMember, DWORD* pdwAttr, PCCOR_SIGNATURE* ppvSigBlob,
                                 ULONG* pcbSigBlob, ULONG* pulCodeRVA, DWORD* pdwImplFlags,
                                 DWORD* pdwCPlusTypeFlag, UVCP_CONSTANT* ppValue, ULONG* pcchValue) {
    if (auto injected = enter(__func__)) return *injected;
    // Only methods are modelled; fields would be answered here too.
    const method_row* row = module_.method(mb);
    if (row == nullptr) return CLDB_E_RECORD_NOTFOUND;
    if (pClass != nullptr) *pClass = row->owner;
    if (pdwAttr != nullptr) *pdwAttr = row->flags;
    if (ppvSigBlob != nullptr) *ppvSigBlob = row->signature.data();
    if (pcbSigBlob != nullptr) *pcbSigBlob = static_cast<ULONG>(row->signature.size());
    if (pulCodeRVA != nullptr) *pulCodeRVA = code_rva(*row, mb);
    if (pdwImplFlags != nullptr) *pdwImplFlags = row->impl_flags;
    if (pdwCPlusTypeFlag != nullptr) *pdwCPlusTypeFlag = ELEMENT_TYPE_VOID;
    if (ppValue != nullptr) *ppValue = nullptr;
    if (pcchValue != nullptr) *pcchValue = 0;
    return copy_name(row->name, szMember, cchMember, pchMember, metadata_truncated);
}

HRESULT fake_metadata::GetMemberRefProps(mdMemberRef mr, mdToken* ptk, LPWSTR szMember, ULONG cchMember,
                                    ULONG* pchMember, PCCOR_SIGNATURE* ppvSigBlob, ULONG* pbSig) {
    if (auto injected = enter(__func__)) return *injected;
    const member_ref_row* row = module_.member_ref(mr);
    if (row == nullptr) return CLDB_E_RECORD_NOTFOUND;
    if (ptk != nullptr) *ptk = row->parent;
    if (ppvSigBlob != nullptr) *ppvSigBlob = row->signature.data();
    if (pbSig != nullptr) *pbSig = static_cast<ULONG>(row->signature.size());
    return copy_name(row->name, szMember, cchMember, pchMember, metadata_truncated);
}

HRESULT fake_metadata::GetSigFromToken(mdSignature mdSig, PCCOR_SIGNATURE* ppvSig, ULONG* pcbSig) {
    if (auto injected = enter(__func__)) return *injected;
    const uint32_t rid = RidFromToken(mdSig);
    if (TypeFromToken(mdSig) != mdtSignature || rid == 0 || rid > module_.standalone_sigs.size())
        return CLDB_E_RECORD_NOTFOUND;
    const blob& sig = module_.standalone_sigs[rid - 1];
    if (ppvSig != nullptr) *ppvSig = sig.data();
    if (pcbSig != nullptr) *pcbSig = static_cast<ULONG>(sig.size());
    return S_OK;
}

HRESULT fake_metadata::GetTypeSpecFromToken(mdTypeSpec typespec, PCCOR_SIGNATURE* ppvSig, ULONG* pcbSig) {
    if (auto injected = enter(__func__)) return *injected;
    const uint32_t rid = RidFromToken(typespec);
    if (TypeFromToken(typespec) != mdtTypeSpec || rid == 0 || rid > module_.type_specs.size())
        return CLDB_E_RECORD_NOTFOUND;
    const blob& sig = module_.type_specs[rid - 1];
    if (ppvSig != nullptr) *ppvSig = sig.data();
    if (pcbSig != nullptr) *pcbSig = static_cast<ULONG>(sig.size());
    return S_OK;
}

HRESULT fake_metadata::GetModuleRefProps(mdModuleRef mur, LPWSTR szName, ULONG cchName, ULONG* pchName) {
    if (auto injected = enter(__func__)) return *injected;
    const uint32_t rid = RidFromToken(mur);
    if (TypeFromToken(mur) != mdtModuleRef || rid == 0 || rid > module_.module_refs.size())
        return CLDB_E_RECORD_NOTFOUND;
    return copy_name(module_.module_refs[rid - 1], szName, cchName, pchName, metadata_truncated);
}

HRESULT fake_metadata::GetUserString(mdString stk, LPWSTR szString, ULONG cchString, ULONG* pchString) {
    if (auto injected = enter(__func__)) return *injected;
    auto found = module_.user_strings.find(stk);
    if (found == module_.user_strings.end()) return CLDB_E_RECORD_NOTFOUND;
    // Unlike names, user strings are counted text: the length has no terminator
    // and none is written.
    const std::u16string& text = found->second;
    if (pchString != nullptr) *pchString = static_cast<ULONG>(text.size());
    if (szString == nullptr) return S_OK;
    const size_t copied = std::min<size_t>(cchString, text.size());
    text.copy(szString, copied);
    return copied < text.size() ? metadata_truncated : S_OK;
}

HRESULT fake_metadata::GetCustomAttributeByName(mdToken tkObj, LPCWSTR szName, const void** ppData,
                                           ULONG* pcbData) {
    if (auto injected = enter(__func__)) return *injected;
    if (szName == nullptr) return E_INVALIDARG;
    if (ppData != nullptr) *ppData = nullptr;
    if (pcbData != nullptr) *pcbData = 0;
    const std::u16string_view name(szName);
    for (const auto& attribute : module_.custom_attributes) {
        if (attribute.owner != tkObj || attribute.type_name != name) continue;
        if (ppData != nullptr) *ppData = attribute.value.data();
        if (pcbData != nullptr) *pcbData = static_cast<ULONG>(attribute.value.size());
        return S_OK;
    }
    return S_FALSE;
}

HRESULT fake_metadata::GetNestedClassProps(mdTypeDef tdNestedClass, mdTypeDef* ptdEnclosingClass) {
    if (auto injected = enter(__func__)) return *injected;
    const type_def_row* row = module_.type_def(tdNestedClass);
    if (row == nullptr || IsNilToken(row->enclosing)) return CLDB_E_RECORD_NOTFOUND;
    if (ptdEnclosingClass != nullptr) *ptdEnclosingClass = row->enclosing;
    return S_OK;
}

HRESULT fake_metadata::GetAssemblyFromScope(mdAssembly* ptkAssembly) {
    if (auto injected = enter(__func__)) return *injected;
    if (ptkAssembly == nullptr) return E_INVALIDARG;
    *ptkAssembly = fake_module::assembly();
    return S_OK;
}

HRESULT fake_metadata::GetAssemblyProps(mdAssembly mda, const void** ppbPublicKey, ULONG* pcbPublicKey,
                                   ULONG* pulHashAlgId, LPWSTR szName, ULONG cchName, ULONG* pchName,
                                   ASSEMBLYMETADATA* pMetaData, DWORD* pdwAssemblyFlags) {
    if (auto injected = enter(__func__)) return *injected;
    if (mda != fake_module::assembly()) return CLDB_E_RECORD_NOTFOUND;
    if (ppbPublicKey != nullptr) *ppbPublicKey = module_.public_key.empty() ? nullptr : module_.public_key.data();
    if (pcbPublicKey != nullptr) *pcbPublicKey = static_cast<ULONG>(module_.public_key.size());
    if (pulHashAlgId != nullptr) *pulHashAlgId = sha1_hash_algorithm;
    fill_version(pMetaData, module_.version);
    if (pdwAssemblyFlags != nullptr) *pdwAssemblyFlags = module_.assembly_flags;
    return copy_name(module_.assembly_name, szName, cchName, pchName, metadata_truncated);
}

HRESULT fake_metadata::GetAssemblyRefProps(mdAssemblyRef mdar, const void** ppbPublicKeyOrToken,
                                      ULONG* pcbPublicKeyOrToken, LPWSTR szName, ULONG cchName,
                                      ULONG* pchName, ASSEMBLYMETADATA* pMetaData, const void** ppbHashValue,
                                      ULONG* pcbHashValue, DWORD* pdwAssemblyRefFlags) {
    if (auto injected = enter(__func__)) return *injected;
    const assembly_ref_row* row = module_.assembly_ref(mdar);
    if (row == nullptr) return CLDB_E_RECORD_NOTFOUND;
    if (ppbPublicKeyOrToken != nullptr)
        *ppbPublicKeyOrToken = row->public_key_or_token.empty() ? nullptr : row->public_key_or_token.data();
    if (pcbPublicKeyOrToken != nullptr) *pcbPublicKeyOrToken = static_cast<ULONG>(row->public_key_or_token.size());
    fill_version(pMetaData, row->version);
    if (ppbHashValue != nullptr) *ppbHashValue = nullptr;
    if (pcbHashValue != nullptr) *pcbHashValue = 0;
    if (pdwAssemblyRefFlags != nullptr) *pdwAssemblyRefFlags = row->flags;
    return copy_name(row->name, szName, cchName, pchName, metadata_truncated);
}

}  // namespace test_support
