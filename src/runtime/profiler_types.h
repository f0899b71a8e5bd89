// Identifiers and value types of the runtime's profiling interface: the opaque
// pointer-sized IDs of functions, classes, modules, threads and objects, the
// COR_PRF_* enumerations that callbacks and info queries exchange, the plain
// structs those queries fill, and the function types of the enter/leave hooks
// and the stack-walk callback.
#pragma once

#include <cstdint>

#include "runtime/com_types.h"
#include "runtime/cor_types.h"

// Every runtime identifier is a pointer-sized value, opaque to the profiler and
// valid only while the runtime says so (a FunctionID dies with its module).
using FunctionID = UINT_PTR;
using ClassID = UINT_PTR;
using ModuleID = UINT_PTR;
using AssemblyID = UINT_PTR;
using AppDomainID = UINT_PTR;
using ThreadID = UINT_PTR;
using ObjectID = UINT_PTR;
using GCHandleID = UINT_PTR;
using ReJITID = UINT_PTR;
using ProcessID = UINT_PTR;
using ContextID = UINT_PTR;
using COR_PRF_FRAME_INFO = UINT_PTR;
using COR_PRF_ELT_INFO = UINT_PTR;

union FunctionIDOrClientID {
    FunctionID functionID;
    UINT_PTR clientID;
};

enum COR_PRF_JIT_CACHE {
    COR_PRF_CACHED_FUNCTION_FOUND = 0,
    COR_PRF_CACHED_FUNCTION_NOT_FOUND = 1,
};

enum COR_PRF_TRANSITION_REASON {
    COR_PRF_TRANSITION_CALL = 0,
    COR_PRF_TRANSITION_RETURN = 1,
};

enum COR_PRF_SUSPEND_REASON {
    COR_PRF_SUSPEND_OTHER = 0,
    COR_PRF_SUSPEND_FOR_GC = 1,
    COR_PRF_SUSPEND_FOR_APPDOMAIN_SHUTDOWN = 2,
    COR_PRF_SUSPEND_FOR_CODE_PITCHING = 3,
    COR_PRF_SUSPEND_FOR_SHUTDOWN = 4,
    COR_PRF_SUSPEND_FOR_INPROC_DEBUGGER = 6,
    COR_PRF_SUSPEND_FOR_GC_PREP = 7,
    COR_PRF_SUSPEND_FOR_REJIT = 8,
    COR_PRF_SUSPEND_FOR_PROFILER = 9,
};

enum COR_PRF_GC_REASON {
    COR_PRF_GC_OTHER = 0,
    COR_PRF_GC_INDUCED = 1,
};

enum COR_PRF_GC_ROOT_KIND {
    COR_PRF_GC_ROOT_OTHER = 0,
    COR_PRF_GC_ROOT_STACK = 1,
    COR_PRF_GC_ROOT_FINALIZER = 2,
    COR_PRF_GC_ROOT_HANDLE = 3,
};

enum COR_PRF_GC_ROOT_FLAGS {
    COR_PRF_GC_ROOT_PINNING = 0x1,
    COR_PRF_GC_ROOT_WEAKREF = 0x2,
    COR_PRF_GC_ROOT_INTERIOR = 0x4,
    COR_PRF_GC_ROOT_REFCOUNTED = 0x8,
};

enum COR_PRF_GC_GENERATION {
    COR_PRF_GC_GEN_0 = 0,
    COR_PRF_GC_GEN_1 = 1,
    COR_PRF_GC_GEN_2 = 2,
    COR_PRF_GC_LARGE_OBJECT_HEAP = 3,
    COR_PRF_GC_PINNED_OBJECT_HEAP = 4,
};

struct COR_PRF_GC_GENERATION_RANGE {
    COR_PRF_GC_GENERATION generation;
    ObjectID rangeStart;
    UINT_PTR rangeLength;
    UINT_PTR rangeLengthReserved;
};

enum COR_PRF_CLAUSE_TYPE {
    COR_PRF_CLAUSE_NONE = 0,
    COR_PRF_CLAUSE_FILTER = 1,
    COR_PRF_CLAUSE_CATCH = 2,
    COR_PRF_CLAUSE_FINALLY = 3,
};

struct COR_PRF_EX_CLAUSE_INFO {
    COR_PRF_CLAUSE_TYPE clauseType;
    UINT_PTR programCounter;
    UINT_PTR framePointer;
    UINT_PTR shadowStackPointer;
};

enum COR_PRF_STATIC_TYPE {
    COR_PRF_FIELD_NOT_A_STATIC = 0x0,
    COR_PRF_FIELD_APP_DOMAIN = 0x1,
    COR_PRF_FIELD_THREAD = 0x2,
    COR_PRF_FIELD_CONTEXT = 0x4,
    COR_PRF_FIELD_RVA = 0x8,
};

enum COR_PRF_RUNTIME_TYPE {
    COR_PRF_DESKTOP_CLR = 0x1,
    COR_PRF_CORE_CLR = 0x2,
};

// Bits of GetModuleInfo2's module flags.
enum COR_PRF_MODULE_FLAGS {
    COR_PRF_MODULE_DISK = 0x1,
    COR_PRF_MODULE_NGEN = 0x2,
    COR_PRF_MODULE_DYNAMIC = 0x4,
    COR_PRF_MODULE_COLLECTIBLE = 0x8,
    COR_PRF_MODULE_RESOURCE = 0x10,
    COR_PRF_MODULE_FLAT_LAYOUT = 0x20,
    COR_PRF_MODULE_WINDOWS_RUNTIME = 0x40,
};

