#include "profiler/skip_instrumentation.h"

#include "metadata/sig_parser.h"

namespace {

constexpr uint8_t generic_calling_convention = 0x10;
constexpr uint8_t element_type_var = 0x13;
constexpr uint8_t element_type_typedbyref = 0x16;
constexpr uint8_t element_type_mvar = 0x1E;
// Bits VAR, TYPEDBYREF and MVAR over element types 0..30.
constexpr uint32_t unwrappable_parameter_types =
    (1u << element_type_var) | (1u << element_type_typedbyref) | (1u << element_type_mvar);
static_assert(unwrappable_parameter_types == 0x40480000);

}  // namespace

int SkipInstrumentation(method_info method) {
    if (method.signature == nullptr || method.signature_size == 0) return 1;
    SigParser parser;
    // A signature the parser cannot read could not be wrapped either.
    if (!parser.Parse(method.signature, method.signature_size)) return 1;

    if ((method.signature[0] & generic_calling_convention) != 0) return 1;
    // The return type's lead byte, given a one-byte parameter count.
    if (method.signature_size > 2) {
        const uint8_t return_type = method.signature[2];
        if (return_type == element_type_var || return_type == element_type_mvar) return 1;
    }
    for (const ArgumentMetadata& parameter : parser.GetParsedMethodArguments()) {
        if (parameter.element_type <= 30 && ((unwrappable_parameter_types >> parameter.element_type) & 1u) != 0) return 1;
    }
    return 0;
}
