// The interfaces a profiler calls on the runtime: ICorProfilerInfo through
// ICorProfilerInfo7 (one inheritance chain), the event-mask flags they take,
// IMethodMalloc (the allocator for new IL bodies), ICorProfilerFunctionControl
// and the enumerators some queries return. Declaration order is the runtime's
// vtable order; never reorder, insert or add a virtual destructor.
#pragma once

#include "runtime/com_types.h"
#include "runtime/cor_types.h"
#include "runtime/profiler_types.h"

// Low event mask, ICorProfilerInfo::SetEventMask. Some flags can only be set
// during Initialize (the runtime refuses them later).
enum COR_PRF_MONITOR : uint32_t {
    COR_PRF_MONITOR_NONE = 0x00000000,
    COR_PRF_MONITOR_FUNCTION_UNLOADS = 0x00000001,
    COR_PRF_MONITOR_CLASS_LOADS = 0x00000002,
    COR_PRF_MONITOR_MODULE_LOADS = 0x00000004,
    COR_PRF_MONITOR_ASSEMBLY_LOADS = 0x00000008,
    COR_PRF_MONITOR_APPDOMAIN_LOADS = 0x00000010,
    COR_PRF_MONITOR_JIT_COMPILATION = 0x00000020,
    COR_PRF_MONITOR_EXCEPTIONS = 0x00000040,
    COR_PRF_MONITOR_GC = 0x00000080,
    COR_PRF_MONITOR_OBJECT_ALLOCATED = 0x00000100,
    COR_PRF_MONITOR_THREADS = 0x00000200,
    COR_PRF_MONITOR_REMOTING = 0x00000400,
    COR_PRF_MONITOR_CODE_TRANSITIONS = 0x00000800,
    COR_PRF_MONITOR_ENTERLEAVE = 0x00001000,
    COR_PRF_MONITOR_CCW = 0x00002000,
    COR_PRF_MONITOR_REMOTING_COOKIE = 0x00004000 | COR_PRF_MONITOR_REMOTING,
    COR_PRF_MONITOR_REMOTING_ASYNC = 0x00008000 | COR_PRF_MONITOR_REMOTING,
    COR_PRF_MONITOR_SUSPENDS = 0x00010000,
    COR_PRF_MONITOR_CACHE_SEARCHES = 0x00020000,
    COR_PRF_ENABLE_REJIT = 0x00040000,
    COR_PRF_ENABLE_INPROC_DEBUGGING = 0x00080000,
    COR_PRF_ENABLE_JIT_MAPS = 0x00100000,
    COR_PRF_DISABLE_INLINING = 0x00200000,
    COR_PRF_DISABLE_OPTIMIZATIONS = 0x00400000,
    COR_PRF_ENABLE_OBJECT_ALLOCATED = 0x00800000,
    COR_PRF_MONITOR_CLR_EXCEPTIONS = 0x01000000,
    COR_PRF_MONITOR_ALL = 0x0107ffff,
    COR_PRF_ENABLE_FUNCTION_ARGS = 0x02000000,
    COR_PRF_ENABLE_FUNCTION_RETVAL = 0x04000000,
    COR_PRF_ENABLE_FRAME_INFO = 0x08000000,
    COR_PRF_ENABLE_STACK_SNAPSHOT = 0x10000000,
    COR_PRF_USE_PROFILE_IMAGES = 0x20000000,
    COR_PRF_DISABLE_TRANSPARENCY_CHECKS_UNDER_FULL_TRUST = 0x40000000,
    COR_PRF_DISABLE_ALL_NGEN_IMAGES = 0x80000000,
    COR_PRF_ALL = 0x8fffffff,
};

