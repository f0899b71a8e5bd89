// The generic-method check for methods selected by the trace attribute: their
// wrapper packs arguments and the return value with tokens of concrete types, which a
// generic method (or a parameter typed by a generic parameter or a typed reference)
// does not have.
#pragma once

#include "metadata/method_info.h"

// 1 when the method must not be wrapped: a generic method (calling convention bit
// 0x10), a return type starting with VAR or MVAR, a parameter whose type is VAR,
// MVAR or TYPEDBYREF, or a signature that does not parse.
int SkipInstrumentation(method_info method);
