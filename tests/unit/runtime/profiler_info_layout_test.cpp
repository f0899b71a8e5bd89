// Slot of every method of the info interfaces the profiler calls on the runtime,
// of the IL body allocator and of the function control. A wrong slot calls a
// different runtime method than the library means, with the wrong arguments.
#include "runtime/profiler_info.h"

#include <gtest/gtest.h>

#include "vtable_slot.h"

namespace {

TEST(ProfilerInfoLayout, EveryMethodSitsInThePublishedSlot) {
    const slot_row rows[] = {
        // ICorProfilerInfo: 33 methods
        SLOT_ROW(ICorProfilerInfo, GetClassFromObject, 3),
        SLOT_ROW(ICorProfilerInfo, GetClassFromToken, 4),
        SLOT_ROW(ICorProfilerInfo, GetCodeInfo, 5),
        SLOT_ROW(ICorProfilerInfo, GetEventMask, 6),
        SLOT_ROW(ICorProfilerInfo, GetFunctionFromIP, 7),
        SLOT_ROW(ICorProfilerInfo, GetFunctionFromToken, 8),
        SLOT_ROW(ICorProfilerInfo, GetHandleFromThread, 9),
        SLOT_ROW(ICorProfilerInfo, GetObjectSize, 10),
        SLOT_ROW(ICorProfilerInfo, IsArrayClass, 11),
        SLOT_ROW(ICorProfilerInfo, GetThreadInfo, 12),
        SLOT_ROW(ICorProfilerInfo, GetCurrentThreadID, 13),
        SLOT_ROW(ICorProfilerInfo, GetClassIDInfo, 14),
        SLOT_ROW(ICorProfilerInfo, GetFunctionInfo, 15),
        SLOT_ROW(ICorProfilerInfo, SetEventMask, 16),
        SLOT_ROW(ICorProfilerInfo, SetEnterLeaveFunctionHooks, 17),
        SLOT_ROW(ICorProfilerInfo, SetFunctionIDMapper, 18),
        SLOT_ROW(ICorProfilerInfo, GetTokenAndMetaDataFromFunction, 19),
        SLOT_ROW(ICorProfilerInfo, GetModuleInfo, 20),
        SLOT_ROW(ICorProfilerInfo, GetModuleMetaData, 21),
        SLOT_ROW(ICorProfilerInfo, GetILFunctionBody, 22),
        SLOT_ROW(ICorProfilerInfo, GetILFunctionBodyAllocator, 23),
        SLOT_ROW(ICorProfilerInfo, SetILFunctionBody, 24),
        SLOT_ROW(ICorProfilerInfo, GetAppDomainInfo, 25),
        SLOT_ROW(ICorProfilerInfo, GetAssemblyInfo, 26),
        SLOT_ROW(ICorProfilerInfo, SetFunctionReJIT, 27),
        SLOT_ROW(ICorProfilerInfo, ForceGC, 28),
        SLOT_ROW(ICorProfilerInfo, SetILInstrumentedCodeMap, 29),
        SLOT_ROW(ICorProfilerInfo, GetInprocInspectionInterface, 30),
        SLOT_ROW(ICorProfilerInfo, GetInprocInspectionIThisThread, 31),
        SLOT_ROW(ICorProfilerInfo, GetThreadContext, 32),
        SLOT_ROW(ICorProfilerInfo, BeginInprocDebugging, 33),
        SLOT_ROW(ICorProfilerInfo, EndInprocDebugging, 34),
        SLOT_ROW(ICorProfilerInfo, GetILToNativeMapping, 35),
        // ICorProfilerInfo2: 21 methods
        SLOT_ROW(ICorProfilerInfo2, DoStackSnapshot, 36),
        SLOT_ROW(ICorProfilerInfo2, SetEnterLeaveFunctionHooks2, 37),
        SLOT_ROW(ICorProfilerInfo2, GetFunctionInfo2, 38),
        SLOT_ROW(ICorProfilerInfo2, GetStringLayout, 39),
        SLOT_ROW(ICorProfilerInfo2, GetClassLayout, 40),
        SLOT_ROW(ICorProfilerInfo2, GetClassIDInfo2, 41),
        SLOT_ROW(ICorProfilerInfo2, GetCodeInfo2, 42),
        SLOT_ROW(ICorProfilerInfo2, GetClassFromTokenAndTypeArgs, 43),
        SLOT_ROW(ICorProfilerInfo2, GetFunctionFromTokenAndTypeArgs, 44),
        SLOT_ROW(ICorProfilerInfo2, EnumModuleFrozenObjects, 45),
        SLOT_ROW(ICorProfilerInfo2, GetArrayObjectInfo, 46),
        SLOT_ROW(ICorProfilerInfo2, GetBoxClassLayout, 47),
        SLOT_ROW(ICorProfilerInfo2, GetThreadAppDomain, 48),
        SLOT_ROW(ICorProfilerInfo2, GetRVAStaticAddress, 49),
        SLOT_ROW(ICorProfilerInfo2, GetAppDomainStaticAddress, 50),
        SLOT_ROW(ICorProfilerInfo2, GetThreadStaticAddress, 51),
        SLOT_ROW(ICorProfilerInfo2, GetContextStaticAddress, 52),
        SLOT_ROW(ICorProfilerInfo2, GetStaticFieldInfo, 53),
        SLOT_ROW(ICorProfilerInfo2, GetGenerationBounds, 54),
        SLOT_ROW(ICorProfilerInfo2, GetObjectGeneration, 55),
        SLOT_ROW(ICorProfilerInfo2, GetNotifiedExceptionClauseInfo, 56),
        // ICorProfilerInfo3: 14 methods
        SLOT_ROW(ICorProfilerInfo3, EnumJITedFunctions, 57),
        SLOT_ROW(ICorProfilerInfo3, RequestProfilerDetach, 58),
        SLOT_ROW(ICorProfilerInfo3, SetFunctionIDMapper2, 59),
        SLOT_ROW(ICorProfilerInfo3, GetStringLayout2, 60),
        SLOT_ROW(ICorProfilerInfo3, SetEnterLeaveFunctionHooks3, 61),
        SLOT_ROW(ICorProfilerInfo3, SetEnterLeaveFunctionHooks3WithInfo, 62),
        SLOT_ROW(ICorProfilerInfo3, GetFunctionEnter3Info, 63),
        SLOT_ROW(ICorProfilerInfo3, GetFunctionLeave3Info, 64),
        SLOT_ROW(ICorProfilerInfo3, GetFunctionTailcall3Info, 65),
        SLOT_ROW(ICorProfilerInfo3, EnumModules, 66),
        SLOT_ROW(ICorProfilerInfo3, GetRuntimeInformation, 67),
        SLOT_ROW(ICorProfilerInfo3, GetThreadStaticAddress2, 68),
        SLOT_ROW(ICorProfilerInfo3, GetAppDomainsContainingModule, 69),
        SLOT_ROW(ICorProfilerInfo3, GetModuleInfo2, 70),
        // ICorProfilerInfo4: 10 methods
        SLOT_ROW(ICorProfilerInfo4, EnumThreads, 71),
        SLOT_ROW(ICorProfilerInfo4, InitializeCurrentThread, 72),
        SLOT_ROW(ICorProfilerInfo4, RequestReJIT, 73),
        SLOT_ROW(ICorProfilerInfo4, RequestRevert, 74),
        SLOT_ROW(ICorProfilerInfo4, GetCodeInfo3, 75),
        SLOT_ROW(ICorProfilerInfo4, GetFunctionFromIP2, 76),
        SLOT_ROW(ICorProfilerInfo4, GetReJITIDs, 77),
        SLOT_ROW(ICorProfilerInfo4, GetILToNativeMapping2, 78),
        SLOT_ROW(ICorProfilerInfo4, EnumJITedFunctions2, 79),
        SLOT_ROW(ICorProfilerInfo4, GetObjectSize2, 80),
        // ICorProfilerInfo5: 2 methods
        SLOT_ROW(ICorProfilerInfo5, GetEventMask2, 81),
        SLOT_ROW(ICorProfilerInfo5, SetEventMask2, 82),
        // ICorProfilerInfo6: 1 methods
        SLOT_ROW(ICorProfilerInfo6, EnumNgenModuleMethodsInliningThisMethod, 83),
        // ICorProfilerInfo7: 3 methods
        SLOT_ROW(ICorProfilerInfo7, ApplyMetaData, 84),
        SLOT_ROW(ICorProfilerInfo7, GetInMemorySymbolsLength, 85),
        SLOT_ROW(ICorProfilerInfo7, ReadInMemorySymbols, 86),
        // IMethodMalloc: 1 methods
        SLOT_ROW(IMethodMalloc, Alloc, 3),
        // ICorProfilerFunctionControl: 3 methods
        SLOT_ROW(ICorProfilerFunctionControl, SetCodegenFlags, 3),
        SLOT_ROW(ICorProfilerFunctionControl, SetILFunctionBody, 4),
        SLOT_ROW(ICorProfilerFunctionControl, SetILInstrumentedCodeMap, 5),
    };
    expect_slots(rows);
}

// The five enumerators share one declaration; one of them stands for all.
TEST(ProfilerInfoLayout, EnumeratorsFollowSkipResetCloneGetCountNext) {
    const slot_row rows[] = {
        SLOT_ROW(ICorProfilerModuleEnum, Skip, 3),
        SLOT_ROW(ICorProfilerModuleEnum, Reset, 4),
        SLOT_ROW(ICorProfilerModuleEnum, Clone, 5),
        SLOT_ROW(ICorProfilerModuleEnum, GetCount, 6),
        SLOT_ROW(ICorProfilerModuleEnum, Next, 7),
    };
    expect_slots(rows);
}

}  // namespace