// High event mask, ICorProfilerInfo5::SetEventMask2.
enum COR_PRF_HIGH_MONITOR : uint32_t {
    COR_PRF_HIGH_MONITOR_NONE = 0x00000000,
    COR_PRF_HIGH_ADD_ASSEMBLY_REFERENCES = 0x00000001,
    COR_PRF_HIGH_IN_MEMORY_SYMBOLS_UPDATED = 0x00000002,
    COR_PRF_HIGH_MONITOR_DYNAMIC_FUNCTION_UNLOADS = 0x00000004,
    COR_PRF_HIGH_DISABLE_TIERED_COMPILATION = 0x00000008,
    COR_PRF_HIGH_BASIC_GC = 0x00000010,
    COR_PRF_HIGH_MONITOR_GC_MOVED_OBJECTS = 0x00000020,
    COR_PRF_HIGH_MONITOR_LARGEOBJECT_ALLOCATED = 0x00000040,
    COR_PRF_HIGH_MONITOR_EVENT_PIPE = 0x00000080,
    COR_PRF_HIGH_MONITOR_PINNEDOBJECT_ALLOCATED = 0x00000100,
};

// Memory handed out here belongs to the runtime and lives as long as the module;
// a new IL body for SetILFunctionBody must come from this allocator.
class IMethodMalloc : public IUnknown {
public:
    virtual PVOID Alloc(ULONG cb) = 0;
};

class ICorProfilerFunctionControl : public IUnknown {
public:
    virtual HRESULT SetCodegenFlags(DWORD flags) = 0;
    virtual HRESULT SetILFunctionBody(ULONG cbNewILMethodHeader, LPCBYTE pbNewILMethodHeader) = 0;
    virtual HRESULT SetILInstrumentedCodeMap(ULONG cILMapEntries, COR_IL_MAP rgILMapEntries[]) = 0;
};

// The enumerators share one shape: Skip, Reset, Clone, GetCount, Next. The
// template only spells that shape once; each enumerator is still its own interface.
template <class Self, class Item>
class ICorProfilerEnumOf : public IUnknown {
public:
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(Self** ppEnum) = 0;
    virtual HRESULT GetCount(ULONG* pcelt) = 0;
    virtual HRESULT Next(ULONG celt, Item items[], ULONG* pceltFetched) = 0;
};

class ICorProfilerObjectEnum : public ICorProfilerEnumOf<ICorProfilerObjectEnum, ObjectID> {};
class ICorProfilerFunctionEnum : public ICorProfilerEnumOf<ICorProfilerFunctionEnum, COR_PRF_FUNCTION> {};
class ICorProfilerModuleEnum : public ICorProfilerEnumOf<ICorProfilerModuleEnum, ModuleID> {};
class ICorProfilerThreadEnum : public ICorProfilerEnumOf<ICorProfilerThreadEnum, ThreadID> {};
class ICorProfilerMethodEnum : public ICorProfilerEnumOf<ICorProfilerMethodEnum, COR_PRF_METHOD> {};

