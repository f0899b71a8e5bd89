#include "logging/log_files.h"

#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <fstream>

#include <boost/filesystem.hpp>

#include "logging/event_log.h"
#include "logging/generate_guid.h"
#include "logging/text_conversions.h"

namespace fs = boost::filesystem;

namespace {

constexpr const char* base_name_start = "ZizEzeRevezOde_profiler";
constexpr const wchar_t* unknown_directory_failure = L"get_log_directory(): unabled to find logging directory.";

}  // namespace

std::string get_process_name_helper() {
    char target[4096];
    const ssize_t length = readlink("/proc/self/exe", target, sizeof target);
    if (length <= 0) {
        return {};
    }
    const std::string path(target, static_cast<size_t>(length));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string get_process_name() {
    static const std::string name = get_process_name_helper();
    return name;
}

std::string select_log_directory() {
    std::string directory = "/var/tmp/nimbrel";
    if (std::getenv("WEBSITE_SITE_NAME") != nullptr) {
        directory = "/home/LogFiles/Nimbrel";
        if (const char* home = std::getenv("HOME")) {
            directory = (fs::path(home) / "LogFiles" / "Nimbrel").string();
        }
    }
    return directory;
}

std::string get_log_directory() {
    std::string directory = "/var/tmp/nimbrel";
    try {
        directory = select_log_directory();
        if (!fs::is_directory(fs::status(directory))) {
            fs::create_directory(directory);
        }
    } catch (const std::exception& e) {
        const std::string what = e.what();
        ReportEventLog(Error, what.empty() ? unknown_directory_failure : s2ws_replacing(what));
    } catch (...) {
        ReportEventLog(Error, unknown_directory_failure);
    }
    return directory;
}

std::string build_log_file_name() {
    std::string name = base_name_start;
    try {
        const std::string file = std::string(base_name_start) + "_" + get_process_name() + "_" +
                                 std::to_string(getpid()) + "__" + generate_guid();
        name = (fs::path(get_log_directory()) / file).string();
    } catch (...) {
        ReportEventLog(Error, L"build_log_file_name(): unabled to build log filename. unhandled exception.");
    }
    return name;
}

std::string get_log_file_name() {
    static const std::string name = build_log_file_name();
    return name;
}

bool can_create_log_file() {
    try {
        const fs::path probe = fs::path(get_log_directory()) / ("ignore_" + generate_guid() + ".tmp");
        std::ofstream file(probe.string(), std::ios_base::out | std::ios_base::app);
        if (!file.is_open()) {
            return false;
        }
        file << "test";
        file.close();
        boost::system::error_code ignored;
        fs::remove(probe, ignored);
        return true;
    } catch (...) {
        return false;
    }
}
