#include "borrow/registry_state.hpp"

#include <limits>
#include <string>

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

std::pair<RegistryState::Bases::iterator, RegistryState::ViewCounts::iterator>
RegistryState::find_held(const void* base, const BorrowKey& key, std::string_view borrow) {
    const std::string released = "Borrow registry: released " + std::string(borrow) + " borrow";
    auto base_entry = bases_.find(base);
    if (base_entry == bases_.end()) {
        fatal::raise(released + " of an unknown base address");
    }
    // The key is looked up even when it would be the base's only one, so
    // that a stray release cannot drop another view's borrow.
    auto view = base_entry->second.find(key);
    if (view == base_entry->second.end()) {
        fatal::raise(released + " of an unknown view");
    }
    return {base_entry, view};
}

void RegistryState::forget(Bases::iterator base_entry, ViewCounts::iterator view) {
    base_entry->second.erase(view);
    if (base_entry->second.empty()) {
        bases_.erase(base_entry);
    }
}

void RegistryState::release_shared(const void* base, const BorrowKey& key) {
    std::lock_guard lock(mutex_);
    auto [base_entry, view] = find_held(base, key, "a shared");
    if (--view->second == 0) {
        forget(base_entry, view);
    }
}

void RegistryState::release_exclusive(const void* base, const BorrowKey& key) {
    std::lock_guard lock(mutex_);
    auto [base_entry, view] = find_held(base, key, "an exclusive");
    forget(base_entry, view);
}

}  // namespace orven::bindings::borrow
