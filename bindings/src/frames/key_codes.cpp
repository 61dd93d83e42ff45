#include "frames/key_codes.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "frames/hashing.hpp"
#include "frames/integer_dictionary.hpp"
#include "memory/row_buffer.hpp"
#include "frames/released_interpreter.hpp"
#include "frames/row_tasks.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {

using memory::RowBuffer;
using memory::row_buffer;
namespace {

using errors::ErrorValue;
using errors::Result;
using python::PyRef;

ErrorValue value_error(const std::string& message) {
    return ErrorValue::with_message(PyExc_ValueError, message);
}

// The widest range indexed directly: the tables it needs are then no
// larger than the column itself (or a fixed small size).
std::uint64_t direct_limit(std::size_t rows) {
    return std::max<std::uint64_t>(rows, std::uint64_t{1} << 16);
}

template <class T>
Result<KeyCodes> integer_codes_of(const T* values, std::size_t rows, std::span<const std::uint32_t> ranks,
                                  const KeyRules& rules, pool::Interruption& interruption) {
    KeyCodes out;
    out.codes = row_buffer<std::uint32_t>(rows);
    const bool has_null = rules.null_value.has_value();
    const std::int64_t null_value = rules.null_value.value_or(0);
    const auto is_null = [&](T v) {
        if constexpr (std::is_signed_v<T>) {
            return has_null && static_cast<std::int64_t>(v) == null_value;
        } else {
            return has_null && null_value >= 0 && static_cast<std::uint64_t>(v) == static_cast<std::uint64_t>(null_value);
        }
    };
    const std::size_t pieces = piece_count(rows);
    // What each piece found: its smallest and largest order key, and
    // whether it met a null (1) or a category number out of range (2).
    struct Finding {
        std::uint64_t low = std::numeric_limits<std::uint64_t>::max();
        std::uint64_t high = 0;
        int problem = 0;
    };
    std::vector<Finding> found(pieces);
    const auto report = [&]() -> std::optional<ErrorValue> {
        for (const Finding& f : found) {
            if (f.problem == 1) return value_error(rules.null_message);
            if (f.problem == 2) return ErrorValue::with_message(PyExc_SystemError, "category code out of range");
        }
        return std::nullopt;
    };
    if (!ranks.empty() || rows == 0) {
        run_released_tasks(pieces, [&](std::size_t p, const Checkpoint& checkpoint) {
            const RowRange range = piece_rows(rows, pieces, p);
            for (std::size_t r = range.begin; r < range.end; ++r) {
                if ((r - range.begin) % rows_between_checks == 0 && checkpoint.stop()) return;
                const T v = values[r];
                if (is_null(v)) {
                    found[p].problem = 1;
                    return;
                }
                if (v < 0 || static_cast<std::uint64_t>(v) >= ranks.size()) {
                    found[p].problem = 2;
                    return;
                }
                out.codes[r] = ranks[static_cast<std::size_t>(v)];
            }
        }, interruption);
        if (auto error = report()) return std::move(*error);
        out.range = ranks.size();
        return out;
    }
    // Signed values flipped at the sign bit order like unsigned ones.
    const auto order_key = [](T v) -> std::uint64_t {
        if constexpr (std::is_signed_v<T>) {
            return static_cast<std::uint64_t>(static_cast<std::int64_t>(v)) ^ (std::uint64_t{1} << 63);
        } else {
            return static_cast<std::uint64_t>(v);
        }
    };
    run_released_tasks(pieces, [&](std::size_t p, const Checkpoint& checkpoint) {
        const RowRange range = piece_rows(rows, pieces, p);
        std::uint64_t low = std::numeric_limits<std::uint64_t>::max();
        std::uint64_t high = 0;
        bool null = false;
        for (std::size_t r = range.begin; r < range.end; ++r) {
            if ((r - range.begin) % rows_between_checks == 0 && checkpoint.stop()) return;
            const T v = values[r];
            null |= is_null(v);
            const std::uint64_t k = order_key(v);
            low = std::min(low, k);
            high = std::max(high, k);
        }
        found[p] = Finding{low, high, null ? 1 : 0};
    }, interruption);
    if (auto error = report()) return std::move(*error);
    std::uint64_t low = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t high = 0;
    for (const Finding& f : found) {
        low = std::min(low, f.low);
        high = std::max(high, f.high);
    }
    if (high - low < direct_limit(rows)) {
        run_released_tasks(pieces, [&](std::size_t p, const Checkpoint& checkpoint) {
            const RowRange range = piece_rows(rows, pieces, p);
            for (std::size_t r = range.begin; r < range.end; ++r) {
                if ((r - range.begin) % rows_between_checks == 0 && checkpoint.stop()) return;
                out.codes[r] = static_cast<std::uint32_t>(order_key(values[r]) - low);
            }
        }, interruption);
        out.range = high - low + 1;
        return out;
    }
    IntegerDictionary dictionary;
    {
        const ReleasedInterpreter released;
        for (std::size_t r = 0; r < rows; ++r) {
            if (r % rows_between_checks == 0) poll_on_caller(interruption);
            out.codes[r] = dictionary.code_of(order_key(values[r]));
        }
    }
    out.renumber_all(rows, dictionary.ranks());
    out.range = dictionary.size();
    return out;
}

}  // namespace

