// One loaded module as the unit tests see it: its metadata tables (only the
// columns the library reads), its method bodies, and its runtime identity
// (module, assembly and app-domain ids, function ids of its methods). Tests
// build it with the add_* calls; the library reads and extends it through
// metadata() (IMetaDataImport2 / AssemblyImport / Emit2 / AssemblyEmit) and
// through fake_profiler_info. Tokens are real tokens: table in the high byte,
// 1-based row below it, so the first row a test adds is row 1 (typedef row 1 is
// the module's own <Module> type, as in every real module).
//
// Not thread-safe: build the model before the code under test runs; concurrent
// reads are fine, concurrent Define* calls are not. The failure switch is.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/cor_types.h"
#include "runtime/profiler_types.h"
#include "support/failure_switch.h"
#include "support/fake_metadata.h"
#include "support/fake_method_malloc.h"

namespace test_support {

using blob = std::vector<BYTE>;

struct assembly_version {
    USHORT major = 0, minor = 0, build = 0, revision = 0;
};

struct type_ref_row {
    mdToken scope;  // AssemblyRef, ModuleRef, TypeRef (nesting) or nil
    std::u16string name;  // "Namespace.Name"
};
struct type_def_row {
    std::u16string name;
    DWORD flags;
    mdToken extends;
    mdTypeDef enclosing;  // nil unless nested
};
struct method_row {
    mdTypeDef owner;
    std::u16string name;
    DWORD flags;
    blob signature;
    blob body;  // the IL method as the runtime hands it out: header, code, sections
    DWORD impl_flags;
    std::optional<blob> new_body;  // the last body given to SetILFunctionBody
};
struct member_ref_row {
    mdToken parent;
    std::u16string name;
    blob signature;
};
struct assembly_ref_row {
    std::u16string name;
    assembly_version version;
    blob public_key_or_token;
    DWORD flags;
};
struct pinvoke_row {
    mdToken member;
    DWORD flags;
    std::u16string import_name;
    mdModuleRef module_ref;
};
struct param_row {
    mdMethodDef method;
    ULONG sequence;
    std::u16string name;
    DWORD flags;
};
struct method_spec_row {
    mdToken parent;
    blob instantiation;
};
struct custom_attribute_row {
    mdToken owner;
    std::u16string type_name;  // full name of the attribute type
    blob value;
};
struct function_row {
    FunctionID id;
    ClassID class_id;
    mdMethodDef method;
};

class fake_module {
public:
    // A module with its own failure switch (for tests of metadata code alone).
    explicit fake_module(std::string_view assembly_name = "App");
    // A module sharing a switch, as fake_profiler_info::add_module makes them.
    fake_module(std::string_view assembly_name, failure_switch& shared);
    fake_module(const fake_module&) = delete;
    fake_module& operator=(const fake_module&) = delete;

    // --- Building ---
    mdTypeRef add_type_ref(std::string_view name, mdToken scope = mdTokenNil);
    mdTypeDef add_type_def(std::string_view name, DWORD flags = tdPublic, mdToken extends = mdTokenNil,
                           mdTypeDef enclosing = mdTypeDefNil);
    // The type is looked up by name among the top-level typedefs and added if missing.
    mdMethodDef add_method(std::string_view type_name, std::string_view name, blob signature, blob body = {},
                           DWORD flags = mdPublic | mdHideBySig, DWORD impl_flags = miIL);
    mdMethodDef add_method(mdTypeDef owner, std::string_view name, blob signature, blob body = {},
                           DWORD flags = mdPublic | mdHideBySig, DWORD impl_flags = miIL);
    mdMemberRef add_member_ref(mdToken parent, std::string_view name, blob signature);
    mdSignature add_standalone_sig(blob signature);
    mdTypeSpec add_type_spec(blob signature);
    mdString add_user_string(std::u16string_view text);
    mdAssemblyRef add_assembly_ref(std::string_view name, assembly_version version = {},
                                   blob public_key_token = {});
    mdModuleRef add_module_ref(std::string_view name);
    // Attaches an attribute to any token (assembly(), a typedef, a method).
    void add_custom_attribute(mdToken owner, std::string_view type_name, blob value = {0x01, 0x00, 0x00, 0x00});
    // Gives a method a runtime identity, as when the runtime is about to JIT it.
    FunctionID add_function(mdMethodDef method);

