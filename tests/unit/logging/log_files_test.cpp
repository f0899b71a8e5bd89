#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "logging/log_files.h"
#include "logging_test_support.h"
#include "support/scoped_environment.h"

namespace fs = std::filesystem;
using test_support::scoped_environment;
using test_support::scratch_directory;

namespace {

TEST(LogFiles, DirectoryFollowsSiteNameAndHome) {
    const struct {
        const char* site;  // nullptr: unset
        const char* home;  // nullptr: unset
        const char* expected;
    } rows[] = {
        {nullptr, "/home/site", "/var/tmp/nimbrel"},
        {"mysite", nullptr, "/home/LogFiles/Nimbrel"},
        {"", nullptr, "/home/LogFiles/Nimbrel"},  // set but empty still counts
        {"mysite", "/home/site", "/home/site/LogFiles/Nimbrel"},
        {"mysite", "/home/site/", "/home/site/LogFiles/Nimbrel"},
    };
    for (const auto& row : rows) {
        scoped_environment environment;
        row.site ? environment.set("WEBSITE_SITE_NAME", row.site) : environment.unset("WEBSITE_SITE_NAME");
        row.home ? environment.set("HOME", row.home) : environment.unset("HOME");
        EXPECT_EQ(select_log_directory(), row.expected)
            << "WEBSITE_SITE_NAME=" << (row.site ? row.site : "(unset)") << " HOME=" << (row.home ? row.home : "(unset)");
    }
}

TEST(LogFiles, DirectoryIsCreatedOneLevelDeepWhenMissing) {
    scratch_directory home;
    scoped_environment environment;
    environment.set("WEBSITE_SITE_NAME", "site");
    environment.set("HOME", home.path().string());

    // Without $HOME/LogFiles the directory cannot be made; the path comes back anyway.
    const std::string expected = (home.path() / "LogFiles" / "Nimbrel").string();
    EXPECT_EQ(get_log_directory(), expected);
    EXPECT_FALSE(fs::exists(expected));
    EXPECT_FALSE(can_create_log_file());

    fs::create_directory(home.path() / "LogFiles");
    EXPECT_EQ(get_log_directory(), expected);
    EXPECT_TRUE(fs::is_directory(expected));
    EXPECT_EQ(get_log_directory(), expected);  // already there: no error
}

TEST(LogFiles, ProbeSucceedsInWritableDirectoryAndLeavesNothingBehind) {
    scratch_directory home;
    fs::create_directories(home.path() / "LogFiles" / "Nimbrel");
    scoped_environment environment;
    environment.set("WEBSITE_SITE_NAME", "site");
    environment.set("HOME", home.path().string());

    EXPECT_TRUE(can_create_log_file());
    EXPECT_EQ(directory_entries(home.path() / "LogFiles" / "Nimbrel"), std::vector<std::string>{});
}

TEST(LogFiles, ProbeFailsWhenDirectoryCannotBeWrittenAndLeavesNoFile) {
    // A regular file where the parent directory should be stops even root, for whom
    // permission bits would not.
    scratch_directory home;
    std::ofstream(home.path() / "LogFiles") << "not a directory";
    scoped_environment environment;
    environment.set("WEBSITE_SITE_NAME", "site");
    environment.set("HOME", home.path().string());

    EXPECT_FALSE(can_create_log_file());
    EXPECT_EQ(directory_entries(home.path()), std::vector<std::string>{"LogFiles"});

    // Where permission bits do apply, a read-only directory fails the probe too.
    if (geteuid() != 0) {
        fs::remove(home.path() / "LogFiles");
        fs::create_directories(home.path() / "LogFiles" / "Nimbrel");
        fs::permissions(home.path() / "LogFiles" / "Nimbrel", fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(can_create_log_file());
        EXPECT_EQ(directory_entries(home.path() / "LogFiles" / "Nimbrel"), std::vector<std::string>{});
        fs::permissions(home.path() / "LogFiles" / "Nimbrel", fs::perms::owner_all);
    }
}

TEST(LogFiles, ProcessNameIsTheExecutableFileName) {
    EXPECT_EQ(get_process_name_helper(), "logging_tests");
    EXPECT_EQ(get_process_name(), "logging_tests");
}

TEST(LogFiles, BaseNameCarriesProcessPidAndFreshUuid) {
    scratch_directory home;
    fs::create_directories(home.path() / "LogFiles" / "Nimbrel");
    scoped_environment environment;
    environment.set("WEBSITE_SITE_NAME", "site");
    environment.set("HOME", home.path().string());

    const std::string first = build_log_file_name();
    const std::string second = build_log_file_name();
    const std::string pattern((home.path() / "LogFiles" / "Nimbrel").string() +
                             "/ZizEzeRevezOde_profiler_logging_tests_" + std::to_string(getpid()) +
                             "__[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
    EXPECT_TRUE(matches(pattern, first)) << first;
    EXPECT_TRUE(matches(pattern, second)) << second;
    EXPECT_NE(first, second);
}

}  // namespace
