// A structural checker of IL bodies for the instrumentation tests: the rules the JIT
// enforces that a wrapped body can break, checked on a rewriter's list.
// - Exception clauses: a clause nested in another's try block or handler comes
//   before it (ECMA-335 II.19).
// - Control flow: no branch or fall-through enters a protected region except at the
//   first instruction of a try block, or leaves one except by `leave`; no fall-through
//   off the end of the code; `ret` stands outside every region, `rethrow` inside a
//   catch handler, `endfinally` inside a finally handler; `tail.` is followed by a
//   call and `ret`.
// - Evaluation stack: one depth at every instruction on every path, never negative;
//   `ret` finds exactly the return value; handlers start with the exception (catch)
//   or nothing (finally). Calls pop and push by their signatures in the module.
// - Local and argument indexes lie within the method's locals and parameters.
// Opcodes outside what the tests use are reported as not modelled rather than guessed.
#pragma once

#include <string>
#include <vector>

#include "il/il_rewriter.h"
#include "support/fake_module.h"

namespace il_check {

// The problems found in the body of `method` (a method of `module`) held by
// `rewriter`, one readable line each; empty when the body is sound.
std::vector<std::string> problems(ILRewriter& rewriter, test_support::fake_module& module, mdMethodDef method);

}  // namespace il_check
