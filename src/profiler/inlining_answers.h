// The runtime's question "may this callee be inlined?", answered once per method.
//
// The JIT builds an inlined copy of a callee from its original IL, never from the
// body the profiler installed, so every call that reaches a rewritten method through
// an inlined copy would go unreported. JITInlining therefore refuses every callee
// that is, or will be, rewritten. The runtime asks for every inlining candidate of
// every compilation, so the answer is kept per (module, method token): the first
// question decides, every later one (any caller, any instantiation, before or after
// the callee's own compilation) gets the same answer from one hash lookup.
//
// Thread-safety: any thread; lookups share a reader lock, new answers take the
// writer lock. Two threads deciding the same new callee at once compute the same
// answer and the first one stored stays.
#pragma once

#include <optional>
#include <shared_mutex>
#include <unordered_map>

#include "profiler/method_key.h"

class inlining_answers {
public:
    // The stored answer: true when the callee may be inlined.
    std::optional<bool> find(method_key key) const;
    // Stores `may_inline` unless an answer is already stored; returns the stored one.
    bool remember(method_key key, bool may_inline);
    // Drops every answer of an unloaded module: the runtime may hand its id to a new one.
    void forget_module(ModuleID module);
    size_t size() const;

    static inlining_answers& process();

private:
    // Guards answers_; JIT threads read and add, module unloads erase.
    mutable std::shared_mutex mutex_;
    std::unordered_map<method_key, bool, method_key_hash> answers_;
};
