// The callback interfaces the runtime calls on a profiler: ICorProfilerCallback
// (69 methods), ICorProfilerCallback2 (8) and ICorProfilerCallback3 (3), one
// inheritance chain, with their interface identifiers. Declaration order is the
// vtable order the runtime calls through; never reorder, insert or add a virtual
// destructor (each would shift every later slot).
#pragma once

#include "runtime/com_types.h"
#include "runtime/profiler_types.h"

class ICorProfilerCallback : public IUnknown {
public:
    virtual HRESULT Initialize(IUnknown* pICorProfilerInfoUnk) = 0;
    virtual HRESULT Shutdown() = 0;
    virtual HRESULT AppDomainCreationStarted(AppDomainID appDomainId) = 0;
    virtual HRESULT AppDomainCreationFinished(AppDomainID appDomainId, HRESULT hrStatus) = 0;
    virtual HRESULT AppDomainShutdownStarted(AppDomainID appDomainId) = 0;
    virtual HRESULT AppDomainShutdownFinished(AppDomainID appDomainId, HRESULT hrStatus) = 0;
    virtual HRESULT AssemblyLoadStarted(AssemblyID assemblyId) = 0;
    virtual HRESULT AssemblyLoadFinished(AssemblyID assemblyId, HRESULT hrStatus) = 0;
    virtual HRESULT AssemblyUnloadStarted(AssemblyID assemblyId) = 0;
    virtual HRESULT AssemblyUnloadFinished(AssemblyID assemblyId, HRESULT hrStatus) = 0;
    virtual HRESULT ModuleLoadStarted(ModuleID moduleId) = 0;
    virtual HRESULT ModuleLoadFinished(ModuleID moduleId, HRESULT hrStatus) = 0;
    virtual HRESULT ModuleUnloadStarted(ModuleID moduleId) = 0;
    virtual HRESULT ModuleUnloadFinished(ModuleID moduleId, HRESULT hrStatus) = 0;
    virtual HRESULT ModuleAttachedToAssembly(ModuleID moduleId, AssemblyID assemblyId) = 0;
    virtual HRESULT ClassLoadStarted(ClassID classId) = 0;
    virtual HRESULT ClassLoadFinished(ClassID classId, HRESULT hrStatus) = 0;
    virtual HRESULT ClassUnloadStarted(ClassID classId) = 0;
    virtual HRESULT ClassUnloadFinished(ClassID classId, HRESULT hrStatus) = 0;
    virtual HRESULT FunctionUnloadStarted(FunctionID functionId) = 0;
    virtual HRESULT JITCompilationStarted(FunctionID functionId, BOOL fIsSafeToBlock) = 0;
    virtual HRESULT JITCompilationFinished(FunctionID functionId, HRESULT hrStatus, BOOL fIsSafeToBlock) = 0;
    virtual HRESULT JITCachedFunctionSearchStarted(FunctionID functionId, BOOL* pbUseCachedFunction) = 0;
    virtual HRESULT JITCachedFunctionSearchFinished(FunctionID functionId, COR_PRF_JIT_CACHE result) = 0;
    virtual HRESULT JITFunctionPitched(FunctionID functionId) = 0;
    virtual HRESULT JITInlining(FunctionID callerId, FunctionID calleeId, BOOL* pfShouldInline) = 0;
    virtual HRESULT ThreadCreated(ThreadID threadId) = 0;
    virtual HRESULT ThreadDestroyed(ThreadID threadId) = 0;
    virtual HRESULT ThreadAssignedToOSThread(ThreadID managedThreadId, DWORD osThreadId) = 0;
    virtual HRESULT RemotingClientInvocationStarted() = 0;
    virtual HRESULT RemotingClientSendingMessage(GUID* pCookie, BOOL fIsAsync) = 0;
    virtual HRESULT RemotingClientReceivingReply(GUID* pCookie, BOOL fIsAsync) = 0;
    virtual HRESULT RemotingClientInvocationFinished() = 0;
    virtual HRESULT RemotingServerReceivingMessage(GUID* pCookie, BOOL fIsAsync) = 0;
    virtual HRESULT RemotingServerInvocationStarted() = 0;
    virtual HRESULT RemotingServerInvocationReturned() = 0;
    virtual HRESULT RemotingServerSendingReply(GUID* pCookie, BOOL fIsAsync) = 0;
    virtual HRESULT UnmanagedToManagedTransition(FunctionID functionId, COR_PRF_TRANSITION_REASON reason) = 0;
    virtual HRESULT ManagedToUnmanagedTransition(FunctionID functionId, COR_PRF_TRANSITION_REASON reason) = 0;
    virtual HRESULT RuntimeSuspendStarted(COR_PRF_SUSPEND_REASON suspendReason) = 0;
    virtual HRESULT RuntimeSuspendFinished() = 0;
    virtual HRESULT RuntimeSuspendAborted() = 0;
    virtual HRESULT RuntimeResumeStarted() = 0;
    virtual HRESULT RuntimeResumeFinished() = 0;
    virtual HRESULT RuntimeThreadSuspended(ThreadID threadId) = 0;
    virtual HRESULT RuntimeThreadResumed(ThreadID threadId) = 0;
    virtual HRESULT MovedReferences(ULONG cMovedObjectIDRanges, ObjectID oldObjectIDRangeStart[],
                                    ObjectID newObjectIDRangeStart[], ULONG cObjectIDRangeLength[]) = 0;
    virtual HRESULT ObjectAllocated(ObjectID objectId, ClassID classId) = 0;
    virtual HRESULT ObjectsAllocatedByClass(ULONG cClassCount, ClassID classIds[], ULONG cObjects[]) = 0;
    virtual HRESULT ObjectReferences(ObjectID objectId, ClassID classId, ULONG cObjectRefs,
                                     ObjectID objectRefIds[]) = 0;
    virtual HRESULT RootReferences(ULONG cRootRefs, ObjectID rootRefIds[]) = 0;
    virtual HRESULT ExceptionThrown(ObjectID thrownObjectId) = 0;
    virtual HRESULT ExceptionSearchFunctionEnter(FunctionID functionId) = 0;
    virtual HRESULT ExceptionSearchFunctionLeave() = 0;
    virtual HRESULT ExceptionSearchFilterEnter(FunctionID functionId) = 0;
    virtual HRESULT ExceptionSearchFilterLeave() = 0;
    virtual HRESULT ExceptionSearchCatcherFound(FunctionID functionId) = 0;
    virtual HRESULT ExceptionOSHandlerEnter(UINT_PTR unused) = 0;
    virtual HRESULT ExceptionOSHandlerLeave(UINT_PTR unused) = 0;
    virtual HRESULT ExceptionUnwindFunctionEnter(FunctionID functionId) = 0;
    virtual HRESULT ExceptionUnwindFunctionLeave() = 0;
    virtual HRESULT ExceptionUnwindFinallyEnter(FunctionID functionId) = 0;
    virtual HRESULT ExceptionUnwindFinallyLeave() = 0;
    virtual HRESULT ExceptionCatcherEnter(FunctionID functionId, ObjectID objectId) = 0;
    virtual HRESULT ExceptionCatcherLeave() = 0;
    virtual HRESULT COMClassicVTableCreated(ClassID wrappedClassId, REFGUID implementedIID, void* pVTable,
                                            ULONG cSlots) = 0;
    virtual HRESULT COMClassicVTableDestroyed(ClassID wrappedClassId, REFGUID implementedIID, void* pVTable) = 0;
    virtual HRESULT ExceptionCLRCatcherFound() = 0;
    virtual HRESULT ExceptionCLRCatcherExecute() = 0;
};

