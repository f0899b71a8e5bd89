// A small IL toolkit of simpler instrumentation than the method wrapper: enter and exit
// probes that pass a method's module, token and a number to a managed helper, a
// generated body for such a helper, and a whole-body try/catch that hands any
// exception to a handler method. The JIT dispatch does not use them.
//
// The probe sequence for (module M, token T, n, local v, method m) is
//     ldc.i4 M (its low 32 bits); ldc.i4 T; ldc.i4 n; stloc v; ldloc v; call m
// with the two-byte stloc/ldloc forms; each probe raises the rewriter's stack bound by
// five. `m` must take three int32 and return nothing.
//
// Guarantees: the functions that install a body install it only when every step
// succeeded and return the first failing status; they log nothing. One thread per
// rewriter.
#pragma once

#include <cstdint>

#include "il/il_rewriter.h"
#include "runtime/profiler_info.h"

// Does nothing; a native target for managed code that wants to hand an object over.
void UnmanagedInspectObject(void* object);

// Inserts the probe sequence before `before`. Always S_OK.
HRESULT AddProbe(ILRewriter* rewriter, ModuleID module, mdMethodDef method, int32_t n, uint32_t local,
                 mdToken probe_method, ILInstr* before);
// Inserts the probe sequence before the first instruction. Always S_OK.
HRESULT AddEnterProbe(ILRewriter* rewriter, ModuleID module, mdMethodDef method, int32_t n, uint32_t local,
                      mdToken probe_method);
// At every `ret`: the `ret` becomes `nop`, followed by the probe sequence and a new
// `ret`. E_FAIL, changing nothing, when the body has no `ret`.
HRESULT AddExitProbe(ILRewriter* rewriter, ModuleID module, mdMethodDef method, int32_t n, uint32_t local,
                     mdToken probe_method);

// Re-installs the method's body, with an enter probe calling `enter_method` and exit
// probes calling `exit_method` when n is not 0. With a function control (a ReJIT
// request) the body is handed over through it.
HRESULT RewriteIL(ICorProfilerInfo* info, ICorProfilerFunctionControl* function_control, ModuleID module,
                  mdMethodDef method, int32_t n, mdToken enter_method, mdToken exit_method);

// Gives the helper method `method` (an instance method taking two arguments) the body
//     nop; ldarg.0; conv.u8; call m1; ldarg.1; ldarg.2; call m2; nop; ret
// with a tiny header and no locals, without reading its old body.
HRESULT SetILForManagedHelper(ICorProfilerInfo* info, ModuleID module, mdMethodDef method, mdToken m1, mdToken m2);

// Wraps the whole body in a try/catch of System.Exception whose handler passes the
// exception to `handler_method` (static void (System.Exception)). Only a void method
// whose one `ret` is its last instruction can be wrapped so (the try must be left
// with the stack empty, and no `ret` may stand inside it); any other body is left
// unchanged and the result is S_FALSE.
HRESULT wrap_in_try_catch(ICorProfilerInfo* info, ModuleID module, mdMethodDef method, mdToken handler_method);
