// The one failure-injection switch of the runtime doubles. Every fake method
// reports itself here by name before doing its work (`enter(__func__)`); the
// switch counts the call and says whether the test asked it to fail, and with
// which status. Thread-safe: the code under test may call from any thread.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/com_types.h"

namespace test_support {

class failure_switch {
public:
    // Every call of `method` from now on answers `status`.
    void fail(std::string_view method, HRESULT status);
    // Only the nth call of `method` from now on (1 = the next one) answers
    // `status`; the calls before and after it run normally.
    void fail_once(std::string_view method, HRESULT status, unsigned nth = 1);
    // Drops the rules for one method, or all of them.
    void succeed(std::string_view method);
    void clear();

    // Calls of `method` so far, failed ones included.
    unsigned calls(std::string_view method) const;

    // Called first by every fake method: counts the call and returns the status
    // to fail it with, or nothing when it should do its work.
    std::optional<HRESULT> enter(std::string_view method);

private:
    struct rule {
        HRESULT status;
        unsigned calls_to_skip;  // calls that still succeed before the failing one
        bool every_call;
    };
    mutable std::mutex mutex_;  // guards both maps; taken by the test thread and the code under test
    std::map<std::string, rule, std::less<>> rules_;
    std::map<std::string, unsigned, std::less<>> calls_;
};

}  // namespace test_support
