#include "metadata/sig_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

// A parser that can be pointed at bytes directly and that writes every notification
// as one word of a log.
class recording_parser : public SigParser {
public:
    void load(const bytes& blob) {
        start = position = blob.data();
        end = blob.data() + blob.size();
    }
    size_t consumed() const { return static_cast<size_t>(position - start); }
    std::string log() const { return log_.str(); }

protected:
    void NotifyBeginMethod(uint8_t cc) override { out("BeginMethod", cc); }
    void NotifyEndMethod() override { out("EndMethod"); }
    void NotifyParamCount(ULONG n) override { out("ParamCount", n); }
    void NotifyBeginRetType() override { out("BeginRet"); }
    void NotifyEndRetType() override { out("EndRet"); }
    void NotifyBeginParam() override { out("BeginParam"); }
    void NotifyEndParam() override { out("EndParam"); }
    void NotifySentinal() override { out("Sentinel"); }
    void NotifyGenericParamCount(ULONG n) override { out("GenericParamCount", n); }
    void NotifyBeginField(uint8_t b) override { out("BeginField", b); }
    void NotifyEndField() override { out("EndField"); }
    void NotifyBeginLocals(uint8_t b) override { out("BeginLocals", b); }
    void NotifyEndLocals() override { out("EndLocals"); }
    void NotifyLocalsCount(ULONG n) override { out("LocalsCount", n); }
    void NotifyBeginLocal() override { out("BeginLocal"); }
    void NotifyEndLocal() override { out("EndLocal"); }
    void NotifyConstraint(uint8_t b) override { out("Constraint", b); }
    void NotifyBeginProperty(uint8_t b) override { out("BeginProperty", b); }
    void NotifyEndProperty() override { out("EndProperty"); }
    void NotifyBeginArrayShape() override { out("BeginShape"); }
    void NotifyEndArrayShape() override { out("EndShape"); }
    void NotifyRank(ULONG n) override { out("Rank", n); }
    void NotifyNumSizes(ULONG n) override { out("NumSizes", n); }
    void NotifySize(ULONG n) override { out("Size", n); }
    void NotifyNumLoBounds(ULONG n) override { out("NumLoBounds", n); }
    void NotifyLoBound(ULONG n) override { out("LoBound", n); }
    void NotifyBeginType() override { out("("); }
    void NotifyEndType() override { out(")"); }
    void NotifyTypedByref() override { out("TypedByref"); }
    void NotifyByref() override { out("Byref"); }
    void NotifyVoid() override { out("Void"); }
    void NotifyCustomMod(uint8_t m, uint8_t t, ULONG i) override { out("CustomMod", m, t, i); }
    void NotifyTypeSimple(uint8_t e) override { out("Simple", e); }
    void NotifyTypeDefOrRef(uint8_t t, LONG i) override { out("DefOrRef", t, static_cast<ULONG>(i)); }
    void NotifyTypeGenericInst(uint8_t k, uint8_t t, ULONG i, ULONG n) override { out("GenericInst", k, t, i, n); }
    void NotifyTypeGenericTypeVariable(ULONG i) override { out("Var", i); }
    void NotifyTypeGenericMemberVariable(ULONG i) override { out("MVar", i); }
    void NotifyTypeValueType() override { out("ValueType"); }
    void NotifyTypeClass() override { out("Class"); }
    void NotifyTypePointer() override { out("Ptr"); }
    void NotifyTypeFunctionPointer() override { out("FnPtr"); }
    void NotifyTypeArray() override { out("Array"); }
    void NotifyTypeSzArray() override { out("SzArray"); }

private:
    template <typename... Values>
    void out(const char* name, Values... values) {
        log_ << (log_.tellp() > 0 ? " " : "") << name;
        [[maybe_unused]] int index = 0;
        ((log_ << (index++ == 0 ? ":" : ",") << std::hex << static_cast<uint32_t>(values)), ...);
    }
    std::ostringstream log_;
};

