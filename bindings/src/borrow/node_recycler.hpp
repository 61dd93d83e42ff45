#pragma once

// Recycled storage for the nodes of the borrow registry's maps.  A call
// takes one borrow per array and drops them all at its end, so the general
// allocator would see two allocations and two frees per array, every call;
// here a dropped node's block is kept on a free list of its size and given
// to the next node of that size.  Blocks are never returned to the system:
// what is kept is bounded by the most borrows ever held at once.

#include <array>
#include <cstddef>
#include <memory>
#include <new>
#include <vector>

namespace orven::bindings::borrow {

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

}  // namespace orven::bindings::borrow
