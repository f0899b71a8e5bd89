// Metadata vocabulary of the runtime: token types and their helpers, element types
// and calling conventions of signatures, the attribute flag sets of types, methods,
// fields, parameters, P/Invoke maps and assemblies, the structs the metadata
// interfaces exchange, and the flag bytes of IL method headers and exception
// sections (ECMA-335 II.22, II.23, II.25.4). Values only; no logic beyond the
// token arithmetic.
#pragma once

#include <cstdint>

#include "runtime/com_types.h"

// A token names one row of one metadata table: the table in the high byte, the
// 1-based row (RID) in the low three bytes. Row 0 of any table is "nil".
using mdToken = uint32_t;
using mdModule = mdToken;
using mdTypeRef = mdToken;
using mdTypeDef = mdToken;
using mdFieldDef = mdToken;
using mdMethodDef = mdToken;
using mdParamDef = mdToken;
using mdInterfaceImpl = mdToken;
using mdMemberRef = mdToken;
using mdCustomAttribute = mdToken;
using mdPermission = mdToken;
using mdSignature = mdToken;
using mdEvent = mdToken;
using mdProperty = mdToken;
using mdModuleRef = mdToken;
using mdTypeSpec = mdToken;
using mdAssembly = mdToken;
using mdAssemblyRef = mdToken;
using mdFile = mdToken;
using mdExportedType = mdToken;
using mdManifestResource = mdToken;
using mdString = mdToken;
using mdGenericParam = mdToken;
using mdMethodSpec = mdToken;
using mdGenericParamConstraint = mdToken;
using mdCPToken = mdToken;

// Opaque cursor of the metadata Enum* calls; start with nullptr, free with CloseEnum.
using HCORENUM = void*;
// Names handed out by GetNameFromToken point into the string heap (UTF-8).
using MDUTF8CSTR = const char*;

enum CorTokenType : uint32_t {
    mdtModule = 0x00000000,
    mdtTypeRef = 0x01000000,
    mdtTypeDef = 0x02000000,
    mdtFieldDef = 0x04000000,
    mdtMethodDef = 0x06000000,
    mdtParamDef = 0x08000000,
    mdtInterfaceImpl = 0x09000000,
    mdtMemberRef = 0x0a000000,
    mdtCustomAttribute = 0x0c000000,
    mdtPermission = 0x0e000000,
    mdtSignature = 0x11000000,
    mdtEvent = 0x14000000,
    mdtProperty = 0x17000000,
    mdtMethodImpl = 0x19000000,
    mdtModuleRef = 0x1a000000,
    mdtTypeSpec = 0x1b000000,
    mdtAssembly = 0x20000000,
    mdtAssemblyRef = 0x23000000,
    mdtFile = 0x26000000,
    mdtExportedType = 0x27000000,
    mdtManifestResource = 0x28000000,
    mdtGenericParam = 0x2a000000,
    mdtMethodSpec = 0x2b000000,
    mdtGenericParamConstraint = 0x2c000000,
    mdtString = 0x70000000,
    mdtName = 0x71000000,
    // Not a table: marks an element type stored where a token is expected.
    mdtBaseType = 0x72000000,
};

constexpr mdToken mdTokenNil = 0;
constexpr mdModule mdModuleNil = mdtModule;
constexpr mdTypeRef mdTypeRefNil = mdtTypeRef;
constexpr mdTypeDef mdTypeDefNil = mdtTypeDef;
constexpr mdFieldDef mdFieldDefNil = mdtFieldDef;
constexpr mdMethodDef mdMethodDefNil = mdtMethodDef;
constexpr mdParamDef mdParamDefNil = mdtParamDef;
constexpr mdInterfaceImpl mdInterfaceImplNil = mdtInterfaceImpl;
constexpr mdMemberRef mdMemberRefNil = mdtMemberRef;
constexpr mdCustomAttribute mdCustomAttributeNil = mdtCustomAttribute;
constexpr mdPermission mdPermissionNil = mdtPermission;
constexpr mdSignature mdSignatureNil = mdtSignature;
constexpr mdEvent mdEventNil = mdtEvent;
constexpr mdProperty mdPropertyNil = mdtProperty;
constexpr mdModuleRef mdModuleRefNil = mdtModuleRef;
constexpr mdTypeSpec mdTypeSpecNil = mdtTypeSpec;
constexpr mdAssembly mdAssemblyNil = mdtAssembly;
constexpr mdAssemblyRef mdAssemblyRefNil = mdtAssemblyRef;
constexpr mdFile mdFileNil = mdtFile;
constexpr mdExportedType mdExportedTypeNil = mdtExportedType;
constexpr mdManifestResource mdManifestResourceNil = mdtManifestResource;
constexpr mdString mdStringNil = mdtString;
constexpr mdGenericParam mdGenericParamNil = mdtGenericParam;
constexpr mdMethodSpec mdMethodSpecNil = mdtMethodSpec;
constexpr mdGenericParamConstraint mdGenericParamConstraintNil = mdtGenericParamConstraint;

