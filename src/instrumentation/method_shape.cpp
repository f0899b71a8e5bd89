#include "instrumentation/method_shape.h"

#include <string>

#include "logging/hresult_text.h"
#include "metadata/metadata_helper.h"
#include "metadata/sig_parser.h"
#include "runtime/com_ptr.h"

namespace {

constexpr WCHAR by_ref_like_attribute[] = u"System.Runtime.CompilerServices.IsByRefLikeAttribute";
// GenericParameterAttributes.AllowByRefLike: the parameter admits by-ref-like types.
constexpr DWORD generic_param_allows_by_ref_like = 0x0020;

bool is_primitive(uint8_t element_type) {
    return (element_type >= ELEMENT_TYPE_BOOLEAN && element_type <= ELEMENT_TYPE_R8) ||
           element_type == ELEMENT_TYPE_I || element_type == ELEMENT_TYPE_U;
}

// One top-level entry of a method signature (the return type or a parameter): its
// flags and where the type itself lies.
struct signature_entry {
    bool is_void = false;
    bool is_byref = false;
    bool is_typedbyref = false;
    const uint8_t* begin = nullptr;
    const uint8_t* end = nullptr;
};

// Records the entries of the outer method; the types nested in them (inside pointers,
// arrays, instantiations, function-pointer signatures) are skipped by depth.
class entry_parser : public SigParser {
public:
    std::vector<signature_entry> entries;  // the return type first

protected:
    void NotifyBeginRetType() override { begin_entry(); }
    void NotifyBeginParam() override { begin_entry(); }
    void NotifyEndRetType() override { end_entry(); }
    void NotifyEndParam() override { end_entry(); }
    void NotifyVoid() override {
        if (depth_ == 0) current_.is_void = true;
    }
    void NotifyByref() override {
        if (depth_ == 0) current_.is_byref = true;
    }
    void NotifyTypedByref() override {
        if (depth_ == 0) current_.is_typedbyref = true;
    }
    void NotifyBeginType() override {
        if (depth_++ == 0) current_.begin = position;
    }
    void NotifyEndType() override {
        if (--depth_ == 0) current_.end = position;
    }

private:
    void begin_entry() {
        if (depth_ == 0) current_ = signature_entry{};
    }
    void end_entry() {
        if (depth_ == 0) entries.push_back(current_);
    }

