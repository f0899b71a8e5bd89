// The structural checker must itself catch the faults it is trusted with: each row is
// a body with one known fault.
#include "il_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wrap_fixture.h"

namespace wrap_test {
namespace {

class IlCheckTest : public WrapFixture {};

struct fault_row {
    const char* name;
    blob signature;
    blob body;
    std::string problem;  // a part of the expected problem line
};

TEST_F(IlCheckTest, EachFaultIsReported) {
    const mdMethodDef callee = method("Callee", {0x00, 0x00, 0x08}, tiny({0x16, 0x2A}));
    const uint32_t catch_exception = exception_ref;
    const std::vector<fault_row> rows = {
        {"branch into the middle of a try block", {0x00, 0x00, 0x01},
         fat({0x2B, 0x01, 0x00, 0x00, 0xDE, 0x03, 0x26, 0xDE, 0x00, 0x2A}, 2, 0, {{0, 2, 4, 6, 3, catch_exception}}),
         "into or out of a protected region"},
        {"ret inside a try block", {0x00, 0x00, 0x01},
         fat({0x00, 0x2A, 0x26, 0xDE, 0x00, 0x2A}, 2, 0, {{0, 0, 2, 2, 3, catch_exception}}),
         "ret inside a protected region"},
        {"outer clause listed before the inner one", {0x00, 0x00, 0x01},
         fat({0x00, 0x00, 0xDE, 0x03, 0x26, 0xDE, 0x00, 0xDE, 0x03, 0x26, 0xDE, 0x00, 0x2A}, 2, 0,
             {{0, 0, 9, 9, 3, catch_exception}, {0, 1, 3, 4, 3, catch_exception}}),
         "clause 1 is nested in clause 0 but comes after it"},
        {"ret without the return value", {0x00, 0x00, 0x08}, tiny({0x2A}), "finds 0 values on the stack"},
        {"two paths meeting with different depths", {0x00, 0x01, 0x01, 0x08}, tiny({0x02, 0x2C, 0x01, 0x17, 0x2A}),
         "stack depth"},
        {"rethrow outside a catch handler", {0x00, 0x00, 0x01}, tiny({0xFE, 0x1A}), "rethrow outside a catch handler"},
        {"falling off the end", {0x00, 0x00, 0x01}, tiny({0x00}), "runs off the end"},
        {"tail. not followed by ret", {0x00, 0x00, 0x01},
         tiny(concat({{0xFE, 0x14, 0x28}, token_bytes(callee), {0x26, 0x2A}})), "not followed by a call and ret"},
        {"local beyond the locals", {0x00, 0x00, 0x01}, tiny({0x06, 0x26, 0x2A}), "local 0 of 0"},
        {"argument beyond the parameters", {0x00, 0x00, 0x01}, tiny({0x02, 0x26, 0x2A}), "argument 0 of 0"},
    };
    int n = 0;
    for (const fault_row& row : rows) {
        SCOPED_TRACE(row.name);
        const mdMethodDef faulty = method("Faulty" + std::to_string(n++), row.signature, row.body);
        const std::vector<std::string> found = check_current(faulty);
        const bool reported = std::any_of(found.begin(), found.end(), [&](const std::string& p) {
            return p.find(row.problem) != std::string::npos;
        });
        EXPECT_TRUE(reported) << testing::PrintToString(found);
    }
}

TEST_F(IlCheckTest, SoundBodiesPass) {
    // The nested pair of the row above in the right order, and a try/finally.
    const mdMethodDef nested = method(
        "Nested", {0x00, 0x00, 0x01},
        fat({0x00, 0x00, 0xDE, 0x03, 0x26, 0xDE, 0x00, 0xDE, 0x03, 0x26, 0xDE, 0x00, 0x2A}, 2, 0,
            {{0, 1, 3, 4, 3, exception_ref}, {0, 0, 9, 9, 3, exception_ref}}));
    EXPECT_EQ(check_current(nested), std::vector<std::string>{});
    const mdMethodDef guarded = method("Guarded", {0x00, 0x00, 0x08},
                                       fat({0x00, 0xDE, 0x01, 0xDC, 0x16, 0x2A}, 2, 0, {{2, 0, 3, 3, 1, 0}}));
    EXPECT_EQ(check_current(guarded), std::vector<std::string>{});
}

}  // namespace
}  // namespace wrap_test