Result<KeyCodes> integer_codes(const ColumnBuffer& column, std::span<const std::uint32_t> ranks,
                               const KeyRules& rules, pool::Interruption& interruption) {
    const std::size_t rows = column.size();
    const std::size_t width = column.item_size();
    switch (column.format()) {
        case 'b': case 'h': case 'i': case 'l': case 'q':
            switch (width) {
                case 1: return integer_codes_of(column.as<std::int8_t>(), rows, ranks, rules, interruption);
                case 2: return integer_codes_of(column.as<std::int16_t>(), rows, ranks, rules, interruption);
                case 4: return integer_codes_of(column.as<std::int32_t>(), rows, ranks, rules, interruption);
                case 8: return integer_codes_of(column.as<std::int64_t>(), rows, ranks, rules, interruption);
                default: break;
            }
            break;
        case 'B': case 'H': case 'I': case 'L': case 'Q': case '?':
            switch (width) {
                case 1: return integer_codes_of(column.as<std::uint8_t>(), rows, ranks, rules, interruption);
                case 2: return integer_codes_of(column.as<std::uint16_t>(), rows, ranks, rules, interruption);
                case 4: return integer_codes_of(column.as<std::uint32_t>(), rows, ranks, rules, interruption);
                case 8: return integer_codes_of(column.as<std::uint64_t>(), rows, ranks, rules, interruption);
                default: break;
            }
            break;
        default: break;
    }
    return ErrorValue::with_message(PyExc_SystemError, "integer key column of an unexpected format");
}

// ---------------------------------------------------------------- objects

namespace {

// Distinct objects by value, each held by a strong reference.
class ObjectDictionary {
public:
    ObjectDictionary() : slots_(1024, empty), mask_(1023) {}

    // The number of `object`'s value, added if new; an error if its hash
    // or an equality test raises.
    Result<std::uint32_t> code_of(PyObject* object) {
        const Py_hash_t hash = PyObject_Hash(object);
        if (hash == -1 && PyErr_Occurred()) return errors::fetch();
        std::size_t slot = detail::mix(static_cast<std::uint64_t>(hash)) & mask_;
        while (true) {
            const std::uint32_t code = slots_[slot];
            if (code == empty) break;
            if (hashes_[code] == hash) {
                const int equal = PyObject_RichCompareBool(values_[code].get(), object, Py_EQ);
                if (equal < 0) return errors::fetch();
                if (equal) return code;
            }
            slot = (slot + 1) & mask_;
        }
        const auto code = static_cast<std::uint32_t>(values_.size());
        values_.push_back(PyRef::borrow(object));
        hashes_.push_back(hash);
        slots_[slot] = code;
        if (values_.size() * 2 > slots_.size()) rehash();
        return code;
    }

    std::size_t size() const noexcept { return values_.size(); }

    // rank[code], ordering the values by `<`; an error if a comparison
    // raises or gives no answer.
    Result<std::vector<std::uint32_t>> ranks() const {
        std::vector<std::uint32_t> order(values_.size());
        for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
        bool failed = false;
        // A merge sort stays within bounds whatever the comparisons say.
        std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            if (failed) return false;
            const int less = PyObject_RichCompareBool(values_[a].get(), values_[b].get(), Py_LT);
            if (less < 0) {
                failed = true;
                return false;
            }
            return less == 1;
        });
        if (failed) return errors::fetch();
        std::vector<std::uint32_t> rank(values_.size());
        for (std::uint32_t place = 0; place < order.size(); ++place) rank[order[place]] = place;
        return rank;
    }

