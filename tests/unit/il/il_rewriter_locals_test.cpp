// The rewriter's metadata edits: locals appended to the local signature, and type
// references for primitive types.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "il/il_rewriter.h"
#include "il_test_bodies.h"
#include "support/wide_text.h"

namespace {

using namespace il_test;

class LocalsTest : public RewriterFixture {
protected:
    // Imports `ret` with the given local signature (none when empty) and opens the
    // module's metadata for the rewriter, as the instrumenter does.
    void import_with_locals(const bytes& local_signature) {
        const uint32_t token = local_signature.empty() ? 0 : module.add_standalone_sig(local_signature);
        accept(fat_body(0, 8, {0x2A}, token));
        ASSERT_EQ(info.GetModuleMetaData(module.module_id, ofWrite, IID_IMetaDataImport,
                                         rewriter->m_pMetaDataImport.put_unknown()),
                  S_OK);
        ASSERT_EQ(query_interface(rewriter->m_pMetaDataImport, IID_IMetaDataEmit, rewriter->m_pMetaDataEmit), S_OK);
    }
    bytes local_signature() { return module.standalone_sigs.at(RidFromToken(rewriter->m_localVarSigToken) - 1); }
};

TEST_F(LocalsTest, EachNewLocalIsAppendedWithTheCountReEncoded) {
    import_with_locals({});
    const mdTypeSpec list_of_int = module.add_type_spec({0x15, 0x12, 0x49, 0x01, 0x08});
    const struct {
        const char* name;
        std::function<uint32_t(ILRewriter&)> add;
        uint32_t index;
        bytes signature;
    } steps[] = {
        {"object[] (SZARRAY with an element type)", [](ILRewriter& r) { return r.AddNewLocal(0x1C, 0x1D); }, 0,
         {0x07, 0x01, 0x1D, 0x1C}},
        {"object[] again", [](ILRewriter& r) { return r.AddNewLocal(0x1C, 0x1D); }, 1,
         {0x07, 0x02, 0x1D, 0x1C, 0x1D, 0x1C}},
        {"class TypeRef row 18", [](ILRewriter& r) { return r.AddNewLocal(0x01000012, 0x12); }, 2,
         {0x07, 0x03, 0x1D, 0x1C, 0x1D, 0x1C, 0x12, 0x49}},
        {"valuetype TypeDef row 256", [](ILRewriter& r) { return r.AddNewLocal(0x02000100, 0x11); }, 3,
         {0x07, 0x04, 0x1D, 0x1C, 0x1D, 0x1C, 0x12, 0x49, 0x11, 0x84, 0x00}},
        {"generic instance from its TypeSpec", [&](ILRewriter& r) { return r.AddNewLocal(list_of_int, 0x15); }, 4,
         {0x07, 0x05, 0x1D, 0x1C, 0x1D, 0x1C, 0x12, 0x49, 0x11, 0x84, 0x00, 0x15, 0x12, 0x49, 0x01, 0x08}},
        {"int32", [](ILRewriter& r) { return r.AddNewValueTypeLocal(0x08); }, 5,
         {0x07, 0x06, 0x1D, 0x1C, 0x1D, 0x1C, 0x12, 0x49, 0x11, 0x84, 0x00, 0x15, 0x12, 0x49, 0x01, 0x08, 0x08}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        EXPECT_EQ(step.add(*rewriter), step.index);
        EXPECT_EQ(local_signature(), step.signature);
    }
    ASSERT_EQ(rewriter->Export(), S_OK);
    EXPECT_EQ(get_u32(*installed(), 8), rewriter->m_localVarSigToken) << "the header names the new signature";
}

TEST_F(LocalsTest, NewLocalOfAMethodWithLocalsGetsTheNextIndexNotZero) {
    import_with_locals({0x07, 0x02, 0x08, 0x0E});
    EXPECT_EQ(rewriter->AddNewValueTypeLocal(0x02), 2u);
    EXPECT_EQ(local_signature(), (bytes{0x07, 0x03, 0x08, 0x0E, 0x02}));
}

TEST_F(LocalsTest, The128thLocalWidensTheCountToTwoBytes) {
    import_with_locals(concat({{0x07, 0x7F}, repeat(0x08, 127)}));
    EXPECT_EQ(rewriter->AddNewValueTypeLocal(0x02), 127u);
    EXPECT_EQ(local_signature(), concat({{0x07, 0x80, 0x80}, repeat(0x08, 127), {0x02}}));
}

TEST_F(LocalsTest, ValueTypeLocalSignatureIsLimitedTo4096Bytes) {
    // 1 + 2 (count) + 4092 + 1 = 4096 bytes fits; one old local more does not.
    import_with_locals(concat({{0x07, 0x8F, 0xFC}, repeat(0x08, 4092)}));
    EXPECT_EQ(rewriter->AddNewValueTypeLocal(0x08), 4092u);
    import_with_locals(concat({{0x07, 0x8F, 0xFD}, repeat(0x08, 4093)}));
    EXPECT_EQ(rewriter->AddNewValueTypeLocal(0x08), ILRewriter::no_local);
}

TEST_F(LocalsTest, FailuresAddNothingAndAnswerNoLocal) {
    const bytes two_locals = {0x07, 0x02, 0x08, 0x0E};
    const struct {
        const char* name;
        bytes old_signature;
        const char* failing_call;
        std::function<uint32_t(ILRewriter&)> add;
    } rows[] = {
        {"AddNewLocal of a primitive element type", {}, nullptr, [](ILRewriter& r) { return r.AddNewLocal(0, 0x08); }},
        {"a MethodDef token as the type", {}, nullptr, [](ILRewriter& r) { return r.AddNewLocal(0x06000001, 0x12); }},
        {"a nil TypeRef", {}, nullptr, [](ILRewriter& r) { return r.AddNewLocal(0x01000000, 0x12); }},
        {"GENERICINST with a TypeRef", {}, nullptr, [](ILRewriter& r) { return r.AddNewLocal(0x01000001, 0x15); }},
        {"GENERICINST whose TypeSpec cannot be read", {}, "GetTypeSpecFromToken",
         [](ILRewriter& r) { return r.AddNewLocal(0x1B000001, 0x15); }},
        {"the old signature cannot be read", two_locals, "GetSigFromToken",
         [](ILRewriter& r) { return r.AddNewValueTypeLocal(0x08); }},
        {"the new signature cannot be stored", two_locals, "GetTokenFromSig",
         [](ILRewriter& r) { return r.AddNewValueTypeLocal(0x08); }},
        {"an old count with lead byte 111xxxxx", {0x07, 0xE0, 0x00, 0x00, 0x01, 0x08}, nullptr,
         [](ILRewriter& r) { return r.AddNewValueTypeLocal(0x08); }},
        {"an old signature that is no local signature", {0x06, 0x08}, nullptr,
         [](ILRewriter& r) { return r.AddNewValueTypeLocal(0x08); }},
        {"a value-type local of an incomplete type (VALUETYPE)", {}, nullptr,
         [](ILRewriter& r) { return r.AddNewValueTypeLocal(0x11); }},
        {"no emit interface", two_locals, nullptr,
         [](ILRewriter& r) {
             r.m_pMetaDataEmit.reset();
             return r.AddNewValueTypeLocal(0x08);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        info.failures().clear();
        import_with_locals(row.old_signature);
        module.add_type_spec({0x15, 0x12, 0x49, 0x01, 0x08});
        const mdSignature before = rewriter->m_localVarSigToken;
        const size_t signatures = module.standalone_sigs.size();
        if (row.failing_call != nullptr) info.fail(row.failing_call, E_FAIL);
        EXPECT_EQ(row.add(*rewriter), ILRewriter::no_local);
        EXPECT_EQ(rewriter->m_localVarSigToken, before);
        EXPECT_EQ(module.standalone_sigs.size(), signatures);
    }
}

// Type references for primitive types: from the module, else imported from the core
// library through the module's metadata.
class MetadataTokenTest : public LocalsTest {
protected:
    void SetUp() override {
        runtime = module.add_assembly_ref("System.Runtime", {8, 0, 0, 0});
        object = module.add_type_ref("System.Object", runtime);
        int32 = module.add_type_ref("System.Int32", runtime);
        corlib.add_type_def("System.Int64");
        corlib.add_type_def("System.Boolean");
        import_with_locals({});
    }
    void TearDown() override { ILRewriter::m_pCorLibMetaDataImport.store(nullptr); }
    void use_corlib() { ILRewriter::m_pCorLibMetaDataImport.store(corlib.import()); }

    test_support::fake_module& corlib = info.add_module("System.Private.CoreLib");
    mdAssemblyRef runtime = 0;
    mdTypeRef object = 0;
    mdTypeRef int32 = 0;
};

TEST_F(MetadataTokenTest, ReferencedTypesAndObjectForms) {
    const struct {
        uint8_t element_type;
        HRESULT status;
        mdToken expected;
    } rows[] = {
        {0x08, S_OK, int32},   // I4
        {0x0E, S_OK, object},  // STRING
        {0x1C, S_OK, object},  // OBJECT
        {0x1D, S_OK, object},  // SZARRAY
        {0x15, S_OK, object},  // GENERICINST
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "element type 0x" << std::hex << int{row.element_type});
        mdToken token = 0xDEAD;
        EXPECT_EQ(rewriter->GetMetadataToken(row.element_type, &token), row.status);
        EXPECT_EQ(token, row.expected);
    }
    for (uint8_t none : {0x16 /* TYPEDBYREF */, 0x01 /* VOID */, 0x11 /* VALUETYPE */}) {
        mdToken token = 0xDEAD;
        EXPECT_EQ(rewriter->GetMetadataToken(none, &token), S_FALSE);
        EXPECT_EQ(token, 0u);
    }
}

TEST_F(MetadataTokenTest, MissingPrimitiveIsImportedFromTheCoreLibrary) {
    use_corlib();
    const ULONG module_references = module.metadata().references();
    const ULONG corlib_references = corlib.metadata().references();
    mdToken token = 0;
    ASSERT_EQ(rewriter->GetMetadataToken(0x0A, &token), S_OK);  // I8
    ASSERT_NE(module.type_ref(token), nullptr);
    EXPECT_EQ(test_support::utf8(module.type_ref(token)->name), "System.Int64");
    const auto* scope = module.assembly_ref(module.type_ref(token)->scope);
    ASSERT_NE(scope, nullptr);
    EXPECT_EQ(test_support::utf8(scope->name), "System.Private.CoreLib");
    EXPECT_EQ(module.metadata().references(), module_references) << "queried interfaces are released";
    EXPECT_EQ(corlib.metadata().references(), corlib_references);
}

TEST_F(MetadataTokenTest, ImportPathFailures) {
    const struct {
        const char* name;
        bool with_corlib;
        uint8_t element_type;
        const char* failing_call;
        HRESULT status;
    } rows[] = {
        {"no core library metadata", false, 0x0A, nullptr, S_FALSE},
        {"the core library lacks the type", true, 0x0C /* R4 */, nullptr, S_FALSE},
        {"an interface query fails", true, 0x0A, "QueryInterface", E_NOINTERFACE},
        {"the Object reference's scope cannot be read", true, 0x0A, "GetTypeRefProps", E_ACCESSDENIED},
        {"the assembly reference cannot be read", true, 0x0A, "GetAssemblyRefProps", E_ACCESSDENIED},
        {"the import is refused", true, 0x0A, "DefineImportType", E_ACCESSDENIED},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        info.failures().clear();
        ILRewriter::m_pCorLibMetaDataImport.store(row.with_corlib ? corlib.import() : nullptr);
        // The names are read first (every reference while looking for the missing
        // type, then System.Object, the first); only the next call, for the
        // resolution scope, is made to fail.
        if (row.failing_call != nullptr) {
            if (std::string(row.failing_call) == "GetTypeRefProps") {
                info.fail_once(row.failing_call, row.status, static_cast<unsigned>(module.type_refs.size()) + 2);
            } else {
                info.fail(row.failing_call, row.status);
            }
        }
        const size_t type_refs = module.type_refs.size();
        mdToken token = 0xDEAD;
        EXPECT_EQ(rewriter->GetMetadataToken(row.element_type, &token), row.status);
        EXPECT_EQ(token, 0u);
        EXPECT_EQ(module.type_refs.size(), type_refs);
    }
    info.failures().clear();
    module.type_refs[0].name = u"System.Obj";  // no System.Object reference at all
    use_corlib();
    mdToken token = 0xDEAD;
    EXPECT_EQ(rewriter->GetMetadataToken(0x0A, &token), E_INVALIDARG);
    EXPECT_EQ(token, 0u);
}

}  // namespace
