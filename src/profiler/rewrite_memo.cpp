#include "profiler/rewrite_memo.h"

#include <utility>

rewrite_memo::claim::claim(claim&& other) noexcept
    : memo_(std::exchange(other.memo_, nullptr)), key_(other.key_) {}

rewrite_memo::claim::~claim() {
    if (memo_ != nullptr) memo_->finish(key_);
}

rewrite_memo::claim rewrite_memo::try_claim(method_key key) {
    std::unique_lock lock(mutex_);
    // A rewrite takes well under a millisecond; the bound only keeps a JIT thread from
    // hanging the host should another attempt never end. Giving up leaves this
    // compilation unrewritten, never rewritten twice.
    const auto deadline = std::chrono::steady_clock::now() + longest_wait_;
    for (;;) {
        auto found = entries_.find(key);
        if (found == entries_.end()) {
            entries_.emplace(key, entry{state::running, std::this_thread::get_id()});
            return claim(this, key);
        }
        if (found->second.current == state::done || found->second.owner == std::this_thread::get_id()) return claim();
        if (attempt_ended_.wait_until(lock, deadline) == std::cv_status::timeout) return claim();
    }
}

bool rewrite_memo::mark(method_key key) {
    std::lock_guard lock(mutex_);
    return entries_.emplace(key, entry{state::done, std::thread::id()}).second;
}

bool rewrite_memo::contains(method_key key) const {
    std::lock_guard lock(mutex_);
    return entries_.count(key) != 0;
}

void rewrite_memo::forget_module(ModuleID module) {
    std::lock_guard lock(mutex_);
    // An attempt still running keeps its entry: its claim ends it.
    std::erase_if(entries_, [module](const auto& item) {
        return item.first.module == module && item.second.current == state::done;
    });
}

size_t rewrite_memo::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void rewrite_memo::finish(method_key key) {
    {
        std::lock_guard lock(mutex_);
        auto found = entries_.find(key);
        if (found != entries_.end()) found->second.current = state::done;
    }
    attempt_ended_.notify_all();
}

rewrite_memo& rewrite_memo::process() {
    static rewrite_memo memo;
    return memo;
}
