#include "profiler/inlining_answers.h"

#include <mutex>

std::optional<bool> inlining_answers::find(method_key key) const {
    std::shared_lock lock(mutex_);
    auto found = answers_.find(key);
    if (found == answers_.end()) return std::nullopt;
    return found->second;
}

bool inlining_answers::remember(method_key key, bool may_inline) {
    std::unique_lock lock(mutex_);
    return answers_.emplace(key, may_inline).first->second;
}

void inlining_answers::forget_module(ModuleID module) {
    std::unique_lock lock(mutex_);
    std::erase_if(answers_, [module](const auto& item) { return item.first.module == module; });
}

size_t inlining_answers::size() const {
    std::shared_lock lock(mutex_);
    return answers_.size();
}

inlining_answers& inlining_answers::process() {
    static inlining_answers answers;
    return answers;
}