constexpr uint32_t TypeFromToken(mdToken tk) { return tk & 0xff000000u; }
constexpr uint32_t RidFromToken(mdToken tk) { return tk & 0x00ffffffu; }
constexpr mdToken TokenFromRid(uint32_t rid, uint32_t tktype) { return rid | tktype; }
constexpr bool IsNilToken(mdToken tk) { return RidFromToken(tk) == 0; }

// Element types of signatures (ECMA-335 II.23.1.16).
enum CorElementType {
    ELEMENT_TYPE_END = 0x00,
    ELEMENT_TYPE_VOID = 0x01,
    ELEMENT_TYPE_BOOLEAN = 0x02,
    ELEMENT_TYPE_CHAR = 0x03,
    ELEMENT_TYPE_I1 = 0x04,
    ELEMENT_TYPE_U1 = 0x05,
    ELEMENT_TYPE_I2 = 0x06,
    ELEMENT_TYPE_U2 = 0x07,
    ELEMENT_TYPE_I4 = 0x08,
    ELEMENT_TYPE_U4 = 0x09,
    ELEMENT_TYPE_I8 = 0x0a,
    ELEMENT_TYPE_U8 = 0x0b,
    ELEMENT_TYPE_R4 = 0x0c,
    ELEMENT_TYPE_R8 = 0x0d,
    ELEMENT_TYPE_STRING = 0x0e,
    ELEMENT_TYPE_PTR = 0x0f,
    ELEMENT_TYPE_BYREF = 0x10,
    ELEMENT_TYPE_VALUETYPE = 0x11,
    ELEMENT_TYPE_CLASS = 0x12,
    ELEMENT_TYPE_VAR = 0x13,
    ELEMENT_TYPE_ARRAY = 0x14,
    ELEMENT_TYPE_GENERICINST = 0x15,
    ELEMENT_TYPE_TYPEDBYREF = 0x16,
    ELEMENT_TYPE_I = 0x18,
    ELEMENT_TYPE_U = 0x19,
    ELEMENT_TYPE_FNPTR = 0x1b,
    ELEMENT_TYPE_OBJECT = 0x1c,
    ELEMENT_TYPE_SZARRAY = 0x1d,
    ELEMENT_TYPE_MVAR = 0x1e,
    ELEMENT_TYPE_CMOD_REQD = 0x1f,
    ELEMENT_TYPE_CMOD_OPT = 0x20,
    ELEMENT_TYPE_INTERNAL = 0x21,
    ELEMENT_TYPE_MAX = 0x22,
    ELEMENT_TYPE_MODIFIER = 0x40,
    ELEMENT_TYPE_SENTINEL = 0x01 | ELEMENT_TYPE_MODIFIER,
    ELEMENT_TYPE_PINNED = 0x05 | ELEMENT_TYPE_MODIFIER,
};
static_assert(sizeof(CorElementType) == 4, "CorElementType crosses the ABI as a 32-bit value");

