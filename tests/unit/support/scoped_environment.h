// Test helpers for code that reads the process environment and files: variables set
// for the life of an object, and a scratch directory removed afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

namespace test_support {

// Sets or unsets variables; restores the previous values when destroyed.
class scoped_environment {
public:
    scoped_environment() = default;
    scoped_environment(const scoped_environment&) = delete;
    scoped_environment& operator=(const scoped_environment&) = delete;
    ~scoped_environment() {
        for (const auto& [name, value] : saved_) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
    }
    scoped_environment& set(const std::string& name, const std::string& value) {
        remember(name);
        setenv(name.c_str(), value.c_str(), 1);
        return *this;
    }
    scoped_environment& unset(const std::string& name) {
        remember(name);
        unsetenv(name.c_str());
        return *this;
    }

private:
    void remember(const std::string& name) {
        if (saved_.count(name)) return;
        const char* value = std::getenv(name.c_str());
        saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

class scratch_directory {
public:
    scratch_directory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "nimbrel-unit-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~scratch_directory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    scratch_directory(const scratch_directory&) = delete;
    scratch_directory& operator=(const scratch_directory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path write(const std::string& relative, const std::string& content) const {
        auto file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

private:
    std::filesystem::path path_;
};

}  // namespace test_support
