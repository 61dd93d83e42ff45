#pragma once

// The state behind the borrow registry that we publish: what each view of
// an array's memory can touch, which views conflict, and for every base
// address the views of it currently borrowed and their counts.

#include <Python.h>

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace orven::bindings::borrow {

// ------------------------------------------------------ node storage

// Recycled storage for the nodes of the borrow registry's maps.  A call
// takes one borrow per array and drops them all at its end, so the general
// allocator would see two allocations and two frees per array, every call;
// here a dropped node's block is kept on a free list of its size and given
// to the next node of that size.  Blocks are never returned to the system:
// what is kept is bounded by the most borrows ever held at once.


// Not thread-safe: the registry calls it under its own lock.
class NodeRecycler {
public:
    // Blocks of up to this many bytes are recycled; larger ones (and arrays)
    // go to the general allocator.
    static constexpr std::size_t largest_block = 256;

    NodeRecycler() = default;
    NodeRecycler(const NodeRecycler&) = delete;
    NodeRecycler& operator=(const NodeRecycler&) = delete;

    static constexpr bool recycles(std::size_t size, std::size_t alignment) noexcept {
        return size <= largest_block && alignment <= alignof(std::max_align_t);
    }

    void* take(std::size_t size) {
        FreeBlock*& free = free_[size_class(size)];
        if (free != nullptr) {
            return std::exchange(free, free->next);
        }
        const std::size_t block = block_size(size);
        if (chunk_left_ < block) {
            chunks_.push_back(std::make_unique_for_overwrite<std::byte[]>(chunk_size));
            chunk_next_ = chunks_.back().get();
            chunk_left_ = chunk_size;
        }
        void* taken = chunk_next_;
        chunk_next_ += block;
        chunk_left_ -= block;
        return taken;
    }

    void give(void* block, std::size_t size) noexcept {
        FreeBlock*& free = free_[size_class(size)];
        free = ::new (block) FreeBlock{free};
    }

private:
    struct FreeBlock {
        FreeBlock* next;
    };
    static constexpr std::size_t granule = alignof(std::max_align_t);
    static constexpr std::size_t chunk_size = 64 * 1024;
    static_assert(chunk_size % granule == 0 && largest_block <= chunk_size);

    static constexpr std::size_t size_class(std::size_t size) noexcept {
        return (size + granule - 1) / granule;
    }
    static constexpr std::size_t block_size(std::size_t size) noexcept {
        return size_class(size) * granule;
    }

    std::array<FreeBlock*, largest_block / granule + 1> free_{};
    std::vector<std::unique_ptr<std::byte[]>> chunks_;
    std::byte* chunk_next_ = nullptr;
    std::size_t chunk_left_ = 0;
};

// A standard allocator over a NodeRecycler: single nodes come from it,
// anything else from the general allocator.
template <class T>
class RecyclingAllocator {
public:
    using value_type = T;

    explicit RecyclingAllocator(NodeRecycler& recycler) noexcept : recycler_(&recycler) {}
    template <class U>
    RecyclingAllocator(const RecyclingAllocator<U>& other) noexcept : recycler_(other.recycler()) {}

    T* allocate(std::size_t count) {
        if (count == 1 && NodeRecycler::recycles(sizeof(T), alignof(T))) {
            return static_cast<T*>(recycler_->take(sizeof(T)));
        }
        return std::allocator<T>{}.allocate(count);
    }
    void deallocate(T* block, std::size_t count) noexcept {
        if (count == 1 && NodeRecycler::recycles(sizeof(T), alignof(T))) {
            recycler_->give(block, sizeof(T));
            return;
        }
        std::allocator<T>{}.deallocate(block, count);
    }

    NodeRecycler* recycler() const noexcept { return recycler_; }

    template <class U>
    friend bool operator==(const RecyclingAllocator& a, const RecyclingAllocator<U>& b) noexcept {
        return a.recycler() == b.recycler();
    }

private:
    NodeRecycler* recycler_;
};

// ------------------------------------------------------------ view keys

// What a view of an array's memory can touch, as far as the borrow rules
// need to know.
struct BorrowKey {
    std::uintptr_t range_start;  // first byte the view can touch
    std::uintptr_t range_end;    // one past the last byte
    std::uintptr_t data;         // the view's data pointer
    std::intptr_t gcd_strides;   // gcd of the strides (see strides_gcd)

    friend bool operator==(const BorrowKey&, const BorrowKey&) = default;
    friend auto operator<=>(const BorrowKey&, const BorrowKey&) = default;
};

// Greatest common divisor, never negative; gcd(0, x) is |x|.
std::intptr_t gcd(std::intptr_t a, std::intptr_t b) noexcept;

// The strides folded with gcd from first to last: one stride stays as it
// is (sign included), no strides give 1.
std::intptr_t strides_gcd(const Py_ssize_t* strides, int nd) noexcept;

// The key of an ndarray (or subclass instance), its element size read in
// the descriptor layout of the NumPy that reports `feature_version`.
BorrowKey borrow_key(PyObject* array, unsigned feature_version) noexcept;

// Whether two views can touch a common element: their byte ranges overlap
// and their data pointers lie a multiple of their strides' gcd apart.
bool conflicts(const BorrowKey& a, const BorrowKey& b) noexcept;

// The object that owns an array's memory, as far as the registry is
// concerned: the chain of base arrays is followed to the first base that is
// not an ndarray, or to the last array when the chain ends.  Views of one
// buffer thus share one base address.
const void* base_address(PyObject* array, PyTypeObject* ndarray_type) noexcept;

// -------------------------------------------------------------- the state

class RegistryState {
public:
    // Results are borrow_granted or borrow_conflicts (registry.hpp).
    int acquire_shared(const void* base, const BorrowKey& key);
    // The caller has checked that the array is writeable.
    int acquire_exclusive(const void* base, const BorrowKey& key);
    // Releasing a borrow that is not held is an internal fault: fatal.
    void release_shared(const void* base, const BorrowKey& key);
    void release_exclusive(const void* base, const BorrowKey& key);

    // Held by the thread that forks, from just before fork() until just
    // after it in parent and child, so that the child finds the records
    // whole.  Its holders never wait for anything while they hold it.
    void lock_across_fork() noexcept { mutex_.lock(); }
    void unlock_after_fork() noexcept { mutex_.unlock(); }

private:
    // Positive: that many shared borrows; negative: an exclusive borrow.  A
    // count of zero is never kept.
    using ViewCounts = std::map<BorrowKey, std::int64_t, std::less<>,
                                RecyclingAllocator<std::pair<const BorrowKey, std::int64_t>>>;
    // The views of one base, the exclusively borrowed ones apart: a shared
    // borrow has to look only at those (usually none), an exclusive one at
    // every view.  A base without views is never kept.
    struct BaseViews {
        explicit BaseViews(NodeRecycler& recycler)
            : shared(ViewCounts::allocator_type(recycler)),
              exclusive(ViewCounts::allocator_type(recycler)) {}
        ViewCounts shared;
        ViewCounts exclusive;
    };
    using Bases = std::unordered_map<const void*, BaseViews, std::hash<const void*>,
                                     std::equal_to<>,
                                     RecyclingAllocator<std::pair<const void* const, BaseViews>>>;

    // The base's views, and the entry of a borrow being released.  `borrow`
    // names its kind for the fatal error raised when it is not held.
    struct Held {
        Bases::iterator base;
        ViewCounts* views;
        ViewCounts::iterator view;
    };
    Held find_held(const void* base, const BorrowKey& key, std::string_view borrow);
    // Drops the view, and its base with it when that was the base's last view.
    void forget(const Held& held);

    std::mutex mutex_;
    // Declared before the maps, which give their nodes back to it.
    NodeRecycler recycler_;
    Bases bases_{0, Bases::hasher(), Bases::key_equal(), Bases::allocator_type(recycler_)};
};

}  // namespace orven::bindings::borrow
