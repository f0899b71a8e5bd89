// The process the instrumentation tests run in: a core library module and an
// application module "Shop" on the runtime double, method bodies built inline, the
// instrumenter run on one method, and what it left behind read back: the installed
// body as a listing with tokens named ("call span::GenericPrologue"), its clauses,
// the structural check of il_check.h, and the messages logged through the method's
// scope.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "logging/logging_configuration.h"
#include "logging_test_support.h"
#include "metadata/method_info.h"
#include "runtime/cor_types.h"
#include "support/fake_profiler_info.h"

namespace wrap_test {

using test_support::blob;

// A method body with a tiny header (no locals, max stack 8).
blob tiny(const blob& code);
// A method body with a fat header (InitLocals set), its locals' signature token (0 for
// none) and, when given, a fat exception section.
struct clause {
    uint32_t flags, try_offset, try_length, handler_offset, handler_length, token;
};
blob fat(const blob& code, uint16_t max_stack, mdSignature locals = 0, const std::vector<clause>& clauses = {});
// Little-endian bytes of a token, for inline operands.
blob token_bytes(mdToken token);
blob concat(std::initializer_list<blob> parts);

class WrapFixture : public testing::Test {
protected:
    WrapFixture();
    ~WrapFixture() override;

    // A method of Shop.Cart (or of `owner`), static unless the signature says HASTHIS.
    mdMethodDef method(const std::string& name, const blob& signature, const blob& body, mdTypeDef owner = 0);
    // Runs method_body_instrumenter::create on the method, as the JIT dispatch would:
    // the method record first, then the instrumenter.
    HRESULT instrument(mdMethodDef method, int selection = 0);
    std::unique_ptr<method_info> record_of(mdMethodDef method);
    HRESULT create(method_info& record, int selection = 0);

    // The body the instrumenter installed, imported again: its listing with tokens
    // named, its clauses, and what the structural checker finds wrong with it. A
    // method without an installed body fails the test.
    std::string listing(mdMethodDef method);
    std::string clauses(mdMethodDef method);
    std::vector<std::string> check(mdMethodDef method);
    // The same for the body the method has now (installed or original).
    std::vector<std::string> check_current(mdMethodDef method);

    // Texts logged at `level` through the scope of the last method instrumented, by its
    // last create.
    std::vector<std::string> messages(severity level) const;

    // The last type reference of the module with that name (the one the last wrapping
    // defined), or the nil token.
    mdTypeRef last_type_ref(std::u16string_view name) const;

    // A token's readable name: "System.Int32", "span::Log", "\"text\"", ...
    std::string name_of(mdToken token);

    configuration_guard configuration_;
    record_capture capture_;
    test_support::fake_profiler_info info;
    test_support::fake_module& corlib;
    test_support::fake_module& app;

    // Shop's references into the core library (through System.Runtime).
    mdAssemblyRef runtime = 0;
    mdTypeRef object_ref = 0, value_type_ref = 0, int32_ref = 0, date_time_ref = 0, span_ref = 0, nullable_ref = 0,
              list_ref = 0, exception_ref = 0, unknown_struct_ref = 0;
    mdMemberRef exception_ctor = 0;
    // Shop's own types: a class, a struct, a by-ref-like struct.
    mdTypeDef cart = 0, point = 0, buffer = 0;

private:
    std::string last_scope_;
    size_t first_record_ = 0;  // of the last create
    bool was_coreclr_ = false;
};

// The lines of `text` without the "IL_xxxx: " offsets, for comparing runs of
// instructions wherever they lie.
std::vector<std::string> instructions(const std::string& listing);
// Whether `run` occurs as consecutive lines of `lines`.
bool contains_run(const std::vector<std::string>& lines, const std::vector<std::string>& run);

}  // namespace wrap_test