// infoFlags of DoStackSnapshot.
enum COR_PRF_SNAPSHOT_INFO {
    COR_PRF_SNAPSHOT_DEFAULT = 0x0,
    COR_PRF_SNAPSHOT_REGISTER_CONTEXT = 0x1,
    COR_PRF_SNAPSHOT_X86_OPTIMIZED = 0x2,
};

// Flags of ICorProfilerFunctionControl::SetCodegenFlags.
enum COR_PRF_CODEGEN_FLAGS {
    COR_PRF_CODEGEN_DISABLE_INLINING = 0x1,
    COR_PRF_CODEGEN_DISABLE_ALL_OPTIMIZATIONS = 0x2,
};

// One contiguous piece of a function's native code.
struct COR_PRF_CODE_INFO {
    UINT_PTR startAddress;
    SIZE_T size;
};

// Maps an IL offset of the original body to its offset in an instrumented body.
struct COR_IL_MAP {
    ULONG32 oldOffset;
    ULONG32 newOffset;
    BOOL fAccurate;
};

struct COR_DEBUG_IL_TO_NATIVE_MAP {
    ULONG32 ilOffset;
    ULONG32 nativeStartOffset;
    ULONG32 nativeEndOffset;
};

struct COR_PRF_FUNCTION_ARGUMENT_RANGE {
    UINT_PTR startAddress;
    ULONG length;
};

// Variable-length: numRanges entries follow in place of the one declared.
struct COR_PRF_FUNCTION_ARGUMENT_INFO {
    ULONG numRanges;
    ULONG totalArgumentSize;
    COR_PRF_FUNCTION_ARGUMENT_RANGE ranges[1];
};

struct COR_PRF_FUNCTION {
    FunctionID functionId;
    ReJITID reJitId;
};

struct COR_PRF_METHOD {
    ModuleID moduleId;
    mdMethodDef methodId;
};

// Hook and callback function types. The info interface takes pointers to them.
using FunctionEnter = void(FunctionID funcId);
using FunctionLeave = void(FunctionID funcId);
using FunctionTailcall = void(FunctionID funcId);
using FunctionEnter2 = void(FunctionID funcId, UINT_PTR clientData, COR_PRF_FRAME_INFO func,
                            COR_PRF_FUNCTION_ARGUMENT_INFO* argumentInfo);
using FunctionLeave2 = void(FunctionID funcId, UINT_PTR clientData, COR_PRF_FRAME_INFO func,
                           COR_PRF_FUNCTION_ARGUMENT_RANGE* retvalRange);
using FunctionTailcall2 = void(FunctionID funcId, UINT_PTR clientData, COR_PRF_FRAME_INFO func);
using FunctionEnter3 = void(FunctionIDOrClientID functionIDOrClientID);
using FunctionLeave3 = void(FunctionIDOrClientID functionIDOrClientID);
using FunctionTailcall3 = void(FunctionIDOrClientID functionIDOrClientID);
using FunctionEnter3WithInfo = void(FunctionIDOrClientID functionIDOrClientID, COR_PRF_ELT_INFO eltInfo);
using FunctionLeave3WithInfo = void(FunctionIDOrClientID functionIDOrClientID, COR_PRF_ELT_INFO eltInfo);
using FunctionTailcall3WithInfo = void(FunctionIDOrClientID functionIDOrClientID, COR_PRF_ELT_INFO eltInfo);
using FunctionIDMapper = UINT_PTR(FunctionID funcId, BOOL* pbHookFunction);
using FunctionIDMapper2 = UINT_PTR(FunctionID funcId, void* clientData, BOOL* pbHookFunction);
// Called once per managed frame by DoStackSnapshot; a failing status stops the walk.
using StackSnapshotCallback = HRESULT(FunctionID funcId, UINT_PTR ip, COR_PRF_FRAME_INFO frameInfo,
                                      ULONG32 contextSize, BYTE context[], void* clientData);
using ObjectReferenceCallback = BOOL(ObjectID root, ObjectID* reference, void* clientData);

static_assert(sizeof(COR_PRF_JIT_CACHE) == 4 && sizeof(COR_PRF_TRANSITION_REASON) == 4 &&
                  sizeof(COR_PRF_SUSPEND_REASON) == 4 && sizeof(COR_PRF_GC_REASON) == 4 &&
                  sizeof(COR_PRF_GC_ROOT_KIND) == 4 && sizeof(COR_PRF_GC_ROOT_FLAGS) == 4 &&
                  sizeof(COR_PRF_RUNTIME_TYPE) == 4 && sizeof(COR_PRF_STATIC_TYPE) == 4,
              "profiler enumerations cross the ABI as 32-bit values");
static_assert(sizeof(COR_PRF_GC_GENERATION_RANGE) == 32, "COR_PRF_GC_GENERATION_RANGE layout on x86-64");
static_assert(sizeof(COR_PRF_EX_CLAUSE_INFO) == 32, "COR_PRF_EX_CLAUSE_INFO layout on x86-64");
static_assert(sizeof(COR_IL_MAP) == 12, "COR_IL_MAP layout");
static_assert(sizeof(COR_PRF_CODE_INFO) == 16, "COR_PRF_CODE_INFO layout on x86-64");