// What one record should hold. generic_at is the offset of the GENERICINST byte in
// the blob, -1 when generic_signature must be null.
struct record {
    uint8_t element_type = 0;
    bool byref = false;
    bool generic = false;
    bool array = false;
    uint8_t generic_kind = 0;
    int generic_at = -1;
    uint32_t generic_size = 0;
    uint8_t table = 0;
    uint32_t rid = 0;
};

std::string describe(const ArgumentMetadata& a, const uint8_t* blob) {
    std::ostringstream s;
    s << std::hex << "{element 0x" << +a.element_type << " byref " << a.is_byref << " generic " << a.is_generic
      << " array " << a.is_array << " kind 0x" << +a.generic_type_kind << " at "
      << (a.generic_signature ? std::to_string(a.generic_signature - blob) : "null") << std::dec << " size "
      << a.generic_signature_size << " table " << +a.type_table << " rid " << a.type_rid << "}";
    return s.str();
}

std::string describe(const record& r) {
    std::ostringstream s;
    s << std::hex << "{element 0x" << +r.element_type << " byref " << r.byref << " generic " << r.generic << " array "
      << r.array << " kind 0x" << +r.generic_kind << " at "
      << (r.generic_at >= 0 ? std::to_string(r.generic_at) : "null") << std::dec << " size " << r.generic_size
      << " table " << +r.table << " rid " << r.rid << "}";
    return s.str();
}

struct signature_case {
    const char* name;
    bytes blob;
    bool parses;
    bool instance;
    std::vector<record> parameters;
    record return_type;
};

// Element type shorthands for the table.
constexpr uint8_t I4 = 0x08, STRING = 0x0E, CLASS = 0x12, VALUETYPE = 0x11, MVAR = 0x1E, OBJECT = 0x1C;

