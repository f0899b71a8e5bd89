// The trace scope of the snapshot worker's messages. It has an empty prefix and is
// built when the library is loaded, before any configuration has been read, and is
// never changed afterwards: its level stays at what the initial settings give
// (Fatal), so the worker's Debug, Warning and Error messages are not written whatever
// level the configuration later asks for. Messages of the profiler's own operations
// go through the profiler's scope instead, which callers pass in.
#pragma once

#include "logging/wtracing_scope.h"

const wtracing_scope& sampling_scope();
