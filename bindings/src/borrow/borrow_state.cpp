#include "borrow/borrow_state.hpp"

#include <limits>
#include <string>

#include "borrow/registry.hpp"
#include "fatal/fatal_error.hpp"
#include "numpy/abi.hpp"

namespace orven::bindings::borrow {

// ------------------------------------------------------------ view keys

namespace {

std::uintmax_t magnitude(std::intptr_t value) noexcept {
    // Computed unsigned, so that the most negative value has a magnitude too.
    return value < 0 ? std::uintmax_t{0} - static_cast<std::uintmax_t>(value)
                     : static_cast<std::uintmax_t>(value);
}

std::uintmax_t unsigned_gcd(std::uintmax_t a, std::uintmax_t b) noexcept {
    while (b != 0) {
        std::uintmax_t rest = a % b;
        a = b;
        b = rest;
    }
    return a;
}

}  // namespace

std::intptr_t gcd(std::intptr_t a, std::intptr_t b) noexcept {
    return static_cast<std::intptr_t>(unsigned_gcd(magnitude(a), magnitude(b)));
}

std::intptr_t strides_gcd(const Py_ssize_t* strides, int nd) noexcept {
    if (nd <= 0) {
        return 1;
    }
    std::intptr_t folded = strides[0];
    for (int i = 1; i < nd; ++i) {
        folded = gcd(folded, strides[i]);
    }
    return folded;
}

BorrowKey borrow_key(PyObject* object, unsigned feature_version) noexcept {
    const numpy::ArrayObject* array = numpy::as_array(object);
    const std::uintptr_t data = reinterpret_cast<std::uintptr_t>(array->data);
    const std::intptr_t gcd_strides = strides_gcd(array->strides, array->nd);

    bool empty = false;
    for (int i = 0; i < array->nd; ++i) {
        empty = empty || array->dimensions[i] == 0;
    }
    if (empty) {
        return BorrowKey{data, data, data, gcd_strides};
    }
    // Offsets are added with unsigned (wrapping) arithmetic: pointer values
    // are only compared, never dereferenced.
    std::uintptr_t start = data;
    std::uintptr_t end = data;
    for (int i = 0; i < array->nd; ++i) {
        const std::uintptr_t reach = static_cast<std::uintptr_t>(array->dimensions[i] - 1) *
                                     static_cast<std::uintptr_t>(array->strides[i]);
        if (array->strides[i] < 0) {
            start += reach;
        } else {
            end += reach;
        }
    }
    end += static_cast<std::uintptr_t>(numpy::element_size(array->descr, feature_version));
    return BorrowKey{start, end, data, gcd_strides};
}

bool conflicts(const BorrowKey& a, const BorrowKey& b) noexcept {
    if (!(a.range_start < b.range_end && b.range_start < a.range_end)) {
        return false;
    }
    const std::uintmax_t distance = a.data > b.data ? a.data - b.data : b.data - a.data;
    const std::uintmax_t step = magnitude(gcd(a.gcd_strides, b.gcd_strides));
    if (step == 0) {
        // Both views have only zero strides: there is no divisor to test,
        // but none is needed.  Every element of such a view sits at its data
        // pointer, so a non-empty view touches exactly its byte range (one
        // element), and an empty one touches nothing.  Two such views
        // conflict exactly when both are non-empty and their ranges overlap,
        // whether or not their data pointers are equal: views of different
        // element sizes, or at unaligned offsets, share bytes without
        // starting at the same one.
        const bool a_touches = a.range_start != a.range_end;
        const bool b_touches = b.range_start != b.range_end;
        return a_touches && b_touches;
    }
    return distance % step == 0;
}

const void* base_address(PyObject* array, PyTypeObject* ndarray_type) noexcept {
    for (;;) {
        PyObject* base = numpy::as_array(array)->base;
        if (base == nullptr) {
            return array;
        }
        if (!PyObject_TypeCheck(base, ndarray_type)) {
            return base;
        }
        array = base;
    }
}

// -------------------------------------------------------------- the state

namespace {

template <class Views>
bool conflicts_with_any(const BorrowKey& key, const Views& views) noexcept {
    for (const auto& [other, count] : views) {
        if (conflicts(key, other)) {
            return true;
        }
    }
    return false;
}

}  // namespace

int RegistryState::acquire_shared(const void* base, const BorrowKey& key) {
    std::lock_guard lock(mutex_);
    // One lookup serves both a new base (the common case: an array of its
    // own) and a known one.
    auto [base_entry, new_base] = bases_.try_emplace(base, recycler_);
    BaseViews& views = base_entry->second;
    if (new_base) {
        try {
            views.shared.emplace(key, 1);
        } catch (...) {
            bases_.erase(base_entry);
            throw;
        }
        return borrow_granted;
    }
    // Views of one buffer usually arrive in address order: the hint keeps
    // that to one walk down the tree.
    auto same = views.shared.lower_bound(key);
    if (same != views.shared.end() && same->first == key) {
        if (same->second == std::numeric_limits<std::int64_t>::max()) {
            return borrow_conflicts;
        }
        ++same->second;
        return borrow_granted;
    }
    if (!views.exclusive.empty() &&
        (views.exclusive.contains(key) || conflicts_with_any(key, views.exclusive))) {
        return borrow_conflicts;
    }
    views.shared.emplace_hint(same, key, 1);
    return borrow_granted;
}

int RegistryState::acquire_exclusive(const void* base, const BorrowKey& key) {
    std::lock_guard lock(mutex_);
    auto [base_entry, new_base] = bases_.try_emplace(base, recycler_);
    BaseViews& views = base_entry->second;
    if (new_base) {
        try {
            views.exclusive.emplace(key, -1);
        } catch (...) {
            bases_.erase(base_entry);
            throw;
        }
        return borrow_granted;
    }
    if (views.shared.contains(key) || views.exclusive.contains(key)) {
        return borrow_conflicts;
    }
    if (conflicts_with_any(key, views.exclusive) || conflicts_with_any(key, views.shared)) {
        return borrow_conflicts;
    }
    views.exclusive.emplace(key, -1);
    return borrow_granted;
}

RegistryState::Held RegistryState::find_held(const void* base, const BorrowKey& key,
                                             std::string_view borrow) {
    auto base_entry = bases_.find(base);
    if (base_entry == bases_.end()) {
        fatal::raise("Borrow registry: released " + std::string(borrow) +
                     " borrow of an unknown base address");
    }
    // The key is looked up even when it would be the base's only one, so
    // that a stray release cannot drop another view's borrow.
    for (ViewCounts* views : {&base_entry->second.shared, &base_entry->second.exclusive}) {
        if (auto view = views->find(key); view != views->end()) {
            return Held{base_entry, views, view};
        }
    }
    fatal::raise("Borrow registry: released " + std::string(borrow) + " borrow of an unknown view");
}

void RegistryState::forget(const Held& held) {
    held.views->erase(held.view);
    if (held.base->second.shared.empty() && held.base->second.exclusive.empty()) {
        bases_.erase(held.base);
    }
}

void RegistryState::release_shared(const void* base, const BorrowKey& key) {
    std::lock_guard lock(mutex_);
    const Held held = find_held(base, key, "a shared");
    if (--held.view->second == 0) {
        forget(held);
    }
}

void RegistryState::release_exclusive(const void* base, const BorrowKey& key) {
    std::lock_guard lock(mutex_);
    forget(find_held(base, key, "an exclusive"));
}

}  // namespace orven::bindings::borrow