// First byte of a signature blob (ECMA-335 II.23.2): the kind in the low nibble,
// HASTHIS / EXPLICITTHIS / GENERIC as flags above it.
enum CorCallingConvention {
    IMAGE_CEE_CS_CALLCONV_DEFAULT = 0x0,
    IMAGE_CEE_CS_CALLCONV_C = 0x1,
    IMAGE_CEE_CS_CALLCONV_STDCALL = 0x2,
    IMAGE_CEE_CS_CALLCONV_THISCALL = 0x3,
    IMAGE_CEE_CS_CALLCONV_FASTCALL = 0x4,
    IMAGE_CEE_CS_CALLCONV_VARARG = 0x5,
    IMAGE_CEE_CS_CALLCONV_FIELD = 0x6,
    IMAGE_CEE_CS_CALLCONV_LOCAL_SIG = 0x7,
    IMAGE_CEE_CS_CALLCONV_PROPERTY = 0x8,
    IMAGE_CEE_CS_CALLCONV_UNMANAGED = 0x9,
    IMAGE_CEE_CS_CALLCONV_GENERICINST = 0xa,
    IMAGE_CEE_CS_CALLCONV_NATIVEVARARG = 0xb,
    IMAGE_CEE_CS_CALLCONV_MAX = 0xc,
    IMAGE_CEE_CS_CALLCONV_MASK = 0x0f,
    IMAGE_CEE_CS_CALLCONV_GENERIC = 0x10,
    IMAGE_CEE_CS_CALLCONV_HASTHIS = 0x20,
    IMAGE_CEE_CS_CALLCONV_EXPLICITTHIS = 0x40,
};

// MethodDef flags (ECMA-335 II.23.1.10).
enum CorMethodAttr : uint32_t {
    mdMemberAccessMask = 0x0007,
    mdPrivateScope = 0x0000,
    mdPrivate = 0x0001,
    mdFamANDAssem = 0x0002,
    mdAssem = 0x0003,
    mdFamily = 0x0004,
    mdFamORAssem = 0x0005,
    mdPublic = 0x0006,
    mdUnmanagedExport = 0x0008,
    mdStatic = 0x0010,
    mdFinal = 0x0020,
    mdVirtual = 0x0040,
    mdHideBySig = 0x0080,
    mdVtableLayoutMask = 0x0100,
    mdReuseSlot = 0x0000,
    mdNewSlot = 0x0100,
    mdCheckAccessOnOverride = 0x0200,
    mdAbstract = 0x0400,
    mdSpecialName = 0x0800,
    mdPinvokeImpl = 0x2000,
    mdReservedMask = 0xd000,
    mdRTSpecialName = 0x1000,
    mdHasSecurity = 0x4000,
    mdRequireSecObject = 0x8000,
};

// MethodImpl flags (ECMA-335 II.23.1.11).
enum CorMethodImpl : uint32_t {
    miCodeTypeMask = 0x0003,
    miIL = 0x0000,
    miNative = 0x0001,
    miOPTIL = 0x0002,
    miRuntime = 0x0003,
    miManagedMask = 0x0004,
    miUnmanaged = 0x0004,
    miManaged = 0x0000,
    miNoInlining = 0x0008,
    miForwardRef = 0x0010,
    miSynchronized = 0x0020,
    miNoOptimization = 0x0040,
    miPreserveSig = 0x0080,
    miAggressiveInlining = 0x0100,
    miAggressiveOptimization = 0x0200,
    miInternalCall = 0x1000,
    miMaxMethodImplVal = 0xffff,
};

