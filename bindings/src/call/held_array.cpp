#include "call/held_array.hpp"

#include <string>
#include <utility>

#include "fatal/fatal_error.hpp"

namespace orven::bindings::call {
namespace {

bool is_ndarray(const PyObject* object, const numpy::ArrayApi& api) {
    return PyObject_TypeCheck(const_cast<PyObject*>(object), api.ndarray_type) != 0;
}

// The array owning the memory of `array`, whose holder is `holder`, when
// that is another array; null when `array` owns it, or when an object of
// another kind does.
const PyObject* owning_array(PyObject* array, const void* holder, const numpy::ArrayApi& api) {
    const auto* base = static_cast<const PyObject*>(holder);
    if (base == array || !is_ndarray(base, api)) {
        return nullptr;
    }
    return base;
}

borrow::BorrowKey extent_of(const PyObject* array, const numpy::ArrayApi& api) {
    return borrow::borrow_key(const_cast<PyObject*>(array), api.feature_version);
}

HeldArray::Element element_of(PyObject* descriptor, const numpy::ArrayApi& api) {
    return HeldArray::Element{
        .kind = numpy::kind_of(descriptor),
        .type = numpy::type_character(descriptor),
        .native = numpy::native_byte_order(descriptor),
        .size = numpy::element_size(descriptor, api.feature_version),
    };
}

// A weak reference to the array that owns `array`'s memory: the array
// itself, or the last ndarray of its chain of bases.
errors::Result<python::PyRef> pin_owner(PyObject* array, const numpy::ArrayApi& api) {
    PyObject* owner = array;
    while (numpy::as_array(owner)->base != nullptr && is_ndarray(numpy::as_array(owner)->base, api)) {
        owner = numpy::as_array(owner)->base;
    }
    return errors::checked(PyWeakref_NewRef(owner, nullptr));
}

}  // namespace

HeldArray::Snapshot HeldArray::take_snapshot(PyObject* array, const numpy::ArrayApi& api) {
    const numpy::ArrayObject* fields = numpy::as_array(array);
    const borrow::Place place = borrow::place_of(array);
    const PyObject* owner = owning_array(array, place.base, api);
    return Snapshot{
        .data = fields->data,
        .count = static_cast<std::size_t>(fields->dimensions[0]),
        .contiguous = (fields->flags & (numpy::c_contiguous_flag | numpy::fortran_contiguous_flag)) != 0 &&
                      fields->data != nullptr,
        .place = place,
        .stride = fields->strides[0],
        .descr = fields->descr,
        .element = element_of(fields->descr, api),
        .owner = owner,
        .owner_key = owner != nullptr ? extent_of(owner, api) : borrow::BorrowKey{},
    };
}

errors::Result<HeldArray> HeldArray::hold(PyObject* array, CallBorrows& borrows, Pinning pinning,
                                          const Refusal& refusal) {
    const numpy::ArrayApi& api = numpy::array_api();
    const borrow::RegistryHeader& registry = borrow::registry_header();
    python::PyRef pin;
    if (pinning == Pinning::against_resize) {
        errors::Result<python::PyRef> made = pin_owner(array, api);
        if (!made.ok()) return std::move(made).error();
        pin = std::move(made).value();
    }
    const Snapshot snapshot = take_snapshot(array, api);
    std::size_t slot = 0;
    const int code = borrows.record().acquire(registry, array, snapshot.place, slot);
    if (code == borrow::borrow_conflicts) {
        return refusal.make(refusal.context);
    }
    if (code != borrow::borrow_granted) {
        fatal::raise("Unexpected return code " + std::to_string(code) + " from borrow checking API");
    }
    return HeldArray(python::PyRef::borrow(array), std::move(pin), registry, borrows.record(), slot, snapshot);
}

bool HeldArray::unchanged() const {
    const numpy::ArrayApi& api = numpy::array_api();
    return same_fields(api) && same_memory_holder(api);
}

bool HeldArray::same_fields(const numpy::ArrayApi& api) const {
    const numpy::ArrayObject* fields = numpy::as_array(array_.get());
    return fields->nd == 1 && fields->data == snapshot_.data &&
           static_cast<std::size_t>(fields->dimensions[0]) == snapshot_.count &&
           fields->strides[0] == snapshot_.stride &&
           (fields->descr == snapshot_.descr || element_of(fields->descr, api) == snapshot_.element);
}

bool HeldArray::same_memory_holder(const numpy::ArrayApi& api) const {
    // The same holder of the memory (a view whose base was replaced may
    // point into memory no longer held), and the owning array, if another,
    // at the same extent.  Only objects reached from the array as it is now
    // are read.
    PyObject* array = array_.get();
    const void* holder = borrow::base_address(array, api.ndarray_type);
    if (holder != snapshot_.place.base) {
        return false;
    }
    const PyObject* owner = owning_array(array, holder, api);
    return owner == snapshot_.owner && (owner == nullptr || extent_of(owner, api) == snapshot_.owner_key);
}

HeldArray& HeldArray::operator=(HeldArray&& other) noexcept {
    if (this != &other) {
        release_borrow();
        array_ = std::move(other.array_);
        pin_ = std::move(other.pin_);
        registry_ = other.registry_;
        record_ = other.record_;
        slot_ = other.slot_;
        snapshot_ = other.snapshot_;
    }
    return *this;
}

HeldArray::~HeldArray() { release_borrow(); }

void HeldArray::release_borrow() noexcept {
    if (!array_) {
        return;  // moved from
    }
    // A release never fails unless the registry's own records are broken,
    // and then nothing sound is left to do.
    try {
        record_->release(*registry_, array_.get(), snapshot_.place, slot_);
    } catch (...) {
        fatal::abort_with("fatal error inside the borrow registry; aborting\n");
    }
    array_.reset();
    pin_.reset();
}

}  // namespace orven::bindings::call
