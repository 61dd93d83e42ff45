#pragma once

// The state behind the borrow registry that we publish: for every base
// address, the views of it currently borrowed and their counts.

#include <cstdint>
#include <map>
#include <mutex>
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

    std::mutex mutex_;
    std::unordered_map<const void*, ViewCounts> bases_;
};

}  // namespace orven::bindings::borrow
