// Serves arbitrary bytes as a method body through the runtime double (reported size =
// input size, so AddressSanitizer catches any read past it) and imports it with the
// rewriter. A body the rewriter accepts must then:
// - export without failure, and the exported body must import again and export to
//   the same bytes (the encoding is a fixed point), apart from the max stack, which
//   only grows (each import adds the pushes of the code to the header's value);
// - survive a nop inserted after its first instruction (and after any case table),
//   which may widen branches, and still export.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "il/il_rewriter.h"
#include "support/fake_profiler_info.h"
#include "support/wide_text.h"

namespace {

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// Imports the method's current body and exports it after `edit`; the status of the
// first failing step.
template <class Edit>
HRESULT round_trip(test_support::fake_profiler_info& info, test_support::fake_module& module, mdMethodDef method,
                   Edit edit) {
    ILRewriter rewriter(&info, nullptr, module.module_id, method);
    const HRESULT hr = rewriter.Import();
    if (hr != S_OK) {
        return hr;
    }
    edit(rewriter);
    return rewriter.Export();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    test_support::fake_profiler_info info;
    test_support::fake_module& module = info.add_module("Fuzz");
    const mdMethodDef method = module.add_method("Fuzz.Type", "M", {0x00, 0x00, 0x01}, {data, data + size});

    const HRESULT imported = round_trip(info, module, method, [](ILRewriter&) {});
    if (imported == COR_E_INVALIDPROGRAM || imported == test_support::function_not_il) {
        return 0;  // rejected as malformed, or an empty body
    }
    check(imported == S_OK);
    const std::vector<uint8_t> first = *module.body_set(method);

    // The exported body is served from now on (the double returns the body set).
    check(round_trip(info, module, method, [](ILRewriter&) {}) == S_OK);
    const std::vector<uint8_t>& second = *module.body_set(method);
    check(second.size() == first.size() && second.size() >= 12);
    const auto max_stack = [](const std::vector<uint8_t>& body) { return body[2] | (body[3] << 8); };
    check(max_stack(second) >= max_stack(first));
    check(std::equal(first.begin(), first.begin() + 2, second.begin()) &&
          std::equal(first.begin() + 4, first.end(), second.begin() + 4));

    const HRESULT grown = round_trip(info, module, method, [](ILRewriter& rewriter) {
        ILInstr* first_instruction = rewriter.first_instruction();
        if (first_instruction == rewriter.GetILList()) return;
        while (first_instruction->next->opcode == op::switch_target) first_instruction = first_instruction->next;
        ILInstr* nop = rewriter.CreateInstr();
        nop->opcode = op::nop;
        rewriter.InsertAfter(first_instruction, nop);
    });
    check(grown == S_OK);
    return 0;
}