const std::vector<signature_case>& signature_cases() {
    static const std::vector<signature_case> cases = {
        {"EmptyBlob", {}, false, false, {}, {}},
        {"InstanceMethodWithI4AndString", {0x20, 0x02, 0x01, 0x08, 0x0E}, true, true, {{I4}, {STRING}}, {}},
        {"ByRefI4", {0x00, 0x01, 0x01, 0x10, 0x08}, true, false, {{.element_type = I4, .byref = true}}, {}},
        {"ClassInstantiationWithStringArgument",
         {0x00, 0x01, 0x01, 0x15, 0x12, 0x09, 0x01, 0x0E},
         true,
         false,
         {{.element_type = STRING, .generic = true, .generic_kind = CLASS, .generic_at = 3, .generic_size = 5}},
         {}},
        {"ClassTypeRefRow18", {0x00, 0x01, 0x01, 0x12, 0x49}, true, false,
         {{.element_type = CLASS, .table = 1, .rid = 18}}, {}},
        {"TableTagThreeIsPassedOn", {0x00, 0x01, 0x01, 0x11, 0x4B}, true, false,
         {{.element_type = VALUETYPE, .table = 3, .rid = 18}}, {}},
        {"GenericMethodReadsGenericCountFirst", {0x30, 0x01, 0x01, 0x01, 0x1E, 0x00}, true, true, {{MVAR}}, {}},
        {"ClassReturnTypeIsRecorded", {0x00, 0x00, 0x12, 0x49}, true, false, {},
         {.element_type = CLASS, .table = 1, .rid = 18}},
        {"VarargSentinelIsSkipped", {0x05, 0x02, 0x01, 0x08, 0x41, 0x0E}, true, false, {{I4}, {STRING}}, {}},
        {"SecondSentinelFailsAndKeepsEarlierRecords", {0x05, 0x03, 0x01, 0x08, 0x41, 0x0E, 0x41, 0x08}, false, false,
         {{I4}, {STRING}}, {}},
        {"BlobCutInSecondParameterKeepsFirst", {0x00, 0x03, 0x01, 0x08, 0x12}, false, false, {{I4}}, {}},
        {"CustomModifierBeforeParameter", {0x00, 0x01, 0x01, 0x20, 0x05, 0x08}, true, false, {{I4}}, {}},
        {"RequiredModifierOnByRef", {0x00, 0x01, 0x01, 0x1F, 0x09, 0x10, 0x08}, true, false,
         {{.element_type = I4, .byref = true}}, {}},
        {"ModifierWithoutTokenFails", {0x00, 0x01, 0x01, 0x1F}, false, false, {}, {}},
        {"TypedByRefParameter", {0x00, 0x01, 0x01, 0x16}, true, false, {{0x16}}, {}},
        {"PointerRecordsPointee", {0x00, 0x01, 0x01, 0x0F, 0x08}, true, false, {{I4}}, {}},
        {"VoidPointerRecordsPtr", {0x00, 0x01, 0x01, 0x0F, 0x01}, true, false, {{0x0F}}, {}},
        {"JaggedArray", {0x00, 0x01, 0x01, 0x1D, 0x1D, 0x0E}, true, false, {{.element_type = STRING, .array = true}},
         {}},
        {"TwoDimensionalArrayWithShape", {0x00, 0x01, 0x01, 0x14, 0x08, 0x02, 0x02, 0x03, 0x04, 0x02, 0x00, 0x00},
         true, false, {{.element_type = I4, .array = true}}, {}},
        // The record describes the outermost instantiation, measured whole.
        {"NestedInstantiationRecordsOutermost",
         {0x00, 0x01, 0x01, 0x15, 0x12, 0x05, 0x02, 0x0E, 0x15, 0x12, 0x09, 0x01, 0x08},
         true,
         false,
         {{.element_type = I4, .generic = true, .generic_kind = CLASS, .generic_at = 3, .generic_size = 10}},
         {}},
        // An array of value-type instantiations is an array, not an instantiation.
        {"ArrayOfInstantiationIsNotGeneric", {0x00, 0x01, 0x01, 0x1D, 0x15, 0x11, 0x0D, 0x02, 0x08, 0x08}, true, false,
         {{.element_type = I4, .array = true}}, {}},
        {"InstantiationOfArrayIsGenericAndArray",
         {0x00, 0x01, 0x01, 0x15, 0x12, 0x09, 0x01, 0x1D, 0x08},
         true,
         false,
         {{.element_type = I4, .generic = true, .array = true, .generic_kind = CLASS, .generic_at = 3,
           .generic_size = 6}},
         {}},
        {"InstantiationOfNonTypeKindFails", {0x00, 0x01, 0x01, 0x15, 0x08, 0x09, 0x01, 0x08}, false, false, {}, {}},
        // A function pointer's own parameters and return type stay out of the records.
        {"FunctionPointerIsOneRecordAndKeepsOuterReturn",
         {0x00, 0x02, 0x15, 0x11, 0x0D, 0x01, 0x08, 0x1B, 0x00, 0x02, 0x0E, 0x08, 0x1C, 0x08},
         true,
         false,
         {{0x1B}, {I4}},
         {.element_type = I4, .generic = true, .generic_kind = VALUETYPE, .generic_at = 2, .generic_size = 5}},
        {"FieldSignatureHasNoRecords", {0x06, 0x1F, 0x09, 0x08}, true, false, {}, {}},
        {"LocalsWithPinnedByRef", {0x07, 0x02, 0x45, 0x10, 0x08, 0x0E}, true, false, {}, {}},
        {"PropertyIndexerHasNoRecords", {0x28, 0x01, 0x0E, 0x08}, true, false, {}, {}},
        {"UnknownSignatureKindFails", {0x09, 0x00, 0x01}, false, false, {}, {}},
        {"ObjectParameter", {0x00, 0x01, 0x01, 0x1C}, true, false, {{OBJECT}}, {}},
    };
    return cases;
}

void expect_record(const record& want, const ArgumentMetadata& got, const uint8_t* blob, const std::string& what) {
    const bool same = want.element_type == got.element_type && want.byref == got.is_byref &&
                      want.generic == got.is_generic && want.array == got.is_array &&
                      want.generic_kind == got.generic_type_kind &&
                      (want.generic_at < 0 ? got.generic_signature == nullptr
                                           : got.generic_signature == blob + want.generic_at) &&
                      want.generic_size == got.generic_signature_size && want.table == got.type_table &&
                      want.rid == got.type_rid;
    EXPECT_TRUE(same) << what << ": want " << describe(want) << ", got " << describe(got, blob);
}

