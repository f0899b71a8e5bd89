// Slot of every callback method, in the order the runtime calls them. A wrong
// slot would make the runtime call a different method of ours than it means.
#include "runtime/profiler_callback.h"

#include <gtest/gtest.h>

#include "vtable_slot.h"

namespace {

TEST(ProfilerCallbackLayout, EveryCallbackSitsInThePublishedSlot) {
    const slot_row rows[] = {
        // ICorProfilerCallback: 69 methods
        SLOT_ROW(ICorProfilerCallback, Initialize, 3),
        SLOT_ROW(ICorProfilerCallback, Shutdown, 4),
        SLOT_ROW(ICorProfilerCallback, AppDomainCreationStarted, 5),
        SLOT_ROW(ICorProfilerCallback, AppDomainCreationFinished, 6),
        SLOT_ROW(ICorProfilerCallback, AppDomainShutdownStarted, 7),
        SLOT_ROW(ICorProfilerCallback, AppDomainShutdownFinished, 8),
        SLOT_ROW(ICorProfilerCallback, AssemblyLoadStarted, 9),
        SLOT_ROW(ICorProfilerCallback, AssemblyLoadFinished, 10),
        SLOT_ROW(ICorProfilerCallback, AssemblyUnloadStarted, 11),
        SLOT_ROW(ICorProfilerCallback, AssemblyUnloadFinished, 12),
        SLOT_ROW(ICorProfilerCallback, ModuleLoadStarted, 13),
        SLOT_ROW(ICorProfilerCallback, ModuleLoadFinished, 14),
        SLOT_ROW(ICorProfilerCallback, ModuleUnloadStarted, 15),
        SLOT_ROW(ICorProfilerCallback, ModuleUnloadFinished, 16),
        SLOT_ROW(ICorProfilerCallback, ModuleAttachedToAssembly, 17),
        SLOT_ROW(ICorProfilerCallback, ClassLoadStarted, 18),
        SLOT_ROW(ICorProfilerCallback, ClassLoadFinished, 19),
        SLOT_ROW(ICorProfilerCallback, ClassUnloadStarted, 20),
        SLOT_ROW(ICorProfilerCallback, ClassUnloadFinished, 21),
        SLOT_ROW(ICorProfilerCallback, FunctionUnloadStarted, 22),
        SLOT_ROW(ICorProfilerCallback, JITCompilationStarted, 23),
        SLOT_ROW(ICorProfilerCallback, JITCompilationFinished, 24),
        SLOT_ROW(ICorProfilerCallback, JITCachedFunctionSearchStarted, 25),
        SLOT_ROW(ICorProfilerCallback, JITCachedFunctionSearchFinished, 26),
        SLOT_ROW(ICorProfilerCallback, JITFunctionPitched, 27),
        SLOT_ROW(ICorProfilerCallback, JITInlining, 28),
        SLOT_ROW(ICorProfilerCallback, ThreadCreated, 29),
        SLOT_ROW(ICorProfilerCallback, ThreadDestroyed, 30),
        SLOT_ROW(ICorProfilerCallback, ThreadAssignedToOSThread, 31),
        SLOT_ROW(ICorProfilerCallback, RemotingClientInvocationStarted, 32),
        SLOT_ROW(ICorProfilerCallback, RemotingClientSendingMessage, 33),
        SLOT_ROW(ICorProfilerCallback, RemotingClientReceivingReply, 34),
        SLOT_ROW(ICorProfilerCallback, RemotingClientInvocationFinished, 35),
        SLOT_ROW(ICorProfilerCallback, RemotingServerReceivingMessage, 36),
        SLOT_ROW(ICorProfilerCallback, RemotingServerInvocationStarted, 37),
        SLOT_ROW(ICorProfilerCallback, RemotingServerInvocationReturned, 38),
        SLOT_ROW(ICorProfilerCallback, RemotingServerSendingReply, 39),
        SLOT_ROW(ICorProfilerCallback, UnmanagedToManagedTransition, 40),
        SLOT_ROW(ICorProfilerCallback, ManagedToUnmanagedTransition, 41),
        SLOT_ROW(ICorProfilerCallback, RuntimeSuspendStarted, 42),
        SLOT_ROW(ICorProfilerCallback, RuntimeSuspendFinished, 43),
        SLOT_ROW(ICorProfilerCallback, RuntimeSuspendAborted, 44),
        SLOT_ROW(ICorProfilerCallback, RuntimeResumeStarted, 45),
        SLOT_ROW(ICorProfilerCallback, RuntimeResumeFinished, 46),
        SLOT_ROW(ICorProfilerCallback, RuntimeThreadSuspended, 47),
        SLOT_ROW(ICorProfilerCallback, RuntimeThreadResumed, 48),
        SLOT_ROW(ICorProfilerCallback, MovedReferences, 49),
        SLOT_ROW(ICorProfilerCallback, ObjectAllocated, 50),
        SLOT_ROW(ICorProfilerCallback, ObjectsAllocatedByClass, 51),
        SLOT_ROW(ICorProfilerCallback, ObjectReferences, 52),
        SLOT_ROW(ICorProfilerCallback, RootReferences, 53),
        SLOT_ROW(ICorProfilerCallback, ExceptionThrown, 54),
        SLOT_ROW(ICorProfilerCallback, ExceptionSearchFunctionEnter, 55),
        SLOT_ROW(ICorProfilerCallback, ExceptionSearchFunctionLeave, 56),
        SLOT_ROW(ICorProfilerCallback, ExceptionSearchFilterEnter, 57),
        SLOT_ROW(ICorProfilerCallback, ExceptionSearchFilterLeave, 58),
        SLOT_ROW(ICorProfilerCallback, ExceptionSearchCatcherFound, 59),
        SLOT_ROW(ICorProfilerCallback, ExceptionOSHandlerEnter, 60),
        SLOT_ROW(ICorProfilerCallback, ExceptionOSHandlerLeave, 61),
        SLOT_ROW(ICorProfilerCallback, ExceptionUnwindFunctionEnter, 62),
        SLOT_ROW(ICorProfilerCallback, ExceptionUnwindFunctionLeave, 63),
        SLOT_ROW(ICorProfilerCallback, ExceptionUnwindFinallyEnter, 64),
        SLOT_ROW(ICorProfilerCallback, ExceptionUnwindFinallyLeave, 65),
        SLOT_ROW(ICorProfilerCallback, ExceptionCatcherEnter, 66),
        SLOT_ROW(ICorProfilerCallback, ExceptionCatcherLeave, 67),
        SLOT_ROW(ICorProfilerCallback, COMClassicVTableCreated, 68),
        SLOT_ROW(ICorProfilerCallback, COMClassicVTableDestroyed, 69),
        SLOT_ROW(ICorProfilerCallback, ExceptionCLRCatcherFound, 70),
        SLOT_ROW(ICorProfilerCallback, ExceptionCLRCatcherExecute, 71),
        // ICorProfilerCallback2: 8 methods
        SLOT_ROW(ICorProfilerCallback2, ThreadNameChanged, 72),
        SLOT_ROW(ICorProfilerCallback2, GarbageCollectionStarted, 73),
        SLOT_ROW(ICorProfilerCallback2, SurvivingReferences, 74),
        SLOT_ROW(ICorProfilerCallback2, GarbageCollectionFinished, 75),
        SLOT_ROW(ICorProfilerCallback2, FinalizeableObjectQueued, 76),
        SLOT_ROW(ICorProfilerCallback2, RootReferences2, 77),
        SLOT_ROW(ICorProfilerCallback2, HandleCreated, 78),
        SLOT_ROW(ICorProfilerCallback2, HandleDestroyed, 79),
        // ICorProfilerCallback3: 3 methods
        SLOT_ROW(ICorProfilerCallback3, InitializeForAttach, 80),
        SLOT_ROW(ICorProfilerCallback3, ProfilerAttachComplete, 81),
        SLOT_ROW(ICorProfilerCallback3, ProfilerDetachSucceeded, 82),
    };
    expect_slots(rows);
}

}  // namespace
