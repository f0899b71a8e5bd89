// Rewrites one imported method body so that, at run time, it
// 1. registers itself once with the agent under a process-wide id, packs `this` and
//    its arguments into an object array and calls GenericPrologue; arguments the
//    agent replaces (by listing their indexes) are stored back before the method's
//    own code runs;
// 2. leaves through one common `ret`, every exit storing the return value first;
// 3. reports an escaping exception to the agent's Error and rethrows it;
// 4. always calls GenericEpilogue from a finally handler, with the arguments as they
//    are at exit and the return value.
// Injected prologue and epilogue code sits in its own try/catch, so an agent that
// throws changes nothing the method computes. The layout, top to bottom: finally try
// start, rethrow try start, the prologue in its try/catch, the method's own code, the
// end marker, the rethrow handler, the finally handler (Log, the epilogue in its
// try/catch, endfinally), the common exit (`ldloc` of the return local, `ret`).
//
// Guarantees: a failing step is logged at Error through the caller's scope and
// returned at once, and nothing is installed; the method id taken is not given back.
// Local and argument operands take the one-byte forms while the index fits and the
// two-byte forms beyond. The method's own clauses keep their order and come first;
// the appended ones follow, each after every clause nested in it (ECMA-335 II.19).
// Metadata defined during the wrapping is applied (ICorProfilerInfo7::ApplyMetaData,
// when the runtime offers it) before the body is installed. Several threads may wrap
// different methods at once; the only shared state is methodCounter (atomic).
#pragma once

#include <cstdint>
#include <vector>

#include "il/il_rewriter.h"
#include "instrumentation/agent_references.h"
#include "instrumentation/method_shape.h"
#include "logging/wtracing_scope.h"
#include "metadata/method_info.h"

// What the emitters of one wrapping share.
struct wrap_context {
    ILRewriter& rewriter;
    const method_info& method;
    const method_shape& shape;
    const agent_references& refs;
    const wtracing_scope& trace;
    // Per parameter, the token that boxes (and for a primitive unboxes) its value; 0
    // when the value is passed as it is or as null.
    std::vector<mdToken> parameter_box_tokens;
    mdToken return_box_token = 0;
};

// Wraps the body imported into `rewriter` (whose metadata interfaces are set) and
// installs it. `shape` must have no skip reason and the body must pass
// body_skip_reason. `selection` is passed to RegisterMethod (0 target table, 1 trace
// attribute).
HRESULT wrap_method_body(ICorProfilerInfo* info, const method_info& method, ILRewriter& rewriter,
                         const method_shape& shape, const agent_references& refs, int selection,
                         const wtracing_scope& trace);

// The pieces, in the order wrap_method_body applies them.
HRESULT resolve_box_tokens(wrap_context& context);
HRESULT EmitPrologue(const wrap_context& context, int32_t method_id, int selection);
// Turns the body's last instruction, when it is a `ret`, into a store of the return
// value, and appends the end marker and the common exit (`ldloc` return local, `ret`).
// A body whose code continues after its last `ret` keeps all of its code before the
// marker, so every original instruction stays inside the protected regions.
HRESULT EmptyEvaluationStack(const wrap_context& context, ILInstr** last_ret, ILInstr** end_marker,
                             uint32_t* return_local);
HRESULT EmitEpilogue(const wrap_context& context, ILInstr* after, uint32_t return_local, int32_t method_id);
