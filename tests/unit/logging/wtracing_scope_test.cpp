#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "logging/logging_configuration.h"
#include "logging/wtrace.h"
#include "logging/wtracing_scope.h"
#include "logging_test_support.h"

namespace {

// Settings restored after each test, records captured from the core, echo off unless
// a test is about the echo.
class TracingTest : public testing::Test {
protected:
    TracingTest() {
        LoggingConfiguration::config().level = Debug;
        LoggingConfiguration::config().echo_to_stdout = false;
    }

    std::vector<std::wstring> texts() const {
        std::vector<std::wstring> out;
        for (const auto& record : capture_.records()) {
            out.push_back(record.text);
        }
        return out;
    }

    configuration_guard configuration_;
    record_capture capture_;
};

using Texts = std::vector<std::wstring>;

TEST_F(TracingTest, ScopeFilterNeedsConfiguredLevelAndSeverityWithinScopeLevel) {
    const struct {
        severity configured;
        severity scope_level;
        severity message;
        bool written;
    } rows[] = {
        {None, Trace, Error, false},   // logging switched off
        {Debug, Debug, Error, true},   //
        {Debug, Debug, Debug, true},   // equal to the scope level
        {Debug, Debug, Trace, false},  // above the scope level
        {Debug, Debug, None, false},   // None is never written
        {Debug, Fatal, Error, false},  // the scope's own level decides, not the configured one
        {Fatal, Trace, Trace, true},   //
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "configured " << row.configured << ", scope " << row.scope_level
                                        << ", message " << row.message);
        LoggingConfiguration::config().level = row.configured;
        wtracing_scope scope;
        scope.level = row.scope_level;
        const size_t before = capture_.records().size();
        scope.trace(row.message, L"plain");
        scope.trace_f(row.message, L"formatted %d", 1);
        const auto records = capture_.records();
        ASSERT_EQ(records.size() - before, row.written ? 2u : 0u);
        if (row.written) {
            EXPECT_EQ(records[before].level, row.message);
            EXPECT_EQ(records[before + 1].level, row.message);
        }
    }
}

TEST_F(TracingTest, ScopeLevelIsTheLessSevereOfTheTwoConfiguredLevels) {
    const struct {
        severity level;
        severity event_log_level;
        severity expected;
    } rows[] = {
        {None, Fatal, Fatal},  // initial settings
        {Debug, Fatal, Debug},
        {Info, Trace, Trace},
    };
    for (const auto& row : rows) {
        LoggingConfiguration::config().level = row.level;
        LoggingConfiguration::config().event_log_level = row.event_log_level;
        EXPECT_EQ(wtracing_scope().level, row.expected) << "level " << row.level;
        EXPECT_EQ(wtracing_scope(L"a", L"t", L"f").level, row.expected) << "level " << row.level;
    }
}

TEST_F(TracingTest, ProfilerScopeTracesWithLeadingBlankButFormatsWithout) {
    wtracing_scope scope;
    scope.level = Debug;
    scope.trace(Debug, L"x");
    scope.trace_f(Debug, L"x");
    EXPECT_EQ(texts(), (Texts{L" x", L"x"}));
}

TEST_F(TracingTest, NamedScopePutsItsPrefixInFront) {
    wtracing_scope helper(L"", L"", L"lookup_method");
    helper.level = Debug;
    EXPECT_EQ(helper.prefix, L"[]:lookup_method() : ");
    helper.trace(Error, L"x");
    helper.trace_f(Error, L"x");

    wtracing_scope method(L"App", L"Ns.Type", L"Run");
    method.level = Debug;
    method.trace_f(Debug, L"hr=0x%x", 0x80004005u);
    method.set_scope(L"Other", L"T", L"M");
    method.trace(Debug, L"moved");

    EXPECT_EQ(texts(), (Texts{L"[]:lookup_method() :  x", L"Scope=[]:lookup_method() :  x",
                              L"Scope=[App]Ns.Type:Run() :  hr=0x80004005", L"[Other]T:M() :  moved"}));
}