// TypeDef flags (ECMA-335 II.23.1.15).
enum CorTypeAttr : uint32_t {
    tdVisibilityMask = 0x00000007,
    tdNotPublic = 0x00000000,
    tdPublic = 0x00000001,
    tdNestedPublic = 0x00000002,
    tdNestedPrivate = 0x00000003,
    tdNestedFamily = 0x00000004,
    tdNestedAssembly = 0x00000005,
    tdNestedFamANDAssem = 0x00000006,
    tdNestedFamORAssem = 0x00000007,
    tdLayoutMask = 0x00000018,
    tdAutoLayout = 0x00000000,
    tdSequentialLayout = 0x00000008,
    tdExplicitLayout = 0x00000010,
    tdClassSemanticsMask = 0x00000020,
    tdClass = 0x00000000,
    tdInterface = 0x00000020,
    tdAbstract = 0x00000080,
    tdSealed = 0x00000100,
    tdSpecialName = 0x00000400,
    tdRTSpecialName = 0x00000800,
    tdImport = 0x00001000,
    tdSerializable = 0x00002000,
    tdWindowsRuntime = 0x00004000,
    tdStringFormatMask = 0x00030000,
    tdAnsiClass = 0x00000000,
    tdUnicodeClass = 0x00010000,
    tdAutoClass = 0x00020000,
    tdCustomFormatClass = 0x00030000,
    tdHasSecurity = 0x00040000,
    tdReservedMask = 0x00040800,
    tdBeforeFieldInit = 0x00100000,
    tdForwarder = 0x00200000,
    tdCustomFormatMask = 0x00c00000,
};

// Field flags (ECMA-335 II.23.1.5).
enum CorFieldAttr : uint32_t {
    fdFieldAccessMask = 0x0007,
    fdPrivateScope = 0x0000,
    fdPrivate = 0x0001,
    fdFamANDAssem = 0x0002,
    fdAssembly = 0x0003,
    fdFamily = 0x0004,
    fdFamORAssem = 0x0005,
    fdPublic = 0x0006,
    fdStatic = 0x0010,
    fdInitOnly = 0x0020,
    fdLiteral = 0x0040,
    fdNotSerialized = 0x0080,
    fdHasFieldRVA = 0x0100,
    fdSpecialName = 0x0200,
    fdRTSpecialName = 0x0400,
    fdHasFieldMarshal = 0x1000,
    fdPinvokeImpl = 0x2000,
    fdHasDefault = 0x8000,
    fdReservedMask = 0x9500,
};

// Param flags (ECMA-335 II.23.1.13).
enum CorParamAttr : uint32_t {
    pdIn = 0x0001,
    pdOut = 0x0002,
    pdOptional = 0x0010,
    pdHasDefault = 0x1000,
    pdHasFieldMarshal = 0x2000,
    pdReservedMask = 0xf000,
    pdUnused = 0xcfe0,
};

// ImplMap (P/Invoke) flags (ECMA-335 II.23.1.8).
enum CorPinvokeMap : uint32_t {
    pmNoMangle = 0x0001,
    pmCharSetMask = 0x0006,
    pmCharSetNotSpec = 0x0000,
    pmCharSetAnsi = 0x0002,
    pmCharSetUnicode = 0x0004,
    pmCharSetAuto = 0x0006,
    pmBestFitUseAssem = 0x0000,
    pmBestFitEnabled = 0x0010,
    pmBestFitDisabled = 0x0020,
    pmBestFitMask = 0x0030,
    pmSupportsLastError = 0x0040,
    pmCallConvMask = 0x0700,
    pmCallConvWinapi = 0x0100,
    pmCallConvCdecl = 0x0200,
    pmCallConvStdcall = 0x0300,
    pmCallConvThiscall = 0x0400,
    pmCallConvFastcall = 0x0500,
    pmThrowOnUnmappableCharUseAssem = 0x0000,
    pmThrowOnUnmappableCharEnabled = 0x1000,
    pmThrowOnUnmappableCharDisabled = 0x2000,
    pmThrowOnUnmappableCharMask = 0x3000,
    pmMaxValue = 0xffff,
};

// Assembly and AssemblyRef flags (ECMA-335 II.23.1.2, plus the processor
// architecture bits the runtime stores beside them).
enum CorAssemblyFlags : uint32_t {
    afPublicKey = 0x0001,
    afPA_None = 0x0000,
    afPA_MSIL = 0x0010,
    afPA_x86 = 0x0020,
    afPA_IA64 = 0x0030,
    afPA_AMD64 = 0x0040,
    afPA_ARM = 0x0050,
    afPA_ARM64 = 0x0060,
    afPA_NoPlatform = 0x0070,
    afPA_Specified = 0x0080,
    afPA_Mask = 0x0070,
    afPA_FullMask = 0x00f0,
    afPA_Shift = 0x0004,
    afRetargetable = 0x0100,
    afContentType_Default = 0x0000,
    afContentType_WindowsRuntime = 0x0200,
    afContentType_Mask = 0x0e00,
    afDisableJITcompileOptimizer = 0x4000,
    afEnableJITcompileTracking = 0x8000,
    afDebuggableAttributeMask = 0xc000,
};

