// The built-in table of methods to instrument: full method name (declaring type's
// full name, ".", method name) to an optional list of expected parameter element
// types. Filled once while the profiler initialises, then only read, by any number of
// JIT threads, without locks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class InstrumentationTarget {
public:
    using argument_list = std::shared_ptr<std::vector<uint8_t>>;

    InstrumentationTarget() = default;
    // Shares the argument array, it does not copy it.
    InstrumentationTarget(std::wstring name, const argument_list& arguments)
        : full_name(std::move(name)), argument_types(arguments) {}

    std::wstring full_name;
    // Null: any overload matches. Otherwise exactly these parameter element types.
    argument_list argument_types;
};

using instrumentation_target_table = std::unordered_map<std::wstring, InstrumentationTarget>;

instrumentation_target_table& target_methods();

void add_instrumentation_target(const InstrumentationTarget& target);
// Any overload of the name matches from now on.
void add_instrumentation_target(const std::wstring& full_name);
// The name with `count` expected element types following as int arguments.
void add_instrumentation_target(const std::wstring& full_name, int count, ...);
