#include "borrow/registry_state.hpp"

#include <limits>

#include "borrow/registry_header.hpp"
#include "fatal/fatal_error.hpp"

namespace orven::bindings::borrow {

int RegistryState::acquire_shared(const void* base, const BorrowKey& key) {
    std::lock_guard lock(mutex_);
    auto base_entry = bases_.find(base);
    if (base_entry == bases_.end()) {
        bases_[base].emplace(key, 1);
        return borrow_granted;
    }
    ViewCounts& views = base_entry->second;
    if (auto same = views.find(key); same != views.end()) {
        if (same->second < 0 || same->second == std::numeric_limits<std::int64_t>::max()) {
            return borrow_conflicts;
        }
        ++same->second;
        return borrow_granted;
    }
    for (const auto& [other, count] : views) {
        if (count < 0 && conflicts(key, other)) {
            return borrow_conflicts;
        }
    }
    views.emplace(key, 1);
    return borrow_granted;
}

int RegistryState::acquire_exclusive(const void* base, const BorrowKey& key) {
    std::lock_guard lock(mutex_);
    auto base_entry = bases_.find(base);
    if (base_entry == bases_.end()) {
        bases_[base].emplace(key, -1);
        return borrow_granted;
    }
    ViewCounts& views = base_entry->second;
    if (views.contains(key)) {
        return borrow_conflicts;
    }
    for (const auto& [other, count] : views) {
        if (count != 0 && conflicts(key, other)) {
            return borrow_conflicts;
        }
    }
    views.emplace(key, -1);
    return borrow_granted;
}

void RegistryState::release_shared(const void* base, const BorrowKey& key) {
    std::lock_guard lock(mutex_);
    auto base_entry = bases_.find(base);
    if (base_entry == bases_.end()) {
        fatal::raise("Borrow registry: released a shared borrow of an unknown base address");
    }
    ViewCounts& views = base_entry->second;
    auto view = views.find(key);
    if (view == views.end()) {
        fatal::raise("Borrow registry: released a shared borrow of an unknown view");
    }
    if (--view->second == 0) {
        views.erase(view);
        if (views.empty()) {
            bases_.erase(base_entry);
        }
    }
}

void RegistryState::release_exclusive(const void* base, const BorrowKey& key) {
    std::lock_guard lock(mutex_);
    auto base_entry = bases_.find(base);
    if (base_entry == bases_.end()) {
        fatal::raise("Borrow registry: released an exclusive borrow of an unknown base address");
    }
    ViewCounts& views = base_entry->second;
    // The key is looked up even when it would be the base's only one, so
    // that a stray release cannot drop another view's borrow.
    auto view = views.find(key);
    if (view == views.end()) {
        fatal::raise("Borrow registry: released an exclusive borrow of an unknown view");
    }
    views.erase(view);
    if (views.empty()) {
        bases_.erase(base_entry);
    }
}

}  // namespace orven::bindings::borrow
