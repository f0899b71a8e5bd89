#include "metadata/sig_parser.h"

#include "runtime/cor_types.h"

namespace {

constexpr uint8_t element_type_pinned = ELEMENT_TYPE_PINNED;
constexpr uint8_t element_type_sentinel = ELEMENT_TYPE_SENTINEL;

bool is_custom_mod(uint8_t value) { return value == ELEMENT_TYPE_CMOD_REQD || value == ELEMENT_TYPE_CMOD_OPT; }

// Counts one open ParseType call for the life of the guard.
class nesting_guard {
public:
    explicit nesting_guard(uint32_t& depth) : depth_(depth) { ++depth_; }
    ~nesting_guard() { --depth_; }
    nesting_guard(const nesting_guard&) = delete;
    nesting_guard& operator=(const nesting_guard&) = delete;

private:
    uint32_t& depth_;
};

}  // namespace

bool SigParser::Parse(PCCOR_SIGNATURE blob, ULONG length) {
    start = blob;
    position = blob;
    end = blob + length;
    uint8_t kind_byte = 0;
    if (blob == nullptr || !ParseByte(&kind_byte)) {
        return false;
    }
    switch (kind_byte & IMAGE_CEE_CS_CALLCONV_MASK) {
    case IMAGE_CEE_CS_CALLCONV_DEFAULT:
    case IMAGE_CEE_CS_CALLCONV_C:
    case IMAGE_CEE_CS_CALLCONV_STDCALL:
    case IMAGE_CEE_CS_CALLCONV_THISCALL:
    case IMAGE_CEE_CS_CALLCONV_FASTCALL:
    case IMAGE_CEE_CS_CALLCONV_VARARG:
        instance_method = (kind_byte & IMAGE_CEE_CS_CALLCONV_HASTHIS) != 0;
        return ParseMethod(kind_byte);
    case IMAGE_CEE_CS_CALLCONV_FIELD:
        return ParseField(kind_byte);
    case IMAGE_CEE_CS_CALLCONV_LOCAL_SIG:
        return ParseLocals(kind_byte);
    case IMAGE_CEE_CS_CALLCONV_PROPERTY:
        return ParseProperty(kind_byte);
    default:
        return false;
    }
}

bool SigParser::peek(uint8_t* out) const {
    if (at_end()) {
        return false;
    }
    *out = *position;
    return true;
}

bool SigParser::next_is_custom_mod() const {
    uint8_t next = 0;
    return peek(&next) && is_custom_mod(next);
}

bool SigParser::ParseByte(uint8_t* out) {
    if (!peek(out)) {
        return false;
    }
    ++position;
    return true;
}

// Compressed unsigned integer (II.23.2): 1, 2 or 4 bytes, big-endian, the width given
// by the top bits of the lead byte.
bool SigParser::ParseNumber(ULONG* out) {
    uint8_t lead = 0;
    if (!ParseByte(&lead)) {
        return false;
    }
    if ((lead & 0x80) == 0) {
        *out = lead;
        return true;
    }
    if ((lead & 0xC0) == 0x80) {
        uint8_t b1 = 0;
        if (!ParseByte(&b1)) {
            return false;
        }
        *out = (ULONG{lead} & 0x3F) << 8 | b1;
        return true;
    }
    if ((lead & 0xE0) == 0xC0) {
        uint8_t b1 = 0, b2 = 0, b3 = 0;
        if (!ParseByte(&b1) || !ParseByte(&b2) || !ParseByte(&b3)) {
            return false;
        }
        *out = (ULONG{lead} & 0x1F) << 24 | ULONG{b1} << 16 | ULONG{b2} << 8 | b3;
        return true;
    }
    return false;  // 111xxxxx, 0xFF included
}

// TypeDefOrRefOrSpecEncoded (II.23.2.8): the table tag in the low two bits. A tag of
// 3 is passed on as it is.
bool SigParser::ParseTypeDefOrRefEncoded(uint8_t* table, ULONG* index) {
    ULONG value = 0;
    if (!ParseNumber(&value)) {
        return false;
    }
    *table = static_cast<uint8_t>(value & 0x3);
    *index = value >> 2;
    return true;
}

