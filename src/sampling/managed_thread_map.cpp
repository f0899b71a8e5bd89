#include "sampling/managed_thread_map.h"

managed_thread_map& managed_thread_map::process() {
    static auto* const map = new managed_thread_map;
    return *map;
}

void managed_thread_map::set(uint32_t native_thread_id, ThreadID managed_thread_id) {
    std::lock_guard lock(native_map_set_mutex);
    m_nativeIdMappedToManagedThreadId[native_thread_id] = managed_thread_id;
}

ThreadID managed_thread_map::get(uint32_t native_thread_id) const {
    std::lock_guard lock(native_map_set_mutex);
    auto found = m_nativeIdMappedToManagedThreadId.find(native_thread_id);
    return found == m_nativeIdMappedToManagedThreadId.end() ? 0 : found->second;
}

bool managed_thread_map::remove(ThreadID managed_thread_id, const wtracing_scope& scope) {
    std::lock_guard lock(native_map_set_mutex);
    for (auto entry = m_nativeIdMappedToManagedThreadId.begin(); entry != m_nativeIdMappedToManagedThreadId.end();
         ++entry) {
        if (entry->second != managed_thread_id) continue;
        scope.trace_f(Trace, L"CClrProfiler::RemoveManagedThreadFromMap(): removed managed thread ManagedThreadID=%u from map.",
                      static_cast<uint32_t>(managed_thread_id));
        m_nativeIdMappedToManagedThreadId.erase(entry);
        return true;
    }
    return false;
}

std::map<uint32_t, ThreadID> managed_thread_map::entries() const {
    std::lock_guard lock(native_map_set_mutex);
    return m_nativeIdMappedToManagedThreadId;
}
