#pragma once

// The state behind the borrow registry that we publish: for every base
// address, the views of it currently borrowed and their counts.

#include <cstdint>
#include <map>
#include <mutex>
#include <string_view>
#include <utility>
#include <unordered_map>

#include "borrow/borrow_key.hpp"

namespace orven::bindings::borrow {

class RegistryState {
public:
    // Results are borrow_granted or borrow_conflicts (registry_header.hpp).
    int acquire_shared(const void* base, const BorrowKey& key);
    // The caller has checked that the array is writeable.
    int acquire_exclusive(const void* base, const BorrowKey& key);
    // Releasing a borrow that is not held is an internal fault: fatal.
    void release_shared(const void* base, const BorrowKey& key);
    void release_exclusive(const void* base, const BorrowKey& key);

private:
    // Positive: that many shared borrows; -1: one exclusive borrow.  A
    // count of zero is never kept, nor is a base without keys.
    using ViewCounts = std::map<BorrowKey, std::int64_t>;
    using Bases = std::unordered_map<const void*, ViewCounts>;

    // The entry of a borrow being released.  `borrow` names its kind for
    // the fatal error raised when it is not held.
    std::pair<Bases::iterator, ViewCounts::iterator> find_held(const void* base,
                                                               const BorrowKey& key,
                                                               std::string_view borrow);
    // Drops the view, and its base with it when that was the base's last view.
    void forget(Bases::iterator base_entry, ViewCounts::iterator view);

    std::mutex mutex_;
    Bases bases_;
};

}  // namespace orven::bindings::borrow