class ICorProfilerInfo : public IUnknown {
public:
    virtual HRESULT GetClassFromObject(ObjectID objectId, ClassID* pClassId) = 0;
    virtual HRESULT GetClassFromToken(ModuleID moduleId, mdTypeDef typeDef, ClassID* pClassId) = 0;
    virtual HRESULT GetCodeInfo(FunctionID functionId, LPCBYTE* pStart, ULONG* pcSize) = 0;
    virtual HRESULT GetEventMask(DWORD* pdwEvents) = 0;
    virtual HRESULT GetFunctionFromIP(LPCBYTE ip, FunctionID* pFunctionId) = 0;
    virtual HRESULT GetFunctionFromToken(ModuleID moduleId, mdToken token, FunctionID* pFunctionId) = 0;
    virtual HRESULT GetHandleFromThread(ThreadID threadId, HANDLE* phThread) = 0;
    virtual HRESULT GetObjectSize(ObjectID objectId, ULONG* pcSize) = 0;
    virtual HRESULT IsArrayClass(ClassID classId, CorElementType* pBaseElemType, ClassID* pBaseClassId,
                                 ULONG* pcRank) = 0;
    virtual HRESULT GetThreadInfo(ThreadID threadId, DWORD* pdwWin32ThreadId) = 0;
    virtual HRESULT GetCurrentThreadID(ThreadID* pThreadId) = 0;
    virtual HRESULT GetClassIDInfo(ClassID classId, ModuleID* pModuleId, mdTypeDef* pTypeDefToken) = 0;
    virtual HRESULT GetFunctionInfo(FunctionID functionId, ClassID* pClassId, ModuleID* pModuleId,
                                    mdToken* pToken) = 0;
    virtual HRESULT SetEventMask(DWORD dwEvents) = 0;
    virtual HRESULT SetEnterLeaveFunctionHooks(FunctionEnter* pFuncEnter, FunctionLeave* pFuncLeave,
                                               FunctionTailcall* pFuncTailcall) = 0;
    virtual HRESULT SetFunctionIDMapper(FunctionIDMapper* pFunc) = 0;
    virtual HRESULT GetTokenAndMetaDataFromFunction(FunctionID functionId, REFIID riid, IUnknown** ppImport,
                                                    mdToken* pToken) = 0;
    virtual HRESULT GetModuleInfo(ModuleID moduleId, LPCBYTE* ppBaseLoadAddress, ULONG cchName, ULONG* pcchName,
                                  WCHAR szName[], AssemblyID* pAssemblyId) = 0;
    virtual HRESULT GetModuleMetaData(ModuleID moduleId, DWORD dwOpenFlags, REFIID riid, IUnknown** ppOut) = 0;
    virtual HRESULT GetILFunctionBody(ModuleID moduleId, mdMethodDef methodId, LPCBYTE* ppMethodHeader,
                                      ULONG* pcbMethodSize) = 0;
    virtual HRESULT GetILFunctionBodyAllocator(ModuleID moduleId, IMethodMalloc** ppMalloc) = 0;
    virtual HRESULT SetILFunctionBody(ModuleID moduleId, mdMethodDef methodId, LPCBYTE pbNewILMethodHeader) = 0;
    virtual HRESULT GetAppDomainInfo(AppDomainID appDomainId, ULONG cchName, ULONG* pcchName, WCHAR szName[],
                                     ProcessID* pProcessId) = 0;
    virtual HRESULT GetAssemblyInfo(AssemblyID assemblyId, ULONG cchName, ULONG* pcchName, WCHAR szName[],
                                    AppDomainID* pAppDomainId, ModuleID* pModuleId) = 0;
    virtual HRESULT SetFunctionReJIT(FunctionID functionId) = 0;
    virtual HRESULT ForceGC() = 0;
    virtual HRESULT SetILInstrumentedCodeMap(FunctionID functionId, BOOL fStartJit, ULONG cILMapEntries,
                                             COR_IL_MAP rgILMapEntries[]) = 0;
    virtual HRESULT GetInprocInspectionInterface(IUnknown** ppicd) = 0;
    virtual HRESULT GetInprocInspectionIThisThread(IUnknown** ppicd) = 0;
    virtual HRESULT GetThreadContext(ThreadID threadId, ContextID* pContextId) = 0;
    virtual HRESULT BeginInprocDebugging(BOOL fThisThreadOnly, DWORD* pdwProfilerContext) = 0;
    virtual HRESULT EndInprocDebugging(DWORD dwProfilerContext) = 0;
    virtual HRESULT GetILToNativeMapping(FunctionID functionId, ULONG32 cMap, ULONG32* pcMap,
                                         COR_DEBUG_IL_TO_NATIVE_MAP map[]) = 0;
};

