#include "e2e/agent_record.h"

#include <gtest/gtest.h>

#include <sstream>

namespace e2e {
namespace {

std::string unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out += field[i];
            continue;
        }
        switch (field[++i]) {
            case 't': out += '\t'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            default: out += field[i]; break;
        }
    }
    return out;
}

}  // namespace

agent_record agent_record::parse(const std::string& text) {
    agent_record record;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> parts;
        size_t start = 0;
        for (;;) {
            size_t tab = line.find('\t', start);
            parts.push_back(unescape(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start)));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        if (parts.size() < 3) {
            ADD_FAILURE() << "malformed record line: " << line;
            continue;
        }
        agent_call call;
        call.sequence = std::stol(parts[0]);
        call.thread = std::stol(parts[1]);
        call.member = parts[2];
        call.fields.assign(parts.begin() + 3, parts.end());
        record.calls_.push_back(std::move(call));
    }
    return record;
}

std::vector<agent_call> agent_record::of(const std::string& member) const {
    std::vector<agent_call> out;
    for (const auto& call : calls_)
        if (call.member == member) out.push_back(call);
    return out;
}

std::vector<agent_call> agent_record::of(const std::string& member, const std::string& id) const {
    std::vector<agent_call> out;
    for (const auto& call : calls_)
        if (call.member == member && !call.fields.empty() && call.fields[0] == id) out.push_back(call);
    return out;
}

std::vector<std::string> agent_record::ids_of(const std::string& description) const {
    std::vector<std::string> ids;
    for (const auto& call : of("RegisterMethod"))
        if (call.fields.size() >= 3 && call.fields[1] == description) ids.push_back(call.fields[0]);
    return ids;
}

std::string agent_record::id_of(const std::string& description) const {
    auto ids = ids_of(description);
    if (ids.size() != 1) {
        ADD_FAILURE() << description << " registered " << ids.size() << " times";
        return {};
    }
    return ids.front();
}

std::multimap<std::string, std::string> agent_record::registrations() const {
    std::multimap<std::string, std::string> out;
    for (const auto& call : of("RegisterMethod"))
        if (call.fields.size() >= 3) out.emplace(call.fields[1], call.fields[2]);
    return out;
}

std::vector<std::string> agent_record::arguments(const agent_call& call) {
    // id, this, count, arguments..., [return value]
    if (call.fields.size() < 3 || call.fields[2] == "null") return {};
    const size_t count = std::stoul(call.fields[2]);
    if (call.fields.size() < 3 + count) return {};
    return std::vector<std::string>(call.fields.begin() + 3, call.fields.begin() + 3 + static_cast<long>(count));
}

}  // namespace e2e
