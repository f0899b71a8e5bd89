#include "support/fake_module.h"

#include <atomic>

#include "support/wide_text.h"

namespace test_support {
namespace {

template <class Row>
Row* row_of(std::vector<Row>& table, mdToken token, CorTokenType type) {
    const uint32_t rid = RidFromToken(token);
    if (TypeFromToken(token) != type || rid == 0 || rid > table.size()) return nullptr;
    return &table[rid - 1];
}

template <class Row>
mdToken append(std::vector<Row>& table, Row row, CorTokenType type) {
    table.push_back(std::move(row));
    return TokenFromRid(static_cast<uint32_t>(table.size()), type);
}

// Bytes ECMA-335 II.23.2 takes to store n compressed.
ULONG compressed_size(ULONG n) { return n < 0x80 ? 1 : n < 0x4000 ? 2 : 4; }

}  // namespace

UINT_PTR next_runtime_id() {
    // Spaced and well away from zero so they look like the runtime's addresses.
    static std::atomic<UINT_PTR> next{0x7f0000010000};
    return next.fetch_add(0x40);
}

fake_module::fake_module(std::string_view assembly_name) : fake_module(assembly_name, own_failures_) {}

fake_module::fake_module(std::string_view assembly_name, failure_switch& shared)
    : module_id(next_runtime_id()),
      assembly_id(next_runtime_id()),
      path(utf16("/app/" + std::string(assembly_name) + ".dll")),
      assembly_name(utf16(assembly_name)),
      failures_(&shared),
      metadata_(std::make_unique<fake_metadata>(*this)),
      allocator_(std::make_unique<fake_method_malloc>(shared)) {
    // Every module's typedef row 1 is the pseudo-type holding its global members.
    type_defs.push_back({u"<Module>", tdNotPublic, mdTokenNil, mdTypeDefNil});
}

mdTypeRef fake_module::add_type_ref(std::string_view name, mdToken scope) {
    return append(type_refs, {scope, utf16(name)}, mdtTypeRef);
}

mdTypeDef fake_module::add_type_def(std::string_view name, DWORD flags, mdToken extends, mdTypeDef enclosing) {
    return append(type_defs, {utf16(name), flags, extends, enclosing}, mdtTypeDef);
}

mdMethodDef fake_module::add_method(std::string_view type_name, std::string_view name, blob signature, blob body,
                                    DWORD flags, DWORD impl_flags) {
    const std::u16string wanted = utf16(type_name);
    mdTypeDef owner = mdTypeDefNil;
    for (size_t i = 0; i < type_defs.size() && owner == mdTypeDefNil; ++i) {
        if (type_defs[i].name == wanted && IsNilToken(type_defs[i].enclosing))
            owner = TokenFromRid(static_cast<uint32_t>(i + 1), mdtTypeDef);
    }
    if (owner == mdTypeDefNil) owner = add_type_def(type_name);
    return add_method(owner, name, std::move(signature), std::move(body), flags, impl_flags);
}

mdMethodDef fake_module::add_method(mdTypeDef owner, std::string_view name, blob signature, blob body, DWORD flags,
                                    DWORD impl_flags) {
    return append(methods, {owner, utf16(name), flags, std::move(signature), std::move(body), impl_flags, {}},
                  mdtMethodDef);
}

mdMemberRef fake_module::add_member_ref(mdToken parent, std::string_view name, blob signature) {
    return append(member_refs, {parent, utf16(name), std::move(signature)}, mdtMemberRef);
}

mdSignature fake_module::add_standalone_sig(blob signature) {
    return append(standalone_sigs, std::move(signature), mdtSignature);
}

mdTypeSpec fake_module::add_type_spec(blob signature) { return append(type_specs, std::move(signature), mdtTypeSpec); }

mdString fake_module::add_user_string(std::u16string_view text) {
    // A user-string token is the string's offset in the #US heap, where each
    // entry is a compressed byte length, the UTF-16 text and one flag byte.
    const mdString token = TokenFromRid(next_user_string_offset_, mdtString);
    const auto bytes = static_cast<ULONG>(text.size() * 2 + 1);
    next_user_string_offset_ += compressed_size(bytes) + bytes;
    user_strings.emplace(token, std::u16string(text));
    return token;
}

mdAssemblyRef fake_module::add_assembly_ref(std::string_view name, assembly_version version, blob public_key_token) {
    return append(assembly_refs, {utf16(name), version, std::move(public_key_token), 0}, mdtAssemblyRef);
}

mdModuleRef fake_module::add_module_ref(std::string_view name) {
    return append(module_refs, utf16(name), mdtModuleRef);
}

void fake_module::add_custom_attribute(mdToken owner, std::string_view type_name, blob value) {
    custom_attributes.push_back({owner, utf16(type_name), std::move(value)});
}

FunctionID fake_module::add_function(mdMethodDef method_token) {
    const method_row* row = method(method_token);
    const ClassID owner_class = row != nullptr ? class_id(row->owner) : 0;
    functions.push_back({next_runtime_id(), owner_class, method_token});
    return functions.back().id;
}

type_ref_row* fake_module::type_ref(mdToken token) { return row_of(type_refs, token, mdtTypeRef); }
type_def_row* fake_module::type_def(mdToken token) { return row_of(type_defs, token, mdtTypeDef); }
method_row* fake_module::method(mdToken token) { return row_of(methods, token, mdtMethodDef); }
member_ref_row* fake_module::member_ref(mdToken token) { return row_of(member_refs, token, mdtMemberRef); }
assembly_ref_row* fake_module::assembly_ref(mdToken token) { return row_of(assembly_refs, token, mdtAssemblyRef); }

const function_row* fake_module::function(FunctionID id) const {
    for (const auto& f : functions) {
        if (f.id == id) return &f;
    }
    return nullptr;
}

ClassID fake_module::class_id(mdTypeDef type) {
    auto [entry, added] = class_ids_.try_emplace(type, 0);
    if (added) entry->second = next_runtime_id();
    return entry->second;
}

std::optional<mdTypeDef> fake_module::type_of_class(ClassID id) const {
    for (const auto& [type, class_id] : class_ids_) {
        if (class_id == id) return type;
    }
    return std::nullopt;
}

const blob* fake_module::body_set(mdMethodDef method_token) {
    const method_row* row = method(method_token);
    return row != nullptr && row->new_body ? &*row->new_body : nullptr;
}

}  // namespace test_support
