#include "profiler/instrumentation_target.h"

#include <cstdarg>

instrumentation_target_table& target_methods() {
    static instrumentation_target_table table;
    return table;
}

void add_instrumentation_target(const InstrumentationTarget& target) {
    InstrumentationTarget& entry = target_methods()[target.full_name];
    entry.full_name = target.full_name;
    entry.argument_types = target.argument_types;
}

void add_instrumentation_target(const std::wstring& full_name) {
    add_instrumentation_target(InstrumentationTarget(full_name, nullptr));
}

void add_instrumentation_target(const std::wstring& full_name, int count, ...) {
    auto types = std::make_shared<std::vector<uint8_t>>();
    va_list args;
    va_start(args, count);
    for (int i = 0; i < count; ++i) types->push_back(static_cast<uint8_t>(va_arg(args, int)));
    va_end(args);
    add_instrumentation_target(InstrumentationTarget(full_name, types));
}