class ICorProfilerInfo2 : public ICorProfilerInfo {
public:
    virtual HRESULT DoStackSnapshot(ThreadID thread, StackSnapshotCallback* callback, ULONG32 infoFlags,
                                    void* clientData, BYTE context[], ULONG32 contextSize) = 0;
    virtual HRESULT SetEnterLeaveFunctionHooks2(FunctionEnter2* pFuncEnter, FunctionLeave2* pFuncLeave,
                                                FunctionTailcall2* pFuncTailcall) = 0;
    virtual HRESULT GetFunctionInfo2(FunctionID funcId, COR_PRF_FRAME_INFO frameInfo, ClassID* pClassId,
                                     ModuleID* pModuleId, mdToken* pToken, ULONG32 cTypeArgs, ULONG32* pcTypeArgs,
                                     ClassID typeArgs[]) = 0;
    virtual HRESULT GetStringLayout(ULONG* pBufferLengthOffset, ULONG* pStringLengthOffset,
                                    ULONG* pBufferOffset) = 0;
    virtual HRESULT GetClassLayout(ClassID classID, COR_FIELD_OFFSET rFieldOffset[], ULONG cFieldOffset,
                                   ULONG* pcFieldOffset, ULONG* pulClassSize) = 0;
    virtual HRESULT GetClassIDInfo2(ClassID classId, ModuleID* pModuleId, mdTypeDef* pTypeDefToken,
                                    ClassID* pParentClassId, ULONG32 cNumTypeArgs, ULONG32* pcNumTypeArgs,
                                    ClassID typeArgs[]) = 0;
    virtual HRESULT GetCodeInfo2(FunctionID functionID, ULONG32 cCodeInfos, ULONG32* pcCodeInfos,
                                 COR_PRF_CODE_INFO codeInfos[]) = 0;
    virtual HRESULT GetClassFromTokenAndTypeArgs(ModuleID moduleID, mdTypeDef typeDef, ULONG32 cTypeArgs,
                                                 ClassID typeArgs[], ClassID* pClassID) = 0;
    virtual HRESULT GetFunctionFromTokenAndTypeArgs(ModuleID moduleID, mdMethodDef funcDef, ClassID classId,
                                                    ULONG32 cTypeArgs, ClassID typeArgs[],
                                                    FunctionID* pFunctionID) = 0;
    virtual HRESULT EnumModuleFrozenObjects(ModuleID moduleID, ICorProfilerObjectEnum** ppEnum) = 0;
    virtual HRESULT GetArrayObjectInfo(ObjectID objectId, ULONG32 cDimensions, ULONG32 pDimensionSizes[],
                                       int pDimensionLowerBounds[], BYTE** ppData) = 0;
    virtual HRESULT GetBoxClassLayout(ClassID classId, ULONG32* pBufferOffset) = 0;
    virtual HRESULT GetThreadAppDomain(ThreadID threadId, AppDomainID* pAppDomainId) = 0;
    virtual HRESULT GetRVAStaticAddress(ClassID classId, mdFieldDef fieldToken, void** ppAddress) = 0;
    virtual HRESULT GetAppDomainStaticAddress(ClassID classId, mdFieldDef fieldToken, AppDomainID appDomainId,
                                              void** ppAddress) = 0;
    virtual HRESULT GetThreadStaticAddress(ClassID classId, mdFieldDef fieldToken, ThreadID threadId,
                                           void** ppAddress) = 0;
    virtual HRESULT GetContextStaticAddress(ClassID classId, mdFieldDef fieldToken, ContextID contextId,
                                            void** ppAddress) = 0;
    virtual HRESULT GetStaticFieldInfo(ClassID classId, mdFieldDef fieldToken, COR_PRF_STATIC_TYPE* pFieldInfo) = 0;
    virtual HRESULT GetGenerationBounds(ULONG cObjectRanges, ULONG* pcObjectRanges,
                                        COR_PRF_GC_GENERATION_RANGE ranges[]) = 0;
    virtual HRESULT GetObjectGeneration(ObjectID objectId, COR_PRF_GC_GENERATION_RANGE* range) = 0;
    virtual HRESULT GetNotifiedExceptionClauseInfo(COR_PRF_EX_CLAUSE_INFO* pinfo) = 0;
};

