// The managed loader's bootstrap, injected into one method of an application domain
// (method_body_instrumenter::create_startup, defined in startup_il.cpp). It defines in
// that method's module a type __NBVoidMethodType__ with two static methods:
//
//   GetAssemblyAndSymbolsBytes  a platform-invoke declaration bound to this library's
//                               export of the same name (module reference: the
//                               library's own path);
//   __NBVoidMethodCall__        gets the embedded loader assembly and its symbols from
//                               that export, copies them into two byte arrays, loads
//                               them into the current domain and creates an instance
//                               of "Nimbrel.TraloManaged.DynamicLoader";
//
// and makes the chosen method call __NBVoidMethodCall__ before its own first
// instruction. Nothing guards the call: whatever fails at run time (library not
// found, an invalid image) is thrown from the chosen method's first instruction.
//
// Guarantees: every step stops at its first failure, logs it once at Error and
// returns its status; definitions already made stay in the module (metadata cannot be
// taken back) and the chosen method keeps its body. Runs on the compiling thread; no
// shared state besides the core library's metadata kept by ILRewriter.
#pragma once

#include <string>

#include "metadata/method_info.h"
#include "runtime/cor_types.h"
#include "runtime/profiler_info.h"

// The value of an environment variable (UTF-8 decoded), or "" when it is not set.
// Throws std::range_error when the value is not valid UTF-8.
std::wstring GetEnvironmentValue(const std::wstring& name);

// The path under which managed code finds this library: CORECLR_PROFILER_PATH_64,
// else CORECLR_PROFILER_PATH, else the file the dynamic linker loaded this code from
// (a library attached without those variables, as by a diagnostics client). Empty
// only when none of them is known.
std::wstring profiler_library_path();

// Writes the startup body (31 instructions, max stack 34, no clauses) into the new
// method `startup_method` of the chosen method's module. `marshal_type` is carried
// for the caller's symmetry and not used by the body.
HRESULT generate_startup_method(ICorProfilerInfo* info, method_info* method, mdMethodDef startup_method,
                                mdSignature locals, mdMethodDef get_assembly_and_symbols_bytes, mdTypeRef byte_type,
                                mdTypeRef marshal_type, mdMemberRef get_current_domain, mdMemberRef load,
                                mdString loader_type_name, mdMemberRef create_instance, mdMemberRef copy);

// Inserts `call startup_method` before the first instruction of the chosen method;
// its own code and exception clauses are otherwise unchanged.
HRESULT invoke_before_method(ICorProfilerInfo* info, method_info* method, mdMethodDef startup_method);
