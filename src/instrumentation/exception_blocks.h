// The protected regions a wrapped method is built from, made by inserting
// instructions around existing ones and appending clauses (ECMA-335 II.19, III.1.7.5):
// - EmitTryCatchBlock guards injected code; an exception inside is logged through
//   the agent's Log (level 1) and swallowed.
// - EmitRethrowErrorBlock guards the method's own code; an exception is logged
//   (level 4), handed to the agent's Error, and rethrown with `rethrow`, so the caller
//   sees the same object with its original stack trace. A failure of Log or Error
//   is caught and logged (level 1).
// - EmitTryFinallyBlock encloses everything; its handler logs (level 5) and receives
//   the epilogue.
// - RewriteExitPoints turns every `ret` but one into a store of the return value and
//   a `leave` to the common exit behind the finally handler.
//
// Guarantees: the blocks never remove an instruction; every clause they append comes
// after any clause nested in it (inner before outer). Their only runtime call is
// DefineUserString (the texts for Log); a failure is logged at Error and returned, and
// the list must then be discarded. One rewriter, one thread.
#pragma once

#include <cstdint>
#include <string>

#include "il/il_rewriter.h"
#include "logging/wtracing_scope.h"
#include "metadata/method_info.h"

// Return local of a void method.
constexpr uint32_t no_return_local = UINT32_MAX;

// Makes the code from just after `first` to just before `last` a try block with a
// catch of `exception_type` that logs "Failed while attempting to invoke the emitted
// IL within the instruemented method's body. T.M::text".
HRESULT EmitTryCatchBlock(const wtracing_scope& trace, const method_info& method, ILRewriter& rewriter,
                          ILInstr* first, ILInstr* last, mdTypeRef exception_type, mdMemberRef log,
                          const std::wstring& text);

// Makes the code from `first` through `last` a try block with a finally handler that
// logs "[Finally] T.M::text". `epilogue_after` receives the handler's node after which
// the epilogue goes, `end_finally` its endfinally.
HRESULT EmitTryFinallyBlock(const wtracing_scope& trace, const method_info& method, ILRewriter& rewriter,
                            ILInstr* first, ILInstr* last, mdMemberRef log, const std::wstring& text,
                            ILInstr** epilogue_after, ILInstr** end_finally);

// Makes the code after `first` through `last` a try block whose catch reports the
// exception and rethrows it. `last` must be followed by the instruction that the try
// block leaves to. `rethrow` receives the handler's last instruction.
HRESULT EmitRethrowErrorBlock(const wtracing_scope& trace, const method_info& method, ILRewriter& rewriter,
                              ILInstr* first, ILInstr* last, mdTypeRef exception_type, mdMemberRef log,
                              mdMemberRef error, const std::wstring& text, ILInstr** rethrow);

// Every `ret` other than `keep` becomes `leave.s` to the node after `end_finally`
// (void method, `return_local` is no_return_local) or `stloc return_local; nop;
// leave.s` there. Always S_OK.
HRESULT RewriteExitPoints(ILRewriter& rewriter, ILInstr* keep, uint32_t return_local, ILInstr* end_finally);

// The last `ret` of the list, and whether there is more than one; E_FAIL when there
// is none.
HRESULT FindLastExitPoint(ILRewriter& rewriter, ILInstr** last_ret, bool* several);
