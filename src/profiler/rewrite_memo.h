// The methods whose IL the JIT dispatch has rewritten, or tried to, keyed by
// (module, method token).
//
// The runtime raises JITCompilationStarted more than once for one method: at a higher
// tier, for on-stack replacement, for every instantiation of a generic method, after
// races, and when a class constructor re-enters. GetILFunctionBody then returns the
// body already installed, so a second rewrite would wrap the wrapper and report every
// call twice. The first claim of a key therefore decides for good: whatever the
// outcome of that attempt (rewritten, skipped on purpose, failed), no later
// compilation of the method is rewritten.
//
// Thread-safety: any thread. A claim is exclusive while its attempt runs: another
// thread claiming the same key waits until the attempt has ended, so that its own
// compilation reads the body the attempt installed rather than the original one. A
// thread never waits for its own claim. Cost: one mutex and one hash lookup per call.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "profiler/method_key.h"

class rewrite_memo {
public:
    // Holds the right to rewrite one method until it is destroyed; then the attempt
    // counts as made and any waiting thread goes on.
    class claim {
    public:
        claim() = default;
        claim(claim&& other) noexcept;
        claim& operator=(claim&&) = delete;
        ~claim();
        // True when this caller is the one that must rewrite the method.
        bool owned() const { return memo_ != nullptr; }

    private:
        friend class rewrite_memo;
        claim(rewrite_memo* memo, method_key key) : memo_(memo), key_(key) {}
        rewrite_memo* memo_ = nullptr;
        method_key key_;
    };

    // `longest_wait`: how long a claim waits for another thread's attempt on the same key.
    explicit rewrite_memo(std::chrono::milliseconds longest_wait = std::chrono::seconds(5))
        : longest_wait_(longest_wait) {}

    // The right to rewrite `key`, or a claim that is not owned when an attempt has
    // already been made (after waiting for one still running on another thread, at
    // most the memo's longest wait).
    claim try_claim(method_key key);
    // Records `key` as decided without rewriting it (a method that keeps its
    // precompiled code must not be rewritten at a later tier either). False when the
    // key was already known.
    bool mark(method_key key);
    // An attempt for `key` has been made or is running.
    bool contains(method_key key) const;
    // Drops every key of an unloaded module: the runtime may hand its id to a new one.
    void forget_module(ModuleID module);
    size_t size() const;

    // The memo of the process.
    static rewrite_memo& process();

private:
    void finish(method_key key);

    enum class state { running, done };
    struct entry {
        state current;
        std::thread::id owner;  // the thread running the attempt
    };

    // Guards entries_; taken by every JIT thread and by module unloads.
    mutable std::mutex mutex_;
    std::condition_variable attempt_ended_;
    const std::chrono::milliseconds longest_wait_;
    std::unordered_map<method_key, entry, method_key_hash> entries_;
};