TEST(SigParserTest, SignatureTableYieldsExpectedRecords) {
    for (const signature_case& c : signature_cases()) {
        SCOPED_TRACE(c.name);
        // An exact-size heap copy: reading past the end is caught by the sanitizers.
        const bytes blob = c.blob;
        SigParser parser;
        EXPECT_EQ(c.parses, parser.Parse(blob.data(), static_cast<ULONG>(blob.size())));
        EXPECT_EQ(c.instance, parser.IsInstanceMethod());
        const auto& parameters = parser.GetParsedMethodArguments();
        ASSERT_EQ(c.parameters.size(), parameters.size());
        for (size_t i = 0; i < parameters.size(); ++i) {
            expect_record(c.parameters[i], parameters[i], blob.data(), "parameter " + std::to_string(i));
        }
        expect_record(c.return_type, parser.GetParsedReturnArgument(), blob.data(), "return type");
    }
}

TEST(SigParserTest, EveryTruncationOfAValidSignatureFailsInsideItsBounds) {
    for (const signature_case& c : signature_cases()) {
        if (!c.parses) {
            continue;
        }
        for (size_t length = 0; length < c.blob.size(); ++length) {
            SCOPED_TRACE(std::string(c.name) + " cut to " + std::to_string(length));
            const bytes prefix(c.blob.begin(), c.blob.begin() + static_cast<std::ptrdiff_t>(length));
            SigParser parser;
            EXPECT_FALSE(parser.Parse(prefix.data(), static_cast<ULONG>(prefix.size())));
        }
    }
}

TEST(SigParserTest, NotificationsFollowTheGrammar) {
    struct walk_case {
        const char* name;
        bytes blob;
        std::string log;
    };
    const std::vector<walk_case> cases = {
        {"GenericMethodCountsBeforeParameters",
         {0x30, 0x02, 0x01, 0x01, 0x1E, 0x01},
         "BeginMethod:30 GenericParamCount:2 ParamCount:1 BeginRet Void EndRet BeginParam ( MVar:1 ) EndParam "
         "EndMethod"},
        {"SentinelBeforeVarargParameter",
         {0x05, 0x02, 0x01, 0x08, 0x41, 0x0E},
         "BeginMethod:5 ParamCount:2 BeginRet Void EndRet BeginParam ( Simple:8 ) EndParam Sentinel BeginParam ( "
         "Simple:e ) EndParam EndMethod"},
        {"LocalsWithModifiersPinnedAndByRef",
         {0x07, 0x03, 0x45, 0x10, 0x08, 0x20, 0x05, 0x45, 0x0E, 0x16},
         "BeginLocals:7 LocalsCount:3 BeginLocal Constraint:45 Byref ( Simple:8 ) EndLocal BeginLocal "
         "CustomMod:20,1,1 Constraint:45 ( Simple:e ) EndLocal BeginLocal TypedByref EndLocal EndLocals"},
        {"FieldOfArrayWithShape",
         {0x06, 0x14, 0x08, 0x02, 0x02, 0x03, 0x84, 0x00, 0x01, 0x05},
         "BeginField:6 ( Array ( Simple:8 ) BeginShape Rank:2 NumSizes:2 Size:3 Size:400 NumLoBounds:1 LoBound:5 "
         "EndShape ) EndField"},
        {"PropertyWithIndexParameter",
         {0x28, 0x01, 0x0E, 0x10, 0x08},
         "BeginProperty:28 ParamCount:1 ( Simple:e ) BeginParam Byref ( Simple:8 ) EndParam EndProperty"},
        {"InstantiationAndFunctionPointer",
         {0x00, 0x01, 0x01, 0x15, 0x11, 0x0D, 0x01, 0x1B, 0x00, 0x00, 0x0F, 0x01},
         "BeginMethod:0 ParamCount:1 BeginRet Void EndRet BeginParam ( GenericInst:11,1,3,1 ( FnPtr BeginMethod:0 "
         "ParamCount:0 BeginRet ( Ptr Void ) EndRet EndMethod ) ) EndParam EndMethod"},
    };
    for (const walk_case& c : cases) {
        SCOPED_TRACE(c.name);
        recording_parser parser;
        EXPECT_TRUE(parser.Parse(c.blob.data(), static_cast<ULONG>(c.blob.size())));
        EXPECT_EQ(c.log, parser.log());
    }
}

