#include "metadata/metadata_helper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata_log_capture.h"
#include "support/fake_profiler_info.h"
#include "support/wide_text.h"

namespace {

using namespace metadata_helper;
using texts = std::vector<std::wstring>;
using tokens = std::vector<mdToken>;

class HelperTest : public testing::Test {
protected:
    HelperTest() {
        runtime = module.add_assembly_ref("System.Runtime", {8, 0, 0, 0});
        console_assembly = module.add_assembly_ref("System.Console", {8, 0, 0, 0});
        object = module.add_type_ref("System.Object", runtime);
        int32 = module.add_type_ref("System.Int32", runtime);
        console = module.add_type_ref("System.Console", console_assembly);
    }
    IMetaDataImport* import() { return module.import(); }

    metadata_log_capture log;
    test_support::fake_profiler_info info;
    test_support::fake_module& module = info.add_module("App");
    mdAssemblyRef runtime, console_assembly;
    mdTypeRef object, int32, console;
};

TEST_F(HelperTest, EnumerationsListEveryRowInEnumerationOrder) {
    const mdTypeDef cart = module.add_type_def("Shop.Cart");
    const mdTypeDef order = module.add_type_def("Shop.Order");
    const mdMemberRef write_line = module.add_member_ref(console, "WriteLine", {0x00, 0x01, 0x01, 0x0E});
    module.add_member_ref(object, ".ctor", {0x20, 0x00, 0x01});
    const mdMemberRef read_line = module.add_member_ref(console, "ReadLine", {0x00, 0x00, 0x0E});

    tokens found{0xDEAD};
    EXPECT_EQ(get_typerefs(import(), found), S_OK);
    EXPECT_EQ(found, (tokens{object, int32, console}));
    EXPECT_EQ(get_typedefs(import(), found), S_OK);
    EXPECT_EQ(found, (tokens{cart, order}));
    EXPECT_EQ(get_memberrefs(import(), console, found), S_OK);
    EXPECT_EQ(found, (tokens{write_line, read_line}));
    EXPECT_EQ(get_memberrefs(import(), int32, found), S_OK);
    EXPECT_EQ(found, tokens{});
    EXPECT_EQ(module.metadata().open_enums(), 0);
    EXPECT_EQ(log.count(), 0u);
}

TEST_F(HelperTest, EmptyModuleHasNoTypeReferences) {
    test_support::fake_module empty;
    tokens found{0xDEAD};
    EXPECT_EQ(get_typerefs(empty.import(), found), S_OK);
    EXPECT_TRUE(found.empty());
}

TEST_F(HelperTest, EnumerationFailuresAreLoggedAndReturned) {
    const struct {
        const char* name;
        HRESULT (*call)(IMetaDataImport*, mdToken, tokens&);
        const char* failing_call;
        unsigned nth;
        const wchar_t* message;
    } rows[] = {
        {"get_typerefs, opening", [](IMetaDataImport* i, mdToken, tokens& t) { return get_typerefs(i, t); },
         "EnumTypeRefs", 1, L"EnumTypeRefs failed HRESULT=0x80004005 (unspecified error)."},
        {"get_typerefs, counting", [](IMetaDataImport* i, mdToken, tokens& t) { return get_typerefs(i, t); },
         "CountEnum", 1, L"CountEnum failed HRESULT=0x80004005 (unspecified error)."},
        {"get_typerefs, fetching", [](IMetaDataImport* i, mdToken, tokens& t) { return get_typerefs(i, t); },
         "EnumTypeRefs", 2, L"EnumTypeRefs failed HRESULT=0x80004005 (unspecified error)."},
        {"get_typedefs", [](IMetaDataImport* i, mdToken, tokens& t) { return get_typedefs(i, t); }, "EnumTypeDefs",
         1, L"EnumTypeDefs failed HRESULT=0x80004005 (unspecified error)."},
        {"get_memberrefs", [](IMetaDataImport* i, mdToken p, tokens& t) { return get_memberrefs(i, p, t); },
         "EnumMemberRefs", 2, L"EnumMemberRefs failed HRESULT=0x80004005 (unspecified error)."},
    };
    module.add_type_def("Shop.Cart");
    module.add_member_ref(console, "WriteLine", {0x00, 0x01, 0x01, 0x0E});
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        info.failures().clear();
        info.fail_once(row.failing_call, E_FAIL, row.nth);
        const size_t before = log.count();
        tokens found;
        EXPECT_EQ(row.call(import(), console, found), E_FAIL);
        const auto errors = log.texts(Error);
        ASSERT_EQ(log.count(), before + 1);
        EXPECT_EQ(errors.back(), row.message);
        EXPECT_EQ(module.metadata().open_enums(), 0) << "the enumeration is closed on the failing path too";
    }
    tokens found;
    const size_t before = log.count();
    EXPECT_EQ(get_typerefs(nullptr, found), E_POINTER);
    EXPECT_EQ(log.count(), before) << "a missing interface is not logged";
}

