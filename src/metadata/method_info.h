// Everything known about one method at the moment the runtime reports it (JIT
// compilation or cached-code search): its function, class, module and assembly ids,
// the names of its assembly, module, declaring type and itself, its token and
// signature, the compiling thread, and whether it or its assembly carries the trace
// or the transparency attribute.
//
// Guarantees: built and read on the callback's thread, never shared; copies are
// independent and deep, except `signature`, which points into the runtime's
// metadata (valid while the module is loaded) and is never freed by the record.
// Every operation returns the runtime's status; failures are logged at Error through
// the record's own scope, and the record keeps whatever was filled before the
// failing step. Read a record only after initialize_method_info succeeded.
#pragma once

#include <string>

#include "logging/wtracing_scope.h"
#include "runtime/cor_types.h"
#include "runtime/profiler_info.h"

class method_info {
public:
    method_info();

    // Fills the whole record for `function`; the first failing status, else the
    // status of the last step.
    HRESULT initialize_method_info(ICorProfilerInfo* info, FunctionID function);
    // Token, method name, signature, attribute flags, type name, class and module.
    HRESULT get_class_method_info(ICorProfilerInfo* info, FunctionID function);
    // Module name and assembly id (needs module_id).
    HRESULT get_module_info(ICorProfilerInfo* info);
    // Assembly name and the assembly's transparency attribute (needs assembly_id and
    // module_id).
    HRESULT get_assembly_info(ICorProfilerInfo* info);
    HRESULT get_thread_id(ICorProfilerInfo* info);
    // The method's current IL body as the runtime reports it (header included).
    HRESULT get_body_bytes(ICorProfilerInfo* info, LPCBYTE* body, ULONG* body_size);
    // Installs `body`, which must come from the module's IL body allocator.
    HRESULT set_body_bytes(ICorProfilerInfo* info, LPCBYTE body);

    AssemblyID assembly_id = 0;
    std::wstring assembly_name;
    ModuleID module_id = 0;
    std::wstring module_name;
    ClassID class_id = 0;
    std::wstring type_name;  // the declaring type definition's name as stored
    FunctionID function_id = 0;
    std::wstring method_name;
    mdMethodDef method_token = 0;
    PCCOR_SIGNATURE signature = nullptr;  // owned by the runtime's metadata
    ULONG signature_size = 0;
    ThreadID thread_id = 0;
    ULONG has_trace_attribute = 0;      // 0 or 1: Nimbrel.Instrumentation.TraceAttribute
    ULONG is_security_transparent = 0;  // 0 or 1: on the method, or else on its assembly
    wtracing_scope trace;
};