    uint32_t depth_ = 0;  // ParseType calls open
    signature_entry current_;
};

// A TypeDefOrRefOrSpecEncoded token at `p` (ECMA-335 II.23.2.8), or 0.
mdToken decode_type_token(const uint8_t* p, const uint8_t* end) {
    uint32_t value = 0;
    uint32_t width = 0;
    if (!metadata_helper::uncompress_unsigned(p, end, &value, &width)) return 0;
    static constexpr uint32_t tables[] = {mdtTypeDef, mdtTypeRef, mdtTypeSpec, 0};
    const uint32_t table = tables[value & 3];
    return table == 0 ? 0 : TokenFromRid(value >> 2, table);
}

bool has_by_ref_like_attribute(IMetaDataImport* scope, mdTypeDef type, bool* result) {
    const HRESULT hr = scope->GetCustomAttributeByName(type, by_ref_like_attribute, nullptr, nullptr);
    if (FAILED(hr)) return false;
    *result = hr == S_OK;
    return true;
}

// Whether a value of the value type `type` may be boxed: its definition is found (in
// the module, or in the core library for a reference into another assembly) and is
// not by-ref-like. Anything that cannot be read counts as not boxable.
bool is_boxable_value_type(IMetaDataImport* import, IMetaDataImport* corlib, mdToken type) {
    bool by_ref_like = true;
    if (TypeFromToken(type) == mdtTypeDef) {
        return has_by_ref_like_attribute(import, type, &by_ref_like) && !by_ref_like;
    }
    if (TypeFromToken(type) != mdtTypeRef) return false;
    mdToken scope = mdTokenNil;
    WCHAR name[metadata_helper::name_buffer_size] = {};
    ULONG length = 0;
    if (import->GetTypeRefProps(type, &scope, name, metadata_helper::name_buffer_size, &length) != S_OK) {
        return false;  // failed, or the name was truncated
    }
    IMetaDataImport* defining = nullptr;
    if (TypeFromToken(scope) == mdtModule) {
        defining = import;
    } else if (TypeFromToken(scope) == mdtAssemblyRef) {
        // Most value types a method names from another assembly are the core
        // library's, through a facade such as System.Runtime.
        defining = corlib;
    }
    mdTypeDef definition = mdTypeDefNil;
    if (defining == nullptr || FAILED(defining->FindTypeDefByName(name, mdTokenNil, &definition))) return false;
    return has_by_ref_like_attribute(defining, definition, &by_ref_like) && !by_ref_like;
}

// Whether the generic parameter `index` of `owner` (a type or method definition)
// rejects by-ref-like arguments, so that boxing a value of it is valid whatever the
// instantiation.
bool is_boxable_generic_parameter(IMetaDataImport* import, mdToken owner, uint32_t index) {
    com_ptr<IMetaDataImport2> import2;
    if (FAILED(query_interface(import, IID_IMetaDataImport2, import2))) return false;
    HCORENUM enumeration = nullptr;
    mdGenericParam params[64];
    ULONG count = 0;
    bool boxable = false;
    if (SUCCEEDED(import2->EnumGenericParams(&enumeration, owner, params, 64, &count))) {
        for (ULONG i = 0; i < count; ++i) {
            ULONG sequence = 0;
            DWORD flags = 0;
            if (FAILED(import2->GetGenericParamProps(params[i], &sequence, &flags, nullptr, nullptr, nullptr, 0,
                                                     nullptr))) {
                break;
            }
            if (sequence == index) {
                boxable = (flags & generic_param_allows_by_ref_like) == 0;
                break;
            }
        }
    }
    if (enumeration != nullptr) import2->CloseEnum(enumeration);
    return boxable;
}

struct shape_context {
    IMetaDataImport* import;
    IMetaDataImport* corlib;
    mdMethodDef method;
    mdTypeDef owner;  // declaring type; nil until read
};

value_shape classify(const signature_entry& entry, const shape_context& context) {
    value_shape shape;
    shape.is_byref = entry.is_byref;
    shape.is_typedbyref = entry.is_typedbyref;
    if (entry.is_void) {
        shape.kind = value_kind::none;
        return shape;
    }
    if (entry.is_typedbyref || entry.begin == nullptr || entry.end <= entry.begin) {
        shape.kind = value_kind::unboxable;
        return shape;
    }
    shape.type_bytes = entry.begin;
    shape.type_size = static_cast<uint32_t>(entry.end - entry.begin);
    const uint8_t lead = entry.begin[0];
    shape.element_type = lead;
    if (is_primitive(lead)) {
        shape.kind = value_kind::primitive;
        return shape;
    }
    switch (lead) {
        case ELEMENT_TYPE_STRING:
        case ELEMENT_TYPE_OBJECT:
        case ELEMENT_TYPE_SZARRAY:
        case ELEMENT_TYPE_ARRAY:
            shape.kind = value_kind::reference;
            return shape;
        case ELEMENT_TYPE_CLASS:
            shape.kind = value_kind::reference;
            shape.token = decode_type_token(entry.begin + 1, entry.end);
            return shape;
        case ELEMENT_TYPE_VALUETYPE:
            shape.token = decode_type_token(entry.begin + 1, entry.end);
            shape.kind = is_boxable_value_type(context.import, context.corlib, shape.token) ? value_kind::value_type
                                                                                            : value_kind::unboxable;
            return shape;
        case ELEMENT_TYPE_GENERICINST: {
            if (shape.type_size < 3) break;
            if (entry.begin[1] == ELEMENT_TYPE_CLASS) {
                shape.kind = value_kind::reference;
                return shape;
            }
            const mdToken generic_type = decode_type_token(entry.begin + 2, entry.end);
            shape.kind = is_boxable_value_type(context.import, context.corlib, generic_type) ? value_kind::value_type
                                                                                             : value_kind::unboxable;
            return shape;
        }
        case ELEMENT_TYPE_VAR:
        case ELEMENT_TYPE_MVAR: {
            uint32_t index = 0;
            uint32_t width = 0;
            const mdToken owner = lead == ELEMENT_TYPE_VAR ? context.owner : context.method;
            const bool boxable = metadata_helper::uncompress_unsigned(entry.begin + 1, entry.end, &index, &width) &&
                                 !IsNilToken(owner) && is_boxable_generic_parameter(context.import, owner, index);
            shape.kind = boxable ? value_kind::value_type : value_kind::unboxable;
            return shape;
        }
        default:
            break;
    }
    shape.kind = value_kind::unboxable;  // pointers, function pointers, anything unknown
    return shape;
}

// The full name of a TypeDef or TypeRef; empty for anything else or on failure.
std::u16string type_name(IMetaDataImport* import, mdToken type) {
    WCHAR name[metadata_helper::name_buffer_size] = {};
    ULONG length = 0;
    HRESULT hr = E_FAIL;
    if (TypeFromToken(type) == mdtTypeDef && !IsNilToken(type)) {
        hr = import->GetTypeDefProps(type, name, metadata_helper::name_buffer_size, &length, nullptr, nullptr);
    } else if (TypeFromToken(type) == mdtTypeRef && !IsNilToken(type)) {
        hr = import->GetTypeRefProps(type, nullptr, name, metadata_helper::name_buffer_size, &length);
    }
    return hr == S_OK ? std::u16string(name) : std::u16string();
}

// Whether `callee` is the agent's tralo.managed.span::GenericPrologue: a body that
// calls it was wrapped already (the runtime hands out the installed body again when
// it recompiles a method at a higher tier or for on-stack replacement).
bool calls_generic_prologue(IMetaDataImport* import, mdToken callee) {
    if (import == nullptr || TypeFromToken(callee) != mdtMemberRef) return false;
    mdToken parent = mdTokenNil;
    WCHAR name[metadata_helper::name_buffer_size] = {};
    ULONG length = 0;
    if (import->GetMemberRefProps(callee, &parent, name, metadata_helper::name_buffer_size, &length, nullptr,
                                  nullptr) != S_OK ||
        std::u16string(name) != u"GenericPrologue") {
        return false;
    }
    return type_name(import, parent) == u"tralo.managed.span";
}

}  // namespace

