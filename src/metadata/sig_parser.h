// Reader of metadata signature blobs (ECMA-335 II.23.2): method, field, local-variable
// and property signatures, with the element types of II.23.1.16 and compressed
// integers. Each element met is announced through a virtual notification, so that a
// derived parser can observe the walk; for method signatures a summary of the return
// type and one record per parameter are kept.
//
// Guarantees: the parser works in place on the caller's bytes, copies nothing of the
// blob and never reads outside [start, end): every read checks the end first and a
// malformed blob makes the rules return false, nothing is thrown or logged. Type
// nesting deeper than max_type_nesting is treated as malformed, which bounds the
// recursion (and the stack) whatever the blob. Every parameter record describes the
// parameter's own type. Records appended before a failure stay.
// A parser serves one thread and one signature: create it value-initialised, Parse
// once, read the results, destroy it. It allocates only for the record array.
#pragma once

#include <cstdint>
#include <vector>

#include "metadata/argument_metadata.h"
#include "runtime/com_types.h"

class SigParser {
public:
    // Deeper nesting of types (arrays of arrays, instantiations inside
    // instantiations, function pointers in function pointers) fails the parse.
    static constexpr uint32_t max_type_nesting = 128;

    // Parses one signature; true when the whole grammar rule for its kind was read.
    bool Parse(PCCOR_SIGNATURE blob, ULONG length);

    // One record per parameter of the parsed method, in order.
    const std::vector<ArgumentMetadata>& GetParsedMethodArguments() const { return parsed_method_arguments; }
    const ArgumentMetadata& GetParsedReturnArgument() const { return parsed_return_argument; }
    // The HASTHIS bit of the signature given to Parse.
    bool IsInstanceMethod() const { return instance_method; }

    // Parsing steps: each returns false on a malformed or truncated blob and
    // advances `position` over what it read.
    bool ParseByte(uint8_t* out);
    bool ParseNumber(ULONG* out);
    bool ParseTypeDefOrRefEncoded(uint8_t* table, ULONG* index);
    bool ParseMethod(uint8_t calling_convention);
    bool ParseField(uint8_t field_byte);
    bool ParseLocals(uint8_t locals_byte);
    bool ParseProperty(uint8_t property_byte);
    bool ParseRetType();
    bool ParseParam();
    bool ParseLocal();
    bool ParseType();
    bool ParseArrayShape();
    bool ParseCustomMod();
    bool ParseOptionalCustomMods();
    bool ParseOptionalCustomModsOrConstraint();

protected:
    // Notifications, in this order; each does nothing unless a derived parser
    // overrides it.
    virtual void NotifyBeginMethod(uint8_t /*calling_convention*/) {}
    virtual void NotifyEndMethod() {}
    virtual void NotifyParamCount(ULONG /*count*/) {}
    virtual void NotifyBeginRetType() {}
    virtual void NotifyEndRetType() {}
    virtual void NotifyBeginParam() {}
    virtual void NotifyEndParam() {}
    virtual void NotifySentinal() {}
    virtual void NotifyGenericParamCount(ULONG /*count*/) {}
    virtual void NotifyBeginField(uint8_t /*field_byte*/) {}
    virtual void NotifyEndField() {}
    virtual void NotifyBeginLocals(uint8_t /*locals_byte*/) {}
    virtual void NotifyEndLocals() {}
    virtual void NotifyLocalsCount(ULONG /*count*/) {}
    virtual void NotifyBeginLocal() {}
    virtual void NotifyEndLocal() {}
    virtual void NotifyConstraint(uint8_t /*constraint*/) {}
    virtual void NotifyBeginProperty(uint8_t /*property_byte*/) {}
    virtual void NotifyEndProperty() {}
    virtual void NotifyBeginArrayShape() {}
    virtual void NotifyEndArrayShape() {}
    virtual void NotifyRank(ULONG /*rank*/) {}
    virtual void NotifyNumSizes(ULONG /*count*/) {}
    virtual void NotifySize(ULONG /*size*/) {}
    virtual void NotifyNumLoBounds(ULONG /*count*/) {}
    virtual void NotifyLoBound(ULONG /*bound*/) {}
    virtual void NotifyBeginType() {}
    virtual void NotifyEndType() {}
    virtual void NotifyTypedByref() {}
    virtual void NotifyByref() {}
    virtual void NotifyVoid() {}
    virtual void NotifyCustomMod(uint8_t /*modifier*/, uint8_t /*table*/, ULONG /*index*/) {}
    virtual void NotifyTypeSimple(uint8_t /*element_type*/) {}
    virtual void NotifyTypeDefOrRef(uint8_t /*table*/, LONG /*index*/) {}
    virtual void NotifyTypeGenericInst(uint8_t /*kind*/, uint8_t /*table*/, ULONG /*index*/, ULONG /*count*/) {}
    virtual void NotifyTypeGenericTypeVariable(ULONG /*index*/) {}
    virtual void NotifyTypeGenericMemberVariable(ULONG /*index*/) {}
    virtual void NotifyTypeValueType() {}
    virtual void NotifyTypeClass() {}
    virtual void NotifyTypePointer() {}
    virtual void NotifyTypeFunctionPointer() {}
    virtual void NotifyTypeArray() {}
    virtual void NotifyTypeSzArray() {}

    PCCOR_SIGNATURE start = nullptr;
    PCCOR_SIGNATURE position = nullptr;
    PCCOR_SIGNATURE end = nullptr;
    std::vector<ArgumentMetadata> parsed_method_arguments;
    ArgumentMetadata current_argument;
    ArgumentMetadata parsed_return_argument;
    bool instance_method = false;

private:
    bool at_end() const { return position >= end; }
    // The next byte without consuming it; false at the end.
    bool peek(uint8_t* out) const;
    bool next_is_custom_mod() const;
    bool parse_class_or_value_type();
    bool parse_generic_instantiation(PCCOR_SIGNATURE lead);
    bool parse_function_pointer();

    uint32_t type_nesting_ = 0;  // ParseType calls currently open
};
