// What the activation decision reads of the process: its command line and the two
// fixed lists of `dotnet` tool invocations that are never instrumented.
#pragma once

#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

using wide_string_set = std::unordered_set<std::wstring>;

// The process's arguments without the program itself, read once from
// /proc/<pid>/cmdline and kept for the life of the process.
const std::vector<std::wstring>& get_command_line_args();

// Tool commands ("build", "test", ...) and host options ("--info", ...) of the
// `dotnet` host that never run an application worth instrumenting.
const wide_string_set& dotnet_skip_commands();
const wide_string_set& dotnet_skip_sdk_options();

// The first argument that is in the set and does not follow the first argument naming
// a ".dll": arguments after the application belong to the application.
std::optional<std::wstring> check_dotnet_command(const std::vector<std::wstring>& args, const wide_string_set& set);

// Reads NUL-separated UTF-8 entries and drops the first (the program path). Entries
// read before a failure are kept, the program path among them.
std::vector<std::wstring> parse_command_line(std::istream& in);
