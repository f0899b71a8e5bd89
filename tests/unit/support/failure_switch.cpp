#include "support/failure_switch.h"

namespace test_support {

void failure_switch::fail(std::string_view method, HRESULT status) {
    std::lock_guard lock(mutex_);
    rules_.insert_or_assign(std::string(method), rule{status, 0, true});
}

void failure_switch::fail_once(std::string_view method, HRESULT status, unsigned nth) {
    std::lock_guard lock(mutex_);
    rules_.insert_or_assign(std::string(method), rule{status, nth == 0 ? 0 : nth - 1, false});
}

void failure_switch::succeed(std::string_view method) {
    std::lock_guard lock(mutex_);
    if (auto found = rules_.find(method); found != rules_.end()) rules_.erase(found);
}

void failure_switch::clear() {
    std::lock_guard lock(mutex_);
    rules_.clear();
}

unsigned failure_switch::calls(std::string_view method) const {
    std::lock_guard lock(mutex_);
    auto found = calls_.find(method);
    return found == calls_.end() ? 0 : found->second;
}

std::optional<HRESULT> failure_switch::enter(std::string_view method) {
    std::lock_guard lock(mutex_);
    if (auto counted = calls_.find(method); counted != calls_.end()) ++counted->second;
    else calls_.emplace(std::string(method), 1);

    auto found = rules_.find(method);
    if (found == rules_.end()) return std::nullopt;
    rule& r = found->second;
    if (r.every_call) return r.status;
    if (r.calls_to_skip > 0) {
        --r.calls_to_skip;
        return std::nullopt;
    }
    const HRESULT status = r.status;
    rules_.erase(found);
    return status;
}

}  // namespace test_support