class ICorProfilerCallback2 : public ICorProfilerCallback {
public:
    virtual HRESULT ThreadNameChanged(ThreadID threadId, ULONG cchName, WCHAR name[]) = 0;
    virtual HRESULT GarbageCollectionStarted(int cGenerations, BOOL generationCollected[],
                                             COR_PRF_GC_REASON reason) = 0;
    virtual HRESULT SurvivingReferences(ULONG cSurvivingObjectIDRanges, ObjectID objectIDRangeStart[],
                                        ULONG cObjectIDRangeLength[]) = 0;
    virtual HRESULT GarbageCollectionFinished() = 0;
    virtual HRESULT FinalizeableObjectQueued(DWORD finalizerFlags, ObjectID objectID) = 0;
    virtual HRESULT RootReferences2(ULONG cRootRefs, ObjectID rootRefIds[], COR_PRF_GC_ROOT_KIND rootKinds[],
                                    COR_PRF_GC_ROOT_FLAGS rootFlags[], UINT_PTR rootIds[]) = 0;
    virtual HRESULT HandleCreated(GCHandleID handleId, ObjectID initialObjectId) = 0;
    virtual HRESULT HandleDestroyed(GCHandleID handleId) = 0;
};

class ICorProfilerCallback3 : public ICorProfilerCallback2 {
public:
    virtual HRESULT InitializeForAttach(IUnknown* pCorProfilerInfoUnk, void* pvClientData, UINT cbClientData) = 0;
    virtual HRESULT ProfilerAttachComplete() = 0;
    virtual HRESULT ProfilerDetachSucceeded() = 0;
};

// {176FBED1-A55C-4796-98CA-A9DA0EF883E7}
inline constexpr IID IID_ICorProfilerCallback = {
    0x176FBED1, 0xA55C, 0x4796, {0x98, 0xCA, 0xA9, 0xDA, 0x0E, 0xF8, 0x83, 0xE7}};
// {8A8CC829-CCF2-49FE-BBAE-0F022228071A}
inline constexpr IID IID_ICorProfilerCallback2 = {
    0x8A8CC829, 0xCCF2, 0x49FE, {0xBB, 0xAE, 0x0F, 0x02, 0x22, 0x28, 0x07, 0x1A}};
// {4FD2ED52-7731-4B8D-9469-03D2CC3086C5}
inline constexpr IID IID_ICorProfilerCallback3 = {
    0x4FD2ED52, 0x7731, 0x4B8D, {0x94, 0x69, 0x03, 0xD2, 0xCC, 0x30, 0x86, 0xC5}};
