// A method as the runtime stores its IL: the module and the method's definition token.
// Every FunctionID of a method (each tier, each instantiation of a generic method,
// each on-stack-replacement variant) shares one key, and so does the IL body that
// SetILFunctionBody installs.
#pragma once

#include <cstddef>
#include <functional>

#include "runtime/cor_types.h"
#include "runtime/profiler_types.h"

struct method_key {
    ModuleID module = 0;
    mdMethodDef token = 0;

    bool operator==(const method_key&) const = default;
};

struct method_key_hash {
    size_t operator()(const method_key& key) const noexcept {
        // Module ids are aligned addresses and tokens small row numbers; mixing the
        // token into the high bits keeps neighbouring methods in different buckets.
        return std::hash<ModuleID>{}(key.module ^ (static_cast<ModuleID>(key.token) * 0x9E3779B97F4A7C15ull));
    }
};
