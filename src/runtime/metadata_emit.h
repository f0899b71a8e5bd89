// The runtime's metadata writing interfaces: IMetaDataEmit (49 methods),
// IMetaDataEmit2 (8) and IMetaDataAssemblyEmit (10), with their interface
// identifiers. Declaration order is the runtime's vtable order; never reorder,
// insert or add a virtual destructor. Metadata defined in a module after it has
// loaded must be applied (ICorProfilerInfo7::ApplyMetaData) before the runtime
// resolves it.
#pragma once

#include "runtime/com_types.h"
#include "runtime/cor_types.h"
#include "runtime/metadata_import.h"

// Appear only in slots the library never calls; never defined here.
class IStream;
class IMapToken;
class IMetaDataAssemblyEmit;

class IMetaDataEmit : public IUnknown {
public:
    virtual HRESULT SetModuleProps(LPCWSTR szName) = 0;
    virtual HRESULT Save(LPCWSTR szFile, DWORD dwSaveFlags) = 0;
    virtual HRESULT SaveToStream(IStream* pIStream, DWORD dwSaveFlags) = 0;
    virtual HRESULT GetSaveSize(CorSaveSize fSave, DWORD* pdwSaveSize) = 0;
    virtual HRESULT DefineTypeDef(LPCWSTR szTypeDef, DWORD dwTypeDefFlags, mdToken tkExtends,
                                  mdToken rtkImplements[], mdTypeDef* ptd) = 0;
    virtual HRESULT DefineNestedType(LPCWSTR szTypeDef, DWORD dwTypeDefFlags, mdToken tkExtends,
                                     mdToken rtkImplements[], mdTypeDef tdEncloser, mdTypeDef* ptd) = 0;
    virtual HRESULT SetHandler(IUnknown* pUnk) = 0;
    virtual HRESULT DefineMethod(mdTypeDef td, LPCWSTR szName, DWORD dwMethodFlags, PCCOR_SIGNATURE pvSigBlob,
                                 ULONG cbSigBlob, ULONG ulCodeRVA, DWORD dwImplFlags, mdMethodDef* pmd) = 0;
    virtual HRESULT DefineMethodImpl(mdTypeDef td, mdToken tkBody, mdToken tkDecl) = 0;
    virtual HRESULT DefineTypeRefByName(mdToken tkResolutionScope, LPCWSTR szName, mdTypeRef* ptr) = 0;
    virtual HRESULT DefineImportType(IMetaDataAssemblyImport* pAssemImport, const void* pbHashValue,
                                     ULONG cbHashValue, IMetaDataImport* pImport, mdTypeDef tdImport,
                                     IMetaDataAssemblyEmit* pAssemEmit, mdTypeRef* ptr) = 0;
    virtual HRESULT DefineMemberRef(mdToken tkImport, LPCWSTR szName, PCCOR_SIGNATURE pvSigBlob, ULONG cbSigBlob,
                                    mdMemberRef* pmr) = 0;
    virtual HRESULT DefineImportMember(IMetaDataAssemblyImport* pAssemImport, const void* pbHashValue,
                                       ULONG cbHashValue, IMetaDataImport* pImport, mdToken mbMember,
                                       IMetaDataAssemblyEmit* pAssemEmit, mdToken tkParent, mdMemberRef* pmr) = 0;
    virtual HRESULT DefineEvent(mdTypeDef td, LPCWSTR szEvent, DWORD dwEventFlags, mdToken tkEventType,
                                mdMethodDef mdAddOn, mdMethodDef mdRemoveOn, mdMethodDef mdFire,
                                mdMethodDef rmdOtherMethods[], mdEvent* pmdEvent) = 0;
    virtual HRESULT SetClassLayout(mdTypeDef td, DWORD dwPackSize, COR_FIELD_OFFSET rFieldOffsets[],
                                   ULONG ulClassSize) = 0;
    virtual HRESULT DeleteClassLayout(mdTypeDef td) = 0;
    virtual HRESULT SetFieldMarshal(mdToken tk, PCCOR_SIGNATURE pvNativeType, ULONG cbNativeType) = 0;
    virtual HRESULT DeleteFieldMarshal(mdToken tk) = 0;
    virtual HRESULT DefinePermissionSet(mdToken tk, DWORD dwAction, const void* pvPermission, ULONG cbPermission,
                                        mdPermission* ppm) = 0;
    virtual HRESULT SetRVA(mdMethodDef md, ULONG ulRVA) = 0;
    virtual HRESULT GetTokenFromSig(PCCOR_SIGNATURE pvSig, ULONG cbSig, mdSignature* pmsig) = 0;
    virtual HRESULT DefineModuleRef(LPCWSTR szName, mdModuleRef* pmur) = 0;
    virtual HRESULT SetParent(mdMemberRef mr, mdToken tk) = 0;
    virtual HRESULT GetTokenFromTypeSpec(PCCOR_SIGNATURE pvSig, ULONG cbSig, mdTypeSpec* ptypespec) = 0;
    virtual HRESULT SaveToMemory(void* pbData, ULONG cbData) = 0;
    virtual HRESULT DefineUserString(LPCWSTR szString, ULONG cchString, mdString* pstk) = 0;
    virtual HRESULT DeleteToken(mdToken tkObj) = 0;
    virtual HRESULT SetMethodProps(mdMethodDef md, DWORD dwMethodFlags, ULONG ulCodeRVA, DWORD dwImplFlags) = 0;
    virtual HRESULT SetTypeDefProps(mdTypeDef td, DWORD dwTypeDefFlags, mdToken tkExtends,
                                    mdToken rtkImplements[]) = 0;
    virtual HRESULT SetEventProps(mdEvent ev, DWORD dwEventFlags, mdToken tkEventType, mdMethodDef mdAddOn,
                                  mdMethodDef mdRemoveOn, mdMethodDef mdFire, mdMethodDef rmdOtherMethods[]) = 0;
    virtual HRESULT SetPermissionSetProps(mdToken tk, DWORD dwAction, const void* pvPermission, ULONG cbPermission,
                                          mdPermission* ppm) = 0;
    virtual HRESULT DefinePinvokeMap(mdToken tk, DWORD dwMappingFlags, LPCWSTR szImportName,
                                     mdModuleRef mrImportDLL) = 0;
    virtual HRESULT SetPinvokeMap(mdToken tk, DWORD dwMappingFlags, LPCWSTR szImportName,
                                  mdModuleRef mrImportDLL) = 0;
    virtual HRESULT DeletePinvokeMap(mdToken tk) = 0;
    virtual HRESULT DefineCustomAttribute(mdToken tkOwner, mdToken tkCtor, const void* pCustomAttribute,
                                          ULONG cbCustomAttribute, mdCustomAttribute* pcv) = 0;
    virtual HRESULT SetCustomAttributeValue(mdCustomAttribute pcv, const void* pCustomAttribute,
                                            ULONG cbCustomAttribute) = 0;
    virtual HRESULT DefineField(mdTypeDef td, LPCWSTR szName, DWORD dwFieldFlags, PCCOR_SIGNATURE pvSigBlob,
                                ULONG cbSigBlob, DWORD dwCPlusTypeFlag, const void* pValue, ULONG cchValue,
                                mdFieldDef* pmd) = 0;
    virtual HRESULT DefineProperty(mdTypeDef td, LPCWSTR szProperty, DWORD dwPropFlags, PCCOR_SIGNATURE pvSig,
                                   ULONG cbSig, DWORD dwCPlusTypeFlag, const void* pValue, ULONG cchValue,
                                   mdMethodDef mdSetter, mdMethodDef mdGetter, mdMethodDef rmdOtherMethods[],
                                   mdProperty* pmdProp) = 0;
    virtual HRESULT DefineParam(mdMethodDef md, ULONG ulParamSeq, LPCWSTR szName, DWORD dwParamFlags,
                                DWORD dwCPlusTypeFlag, const void* pValue, ULONG cchValue, mdParamDef* ppd) = 0;
    virtual HRESULT SetFieldProps(mdFieldDef fd, DWORD dwFieldFlags, DWORD dwCPlusTypeFlag, const void* pValue,
                                  ULONG cchValue) = 0;
    virtual HRESULT SetPropertyProps(mdProperty pr, DWORD dwPropFlags, DWORD dwCPlusTypeFlag, const void* pValue,
                                     ULONG cchValue, mdMethodDef mdSetter, mdMethodDef mdGetter,
                                     mdMethodDef rmdOtherMethods[]) = 0;
    virtual HRESULT SetParamProps(mdParamDef pd, LPCWSTR szName, DWORD dwParamFlags, DWORD dwCPlusTypeFlag,
                                  const void* pValue, ULONG cchValue) = 0;
    virtual HRESULT DefineSecurityAttributeSet(mdToken tkObj, COR_SECATTR rSecAttrs[], ULONG cSecAttrs,
                                               ULONG* pulErrorAttr) = 0;
    virtual HRESULT ApplyEditAndContinue(IUnknown* pImport) = 0;
    virtual HRESULT TranslateSigWithScope(IMetaDataAssemblyImport* pAssemImport, const void* pbHashValue,
                                          ULONG cbHashValue, IMetaDataImport* import, PCCOR_SIGNATURE pbSigBlob,
                                          ULONG cbSigBlob, IMetaDataAssemblyEmit* pAssemEmit, IMetaDataEmit* emit,
                                          PCOR_SIGNATURE pvTranslatedSig, ULONG cbTranslatedSigMax,
                                          ULONG* pcbTranslatedSig) = 0;
    virtual HRESULT SetMethodImplFlags(mdMethodDef md, DWORD dwImplFlags) = 0;
    virtual HRESULT SetFieldRVA(mdFieldDef fd, ULONG ulRVA) = 0;
    virtual HRESULT Merge(IMetaDataImport* pImport, IMapToken* pHostMapToken, IUnknown* pHandler) = 0;
    virtual HRESULT MergeEnd() = 0;
};