private:
    static constexpr std::uint32_t empty = 0xffffffffu;
    void rehash() {
        slots_.assign(slots_.size() * 2, empty);
        mask_ = slots_.size() - 1;
        for (std::uint32_t code = 0; code < values_.size(); ++code) {
            std::size_t slot = detail::mix(static_cast<std::uint64_t>(hashes_[code])) & mask_;
            while (slots_[slot] != empty) slot = (slot + 1) & mask_;
            slots_[slot] = code;
        }
    }

    std::vector<PyRef> values_;
    std::vector<Py_hash_t> hashes_;
    std::vector<std::uint32_t> slots_;
    std::size_t mask_;
};

// Objects already seen, by address.  Each is held by a strong reference,
// so no address can be freed and reused for another object during the
// call.  Bounded: past its capacity, new objects are looked up by value.
class IdentityCache {
public:
    static constexpr std::size_t capacity = 4096;
    IdentityCache() : slots_(2 * capacity, Slot{}), mask_(2 * capacity - 1) {}

    // The code remembered for `object`, or empty.
    std::uint32_t find(PyObject* object) const noexcept {
        std::size_t slot = index(object);
        while (slots_[slot].object != nullptr) {
            if (slots_[slot].object == object) return slots_[slot].code;
            slot = (slot + 1) & mask_;
        }
        return empty;
    }

    void remember(PyObject* object, std::uint32_t code) {
        if (held_.size() >= capacity) return;
        std::size_t slot = index(object);
        while (slots_[slot].object != nullptr) slot = (slot + 1) & mask_;
        held_.push_back(PyRef::borrow(object));
        slots_[slot] = Slot{object, code};
    }

    static constexpr std::uint32_t empty = 0xffffffffu;

private:
    struct Slot {
        PyObject* object = nullptr;
        std::uint32_t code = empty;
    };
    std::size_t index(PyObject* object) const noexcept {
        return detail::mix(reinterpret_cast<std::uintptr_t>(object)) & mask_;
    }

    std::vector<Slot> slots_;
    std::size_t mask_;
    std::vector<PyRef> held_;
};

bool is_null_object(PyObject* object, PyObject* nulls) {
    if (object == Py_None) return true;
    if (PyFloat_Check(object) && std::isnan(PyFloat_AS_DOUBLE(object))) return true;
    if (nulls != nullptr) {
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(nulls); ++i) {
            if (PyTuple_GET_ITEM(nulls, i) == object) return true;
        }
    }
    return false;
}

}  // namespace

Result<KeyCodes> object_codes(const ColumnBuffer& column, PyObject* nulls, const KeyRules& rules,
                              pool::Interruption& interruption) {
    const std::size_t rows = column.size();
    if (nulls != nullptr && !PyTuple_Check(nulls)) nulls = nullptr;
    KeyCodes out;
    out.codes = row_buffer<std::uint32_t>(rows);
    PyObject* const* objects = column.as<PyObject*>();
    IdentityCache seen;
    ObjectDictionary dictionary;
    for (std::size_t r = 0; r < rows; ++r) {
        if (r % rows_between_checks == 0) {
            poll_on_caller(interruption);
            if (!column.still_as_viewed()) return value_error(rules.changed_message);
        }
        PyObject* object = objects[r];
        std::uint32_t code = seen.find(object);
        if (code == IdentityCache::empty) {
            // Held while its hash and equality run: they may run code of
            // the caller's that replaces the array's element.
            const PyRef held = PyRef::borrow(object);
            if (object == nullptr || is_null_object(object, nulls)) return value_error(rules.null_message);
            Result<std::uint32_t> found = dictionary.code_of(object);
            if (!found.ok()) return std::move(found).error();
            if (!column.still_as_viewed()) return value_error(rules.changed_message);
            code = found.value();
            seen.remember(object, code);
        }
        out.codes[r] = code;
    }
    Result<std::vector<std::uint32_t>> rank = dictionary.ranks();
    if (!rank.ok()) {
        // Values without an order between them (mixed types, say): the
        // comparison's own error is replaced by the column's.
        ErrorValue dropped = std::move(rank).error();
        return ErrorValue::with_message(PyExc_TypeError, rules.order_message);
    }
    out.renumber_all(rows, std::move(rank).value());
    out.range = dictionary.size();
    return out;
}

}  // namespace orven::bindings::frames
