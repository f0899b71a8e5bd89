// The metadata scope of one fake_module as one COM object answering
// IMetaDataImport(2), IMetaDataAssemblyImport, IMetaDataEmit(2) and
// IMetaDataAssemblyEmit, like the object the runtime hands out for a loaded
// module. The calls the library makes read and extend the module's tables with
// the published semantics (see tests/unit/support/README.md); every other call
// answers E_NOTIMPL. Each call first passes the module's failure switch.
//
// Owned by its fake_module; the reference count is only observed (atomic), so a
// test can check that the code under test released what it obtained. Open
// enumerators are counted for the same reason.
#pragma once

#include <atomic>
#include <optional>
#include <vector>

#include "support/runtime_stubs.h"

namespace test_support {

class fake_module;

class fake_metadata : public metadata_import_stub,
                      public assembly_import_stub,
                      public metadata_emit_stub,
                      public assembly_emit_stub {
public:
    explicit fake_metadata(fake_module& module) : module_(module) {}
    fake_metadata(const fake_metadata&) = delete;
    fake_metadata& operator=(const fake_metadata&) = delete;

    // Interfaces QueryInterface refuses (E_NOINTERFACE), e.g. IID_IMetaDataEmit2.
    std::vector<IID> refused_interfaces;

    ULONG references() const { return references_; }
    // QueryInterface without the failure switch: how the profiler info hands
    // this scope out (its own call is the one a test fails).
    HRESULT interface_for(REFIID riid, void** ppv);
    // Enumerators opened and not yet closed with CloseEnum.
    int open_enums() const { return open_enums_; }

    // IUnknown (one identity for all six interfaces)
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override { return --references_; }

    // IMetaDataImport; CloseEnum also serves IMetaDataAssemblyImport.
    void CloseEnum(HCORENUM hEnum) override;
    HRESULT CountEnum(HCORENUM hEnum, ULONG* pulCount) override;
    HRESULT EnumTypeDefs(HCORENUM* phEnum, mdTypeDef rTypeDefs[], ULONG cMax, ULONG* pcTypeDefs) override;
    HRESULT EnumTypeRefs(HCORENUM* phEnum, mdTypeRef rTypeRefs[], ULONG cMax, ULONG* pcTypeRefs) override;
    HRESULT FindTypeDefByName(LPCWSTR szTypeDef, mdToken tkEnclosingClass, mdTypeDef* ptd) override;
    HRESULT GetTypeDefProps(mdTypeDef td, LPWSTR szTypeDef, ULONG cchTypeDef, ULONG* pchTypeDef,
                            DWORD* pdwTypeDefFlags, mdToken* ptkExtends) override;
    HRESULT GetTypeRefProps(mdTypeRef tr, mdToken* ptkResolutionScope, LPWSTR szName, ULONG cchName,
                            ULONG* pchName) override;
    HRESULT EnumMethods(HCORENUM* phEnum, mdTypeDef cl, mdMethodDef rMethods[], ULONG cMax,
                        ULONG* pcTokens) override;
    HRESULT EnumMemberRefs(HCORENUM* phEnum, mdToken tkParent, mdMemberRef rMemberRefs[], ULONG cMax,
                           ULONG* pcTokens) override;
    HRESULT FindMethod(mdTypeDef td, LPCWSTR szName, PCCOR_SIGNATURE pvSigBlob, ULONG cbSigBlob,
                       mdMethodDef* pmb) override;
    HRESULT FindMemberRef(mdTypeRef td, LPCWSTR szName, PCCOR_SIGNATURE pvSigBlob, ULONG cbSigBlob,
                          mdMemberRef* pmr) override;
    HRESULT GetMethodProps(mdMethodDef mb, mdTypeDef* pClass, LPWSTR szMethod, ULONG cchMethod, ULONG* pchMethod,
                           DWORD* pdwAttr, PCCOR_SIGNATURE* ppvSigBlob, ULONG* pcbSigBlob, ULONG* pulCodeRVA,
                           DWORD* pdwImplFlags) override;
    HRESULT GetMemberRefProps(mdMemberRef mr, mdToken* ptk, LPWSTR szMember, ULONG cchMember, ULONG* pchMember,
                              PCCOR_SIGNATURE* ppvSigBlob, ULONG* pbSig) override;
    HRESULT GetSigFromToken(mdSignature mdSig, PCCOR_SIGNATURE* ppvSig, ULONG* pcbSig) override;
    HRESULT GetModuleRefProps(mdModuleRef mur, LPWSTR szName, ULONG cchName, ULONG* pchName) override;
    HRESULT GetTypeSpecFromToken(mdTypeSpec typespec, PCCOR_SIGNATURE* ppvSig, ULONG* pcbSig) override;
    HRESULT GetUserString(mdString stk, LPWSTR szString, ULONG cchString, ULONG* pchString) override;
    HRESULT FindTypeRef(mdToken tkResolutionScope, LPCWSTR szName, mdTypeRef* ptr) override;
    HRESULT GetMemberProps(mdToken mb, mdTypeDef* pClass, LPWSTR szMember, ULONG cchMember, ULONG* pchMember,
                           DWORD* pdwAttr, PCCOR_SIGNATURE* ppvSigBlob, ULONG* pcbSigBlob, ULONG* pulCodeRVA,
                           DWORD* pdwImplFlags, DWORD* pdwCPlusTypeFlag, UVCP_CONSTANT* ppValue,
                           ULONG* pcchValue) override;
    HRESULT GetCustomAttributeByName(mdToken tkObj, LPCWSTR szName, const void** ppData, ULONG* pcbData) override;
    HRESULT GetNestedClassProps(mdTypeDef tdNestedClass, mdTypeDef* ptdEnclosingClass) override;

    // IMetaDataAssemblyImport
    HRESULT GetAssemblyProps(mdAssembly mda, const void** ppbPublicKey, ULONG* pcbPublicKey, ULONG* pulHashAlgId,
                             LPWSTR szName, ULONG cchName, ULONG* pchName, ASSEMBLYMETADATA* pMetaData,
                             DWORD* pdwAssemblyFlags) override;
    HRESULT GetAssemblyRefProps(mdAssemblyRef mdar, const void** ppbPublicKeyOrToken, ULONG* pcbPublicKeyOrToken,
                                LPWSTR szName, ULONG cchName, ULONG* pchName, ASSEMBLYMETADATA* pMetaData,
                                const void** ppbHashValue, ULONG* pcbHashValue, DWORD* pdwAssemblyRefFlags) override;
    HRESULT EnumAssemblyRefs(HCORENUM* phEnum, mdAssemblyRef rAssemblyRefs[], ULONG cMax, ULONG* pcTokens) override;
    HRESULT GetAssemblyFromScope(mdAssembly* ptkAssembly) override;

    // IMetaDataEmit
    HRESULT DefineTypeDef(LPCWSTR szTypeDef, DWORD dwTypeDefFlags, mdToken tkExtends, mdToken rtkImplements[],
                          mdTypeDef* ptd) override;
    HRESULT DefineMethod(mdTypeDef td, LPCWSTR szName, DWORD dwMethodFlags, PCCOR_SIGNATURE pvSigBlob,
                         ULONG cbSigBlob, ULONG ulCodeRVA, DWORD dwImplFlags, mdMethodDef* pmd) override;
    HRESULT DefineTypeRefByName(mdToken tkResolutionScope, LPCWSTR szName, mdTypeRef* ptr) override;
    // Added for the IL rewriter's tests (fake_define_import_type.cpp): a TypeRef in this
    // module for a top-level typedef of another scope, under this module's AssemblyRef
    // of that scope's assembly (found by name, else defined). The hash is not kept.
    HRESULT DefineImportType(IMetaDataAssemblyImport* pAssemImport, const void* pbHashValue, ULONG cbHashValue,
                             IMetaDataImport* pImport, mdTypeDef tdImport, IMetaDataAssemblyEmit* pAssemEmit,
                             mdTypeRef* ptr) override;
    HRESULT DefineMemberRef(mdToken tkImport, LPCWSTR szName, PCCOR_SIGNATURE pvSigBlob, ULONG cbSigBlob,
                            mdMemberRef* pmr) override;
    HRESULT GetTokenFromSig(PCCOR_SIGNATURE pvSig, ULONG cbSig, mdSignature* pmsig) override;
    HRESULT DefineModuleRef(LPCWSTR szName, mdModuleRef* pmur) override;
    HRESULT GetTokenFromTypeSpec(PCCOR_SIGNATURE pvSig, ULONG cbSig, mdTypeSpec* ptypespec) override;
    HRESULT DefineUserString(LPCWSTR szString, ULONG cchString, mdString* pstk) override;
    HRESULT DefinePinvokeMap(mdToken tk, DWORD dwMappingFlags, LPCWSTR szImportName,
                             mdModuleRef mrImportDLL) override;
    HRESULT DefineParam(mdMethodDef md, ULONG ulParamSeq, LPCWSTR szName, DWORD dwParamFlags, DWORD dwCPlusTypeFlag,
                        const void* pValue, ULONG cchValue, mdParamDef* ppd) override;
    HRESULT SetMethodImplFlags(mdMethodDef md, DWORD dwImplFlags) override;

    // IMetaDataEmit2
    HRESULT DefineMethodSpec(mdToken tkParent, PCCOR_SIGNATURE pvSigBlob, ULONG cbSigBlob,
                             mdMethodSpec* pmi) override;

    // IMetaDataAssemblyEmit
    HRESULT DefineAssemblyRef(const void* pbPublicKeyOrToken, ULONG cbPublicKeyOrToken, LPCWSTR szName,
                              const ASSEMBLYMETADATA* pMetaData, const void* pbHashValue, ULONG cbHashValue,
                              DWORD dwAssemblyRefFlags, mdAssemblyRef* pmdar) override;

private:
    // Counts the call on the module's failure switch; a value means "fail with it".
    std::optional<HRESULT> enter(const char* method);
    // Serves one Enum* call: opens the enumerator on the first call (from
    // `all`), then hands out up to cMax further tokens.
    HRESULT enumerate(HCORENUM* phEnum, std::vector<mdToken> all, mdToken out[], ULONG cMax, ULONG* pcTokens);

    fake_module& module_;
    std::atomic<ULONG> references_{0};
    std::atomic<int> open_enums_{0};
};

}  // namespace test_support
