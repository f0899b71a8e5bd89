// The allocator GetILFunctionBodyAllocator hands out: every block stays alive
// as long as the allocator (as the runtime keeps them as long as the module),
// so a test can read what the code under test wrote. Alloc answers nullptr when
// the failure switch fails "Alloc". Owned by its fake_module; the reference
// count is only observed (atomic), never used to delete.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "support/failure_switch.h"
#include "support/runtime_stubs.h"

namespace test_support {

class fake_method_malloc : public method_malloc_stub {
public:
    struct allocation {
        const BYTE* data;
        ULONG size;
    };

    explicit fake_method_malloc(failure_switch& failures) : failures_(failures) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override { return --references_; }
    PVOID Alloc(ULONG cb) override;

    // Blocks handed out so far, oldest first.
    std::vector<allocation> allocations() const;
    // The block holding [p, p + size), if this allocator handed it out.
    std::optional<allocation> block_holding(const BYTE* p, ULONG size = 1) const;
    // References the code under test still holds.
    ULONG references() const { return references_; }

private:
    failure_switch& failures_;
    std::atomic<ULONG> references_{0};
    mutable std::mutex mutex_;  // guards the blocks; Alloc may come from several JIT threads
    std::vector<std::unique_ptr<BYTE[]>> blocks_;
    std::vector<allocation> allocations_;
};

}  // namespace test_support