TEST(SigParserTest, CompressedIntegersReadOneTwoOrFourBytes) {
    struct number_case {
        bytes blob;
        bool ok;
        ULONG value;
        size_t consumed;
    };
    const std::vector<number_case> cases = {
        {{0x00}, true, 0, 1},
        {{0x7F}, true, 0x7F, 1},
        {{0x80, 0x80}, true, 128, 2},
        {{0xBF, 0xFF}, true, 0x3FFF, 2},
        {{0xC0, 0x00, 0x40, 0x00}, true, 16384, 4},
        {{0xDF, 0xFF, 0xFF, 0xFF}, true, 0x1FFFFFFF, 4},
        {{0xE0, 0x00, 0x00, 0x00}, false, 0, 1},
        {{0xFF}, false, 0, 1},
        {{0x80}, false, 0, 1},
        {{0xC0, 0x00, 0x40}, false, 0, 3},
        {{}, false, 0, 0},
    };
    for (const number_case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.blob));
        recording_parser parser;
        parser.load(c.blob);
        ULONG value = 0;
        EXPECT_EQ(c.ok, parser.ParseNumber(&value));
        if (c.ok) {
            EXPECT_EQ(c.value, value);
        }
        EXPECT_EQ(c.consumed, parser.consumed());
    }
}

TEST(SigParserTest, NestingDeeperThanTheLimitFailsWithoutRecursingFurther) {
    const auto parameter_of_nested_arrays = [](uint32_t arrays) {
        bytes blob = {0x00, 0x01, 0x01};
        blob.insert(blob.end(), arrays, 0x1D);
        blob.push_back(0x08);
        return blob;
    };
    // The parameter's own type, its arrays and the I4 inside are one ParseType each.
    const bytes deepest = parameter_of_nested_arrays(SigParser::max_type_nesting - 1);
    SigParser accepted;
    EXPECT_TRUE(accepted.Parse(deepest.data(), static_cast<ULONG>(deepest.size())));
    ASSERT_EQ(1u, accepted.GetParsedMethodArguments().size());
    EXPECT_TRUE(accepted.GetParsedMethodArguments()[0].is_array);

    const bytes too_deep = parameter_of_nested_arrays(SigParser::max_type_nesting);
    SigParser refused;
    EXPECT_FALSE(refused.Parse(too_deep.data(), static_cast<ULONG>(too_deep.size())));
    EXPECT_TRUE(refused.GetParsedMethodArguments().empty());

    // A megabyte of nested arrays would exhaust the stack if the depth were not bounded.
    const bytes huge = parameter_of_nested_arrays(1u << 20);
    SigParser bounded;
    EXPECT_FALSE(bounded.Parse(huge.data(), static_cast<ULONG>(huge.size())));
}

TEST(SigParserTest, HugeDeclaredCountsFailAtTheEndOfTheBlob) {
    // A parameter count of 0x1FFFFFFF with one parameter present; an array shape that
    // claims 0x1FFFFFFF sizes.
    const std::vector<bytes> blobs = {
        {0x00, 0xDF, 0xFF, 0xFF, 0xFF, 0x01, 0x08},
        {0x06, 0x14, 0x08, 0x01, 0xDF, 0xFF, 0xFF, 0xFF, 0x01},
        {0x07, 0xDF, 0xFF, 0xFF, 0xFF, 0x08},
    };
    for (const bytes& blob : blobs) {
        SCOPED_TRACE(::testing::PrintToString(blob));
        SigParser parser;
        EXPECT_FALSE(parser.Parse(blob.data(), static_cast<ULONG>(blob.size())));
    }
}

}  // namespace