class ICorProfilerInfo3 : public ICorProfilerInfo2 {
public:
    virtual HRESULT EnumJITedFunctions(ICorProfilerFunctionEnum** ppEnum) = 0;
    virtual HRESULT RequestProfilerDetach(DWORD dwExpectedCompletionMilliseconds) = 0;
    virtual HRESULT SetFunctionIDMapper2(FunctionIDMapper2* pFunc, void* clientData) = 0;
    virtual HRESULT GetStringLayout2(ULONG* pStringLengthOffset, ULONG* pBufferOffset) = 0;
    virtual HRESULT SetEnterLeaveFunctionHooks3(FunctionEnter3* pFuncEnter3, FunctionLeave3* pFuncLeave3,
                                                FunctionTailcall3* pFuncTailcall3) = 0;
    virtual HRESULT SetEnterLeaveFunctionHooks3WithInfo(FunctionEnter3WithInfo* pFuncEnter3WithInfo,
                                                        FunctionLeave3WithInfo* pFuncLeave3WithInfo,
                                                        FunctionTailcall3WithInfo* pFuncTailcall3WithInfo) = 0;
    virtual HRESULT GetFunctionEnter3Info(FunctionID functionId, COR_PRF_ELT_INFO eltInfo,
                                          COR_PRF_FRAME_INFO* pFrameInfo, ULONG* pcbArgumentInfo,
                                          COR_PRF_FUNCTION_ARGUMENT_INFO* pArgumentInfo) = 0;
    virtual HRESULT GetFunctionLeave3Info(FunctionID functionId, COR_PRF_ELT_INFO eltInfo,
                                          COR_PRF_FRAME_INFO* pFrameInfo,
                                          COR_PRF_FUNCTION_ARGUMENT_RANGE* pRetvalRange) = 0;
    virtual HRESULT GetFunctionTailcall3Info(FunctionID functionId, COR_PRF_ELT_INFO eltInfo,
                                             COR_PRF_FRAME_INFO* pFrameInfo) = 0;
    virtual HRESULT EnumModules(ICorProfilerModuleEnum** ppEnum) = 0;
    virtual HRESULT GetRuntimeInformation(USHORT* pClrInstanceId, COR_PRF_RUNTIME_TYPE* pRuntimeType,
                                          USHORT* pMajorVersion, USHORT* pMinorVersion, USHORT* pBuildNumber,
                                          USHORT* pQFEVersion, ULONG cchVersionString, ULONG* pcchVersionString,
                                          WCHAR szVersionString[]) = 0;
    virtual HRESULT GetThreadStaticAddress2(ClassID classId, mdFieldDef fieldToken, AppDomainID appDomainId,
                                            ThreadID threadId, void** ppAddress) = 0;
    virtual HRESULT GetAppDomainsContainingModule(ModuleID moduleId, ULONG32 cAppDomainIds, ULONG32* pcAppDomainIds,
                                                  AppDomainID appDomainIds[]) = 0;
    virtual HRESULT GetModuleInfo2(ModuleID moduleId, LPCBYTE* ppBaseLoadAddress, ULONG cchName, ULONG* pcchName,
                                   WCHAR szName[], AssemblyID* pAssemblyId, DWORD* pdwModuleFlags) = 0;
};

class ICorProfilerInfo4 : public ICorProfilerInfo3 {
public:
    virtual HRESULT EnumThreads(ICorProfilerThreadEnum** ppEnum) = 0;
    virtual HRESULT InitializeCurrentThread() = 0;
    virtual HRESULT RequestReJIT(ULONG cFunctions, ModuleID moduleIds[], mdMethodDef methodIds[]) = 0;
    virtual HRESULT RequestRevert(ULONG cFunctions, ModuleID moduleIds[], mdMethodDef methodIds[],
                                  HRESULT status[]) = 0;
    virtual HRESULT GetCodeInfo3(FunctionID functionID, ReJITID reJitId, ULONG32 cCodeInfos, ULONG32* pcCodeInfos,
                                 COR_PRF_CODE_INFO codeInfos[]) = 0;
    virtual HRESULT GetFunctionFromIP2(LPCBYTE ip, FunctionID* pFunctionId, ReJITID* pReJitId) = 0;
    virtual HRESULT GetReJITIDs(FunctionID functionId, ULONG cReJitIds, ULONG* pcReJitIds, ReJITID reJitIds[]) = 0;
    virtual HRESULT GetILToNativeMapping2(FunctionID functionId, ReJITID reJitId, ULONG32 cMap, ULONG32* pcMap,
                                          COR_DEBUG_IL_TO_NATIVE_MAP map[]) = 0;
    virtual HRESULT EnumJITedFunctions2(ICorProfilerFunctionEnum** ppEnum) = 0;
    virtual HRESULT GetObjectSize2(ObjectID objectId, SIZE_T* pcSize) = 0;
};

