// Instruments one method about to be JIT-compiled: defines in the method's module the
// references to the managed tracing agent and the core library, and rewrites the
// method's IL so that the agent sees its arguments, result and exceptions (see
// method_wrapper.h for the shape of the rewritten body).
//
// Guarantees: the body is installed only when every step succeeded; otherwise the
// method keeps its IL. A method the emitters cannot express correctly (a value-type
// `this`, a by-reference return, a body without `ret`, a `tail.` call, ...) is left
// alone with one Debug line naming it and the reason. Nothing thrown inside escapes
// create. An instrumenter lives on the compiling thread's stack for one JIT callback;
// many may run at once on different threads.
#pragma once

#include "logging/wtracing_scope.h"
#include "metadata/method_info.h"
#include "runtime/profiler_info.h"

class method_body_instrumenter {
public:
    method_body_instrumenter();
    ~method_body_instrumenter();
    method_body_instrumenter(const method_body_instrumenter&) = delete;
    method_body_instrumenter& operator=(const method_body_instrumenter&) = delete;

    // S_OK: the body was rewritten and installed. S_FALSE: left unchanged on purpose (a
    // hazard the emitters cannot express; one Debug line names the method and reason).
    // A failure: left unchanged, logged at Error.
    // `selection` reaches the agent's RegisterMethod: 0 for a target-table match, 1 for
    // a method carrying the trace attribute.
    HRESULT create(ICorProfilerInfo* info, method_info* method, int selection);
    // Defines the references and wraps the body; create's work without its scope
    // naming, final log line and exception boundary.
    HRESULT emit_prologue_epilogue_il(ICorProfilerInfo* info, method_info* method, int selection);

    // Records the core library's module (the first "mscorlib" or
    // "System.Private.CoreLib" module to load).
    static void SetMscorlibId(ModuleID module);

    // Loader bootstrap (startup_il.cpp)
    // Makes the method load the managed loader before its own code (see startup_il.h).
    // E_POINTER for a null argument; otherwise the status of emit_startup_il, a failure
    // logged at Error. Nothing thrown inside escapes.
    HRESULT create_startup(ICorProfilerInfo* info, method_info* method);
    HRESULT emit_startup_il(ICorProfilerInfo* info, method_info* method);
    // End of loader bootstrap.

private:
    ICorProfilerInfo* profiler_info_ = nullptr;  // borrowed
    method_info* method_ = nullptr;              // borrowed
    wtracing_scope trace_;
};

// Stores the core library's module in ILRewriter::m_mscorlibModuleId.
void set_mscorlib_Id(ModuleID module);