bool SigParser::ParseMethod(uint8_t calling_convention) {
    NotifyBeginMethod(calling_convention);
    if ((calling_convention & IMAGE_CEE_CS_CALLCONV_GENERIC) != 0) {
        ULONG generic_count = 0;
        if (!ParseNumber(&generic_count)) {
            return false;
        }
        NotifyGenericParamCount(generic_count);
    }
    ULONG param_count = 0;
    if (!ParseNumber(&param_count)) {
        return false;
    }
    NotifyParamCount(param_count);
    if (!ParseRetType()) {
        return false;
    }
    parsed_return_argument = current_argument;

    bool sentinel_seen = false;
    for (ULONG i = 0; i < param_count; ++i) {
        uint8_t next = 0;
        if (!peek(&next)) {
            return false;
        }
        if (next == element_type_sentinel) {
            if (sentinel_seen) {
                return false;
            }
            NotifySentinal();
            ++position;
            sentinel_seen = true;
        }
        if (!ParseParam()) {
            return false;
        }
        parsed_method_arguments.push_back(current_argument);
    }
    NotifyEndMethod();
    return true;
}

bool SigParser::ParseField(uint8_t field_byte) {
    NotifyBeginField(field_byte);
    if (!ParseOptionalCustomMods() || !ParseType()) {
        return false;
    }
    NotifyEndField();
    return true;
}

bool SigParser::ParseLocals(uint8_t locals_byte) {
    NotifyBeginLocals(locals_byte);
    ULONG count = 0;
    if (!ParseNumber(&count)) {
        return false;
    }
    NotifyLocalsCount(count);
    for (ULONG i = 0; i < count; ++i) {
        if (!ParseLocal()) {
            return false;
        }
    }
    NotifyEndLocals();
    return true;
}

// PropertySig (II.23.2.5): parameters are walked as a method's are, but produce no
// records.
bool SigParser::ParseProperty(uint8_t property_byte) {
    NotifyBeginProperty(property_byte);
    ULONG count = 0;
    if (!ParseNumber(&count)) {
        return false;
    }
    NotifyParamCount(count);
    if (!ParseOptionalCustomMods() || !ParseType()) {
        return false;
    }
    for (ULONG i = 0; i < count; ++i) {
        if (!ParseParam()) {
            return false;
        }
    }
    NotifyEndProperty();
    return true;
}

// The return type leaves current_argument as the type rule wrote it (VOID and
// TYPEDBYREF write nothing); callers learn the return kind from the signature byte.
bool SigParser::ParseRetType() {
    NotifyBeginRetType();
    if (!ParseOptionalCustomMods()) {
        return false;
    }
    uint8_t next = 0;
    if (peek(&next) && next == ELEMENT_TYPE_VOID) {
        NotifyVoid();
        ++position;
    } else if (peek(&next) && next == ELEMENT_TYPE_TYPEDBYREF) {
        NotifyTypedByref();
        ++position;
    } else {
        if (peek(&next) && next == ELEMENT_TYPE_BYREF) {
            NotifyByref();
            ++position;
        }
        if (!ParseType()) {
            return false;
        }
    }
    NotifyEndRetType();
    return true;
}

bool SigParser::ParseParam() {
    current_argument.is_byref = false;
    current_argument.is_generic = false;
    current_argument.is_array = false;
    current_argument.generic_type_kind = 0;
    current_argument.generic_signature = nullptr;
    current_argument.generic_signature_size = 0;

    NotifyBeginParam();
    uint8_t next = 0;
    if (!ParseOptionalCustomMods() || !peek(&next)) {
        return false;
    }
    if (next == ELEMENT_TYPE_BYREF) {
        current_argument.is_byref = true;
        NotifyByref();
        ++position;
        if (!ParseType()) {
            return false;
        }
    } else if (next == ELEMENT_TYPE_TYPEDBYREF) {
        NotifyTypedByref();
        current_argument.element_type = ELEMENT_TYPE_TYPEDBYREF;
        ++position;
    } else if (!ParseType()) {
        return false;
    }
    NotifyEndParam();
    return true;
}

