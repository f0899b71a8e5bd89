// The metadata a wrapped method body refers to: references, defined in the method's
// own module, to the managed tracing agent (assembly "tralo.managed.core", or
// "tralo.managed" on the desktop runtime, version 4.3.1.0), its types and members,
// and to a few core library types, each member with its exact signature blob
// (ECMA-335 II.23.2.1).
//
// Guarantees: define_agent_references stops at the first failing metadata call,
// logs that one failure at Error through the caller's scope and returns its status;
// references defined before it stay in the module (metadata cannot be taken back).
// The tokens are valid only in the module they were defined in. Thread-safe as far as
// the runtime's metadata interfaces are; the constants are read-only.
#pragma once

#include <cstdint>

#include "logging/wtracing_scope.h"
#include "runtime/cor_types.h"
#include "runtime/metadata_emit.h"
#include "runtime/metadata_import.h"

// The twelve tokens the emitters use as operands, in the order the wrapper hands
// them on.
struct agent_references {
    mdMemberRef generic_prologue = 0;    // tralo.managed.span::GenericPrologue
    mdMemberRef generic_epilogue = 0;    // tralo.managed.span::GenericEpilogue
    mdMemberRef contains_key = 0;        // Nimbrel.Instrumentation.Invokers::ContainsKey
    mdMemberRef get_current_method = 0;  // System.Reflection.MethodBase::GetCurrentMethod
    mdMemberRef register_method = 0;     // Nimbrel.Instrumentation.Invokers::RegisterMethod
    mdMemberRef log = 0;                 // tralo.managed.span::Log
    mdMemberRef error = 0;               // tralo.managed.span::Error
    mdTypeRef exception_type = 0;        // System.Exception
    mdTypeRef object_type = 0;           // System.Object
    mdTypeRef directives_type = 0;       // Nimbrel.Instrumentation.InstrumentationDirectives
    mdMemberRef directives_ctor = 0;     // InstrumentationDirectives::.ctor
    mdMemberRef get_indexes = 0;         // InstrumentationDirectives::GetIndexes
};

namespace agent_blobs {

inline constexpr uint8_t public_key_token[] = {0x3c, 0x9e, 0x51, 0xd0, 0x7a, 0xb4, 0xf8, 0x62};
inline constexpr uint8_t mscorlib_public_key_token[] = {0xb7, 0x7a, 0x5c, 0x56, 0x19, 0x34, 0xe0, 0x89};
inline constexpr uint8_t system_public_key_token[] = {0xb7, 0x7a, 0x5c, 0x56, 0x19, 0x34, 0xe0, 0x89};

// instance void .ctor()
inline constexpr uint8_t sigInstrumentationDirectivesConstructor[] = {0x20, 0x00, 0x01};
// instance int32[] GetIndexes()
inline constexpr uint8_t sigGetIndexes[] = {0x20, 0x00, 0x1d, 0x08};
// static void Log(int32, string)
inline constexpr uint8_t sigSpanLog[] = {0x00, 0x02, 0x01, 0x08, 0x0e};
// static bool ContainsKey(uint32)
inline constexpr uint8_t contains_key_method_signature[] = {0x00, 0x01, 0x02, 0x09};

// Heads of the blobs that end in a class token (CLASS, then the compressed token):
// static bool Error(string, class System.Exception)
inline constexpr uint8_t error_head[] = {0x00, 0x02, 0x02, 0x0e, 0x12};
// static void GenericPrologue(uint32, object, object[], class InstrumentationDirectives)
inline constexpr uint8_t generic_prologue_head[] = {0x00, 0x04, 0x01, 0x09, 0x1c, 0x1d, 0x1c, 0x12};
// static void GenericEpilogue(uint32, object, object[], object, class InstrumentationDirectives)
inline constexpr uint8_t generic_epilogue_head[] = {0x00, 0x05, 0x01, 0x09, 0x1c, 0x1d, 0x1c, 0x1c, 0x12};
// static class System.Reflection.MethodBase GetCurrentMethod()
inline constexpr uint8_t get_current_method_head[] = {0x00, 0x00, 0x12};
// static void RegisterMethod(uint32, class System.Reflection.MethodBase, bool): the
// token goes between the head and the tail.
inline constexpr uint8_t register_method_head[] = {0x00, 0x03, 0x01, 0x09, 0x12};
inline constexpr uint8_t register_method_tail[] = {0x02};

}  // namespace agent_blobs

// The agent assembly's name on this runtime.
const wchar_t* agent_assembly_name();

// Defines the assembly, type and member references of the agent and the core library
// in the module behind the three interfaces (borrowed) and fills `refs`.
HRESULT define_agent_references(IMetaDataEmit* emit, IMetaDataAssemblyEmit* assembly_emit, IMetaDataImport* import,
                                const wtracing_scope& trace, agent_references* refs);