class IMetaDataEmit2 : public IMetaDataEmit {
public:
    virtual HRESULT DefineMethodSpec(mdToken tkParent, PCCOR_SIGNATURE pvSigBlob, ULONG cbSigBlob,
                                     mdMethodSpec* pmi) = 0;
    virtual HRESULT GetDeltaSaveSize(CorSaveSize fSave, DWORD* pdwSaveSize) = 0;
    virtual HRESULT SaveDelta(LPCWSTR szFile, DWORD dwSaveFlags) = 0;
    virtual HRESULT SaveDeltaToStream(IStream* pIStream, DWORD dwSaveFlags) = 0;
    virtual HRESULT SaveDeltaToMemory(void* pbData, ULONG cbData) = 0;
    virtual HRESULT DefineGenericParam(mdToken tk, ULONG ulParamSeq, DWORD dwParamFlags, LPCWSTR szname,
                                       DWORD reserved, mdToken rtkConstraints[], mdGenericParam* pgp) = 0;
    virtual HRESULT SetGenericParamProps(mdGenericParam gp, DWORD dwParamFlags, LPCWSTR szName, DWORD reserved,
                                         mdToken rtkConstraints[]) = 0;
    virtual HRESULT ResetENCLog() = 0;
};

class IMetaDataAssemblyEmit : public IUnknown {
public:
    virtual HRESULT DefineAssembly(const void* pbPublicKey, ULONG cbPublicKey, ULONG ulHashAlgId, LPCWSTR szName,
                                   const ASSEMBLYMETADATA* pMetaData, DWORD dwAssemblyFlags, mdAssembly* pma) = 0;
    virtual HRESULT DefineAssemblyRef(const void* pbPublicKeyOrToken, ULONG cbPublicKeyOrToken, LPCWSTR szName,
                                      const ASSEMBLYMETADATA* pMetaData, const void* pbHashValue, ULONG cbHashValue,
                                      DWORD dwAssemblyRefFlags, mdAssemblyRef* pmdar) = 0;
    virtual HRESULT DefineFile(LPCWSTR szName, const void* pbHashValue, ULONG cbHashValue, DWORD dwFileFlags,
                               mdFile* pmdf) = 0;
    virtual HRESULT DefineExportedType(LPCWSTR szName, mdToken tkImplementation, mdTypeDef tkTypeDef,
                                       DWORD dwExportedTypeFlags, mdExportedType* pmdct) = 0;
    virtual HRESULT DefineManifestResource(LPCWSTR szName, mdToken tkImplementation, DWORD dwOffset,
                                           DWORD dwResourceFlags, mdManifestResource* pmdmr) = 0;
    virtual HRESULT SetAssemblyProps(mdAssembly pma, const void* pbPublicKey, ULONG cbPublicKey, ULONG ulHashAlgId,
                                     LPCWSTR szName, const ASSEMBLYMETADATA* pMetaData, DWORD dwAssemblyFlags) = 0;
    virtual HRESULT SetAssemblyRefProps(mdAssemblyRef ar, const void* pbPublicKeyOrToken, ULONG cbPublicKeyOrToken,
                                        LPCWSTR szName, const ASSEMBLYMETADATA* pMetaData, const void* pbHashValue,
                                        ULONG cbHashValue, DWORD dwAssemblyRefFlags) = 0;
    virtual HRESULT SetFileProps(mdFile file, const void* pbHashValue, ULONG cbHashValue, DWORD dwFileFlags) = 0;
    virtual HRESULT SetExportedTypeProps(mdExportedType ct, mdToken tkImplementation, mdTypeDef tkTypeDef,
                                         DWORD dwExportedTypeFlags) = 0;
    virtual HRESULT SetManifestResourceProps(mdManifestResource mr, mdToken tkImplementation, DWORD dwOffset,
                                             DWORD dwResourceFlags) = 0;
};

// {BA3FEE4C-ECB9-4E41-83B7-183FA41CD859}
inline constexpr IID IID_IMetaDataEmit = {
    0xBA3FEE4C, 0xECB9, 0x4E41, {0x83, 0xB7, 0x18, 0x3F, 0xA4, 0x1C, 0xD8, 0x59}};
// {F5DD9950-F693-42E6-830E-7B833E8146A9}
inline constexpr IID IID_IMetaDataEmit2 = {
    0xF5DD9950, 0xF693, 0x42E6, {0x83, 0x0E, 0x7B, 0x83, 0x3E, 0x81, 0x46, 0xA9}};
// {211EF15B-5317-4438-B196-DEC87B887693}
inline constexpr IID IID_IMetaDataAssemblyEmit = {
    0x211EF15B, 0x5317, 0x4438, {0xB1, 0x96, 0xDE, 0xC8, 0x7B, 0x88, 0x76, 0x93}};