bool SigParser::ParseLocal() {
    NotifyBeginLocal();
    uint8_t next = 0;
    if (!peek(&next)) {
        return false;
    }
    if (next == ELEMENT_TYPE_TYPEDBYREF) {
        NotifyTypedByref();
        ++position;
    } else {
        if (!ParseOptionalCustomModsOrConstraint() || !peek(&next)) {
            return false;
        }
        if (next == ELEMENT_TYPE_BYREF) {
            NotifyByref();
            ++position;
        }
        if (!ParseType()) {
            return false;
        }
    }
    NotifyEndLocal();
    return true;
}

bool SigParser::ParseType() {
    const nesting_guard guard(type_nesting_);
    NotifyBeginType();
    if (type_nesting_ > max_type_nesting) {
        return false;
    }
    const PCCOR_SIGNATURE lead_position = position;
    uint8_t lead = 0;
    if (!ParseByte(&lead)) {
        return false;
    }
    current_argument.element_type = lead;

    bool ok = true;
    switch (lead) {
    case ELEMENT_TYPE_BOOLEAN:
    case ELEMENT_TYPE_CHAR:
    case ELEMENT_TYPE_I1:
    case ELEMENT_TYPE_U1:
    case ELEMENT_TYPE_I2:
    case ELEMENT_TYPE_U2:
    case ELEMENT_TYPE_I4:
    case ELEMENT_TYPE_U4:
    case ELEMENT_TYPE_I8:
    case ELEMENT_TYPE_U8:
    case ELEMENT_TYPE_R4:
    case ELEMENT_TYPE_R8:
    case ELEMENT_TYPE_STRING:
    case ELEMENT_TYPE_I:
    case ELEMENT_TYPE_U:
    case ELEMENT_TYPE_OBJECT:
        NotifyTypeSimple(lead);
        break;
    case ELEMENT_TYPE_PTR: {
        NotifyTypePointer();
        uint8_t next = 0;
        ok = ParseOptionalCustomMods();
        if (ok && peek(&next) && next == ELEMENT_TYPE_VOID) {
            ++position;
            NotifyVoid();
        } else if (ok) {
            ok = ParseType();
        }
        break;
    }
    case ELEMENT_TYPE_VALUETYPE:
        NotifyTypeValueType();
        ok = parse_class_or_value_type();
        break;
    case ELEMENT_TYPE_CLASS:
        NotifyTypeClass();
        ok = parse_class_or_value_type();
        break;
    case ELEMENT_TYPE_VAR:
    case ELEMENT_TYPE_MVAR: {
        ULONG index = 0;
        ok = ParseNumber(&index);
        if (ok && lead == ELEMENT_TYPE_VAR) {
            NotifyTypeGenericTypeVariable(index);
        } else if (ok) {
            NotifyTypeGenericMemberVariable(index);
        }
        break;
    }
    case ELEMENT_TYPE_ARRAY:
        current_argument.is_array = true;
        NotifyTypeArray();
        ok = ParseType() && ParseArrayShape();
        break;
    case ELEMENT_TYPE_GENERICINST:
        ok = parse_generic_instantiation(lead_position);
        break;
    case ELEMENT_TYPE_FNPTR:
        NotifyTypeFunctionPointer();
        ok = parse_function_pointer();
        break;
    case ELEMENT_TYPE_SZARRAY:
        current_argument.is_array = true;
        NotifyTypeSzArray();
        ok = ParseOptionalCustomMods() && ParseType();
        break;
    default:
        // BYREF, TYPEDBYREF, unassigned bytes and the rest are one-byte types here.
        break;
    }
    if (!ok) {
        return false;
    }
    NotifyEndType();
    return true;
}

bool SigParser::parse_class_or_value_type() {
    uint8_t table = 0;
    ULONG index = 0;
    if (!ParseTypeDefOrRefEncoded(&table, &index)) {
        return false;
    }
    current_argument.type_table = table;
    current_argument.type_rid = index;
    NotifyTypeDefOrRef(table, static_cast<LONG>(index));
    return true;
}