    // --- Runtime identity (fresh, distinct ids per module; free to overwrite) ---
    ModuleID module_id;
    AssemblyID assembly_id;
    AppDomainID app_domain_id = 0;
    std::u16string path;  // GetModuleInfo's name: "/app/<assembly>.dll"
    DWORD module_flags = COR_PRF_MODULE_DISK;

    // --- The module's own assembly (row 1 of the Assembly table) ---
    static constexpr mdAssembly assembly() { return TokenFromRid(1, mdtAssembly); }
    std::u16string assembly_name;
    assembly_version version{1, 0, 0, 0};
    blob public_key;
    DWORD assembly_flags = 0;

    // --- Tables, row i at token TokenFromRid(i + 1, table) ---
    std::vector<type_ref_row> type_refs;
    std::vector<type_def_row> type_defs;
    std::vector<method_row> methods;
    std::vector<member_ref_row> member_refs;
    std::vector<blob> standalone_sigs;
    std::vector<blob> type_specs;
    std::vector<assembly_ref_row> assembly_refs;
    std::vector<std::u16string> module_refs;
    std::vector<pinvoke_row> pinvoke_maps;
    std::vector<param_row> params;
    std::vector<method_spec_row> method_specs;
    std::vector<custom_attribute_row> custom_attributes;
    std::map<mdString, std::u16string> user_strings;  // by token: 0x70 | heap offset
    std::vector<function_row> functions;

    // Row lookups by token; nullptr when the token names no row of that table.
    type_ref_row* type_ref(mdToken token);
    type_def_row* type_def(mdToken token);
    method_row* method(mdToken token);
    member_ref_row* member_ref(mdToken token);
    assembly_ref_row* assembly_ref(mdToken token);
    const function_row* function(FunctionID id) const;
    // The class id of a typedef, created on first use.
    ClassID class_id(mdTypeDef type);
    std::optional<mdTypeDef> type_of_class(ClassID id) const;

    // The last body SetILFunctionBody gave this method, or nullptr.
    const blob* body_set(mdMethodDef method_token);

    // --- The COM side ---
    fake_metadata& metadata() { return *metadata_; }
    // Borrowed interface pointers (no reference taken), for code that borrows.
    IMetaDataImport2* import() { return metadata_.get(); }
    IMetaDataEmit2* emit() { return metadata_.get(); }
    IMetaDataAssemblyImport* assembly_import() { return metadata_.get(); }
    IMetaDataAssemblyEmit* assembly_emit() { return metadata_.get(); }
    fake_method_malloc& allocator() { return *allocator_; }

    // --- Failure injection, shared with the profiler info when it made this module ---
    failure_switch& failures() { return *failures_; }
    void fail(std::string_view method, HRESULT status) { failures_->fail(method, status); }
    void fail_once(std::string_view method, HRESULT status, unsigned nth = 1) {
        failures_->fail_once(method, status, nth);
    }
    unsigned calls(std::string_view method) const { return failures_->calls(method); }

private:
    failure_switch own_failures_;
    failure_switch* failures_;
    std::unique_ptr<fake_metadata> metadata_;
    std::unique_ptr<fake_method_malloc> allocator_;
    std::map<mdTypeDef, ClassID> class_ids_;
    ULONG next_user_string_offset_ = 1;  // offset 0 of the #US heap is the empty blob
};

// A fresh runtime identifier, distinct from every other one handed out in this
// process whatever its kind, so an id passed where another kind is expected is
// never found by accident.
UINT_PTR next_runtime_id();

}  // namespace test_support
