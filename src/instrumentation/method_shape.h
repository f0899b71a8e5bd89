// What the wrapper must know about a method before it emits anything: for `this`,
// every parameter and the return value, how the value is turned into an object
// (nothing, box, or null because it cannot be boxed), whether the prologue may write
// an agent's replacement back, and the reasons for which the method cannot be
// wrapped at all.
//
// The signature is walked in full (ECMA-335 II.23.2.1: generic methods, custom
// modifiers, BYREF, TYPEDBYREF, pointers, function pointers), so the return type is
// never guessed from a fixed byte. A value type is boxed only when its definition
// can be read and shows it is not by-ref-like (boxing Span<T> and the like is
// rejected by the JIT); a generic parameter only when it does not admit by-ref-like
// arguments. When the definition cannot be read the value is passed as null, which
// loses a value but never breaks the method.
//
// Guarantees: reads metadata only; the shapes point into the method's signature
// (owned by the runtime's metadata) and live as long as it. Failing metadata calls
// that decide whether the method can be wrapped are logged at Error through the
// caller's scope and returned; lookups that only refine how a value is packed fall
// back to null on failure. One thread per call.
#pragma once

#include <cstdint>
#include <vector>

#include "il/il_rewriter.h"
#include "logging/wtracing_scope.h"
#include "metadata/method_info.h"
#include "runtime/metadata_import.h"

// How one parameter or the return value becomes an object for the agent.
enum class value_kind : uint8_t {
    none,        // the return of a void method
    reference,   // string, object, class, array, generic class: already an object
    primitive,   // boolean to float64, native int and uint: boxed as the core library type
    value_type,  // a boxable value type: `token`, or a TypeSpec of its bytes when token is 0
    unboxable,   // pointer, function pointer, typed reference, by-ref-like or unreadable value type
};

struct value_shape {
    value_kind kind = value_kind::none;
    bool is_byref = false;
    bool is_typedbyref = false;
    // Lead byte of the type itself (after custom modifiers and BYREF).
    uint8_t element_type = 0;
    // The class or value type named after CLASS or VALUETYPE; 0 for other types.
    mdToken token = 0;
    // The type itself, inside the method's signature.
    const uint8_t* type_bytes = nullptr;
    uint32_t type_size = 0;

    // Whether an agent's replacement may be stored into the argument: a class, object
    // or primitive passed by value. Strings, value types, arrays and instantiations
    // are never replaced; a by-reference parameter is never replaced either (storing
    // an object into the reference slot would corrupt it).
    bool writable() const;
};

struct method_shape {
    bool has_this = false;
    std::vector<value_shape> parameters;
    value_shape return_value;
    // Why the method is left unchanged, or null when it can be wrapped.
    const wchar_t* skip_reason = nullptr;
};

// Reads the method's signature and, for an instance method, its declaring type.
// `corlib` (may be null) lets type references to core library value types be
// checked. A malformed signature is E_FAIL.
HRESULT read_method_shape(IMetaDataImport* import, IMetaDataImport* corlib, const method_info& method,
                          const wtracing_scope& trace, method_shape* shape);

// Why an imported body cannot be wrapped, or null: no `ret` at all, a `tail.` or
// `jmp`, a clause or branch that ends at the very end of the code, or a call of the
// agent's GenericPrologue (the body was wrapped already). Reads the callees' names
// through the rewriter's metadata.
const wchar_t* body_skip_reason(ILRewriter& rewriter);