// Instantiations may nest: inside another's type arguments, inside an array or a
// pointer. The record describes the parameter's own, outermost type, because callers
// turn the recorded bytes into a type-specification token and box by the recorded
// kind: only the instantiation read at the first nesting level (the parameter's type
// itself) sets is_generic, generic_type_kind and generic_signature(_size), and it is
// measured whole. An array of instantiations is an array (is_generic stays clear).
bool SigParser::parse_generic_instantiation(PCCOR_SIGNATURE lead) {
    const bool own_type = type_nesting_ == 1;
    uint8_t kind = 0;
    if (!ParseByte(&kind) || (kind != ELEMENT_TYPE_VALUETYPE && kind != ELEMENT_TYPE_CLASS)) {
        return false;
    }
    if (own_type) {
        current_argument.generic_signature = lead;
        current_argument.is_generic = true;
        current_argument.generic_type_kind = kind;
    }
    uint8_t table = 0;
    ULONG index = 0;
    ULONG count = 0;
    if (!ParseTypeDefOrRefEncoded(&table, &index) || !ParseNumber(&count)) {
        return false;
    }
    NotifyTypeGenericInst(kind, table, index, count);
    for (ULONG i = 0; i < count; ++i) {
        if (!ParseType()) {
            return false;
        }
    }
    if (own_type) {
        current_argument.generic_signature_size = static_cast<uint32_t>(position - lead);
    }
    return true;
}

// A function-pointer type carries a whole method signature. Its parameters and return
// type are walked (and notified) but recorded nowhere: callers get exactly one record
// per parameter of the outer method and the outer method's return record, and the
// record of the parameter itself reads element type FNPTR.
bool SigParser::parse_function_pointer() {
    const ArgumentMetadata outer = current_argument;
    const size_t outer_count = parsed_method_arguments.size();
    const ArgumentMetadata outer_return = parsed_return_argument;

    uint8_t calling_convention = 0;
    const bool ok = ParseByte(&calling_convention) && ParseMethod(calling_convention);

    parsed_method_arguments.resize(outer_count);
    parsed_return_argument = outer_return;
    current_argument = outer;
    return ok;
}

// ArrayShape (II.23.2.13).
bool SigParser::ParseArrayShape() {
    NotifyBeginArrayShape();
    ULONG rank = 0;
    ULONG num_sizes = 0;
    if (!ParseNumber(&rank)) {
        return false;
    }
    NotifyRank(rank);
    if (!ParseNumber(&num_sizes)) {
        return false;
    }
    NotifyNumSizes(num_sizes);
    for (ULONG i = 0; i < num_sizes; ++i) {
        ULONG size = 0;
        if (!ParseNumber(&size)) {
            return false;
        }
        NotifySize(size);
    }
    ULONG num_lo_bounds = 0;
    if (!ParseNumber(&num_lo_bounds)) {
        return false;
    }
    NotifyNumLoBounds(num_lo_bounds);
    for (ULONG i = 0; i < num_lo_bounds; ++i) {
        ULONG bound = 0;
        if (!ParseNumber(&bound)) {
            return false;
        }
        NotifyLoBound(bound);
    }
    NotifyEndArrayShape();
    return true;
}

bool SigParser::ParseCustomMod() {
    uint8_t modifier = 0;
    if (!ParseByte(&modifier) || !is_custom_mod(modifier)) {
        return false;
    }
    uint8_t table = 0;
    ULONG index = 0;
    if (!ParseTypeDefOrRefEncoded(&table, &index)) {
        return false;
    }
    NotifyCustomMod(modifier, table, index);
    return true;
}

bool SigParser::ParseOptionalCustomMods() {
    while (next_is_custom_mod()) {
        if (!ParseCustomMod()) {
            return false;
        }
    }
    return true;
}

bool SigParser::ParseOptionalCustomModsOrConstraint() {
    uint8_t next = 0;
    while (peek(&next)) {
        if (is_custom_mod(next)) {
            if (!ParseCustomMod()) {
                return false;
            }
        } else if (next == element_type_pinned) {
            NotifyConstraint(next);
            ++position;
        } else {
            break;
        }
    }
    return true;
}
