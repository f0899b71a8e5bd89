#include "wrap_fixture.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <sstream>

#include "il/il_listing.h"
#include "il/il_rewriter.h"
#include "il_check.h"
#include "instrumentation/method_body_instrumenter.h"
#include "logging/text_conversions.h"
#include "metadata/method_info.h"
#include "runtime/profiler_state.h"
#include "support/wide_text.h"

namespace wrap_test {

using test_support::utf8;

namespace {

void put_u16(blob& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void put_u32(blob& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

blob tiny(const blob& code) {
    blob out{static_cast<uint8_t>(code.size() * 4 + 2)};
    out.insert(out.end(), code.begin(), code.end());
    return out;
}

blob fat(const blob& code, uint16_t max_stack, mdSignature locals, const std::vector<clause>& clauses) {
    blob out;
    put_u16(out, static_cast<uint16_t>(0x3013 | (clauses.empty() ? 0 : 0x08)));  // fat, InitLocals, MoreSects
    put_u16(out, max_stack);
    put_u32(out, static_cast<uint32_t>(code.size()));
    put_u32(out, locals);
    out.insert(out.end(), code.begin(), code.end());
    if (clauses.empty()) return out;
    while (out.size() % 4 != 0) out.push_back(0);
    put_u32(out, 0x41 | (static_cast<uint32_t>(24 * clauses.size() + 4) << 8));
    for (const clause& c : clauses) {
        for (uint32_t v : {c.flags, c.try_offset, c.try_length, c.handler_offset, c.handler_length, c.token}) {
            put_u32(out, v);
        }
    }
    return out;
}

blob token_bytes(mdToken token) {
    blob out;
    put_u32(out, token);
    return out;
}

blob concat(std::initializer_list<blob> parts) {
    blob out;
    for (const blob& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

WrapFixture::WrapFixture()
    : corlib(info.add_module("System.Private.CoreLib")), app(info.add_module("Shop")) {
    LoggingConfiguration::config().level = Trace;
    LoggingConfiguration::config().event_log_level = Fatal;
    LoggingConfiguration::config().echo_to_stdout = false;
    was_coreclr_ = profiler_state::is_coreclr;
    profiler_state::is_coreclr = true;
    methodCounter = 0;

    const mdTypeDef corlib_object = corlib.add_type_def("System.Object");
    const mdTypeDef corlib_value_type = corlib.add_type_def("System.ValueType", tdPublic, corlib_object);
    for (const char* name :
         {"System.Int32", "System.Boolean", "System.Double", "System.DateTime", "System.Nullable`1"}) {
        corlib.add_type_def(name, tdPublic | tdSealed, corlib_value_type);
    }
    const mdTypeDef corlib_span = corlib.add_type_def("System.Span`1", tdPublic | tdSealed, corlib_value_type);
    corlib.add_custom_attribute(corlib_span, "System.Runtime.CompilerServices.IsByRefLikeAttribute");
    corlib.add_type_def("System.Exception", tdPublic, corlib_object);
    ILRewriter::m_mscorlibModuleId = corlib.module_id;

    runtime = app.add_assembly_ref("System.Runtime", {8, 0, 0, 0}, {0xb0, 0x3f, 0x5f, 0x7f, 0x11, 0xd5, 0x0a, 0x3a});
    object_ref = app.add_type_ref("System.Object", runtime);
    value_type_ref = app.add_type_ref("System.ValueType", runtime);
    int32_ref = app.add_type_ref("System.Int32", runtime);
    date_time_ref = app.add_type_ref("System.DateTime", runtime);
    span_ref = app.add_type_ref("System.Span`1", runtime);
    nullable_ref = app.add_type_ref("System.Nullable`1", runtime);
    list_ref = app.add_type_ref("System.Collections.Generic.List`1", runtime);
    exception_ref = app.add_type_ref("System.Exception", runtime);
    const mdAssemblyRef library = app.add_assembly_ref("Shop.Library", {1, 0, 0, 0});
    unknown_struct_ref = app.add_type_ref("Shop.Library.Money", library);
    exception_ctor = app.add_member_ref(exception_ref, ".ctor", {0x20, 0x00, 0x01});
    cart = app.add_type_def("Shop.Cart", tdPublic, object_ref);
    point = app.add_type_def("Shop.Point", tdPublic | tdSealed, value_type_ref);
    buffer = app.add_type_def("Shop.Buffer", tdPublic | tdSealed, value_type_ref);
    app.add_custom_attribute(buffer, "System.Runtime.CompilerServices.IsByRefLikeAttribute");
}

WrapFixture::~WrapFixture() {
    // The process-wide core library state must not outlive the double.
    if (IMetaDataImport* corlib_import = ILRewriter::m_pCorLibMetaDataImport.exchange(nullptr)) {
        corlib_import->Release();
    }
    ILRewriter::m_mscorlibModuleId = 0;
    profiler_state::is_coreclr = was_coreclr_;
}

mdMethodDef WrapFixture::method(const std::string& name, const blob& signature, const blob& body, mdTypeDef owner) {
    const DWORD flags = mdPublic | mdHideBySig | ((signature.at(0) & 0x20) ? DWORD{0} : DWORD{mdStatic});
    return app.add_method(owner == 0 ? cart : owner, name, signature, body, flags);
}

HRESULT WrapFixture::instrument(mdMethodDef method_token, int selection) {
    const auto record = record_of(method_token);
    return create(*record, selection);
}

std::unique_ptr<method_info> WrapFixture::record_of(mdMethodDef method_token) {
    auto record = std::make_unique<method_info>();
    const HRESULT hr = record->initialize_method_info(&info, app.add_function(method_token));
    EXPECT_EQ(hr, S_OK) << "the method record must build";
    return record;
}

HRESULT WrapFixture::create(method_info& record, int selection) {
    last_scope_ = "Scope=[" + ws2s_replacing(record.assembly_name) + "]" + ws2s_replacing(record.type_name) + ":" +
                  ws2s_replacing(record.method_name) + "() :  ";
    first_record_ = capture_.records().size();
    method_body_instrumenter instrumenter;
    return instrumenter.create(&info, &record, selection);
}

namespace {

// Imports the method's current body into a fresh rewriter.
std::unique_ptr<ILRewriter> import_current(test_support::fake_profiler_info& info, test_support::fake_module& module,
                                           mdMethodDef method) {
    auto rewriter = std::make_unique<ILRewriter>(&info, nullptr, module.module_id, method);
    const HRESULT hr = rewriter->Import();
    EXPECT_EQ(hr, S_OK) << "the body must import";
    return rewriter;
}

}  // namespace

mdTypeRef WrapFixture::last_type_ref(std::u16string_view name) const {
    for (size_t i = app.type_refs.size(); i > 0; --i) {
        if (app.type_refs[i - 1].name == name) return TokenFromRid(static_cast<uint32_t>(i), mdtTypeRef);
    }
    return mdTypeRefNil;
}

std::string WrapFixture::name_of(mdToken token) {
    const uint32_t rid = RidFromToken(token);
    switch (TypeFromToken(token)) {
        case mdtTypeRef:
            if (auto* row = app.type_ref(token)) return utf8(row->name);
            break;
        case mdtTypeDef:
            if (auto* row = app.type_def(token)) return utf8(row->name);
            break;
        case mdtMethodDef:
            if (auto* row = app.method(token)) return utf8(row->name);
            break;
        case mdtMemberRef:
            if (auto* row = app.member_ref(token)) {
                std::string parent = name_of(row->parent);
                const size_t dot = parent.rfind('.');
                if (dot != std::string::npos) parent = parent.substr(dot + 1);
                return parent + "::" + utf8(row->name);
            }
            break;
        case mdtTypeSpec:
            if (rid >= 1 && rid <= app.type_specs.size()) {
                std::string text = "typespec(";
                for (size_t i = 0; i < app.type_specs[rid - 1].size(); ++i) {
                    char hex[4];
                    std::snprintf(hex, sizeof hex, "%s%02x", i == 0 ? "" : " ", app.type_specs[rid - 1][i]);
                    text += hex;
                }
                return text + ")";
            }
            break;
        case mdtString: {
            const auto found = app.user_strings.find(token);
            if (found != app.user_strings.end()) return "\"" + utf8(found->second) + "\"";
            break;
        }
        default:
            break;
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", token);
    return text;
}

std::string WrapFixture::listing(mdMethodDef method_token) {
    if (app.body_set(method_token) == nullptr) {
        ADD_FAILURE() << "no body was installed";
        return {};
    }
    auto rewriter = import_current(info, app, method_token);
    const std::string raw = il_listing(*rewriter);
    // Name every token operand (" 0x" and eight hex digits).
    std::string out;
    size_t copied = 0;
    for (size_t at = raw.find(" 0x"); at != std::string::npos; at = raw.find(" 0x", at + 1)) {
        if (at + 11 > raw.size() || !std::all_of(raw.begin() + at + 3, raw.begin() + at + 11, ::isxdigit)) continue;
        out += raw.substr(copied, at - copied);
        out += " " + name_of(static_cast<mdToken>(std::stoul(raw.substr(at + 3, 8), nullptr, 16)));
        copied = at + 11;
    }
    return out + raw.substr(copied);
}

std::string WrapFixture::clauses(mdMethodDef method_token) {
    if (app.body_set(method_token) == nullptr) {
        ADD_FAILURE() << "no body was installed";
        return {};
    }
    auto rewriter = import_current(info, app, method_token);
    std::string text = eh_listing(*rewriter);
    const std::string catch_prefix = "catch 0x";
    for (size_t at = text.find(catch_prefix); at != std::string::npos; at = text.find(catch_prefix, at + 1)) {
        const mdToken token = static_cast<mdToken>(std::stoul(text.substr(at + 8, 8), nullptr, 16));
        text.replace(at + 6, 10, name_of(token));
    }
    return text;
}

std::vector<std::string> WrapFixture::check(mdMethodDef method_token) {
    if (app.body_set(method_token) == nullptr) {
        ADD_FAILURE() << "no body was installed";
        return {};
    }
    return check_current(method_token);
}

std::vector<std::string> WrapFixture::check_current(mdMethodDef method_token) {
    auto rewriter = import_current(info, app, method_token);
    return il_check::problems(*rewriter, app, method_token);
}

std::vector<std::string> WrapFixture::messages(severity level) const {
    std::vector<std::string> out;
    const std::vector<captured_record> records = capture_.records();
    for (size_t i = first_record_; i < records.size(); ++i) {
        const captured_record& record = records[i];
        const std::string text = ws2s_replacing(record.text);
        if (record.level == level && text.rfind(last_scope_, 0) == 0) out.push_back(text.substr(last_scope_.size()));
    }
    return out;
}

std::vector<std::string> instructions(const std::string& listing) {
    std::vector<std::string> out;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        const size_t colon = line.find(": ");
        line = colon == std::string::npos ? line : line.substr(colon + 2);
        // Branch targets are offsets, which move with every change around them.
        for (size_t at = line.find("IL_"); at != std::string::npos; at = line.find("IL_", at + 1)) {
            line.replace(at, 7, "<target>");
        }
        out.push_back(line);
    }
    return out;
}

bool contains_run(const std::vector<std::string>& lines, const std::vector<std::string>& run) {
    return !run.empty() && std::search(lines.begin(), lines.end(), run.begin(), run.end()) != lines.end();
}

}  // namespace wrap_test
