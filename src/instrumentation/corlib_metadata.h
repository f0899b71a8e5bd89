// The core library's metadata, opened by the first instrumentation after the core
// library's module is known and kept for the process (the rewriter and the method
// shape read type definitions from it).
#pragma once

#include "runtime/metadata_import.h"
#include "runtime/profiler_info.h"

// The process's core library metadata, opened now if it is known but not yet open.
// Null until the core library's module has loaded; a failure to open it only makes
// fewer values boxable.
IMetaDataImport* corlib_metadata(ICorProfilerInfo* info);