bool value_shape::writable() const {
    if (is_byref) return false;
    return element_type == ELEMENT_TYPE_CLASS || element_type == ELEMENT_TYPE_OBJECT || is_primitive(element_type);
}

HRESULT read_method_shape(IMetaDataImport* import, IMetaDataImport* corlib, const method_info& method,
                          const wtracing_scope& trace, method_shape* shape) {
    *shape = method_shape{};
    entry_parser parser;
    if (method.signature == nullptr || !parser.Parse(method.signature, method.signature_size) ||
        parser.entries.empty()) {
        trace.trace_f(Error, L"Failed to parse the method signature (%s)", hresult_text(E_FAIL));
        return E_FAIL;
    }
    shape->has_this = parser.IsInstanceMethod();

    shape_context context{import, corlib, method.method_token, mdTypeDefNil};
    HRESULT hr = import->GetMethodProps(method.method_token, &context.owner, nullptr, 0, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
    if (FAILED(hr)) {
        trace.trace_f(Error, L"Failed to get the method's declaring type (%s)", hresult_text(hr));
        return hr;
    }
    if (shape->has_this) {
        mdToken extends = mdTokenNil;
        WCHAR own_name[metadata_helper::name_buffer_size] = {};
        ULONG length = 0;
        hr = import->GetTypeDefProps(context.owner, own_name, metadata_helper::name_buffer_size, &length, nullptr,
                                     &extends);
        if (FAILED(hr)) {
            trace.trace_f(Error, L"Failed to get the declaring type's properties (%s)", hresult_text(hr));
            return hr;
        }
        // In a value type's instance methods and constructors `this` is a managed
        // pointer, not an object; System.Enum itself is a class deriving from
        // System.ValueType.
        const std::u16string base = type_name(import, extends);
        if (base == u"System.Enum" || (base == u"System.ValueType" && std::u16string(own_name) != u"System.Enum")) {
            shape->skip_reason = L"its declaring type is a value type, so 'this' is a managed pointer";
            return S_OK;
        }
    }

    shape->return_value = classify(parser.entries.front(), context);
    if (shape->return_value.is_byref) {
        shape->skip_reason = L"it returns by reference";
        return S_OK;
    }
    if (shape->return_value.is_typedbyref) {
        shape->skip_reason = L"it returns a typed reference";
        return S_OK;
    }
    for (size_t i = 1; i < parser.entries.size(); ++i) {
        shape->parameters.push_back(classify(parser.entries[i], context));
    }
    return S_OK;
}

const wchar_t* body_skip_reason(ILRewriter& rewriter) {
    ILInstr* head = rewriter.GetILList();
    bool has_ret = false;
    for (ILInstr* node = head->next; node != head; node = node->next) {
        switch (node->opcode) {
            case op::ret:
                has_ret = true;
                break;
            case op::call:
                if (calls_generic_prologue(rewriter.m_pMetaDataImport.get(), node->imm32)) {
                    return L"its body is already instrumented";
                }
                break;
            case op::tail_:
                return L"it makes a tail. call, which must stay followed by ret";
            case op::jmp:
                return L"it contains jmp, which is not allowed inside a protected region";
            default:
                if ((s_OpCodeFlags[node->opcode] & opcode_flag_branch) && node->target == head) {
                    return L"a branch leads to the end of its code";
                }
                break;
        }
    }
    if (!has_ret) {
        return L"it has no ret: every exit throws or loops";
    }
    for (const EHClause& clause : rewriter.m_ehClauses) {
        if (clause.try_end == head) {
            return L"an exception clause ends at the end of its code";
        }
    }
    return nullptr;
}
