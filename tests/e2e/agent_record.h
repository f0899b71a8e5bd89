// Reading what the test agent recorded: one line per agent call,
//   <sequence> TAB <managed thread> TAB <member> [TAB <field>]...
// with \t \n \r \\ escaped inside fields. Wrapped methods are known by the
// description RegisterMethod recorded for their id ("Type.Method(ParamType,...)").
#pragma once

#include <map>
#include <string>
#include <vector>

namespace e2e {

struct agent_call {
    long sequence = 0;
    long thread = 0;
    std::string member;
    std::vector<std::string> fields;
};

class agent_record {
public:
    static agent_record parse(const std::string& text);

    const std::vector<agent_call>& calls() const { return calls_; }
    // Calls of one member, in order; for the prologue and epilogue only those of `id`.
    std::vector<agent_call> of(const std::string& member) const;
    std::vector<agent_call> of(const std::string& member, const std::string& id) const;
    // The ids registered under a description, in registration order.
    std::vector<std::string> ids_of(const std::string& description) const;
    // The one id registered under a description; empty (and a test failure) otherwise.
    std::string id_of(const std::string& description) const;
    // description -> selection flag, for every registration.
    std::multimap<std::string, std::string> registrations() const;

    // A prologue's arguments (after id, this and the count); an epilogue's also end
    // with the return value.
    static std::vector<std::string> arguments(const agent_call& prologue_or_epilogue);
    static std::string return_value(const agent_call& epilogue) { return epilogue.fields.back(); }

private:
    std::vector<agent_call> calls_;
};

}  // namespace e2e
