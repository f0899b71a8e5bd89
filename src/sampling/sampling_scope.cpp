#include "sampling/sampling_scope.h"

namespace {

// Built during static initialisation of the library, so its level is taken from the
// settings as they are before Initialize reads the configuration.
const wtracing_scope the_sampling_scope;

}  // namespace

const wtracing_scope& sampling_scope() { return the_sampling_scope; }