// How a metadata scope is opened (GetModuleMetaData's dwOpenFlags).
enum CorOpenFlags : uint32_t {
    ofRead = 0x00000000,
    ofWrite = 0x00000001,
    ofReadWriteMask = 0x00000001,
    ofCopyMemory = 0x00000002,
    ofReadOnly = 0x00000010,
    ofTakeOwnership = 0x00000020,
    ofNoTypeLib = 0x00000080,
    ofNoTransform = 0x00001000,
};

// Accuracy requested from IMetaDataEmit::GetSaveSize.
enum CorSaveSize {
    cssAccurate = 0x0000,
    cssQuick = 0x0001,
    cssDiscardTransientCAs = 0x0002,
};
static_assert(sizeof(CorSaveSize) == 4, "CorSaveSize crosses the ABI as a 32-bit value");

struct OSINFO {
    DWORD dwOSPlatformId;
    DWORD dwOSMajorVersion;
    DWORD dwOSMinorVersion;
};

// Version, culture and platform of an assembly or assembly reference. szLocale is
// a caller-owned buffer of cbLocale characters when reading properties.
struct ASSEMBLYMETADATA {
    USHORT usMajorVersion;
    USHORT usMinorVersion;
    USHORT usBuildNumber;
    USHORT usRevisionNumber;
    LPWSTR szLocale;
    ULONG cbLocale;
    DWORD* rProcessor;
    ULONG ulProcessor;
    OSINFO* rOS;
    ULONG ulOS;
};
static_assert(sizeof(ASSEMBLYMETADATA) == 56, "ASSEMBLYMETADATA layout on x86-64");

struct COR_FIELD_OFFSET {
    mdFieldDef ridOfField;
    ULONG ulOffset;
};

struct COR_SECATTR {
    mdMemberRef tkCtor;
    const void* pCustomAttribute;
    ULONG cbCustomAttribute;
};

// IL method header flags (ECMA-335 II.25.4.1 to II.25.4.5). The tiny format keeps
// its code size in the upper six bits of its single byte.
constexpr BYTE CorILMethod_TinyFormat = 0x2;
constexpr BYTE CorILMethod_FatFormat = 0x3;
// The fat format is told by the low three bits; a tiny header uses only the low two
// (its third bit is already part of the code size).
constexpr BYTE CorILMethod_FormatShift = 3;
constexpr BYTE CorILMethod_FormatMask = 0x7;
constexpr BYTE CorILMethod_TinyFormatMask = 0x3;
constexpr BYTE CorILMethod_CompressedIL = 0x40;
constexpr BYTE CorILMethod_TinyFormat_Shift = 2;
constexpr BYTE CorILMethod_MoreSects = 0x8;
constexpr BYTE CorILMethod_InitLocals = 0x10;
constexpr BYTE CorILMethod_Sect_EHTable = 0x1;
constexpr BYTE CorILMethod_Sect_OptILTable = 0x2;
constexpr BYTE CorILMethod_Sect_KindMask = 0x3f;
constexpr BYTE CorILMethod_Sect_FatFormat = 0x40;
constexpr BYTE CorILMethod_Sect_MoreSects = 0x80;

// Exception clause kinds (ECMA-335 II.25.4.6). DUPLICATED marks a clause the
// runtime copied into a nested region; it is not written by compilers.
constexpr DWORD COR_ILEXCEPTION_CLAUSE_NONE = 0x0;
constexpr DWORD COR_ILEXCEPTION_CLAUSE_FILTER = 0x1;
constexpr DWORD COR_ILEXCEPTION_CLAUSE_FINALLY = 0x2;
constexpr DWORD COR_ILEXCEPTION_CLAUSE_FAULT = 0x4;
constexpr DWORD COR_ILEXCEPTION_CLAUSE_DUPLICATED = 0x8;