TEST_F(TracingTest, FormatPercentSTakesWideStringAndDoubledPercentBeforeSPrintsPercentLs) {
    wtracing_scope scope;
    scope.level = Debug;
    scope.trace_f(Debug, L"name=%s", L"Caf\u00e9");
    scope.trace_f(Debug, L"%s and %s", L"one", L"two");
    scope.trace_f(Debug, L"100%%s");
    wtrace_f_always(Debug, L"always %s", L"wide");
    EXPECT_EQ(texts(), (Texts{L"name=Caf\u00e9", L"one and two", L"100%ls", L"always wide"}));
}

TEST_F(TracingTest, PercentInPrefixPrintsAsItselfAndConsumesNoArgument) {
    // Without escaping, %s, %d and %n in these names would read (and %n write) through
    // arguments that were never passed.
    wtracing_scope scope(L"My%Asm", L"Type%s%d", L"Get%n50%");
    scope.level = Debug;
    scope.trace_f(Error, L"value %s %d", L"v", 7);
    scope.trace(Error, L"plain");
    EXPECT_EQ(texts(), (Texts{L"Scope=[My%Asm]Type%s%d:Get%n50%() :  value v 7",
                              L"[My%Asm]Type%s%d:Get%n50%() :  plain"}));
}

TEST_F(TracingTest, FormattedMessagesAreCutTo1021Characters) {
    const std::wstring long_text(5000, L'w');
    wtracing_scope own;
    own.level = Debug;
    own.trace_f(Debug, L"%s", long_text.c_str());
    wtracing_scope named(L"A", L"T", L"F");
    named.level = Debug;
    named.trace_f(Debug, L"%s", long_text.c_str());
    wtrace_f_always(Debug, L"%s", long_text.c_str());
    trace_f_always(Debug, "%s", std::string(5000, 'n').c_str());
    // Not formatted, so not cut.
    own.trace(Debug, long_text);

    const auto got = texts();
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0], long_text.substr(0, 1021));
    const std::wstring named_start = L"Scope=[A]T:F() :  ";
    EXPECT_EQ(got[1], named_start + long_text.substr(0, 1021 - named_start.size()));
    EXPECT_EQ(got[2], long_text.substr(0, 1021));
    EXPECT_EQ(got[3], std::wstring(1021, L'n'));
    EXPECT_EQ(got[4].size(), 5001u);
}

TEST_F(TracingTest, UnscopedFunctionsIgnoreTheConfiguredLevel) {
    LoggingConfiguration::config().level = None;
    wtrace_always(Trace, L"wide");
    trace_always(Info, "narrow \xC3\xA9");
    trace_f_always(Warning, "n=%d", 3);
    const auto records = capture_.records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].level, Trace);
    EXPECT_EQ(records[0].text, L"wide");
    EXPECT_EQ(records[1].text, L"narrow \u00e9");
    EXPECT_EQ(records[2].level, Warning);
    EXPECT_EQ(records[2].text, L"n=3");
}

TEST_F(TracingTest, MessageEndsAtFirstNul) {
    wtrace_always(Debug, std::wstring(L"before\0after", 12));
    EXPECT_EQ(texts(), (Texts{L"before"}));
}

TEST_F(TracingTest, WideRecordsAreEchoedToStdoutUnlessSwitchedOff) {
    LoggingConfiguration::config().echo_to_stdout = true;
    wtracing_scope scope;
    scope.level = Debug;

    testing::internal::CaptureStdout();
    scope.trace(Debug, L"caf\u00e9");
    scope.trace_f(Debug, L"n=%d", 5);
    trace_always(Debug, "narrow is not echoed");
    scope.trace(Trace, L"filtered out");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " caf\xC3\xA9\nn=5\n");

    LoggingConfiguration::config().echo_to_stdout = false;
    testing::internal::CaptureStdout();
    scope.trace(Debug, L"quiet");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(texts().back(), L" quiet");
}

TEST_F(TracingTest, InitialSettingsWriteAndEchoNothing) {
    LoggingConfiguration::config() = LoggingConfiguration();
    wtracing_scope scope;
    wtracing_scope named(L"A", L"T", L"F");
    testing::internal::CaptureStdout();
    for (const severity level : {Fatal, Error, Warning, Info, Debug, Trace}) {
        scope.trace(level, L"x");
        scope.trace_f(level, L"x");
        named.trace(level, L"x");
        named.trace_f(level, L"x");
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(capture_.records().empty());
}

}  // namespace
