// Lookups in a module's metadata by exact name, enumeration of its type references,
// type definitions and member references, definition of references into a module,
// and the compressed forms of integers and tokens used inside signature blobs
// (ECMA-335 II.23.2).
//
// Guarantees: stateless free functions, safe on several threads at once; they use
// only the interfaces they are given (an interface they obtain themselves is
// released before they return). Lookups are linear scans that repeat the whole
// enumeration on every call. Metadata failures are logged at Error, each function
// through a scope named after itself, and returned unchanged; "not found" is
// E_INVALIDARG after an Error line naming the missing name; a missing interface is
// E_POINTER and an empty or malformed name E_INVALIDARG, both without a log line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cor_types.h"
#include "runtime/metadata_emit.h"
#include "runtime/metadata_import.h"
#include "runtime/profiler_info.h"

namespace metadata_helper {

// Names longer than this (in UTF-16 units, terminator included) are skipped by the
// lookups: the row's properties do not fit and only a complete read counts.
constexpr uint32_t name_buffer_size = 1024;

// Every type reference, type definition, or member reference of `parent`, in the
// order the metadata enumerates them.
HRESULT get_typerefs(IMetaDataImport* import, std::vector<mdTypeRef>& tokens);
HRESULT get_typedefs(IMetaDataImport* import, std::vector<mdTypeDef>& tokens);
HRESULT get_memberrefs(IMetaDataImport* import, mdToken parent, std::vector<mdMemberRef>& tokens);

// The first row whose full name (namespace-qualified for types) equals `name`
// exactly. Not found: E_INVALIDARG with the nil token of the table.
HRESULT lookup_type(IMetaDataImport* import, const std::wstring& name, mdTypeRef* token);
HRESULT lookup_type_def(IMetaDataImport* import, const std::wstring& name, mdTypeDef* token);
HRESULT lookup_member(IMetaDataImport* import, const std::wstring& name, mdToken parent, mdMemberRef* token);

// `name` is "Type::Method": exactly one "::" between a non-empty type name and a
// non-empty method name, no other ':'. Anything else is E_INVALIDARG.
HRESULT lookup_method(ICorProfilerInfo* info, ModuleID module, const std::wstring& name, mdMemberRef* token);

// Defines an assembly reference (version 4.0.0.0, the public key token of
// get_assembly_publickey) and a type reference under it; the type reference is
// stored in `type_ref` when it is given.
HRESULT import_type(ICorProfilerInfo* info, ModuleID module, const std::wstring& assembly_name,
                    const std::wstring& type_name, mdTypeRef* type_ref = nullptr);
// Defines a member reference "Type::Method" with the given signature under the
// module's type reference of that type; stored in `member_ref` when it is given.
HRESULT import_method(ICorProfilerInfo* info, ModuleID module, const std::wstring& name, PCCOR_SIGNATURE signature,
                      ULONG signature_size, mdMemberRef* member_ref = nullptr);

// Sets the version of `metadata` to 4.0.0.0 and leaves its other fields; S_OK.
HRESULT get_assembly_metadata(ICorProfilerInfo* info, ModuleID module, const std::wstring& assembly_name,
                              ASSEMBLYMETADATA& metadata);
// The 8-byte public key token b7 7a 5c 56 19 34 e0 89.
HRESULT get_assembly_publickey(ICorProfilerInfo* info, ModuleID module, std::vector<uint8_t>& key);

// `token` as TypeDefOrRefOrSpecEncoded: (row << 2) | tag, tag 0 TypeDef, 1 TypeRef,
// 2 TypeSpec, 3 for mdtBaseType, as a compressed integer. Always S_OK.
HRESULT get_compress_signature_token(mdToken token, std::vector<uint8_t>& bytes);

// Appends `value` (at most 0x1FFFFFFF) as a compressed unsigned integer: 1, 2 or 4
// bytes. False, appending nothing, for a larger value.
bool compress_unsigned(uint32_t value, std::vector<uint8_t>& bytes);
// Reads a compressed unsigned integer from [p, end); false when it is truncated or
// its lead byte is 111xxxxx. `width` receives the number of bytes read.
bool uncompress_unsigned(const uint8_t* p, const uint8_t* end, uint32_t* value, uint32_t* width);

}  // namespace metadata_helper