TEST_F(HelperTest, LookupTypeFindsTheReferenceByItsExactName) {
    mdTypeRef token = 0;
    EXPECT_EQ(lookup_type(import(), L"System.Int32", &token), S_OK);
    EXPECT_EQ(token, int32);
    EXPECT_EQ(log.lines(), (std::vector<metadata_log_capture::line>{
                               {Debug, L"lookup_type", L"----- Searching for type reference System.Int32..."},
                               {Trace, L"lookup_type", L"Checking type 'System.Object' with token (16777217)."},
                               {Trace, L"lookup_type", L"Checking type 'System.Int32' with token (16777218)."},
                               {Debug, L"lookup_type", L"----- Found type System.Int32 with token (16777218)."},
                           }));
}

TEST_F(HelperTest, LookupTypeMissesAreInvalidArgumentWithTheNilToken) {
    const struct {
        const char* name;
        std::wstring wanted;
    } rows[] = {
        {"absent", L"System.Int64"},
        {"differs only in case", L"system.int32"},
        {"a prefix of a present name", L"System.Int3"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        mdTypeRef token = 0xDEAD;
        EXPECT_EQ(lookup_type(import(), row.wanted, &token), E_INVALIDARG);
        EXPECT_EQ(token, 0x01000000u);
        EXPECT_EQ(log.texts(Error).back(),
                  L"Failed to find type " + row.wanted + L". HRESULT=0x80070057 (invalid argument).");
    }
    mdTypeRef token = 0xDEAD;
    const size_t before = log.count();
    EXPECT_EQ(lookup_type(nullptr, L"System.Int32", &token), E_POINTER);
    EXPECT_EQ(lookup_type(import(), L"", &token), E_INVALIDARG);
    EXPECT_EQ(log.count(), before) << "no line for a missing interface or an empty name";
}

TEST_F(HelperTest, LookupTypeTakesTheFirstReadableRowAndSkipsTheRest) {
    const mdTypeRef second_int32 = module.add_type_ref("System.Int32", console_assembly);
    const std::string long_name(1100, 'N');
    module.add_type_ref(long_name, runtime);
    mdTypeRef token = 0;
    EXPECT_EQ(lookup_type(import(), L"System.Int32", &token), S_OK);
    EXPECT_EQ(token, int32) << "two scopes, one name: the first enumerated wins";

    info.fail_once("GetTypeRefProps", E_FAIL, 2);  // the first System.Int32 cannot be read
    EXPECT_EQ(lookup_type(import(), L"System.Int32", &token), S_OK);
    EXPECT_EQ(token, second_int32);

    EXPECT_EQ(lookup_type(import(), std::wstring(long_name.begin(), long_name.end()), &token), E_INVALIDARG)
        << "a name longer than the 1024-character buffer is skipped";
}

TEST_F(HelperTest, LookupTypeReportsAnEnumerationFailure) {
    info.fail("EnumTypeRefs", E_FAIL);
    mdTypeRef token = 0;
    EXPECT_EQ(lookup_type(import(), L"System.Int32", &token), E_FAIL);
    EXPECT_EQ(log.texts(Error), (texts{L"EnumTypeRefs failed HRESULT=0x80004005 (unspecified error).",
                                       L"Failed to get type references when looking for type System.Int32. "
                                       L"HRESULT=0x80004005 (unspecified error)."}));
}

TEST_F(HelperTest, LookupTypeDefFindsDefinitionsOnly) {
    const mdTypeDef cart = module.add_type_def("Shop.Cart");
    mdTypeDef token = 0;
    EXPECT_EQ(lookup_type_def(import(), L"Shop.Cart", &token), S_OK);
    EXPECT_EQ(token, cart);
    EXPECT_EQ(log.texts(Trace).back(), L"----- Found type Shop.Cart with token (33554434).");
    EXPECT_EQ(lookup_type_def(import(), L"System.Int32", &token), E_INVALIDARG) << "a reference is no definition";
    EXPECT_EQ(token, 0x02000000u);
    EXPECT_EQ(log.texts(Error).back(),
              L"Failed to find type definition System.Int32. HRESULT=0x80070057 (invalid argument).");
    info.fail("EnumTypeDefs", E_ACCESSDENIED);
    EXPECT_EQ(lookup_type_def(import(), L"Shop.Cart", &token), E_ACCESSDENIED);
    EXPECT_EQ(log.texts(Error).back(), L"Failed to get type definitions when looking for type Shop.Cart. "
                                       L"HRESULT=0x80070005 (general access denied error).");
}

TEST_F(HelperTest, LookupMemberComparesTheNameUnderTheGivenParentOnly) {
    const mdMemberRef write_line = module.add_member_ref(console, "WriteLine", {0x00, 0x01, 0x01, 0x0E});
    module.add_member_ref(object, "ToString", {0x20, 0x00, 0x0E});
    mdMemberRef token = 0;
    EXPECT_EQ(lookup_member(import(), L"WriteLine", console, &token), S_OK);
    EXPECT_EQ(token, write_line);
    EXPECT_EQ(log.texts(Debug).back(), L"----- Searching for memmber reference WriteLine...");
    EXPECT_EQ(log.texts(Trace).back(),
              L"----- Found member reference WriteLine with signature (0x00,0x01,0x01,0x0e,) and token (167772161).");

    EXPECT_EQ(lookup_member(import(), L"ToString", console, &token), E_INVALIDARG);
    EXPECT_EQ(token, 0x0A000000u);
    EXPECT_EQ(log.texts(Error).back(),
              L"Failed to find member reference ToString. HRESULT=0x80070057 (invalid argument).");
    EXPECT_EQ(lookup_member(import(), L"WriteLine", int32, &token), E_INVALIDARG) << "no member references there";

    info.fail("EnumMemberRefs", E_FAIL);
    EXPECT_EQ(lookup_member(import(), L"WriteLine", console, &token), E_FAIL);
    EXPECT_EQ(log.texts(Error).back(), L"Failed to get member references when looking for type WriteLine. "
                                       L"HRESULT=0x80004005 (unspecified error).");
}

TEST_F(HelperTest, LookupMethodFindsTypeThenMemberAndReleasesTheMetadata) {
    const mdMemberRef write_line = module.add_member_ref(console, "WriteLine", {0x00, 0x01, 0x01, 0x0E});
    mdMemberRef token = 0;
    EXPECT_EQ(lookup_method(&info, module.module_id, L"System.Console::WriteLine", &token), S_OK);
    EXPECT_EQ(token, write_line);
    EXPECT_EQ(module.metadata().references(), 0u);
}

TEST_F(HelperTest, LookupMethodRejectsNamesWithoutExactlyOneDoubleColon) {
    for (const wchar_t* name : {L"", L"System.Console", L"System.Console:WriteLine", L"::WriteLine",
                                L"System.Console::", L"A::B::C", L"A:::B", L"A:B::C"}) {
        SCOPED_TRACE(testing::Message() << "name \"" << std::wstring(name) << "\"");
        mdMemberRef token = 0xDEAD;
        EXPECT_EQ(lookup_method(&info, module.module_id, name, &token), E_INVALIDARG);
        EXPECT_EQ(token, 0x0A000000u);
    }
    EXPECT_EQ(log.count(), 0u);
    EXPECT_EQ(info.calls("GetModuleMetaData"), 0u);
}

TEST_F(HelperTest, LookupMethodFailuresNameTheirStep) {
    const struct {
        const char* name;
        const wchar_t* method;
        const char* failing_call;
        HRESULT status;
        const wchar_t* last_error;
    } rows[] = {
        {"no metadata", L"System.Console::WriteLine", "GetModuleMetaData", E_FAIL,
         L"Failed to get IMetaDataImport import interface. HRESULT=0x80004005 (unspecified error)."},
        {"no such type", L"System.Missing::WriteLine", nullptr, E_INVALIDARG,
         L"Failed to find reference for type System.Missing. HRESULT=0x80070057 (invalid argument)."},
        {"no such method", L"System.Console::Missing", nullptr, E_INVALIDARG,
         L"Failed to find reference for method Missing. HRESULT=0x80070057 (invalid argument)."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        info.failures().clear();
        if (row.failing_call != nullptr) info.fail(row.failing_call, row.status);
        mdMemberRef token = 0;
        EXPECT_EQ(lookup_method(&info, module.module_id, row.method, &token), row.status);
        EXPECT_EQ(log.texts(Error).back(), row.last_error);
        EXPECT_EQ(log.lines().back().scope, L"lookup_method");
        EXPECT_EQ(module.metadata().references(), 0u);
    }
}

TEST_F(HelperTest, ImportTypeDefinesAnAssemblyReferenceAndATypeUnderIt) {
    mdTypeRef defined = 0;
    ASSERT_EQ(import_type(&info, module.module_id, L"Nimbrel.Agent", L"Nimbrel.Agent.Tracer", &defined), S_OK);
    const auto* type_ref = module.type_ref(defined);
    ASSERT_NE(type_ref, nullptr);
    EXPECT_EQ(test_support::utf8(type_ref->name), "Nimbrel.Agent.Tracer");
    const auto* assembly_ref = module.assembly_ref(type_ref->scope);
    ASSERT_NE(assembly_ref, nullptr);
    EXPECT_EQ(test_support::utf8(assembly_ref->name), "Nimbrel.Agent");
    EXPECT_EQ(assembly_ref->version.major, 4);
    EXPECT_EQ(assembly_ref->version.minor + assembly_ref->version.build + assembly_ref->version.revision, 0);
    EXPECT_EQ(assembly_ref->public_key_or_token, (test_support::blob{0xb7, 0x7a, 0x5c, 0x56, 0x19, 0x34, 0xe0, 0x89}));
    EXPECT_EQ(module.metadata().references(), 0u);
}

TEST_F(HelperTest, ImportTypeFailuresNameTheirStep) {
    const struct {
        const char* failing_call;
        HRESULT status;
        const wchar_t* message;
    } rows[] = {
        {"GetModuleMetaData", E_FAIL,
         L"Failed to get IMetaDataEmit interface for assembly Nimbrel.Agent. HRESULT=0x80004005 (unspecified error)."},
        {"QueryInterface", E_NOINTERFACE,
         L"Failed to get IMetaDataAssemblyEmit interface for assembly Nimbrel.Agent. HRESULT=0x80004002 (no such "
         L"interface supported)."},
        {"DefineAssemblyRef", E_ACCESSDENIED,
         L"DefineAssemblyRef failed for assembly Nimbrel.Agent. HRESULT=0x80070005 (general access denied error)."},
        {"DefineTypeRefByName", E_OUTOFMEMORY,
         L"Failed to define Nimbrel.Agent.Tracer type reference for assembly Nimbrel.Agent. DefineTypeRefByName "
         L"failed HRESULT=0x8007000e (run out of memory)."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.failing_call);
        info.failures().clear();
        info.fail(row.failing_call, row.status);
        EXPECT_EQ(import_type(&info, module.module_id, L"Nimbrel.Agent", L"Nimbrel.Agent.Tracer"), row.status);
        EXPECT_EQ(log.texts(Error).back(), row.message);
        EXPECT_EQ(module.metadata().references(), 0u);
    }
    EXPECT_EQ(import_type(nullptr, module.module_id, L"A", L"B"), E_POINTER);
    EXPECT_EQ(import_type(&info, module.module_id, L"", L"B"), E_INVALIDARG);
    EXPECT_EQ(import_type(&info, module.module_id, L"A", L""), E_INVALIDARG);
}

TEST_F(HelperTest, ImportMethodDefinesAMemberReferenceUnderTheTypeReference) {
    const test_support::blob signature{0x00, 0x01, 0x01, 0x0E};
    mdMemberRef defined = 0;
    ASSERT_EQ(import_method(&info, module.module_id, L"System.Console::WriteLine", signature.data(),
                            static_cast<ULONG>(signature.size()), &defined),
              S_OK);
    const auto* member_ref = module.member_ref(defined);
    ASSERT_NE(member_ref, nullptr);
    EXPECT_EQ(member_ref->parent, console);
    EXPECT_EQ(test_support::utf8(member_ref->name), "WriteLine");
    EXPECT_EQ(member_ref->signature, signature);
    EXPECT_EQ(module.metadata().references(), 0u);

    const struct {
        const char* name;
        const wchar_t* method;
        const char* failing_call;
        unsigned nth;
        HRESULT status;
        const wchar_t* message;
    } rows[] = {
        {"no import interface", L"System.Console::WriteLine", "GetModuleMetaData", 1, E_FAIL,
         L"Failed to get IMetaDataImport interface. HRESULT=0x80004005 (unspecified error)."},
        {"no such type", L"System.Missing::WriteLine", nullptr, 0, E_INVALIDARG,
         L"Failed to find reference for type System.Missing. HRESULT=0x80070057 (invalid argument)."},
        {"no emit interface", L"System.Console::WriteLine", "GetModuleMetaData", 2, E_FAIL,
         L"Failed to get IMetaDataEmit interface. HRESULT=0x80004005 (unspecified error)."},
        {"definition refused", L"System.Console::WriteLine", "DefineMemberRef", 1, E_OUTOFMEMORY,
         L"Failed to define WriteLine method reference. HRESULT=0x8007000e (run out of memory)."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        info.failures().clear();
        if (row.failing_call != nullptr) info.fail_once(row.failing_call, row.status, row.nth);
        EXPECT_EQ(import_method(&info, module.module_id, row.method, signature.data(),
                                static_cast<ULONG>(signature.size())),
                  row.status);
        EXPECT_EQ(log.texts(Error).back(), row.message);
        EXPECT_EQ(module.metadata().references(), 0u);
    }
}

TEST(MetadataHelperEncoding, CompressedSignatureTokens) {
    const struct {
        mdToken token;
        std::vector<uint8_t> encoded;
    } rows[] = {
        {0x01000012, {0x49}},                    // TypeRef row 18: (18 << 2) | 1
        {0x02000100, {0x84, 0x00}},              // TypeDef row 256
        {0x1B004000, {0xC0, 0x01, 0x00, 0x02}},  // TypeSpec row 16384
        {0x0200001F, {0x7C}},                    // largest one-byte value
        {0x01000020, {0x80, 0x81}},              // smallest two-byte value
        {0x72000001, {0x07}},                    // tag 3
        {0x01FFFFFF, {0xC3, 0xFF, 0xFF, 0xFD}},  // largest row
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << row.token);
        std::vector<uint8_t> encoded{0xEE};
        EXPECT_EQ(get_compress_signature_token(row.token, encoded), S_OK);
        EXPECT_EQ(encoded, row.encoded);
    }
}

TEST(MetadataHelperEncoding, CompressedIntegersRoundTripAndRejectBadInput) {
    for (uint32_t value : {0u, 0x7Fu, 0x80u, 0x3FFFu, 0x4000u, 0x1FFFFFFFu}) {
        SCOPED_TRACE(value);
        std::vector<uint8_t> encoded;
        ASSERT_TRUE(compress_unsigned(value, encoded));
        uint32_t decoded = 0;
        uint32_t width = 0;
        ASSERT_TRUE(uncompress_unsigned(encoded.data(), encoded.data() + encoded.size(), &decoded, &width));
        EXPECT_EQ(decoded, value);
        EXPECT_EQ(width, encoded.size());
        EXPECT_FALSE(uncompress_unsigned(encoded.data(), encoded.data() + encoded.size() - 1, &decoded, &width))
            << "one byte short";
    }
    std::vector<uint8_t> too_large;
    EXPECT_FALSE(compress_unsigned(0x20000000, too_large));
    EXPECT_TRUE(too_large.empty());
    const uint8_t bad_lead[] = {0xE0, 0, 0, 0};
    uint32_t value = 0;
    uint32_t width = 0;
    EXPECT_FALSE(uncompress_unsigned(bad_lead, bad_lead + 4, &value, &width));
}

TEST_F(HelperTest, AssemblyConstantsForReferences) {
    ASSEMBLYMETADATA metadata{};
    metadata.cbLocale = 7;
    EXPECT_EQ(get_assembly_metadata(&info, module.module_id, L"Nimbrel.Agent", metadata), S_OK);
    EXPECT_EQ(metadata.usMajorVersion, 4);
    EXPECT_EQ(metadata.usMinorVersion + metadata.usBuildNumber + metadata.usRevisionNumber, 0);
    EXPECT_EQ(metadata.cbLocale, 7u) << "other fields are left as they were";
    std::vector<uint8_t> key;
    EXPECT_EQ(get_assembly_publickey(&info, module.module_id, key), S_OK);
    EXPECT_EQ(key, (std::vector<uint8_t>{0xb7, 0x7a, 0x5c, 0x56, 0x19, 0x34, 0xe0, 0x89}));
    EXPECT_EQ(get_assembly_publickey(nullptr, module.module_id, key), E_POINTER);
}

}  // namespace
