// Summary of one parameter, or of the return type, of a parsed method signature.
// Callers build type tokens from type_table/type_rid (0 TypeDef 0x02000000,
// 1 TypeRef 0x01000000, 2 TypeSpec 0x1B000000) and a type-specification token from
// generic_signature/generic_signature_size, which point into the caller's signature
// blob and are valid only as long as it is.
#pragma once

#include <cstdint>

#include "runtime/com_types.h"

struct ArgumentMetadata {
    bool is_byref = false;    // the parameter starts with BYREF
    bool is_generic = false;  // the parameter's own type is a generic instantiation
    bool is_array = false;    // an array (ARRAY or SZARRAY) occurs anywhere in the type
    uint8_t generic_type_kind = 0;  // VALUETYPE or CLASS, the byte after GENERICINST
    PCCOR_SIGNATURE generic_signature = nullptr;  // the GENERICINST byte
    uint32_t generic_signature_size = 0;  // through the instantiation's last type argument
    uint8_t element_type = 0;  // lead byte of the last type read for this entry
    uint32_t type_rid = 0;     // row of the last CLASS or VALUETYPE type read
    uint8_t type_table = 0;    // its table tag: 0 TypeDef, 1 TypeRef, 2 TypeSpec
};