class ICorProfilerInfo5 : public ICorProfilerInfo4 {
public:
    virtual HRESULT GetEventMask2(DWORD* pdwEventsLow, DWORD* pdwEventsHigh) = 0;
    virtual HRESULT SetEventMask2(DWORD dwEventsLow, DWORD dwEventsHigh) = 0;
};

class ICorProfilerInfo6 : public ICorProfilerInfo5 {
public:
    virtual HRESULT EnumNgenModuleMethodsInliningThisMethod(ModuleID inlinersModuleId, ModuleID inlineeModuleId,
                                                            mdMethodDef inlineeMethodId, BOOL* incompleteData,
                                                            ICorProfilerMethodEnum** ppEnum) = 0;
};

class ICorProfilerInfo7 : public ICorProfilerInfo6 {
public:
    // Makes metadata defined after the module's load visible to the runtime.
    virtual HRESULT ApplyMetaData(ModuleID moduleId) = 0;
    virtual HRESULT GetInMemorySymbolsLength(ModuleID moduleId, DWORD* pCountSymbolBytes) = 0;
    virtual HRESULT ReadInMemorySymbols(ModuleID moduleId, DWORD symbolsReadOffset, BYTE* pSymbolBytes,
                                        DWORD countSymbolBytes, DWORD* pCountSymbolBytesRead) = 0;
};

// {28B5557D-3F3F-48B4-90B2-5F9EEA2F6C48}
inline constexpr IID IID_ICorProfilerInfo = {
    0x28B5557D, 0x3F3F, 0x48B4, {0x90, 0xB2, 0x5F, 0x9E, 0xEA, 0x2F, 0x6C, 0x48}};
// {CC0935CD-A518-487D-B0BB-A93214E65478}
inline constexpr IID IID_ICorProfilerInfo2 = {
    0xCC0935CD, 0xA518, 0x487D, {0xB0, 0xBB, 0xA9, 0x32, 0x14, 0xE6, 0x54, 0x78}};
// {B555ED4F-452A-4E54-8B39-B5360BAD32A0}
inline constexpr IID IID_ICorProfilerInfo3 = {
    0xB555ED4F, 0x452A, 0x4E54, {0x8B, 0x39, 0xB5, 0x36, 0x0B, 0xAD, 0x32, 0xA0}};
// {0D8FDCAA-6257-47BF-B1BF-94DAC88466EE}
inline constexpr IID IID_ICorProfilerInfo4 = {
    0x0D8FDCAA, 0x6257, 0x47BF, {0xB1, 0xBF, 0x94, 0xDA, 0xC8, 0x84, 0x66, 0xEE}};
// {07602928-CE38-4B83-81E7-74ADAF781214}
inline constexpr IID IID_ICorProfilerInfo5 = {
    0x07602928, 0xCE38, 0x4B83, {0x81, 0xE7, 0x74, 0xAD, 0xAF, 0x78, 0x12, 0x14}};
// {F30A070D-BFFB-46A7-B1D8-8781EF7B698A}
inline constexpr IID IID_ICorProfilerInfo6 = {
    0xF30A070D, 0xBFFB, 0x46A7, {0xB1, 0xD8, 0x87, 0x81, 0xEF, 0x7B, 0x69, 0x8A}};
// {9AEECC0D-63E0-4187-8C00-E312F503F663}
inline constexpr IID IID_ICorProfilerInfo7 = {
    0x9AEECC0D, 0x63E0, 0x4187, {0x8C, 0x00, 0xE3, 0x12, 0xF5, 0x03, 0xF6, 0x63}};
