#include "frames/frame_call.hpp"

#include <string_view>
#include <utility>

#include "numpy/abi.hpp"

namespace orven::bindings::frames {
namespace {

using errors::ErrorValue;
using errors::Result;
using python::PyRef;

ErrorValue misuse(std::string_view why) {
    return ErrorValue::with_message(PyExc_TypeError, "group_features: " + std::string(why));
}

// ------------------------------------------------------------ attributes

Result<PyRef> attribute(PyObject* object, const char* name) {
    return errors::checked(PyObject_GetAttrString(object, name));
}

Result<std::string> text_attribute(PyObject* object, const char* name) {
    Result<PyRef> value = attribute(object, name);
    if (!value.ok()) return std::move(value).error();
    if (!PyUnicode_Check(value.value().get())) {
        return misuse(std::string("the text ") + name + " must be a str");
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(value.value().get(), &size);
    if (text == nullptr) return errors::fetch();
    return std::string(text, static_cast<std::size_t>(size));
}

Result<bool> flag_attribute(PyObject* object, const char* name) {
    Result<PyRef> value = attribute(object, name);
    if (!value.ok()) return std::move(value).error();
    const int truth = PyObject_IsTrue(value.value().get());
    if (truth < 0) return errors::fetch();
    return truth != 0;
}

// None, or an int of 64 bits.
Result<std::optional<std::int64_t>> optional_integer_attribute(PyObject* object, const char* name) {
    Result<PyRef> value = attribute(object, name);
    if (!value.ok()) return std::move(value).error();
    if (value.value().get() == Py_None) return std::optional<std::int64_t>();
    const long long integer = PyLong_AsLongLong(value.value().get());
    if (integer == -1 && PyErr_Occurred() != nullptr) return errors::fetch();
    return std::optional<std::int64_t>(integer);
}

// The attribute, or an empty reference for None.
Result<PyRef> optional_attribute(PyObject* object, const char* name) {
    Result<PyRef> value = attribute(object, name);
    if (!value.ok() || value.value().get() != Py_None) return value;
    return PyRef();
}

Result<PyRef> tuple_attribute(PyObject* object, const char* name) {
    Result<PyRef> value = attribute(object, name);
    if (value.ok() && !PyTuple_Check(value.value().get())) {
        return misuse(std::string(name) + " must be a tuple");
    }
    return value;
}

Result<ColumnTexts> read_texts(PyObject* column) {
    Result<PyRef> texts = attribute(column, "texts");
    if (!texts.ok()) return std::move(texts).error();
    ColumnTexts read;
    const std::pair<const char*, std::string*> fields[] = {
        {"null", &read.null},         {"unorderable", &read.unorderable}, {"changed", &read.changed},
        {"borrowed", &read.borrowed}, {"nan", &read.nan},                 {"arrow", &read.arrow},
    };
    for (const auto& [name, target] : fields) {
        Result<std::string> text = text_attribute(texts.value().get(), name);
        if (!text.ok()) return std::move(text).error();
        *target = std::move(text).value();
    }
    return read;
}

// ---------------------------------------------------------------- arrays

// What an array of one role may hold, tested on its descriptor.
using ElementRule = bool (*)(PyObject* descriptor);

std::size_t element_size(PyObject* descriptor) {
    return static_cast<std::size_t>(numpy::element_size(descriptor, numpy::array_api().feature_version));
}
bool is_float64(PyObject* d) { return numpy::kind_of(d) == 'f' && element_size(d) == 8; }
bool is_key_element(PyObject* d) {
    const char kind = numpy::kind_of(d);
    return kind == 'i' || kind == 'u' || kind == 'b' || kind == 'O' ||
           (kind == 'f' && (element_size(d) == 4 || element_size(d) == 8));
}
bool is_uint32(PyObject* d) { return numpy::kind_of(d) == 'u' && element_size(d) == 4; }
bool is_time_element(PyObject* d) {
    return (numpy::kind_of(d) == 'i' || numpy::kind_of(d) == 'f') && element_size(d) == 8;
}

bool is_plain_vector(PyObject* object, ElementRule rule) {
    if (!PyObject_TypeCheck(object, numpy::array_api().ndarray_type)) return false;
    const numpy::ArrayObject* array = numpy::as_array(object);
    return array->nd == 1 && (array->flags & numpy::c_contiguous_flag) != 0 &&
           numpy::native_byte_order(array->descr) && rule(array->descr);
}

ErrorValue refuse_borrowed_column(const void* texts) {
    return ErrorValue::with_message(PyExc_ValueError, static_cast<const ColumnTexts*>(texts)->borrowed);
}

// `object` held and pinned for the call: a one-dimensional C-contiguous
// NumPy array in the machine's byte order whose elements `rule` accepts
// (else the misuse `expected`).  An array another module holds for writing
// is the column's ValueError.
Result<call::HeldArray> hold_column(PyObject* object, ElementRule rule, const char* expected,
                                    const ColumnTexts& texts, call::CallBorrows& borrows) {
    if (!is_plain_vector(object, rule)) {
        return misuse(std::string("expected ") + expected +
                      " as a one-dimensional C-contiguous NumPy array in native byte order");
    }
    const call::Refusal refusal{refuse_borrowed_column, &texts};
    return call::HeldArray::hold(object, borrows, call::Pinning::against_resize, refusal);
}

// ---------------------------------------------------------------- columns

Result<KeyColumn> read_key(PyObject* described, call::CallBorrows& borrows) {
    Result<ColumnTexts> texts = read_texts(described);
    if (!texts.ok()) return std::move(texts).error();
    KeyColumn key;
    key.texts = std::move(texts).value();
    Result<PyRef> arrow = optional_attribute(described, "arrow");
    if (!arrow.ok()) return std::move(arrow).error();
    key.arrow = std::move(arrow).value();
    Result<PyRef> array = optional_attribute(described, "array");
    if (!array.ok()) return std::move(array).error();
    if (static_cast<bool>(key.arrow) == static_cast<bool>(array.value())) {
        return misuse("a key column has either an array or an Arrow stream");
    }
    if (key.arrow) return key;

    Result<call::HeldArray> held =
        hold_column(array.value().get(), is_key_element, "integers, booleans, floats or objects", key.texts, borrows);
    if (!held.ok()) return std::move(held).error();
    key.array.emplace(std::move(held).value());
    Result<std::optional<std::int64_t>> null_value = optional_integer_attribute(described, "null_value");
    if (!null_value.ok()) return std::move(null_value).error();
    key.null_value = null_value.value();
    Result<PyRef> ranks = optional_attribute(described, "ranks");
    if (!ranks.ok()) return std::move(ranks).error();
    if (ranks.value()) {
        Result<call::HeldArray> held_ranks = hold_column(ranks.value().get(), is_uint32, "uint32 ranks", key.texts, borrows);
        if (!held_ranks.ok()) return std::move(held_ranks).error();
        key.ranks.emplace(std::move(held_ranks).value());
    }
    Result<PyRef> nulls = tuple_attribute(described, "nulls");
    if (!nulls.ok()) return std::move(nulls).error();
    key.nulls = std::move(nulls).value();
    return key;
}

Result<ValueColumn> read_value(PyObject* described, call::CallBorrows& borrows) {
    Result<ColumnTexts> texts = read_texts(described);
    if (!texts.ok()) return std::move(texts).error();
    Result<PyRef> array = attribute(described, "array");
    if (!array.ok()) return std::move(array).error();
    Result<call::HeldArray> held = hold_column(array.value().get(), is_float64, "float64 values", texts.value(), borrows);
    if (!held.ok()) return std::move(held).error();
    return ValueColumn{std::move(texts).value(), std::move(held).value()};
}

Result<TimeColumnRead> read_time(PyObject* described, call::CallBorrows& borrows) {
    Result<ColumnTexts> texts = read_texts(described);
    if (!texts.ok()) return std::move(texts).error();
    Result<PyRef> array = attribute(described, "array");
    if (!array.ok()) return std::move(array).error();
    Result<call::HeldArray> held = hold_column(array.value().get(), is_time_element, "int64 or float64 times",
                                               texts.value(), borrows);
    if (!held.ok()) return std::move(held).error();
    Result<std::optional<std::int64_t>> null_value = optional_integer_attribute(described, "null_value");
    if (!null_value.ok()) return std::move(null_value).error();
    const bool floating = held.value().element().kind == 'f';
    return TimeColumnRead{std::move(texts).value(), std::move(held).value(), floating, null_value.value()};
}

// ------------------------------------------------------------- the call

Result<std::vector<KeyColumn>> read_keys(PyObject* described, call::CallBorrows& borrows, bool& has_kind) {
    Result<PyRef> ids = tuple_attribute(described, "ids");
    if (!ids.ok()) return std::move(ids).error();
    Result<PyRef> kind = optional_attribute(described, "kind");
    if (!kind.ok()) return std::move(kind).error();
    if (PyTuple_GET_SIZE(ids.value().get()) == 0) return misuse("ids must name at least one column");
    std::vector<KeyColumn> keys;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(ids.value().get()); ++i) {
        Result<KeyColumn> key = read_key(PyTuple_GET_ITEM(ids.value().get(), i), borrows);
        if (!key.ok()) return std::move(key).error();
        keys.push_back(std::move(key).value());
    }
    has_kind = static_cast<bool>(kind.value());
    if (has_kind) {
        Result<KeyColumn> key = read_key(kind.value().get(), borrows);
        if (!key.ok()) return std::move(key).error();
        keys.push_back(std::move(key).value());
    }
    return keys;
}

Result<std::vector<ValueColumn>> read_values(PyObject* described, call::CallBorrows& borrows) {
    Result<PyRef> values = tuple_attribute(described, "values");
    if (!values.ok()) return std::move(values).error();
    if (PyTuple_GET_SIZE(values.value().get()) == 0) return misuse("values must hold at least one column");
    std::vector<ValueColumn> columns;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(values.value().get()); ++i) {
        Result<ValueColumn> column = read_value(PyTuple_GET_ITEM(values.value().get(), i), borrows);
        if (!column.ok()) return std::move(column).error();
        columns.push_back(std::move(column).value());
    }
    return columns;
}

// Every array of the call one length: the rows of the frame.
errors::Status check_lengths(const FrameCall& call) {
    const auto same = [&](const call::HeldArray& array) { return array.size() == call.rows; };
    bool equal = true;
    for (const ValueColumn& column : call.values) equal = equal && same(column.array);
    for (const KeyColumn& key : call.keys) equal = equal && (!key.array || same(*key.array));
    if (call.time) equal = equal && same(call.time->array);
    if (!equal) return misuse("the columns are not all of one length");
    return errors::success();
}

Result<FrameCall> read_flags_and_callbacks(PyObject* described, FrameCall call) {
    Result<bool> drop_nan = flag_attribute(described, "drop_nan");
    if (!drop_nan.ok()) return std::move(drop_nan).error();
    Result<bool> wide = flag_attribute(described, "wide");
    if (!wide.ok()) return std::move(wide).error();
    Result<PyRef> nan_message = attribute(described, "nan_message");
    if (!nan_message.ok()) return std::move(nan_message).error();
    Result<PyRef> progress = optional_attribute(described, "progress");
    if (!progress.ok()) return std::move(progress).error();
    call.drop_nan = drop_nan.value();
    call.wide = wide.value();
    call.nan_message = std::move(nan_message).value();
    call.progress = std::move(progress).value();
    return call;
}

}  // namespace

TimeColumn TimeColumnRead::column() const noexcept {
    TimeColumn time;
    if (floating) {
        time.kind = TimeColumn::Kind::floating;
        time.floats = reinterpret_cast<const double*>(array.data());
    } else {
        time.kind = TimeColumn::Kind::integer;
        time.integers = reinterpret_cast<const std::int64_t*>(array.data());
        time.has_null_value = null_value.has_value();
        time.null_value = null_value.value_or(0);
    }
    return time;
}

errors::Status FrameCall::check_columns_unchanged() const {
    for (const ValueColumn& column : values) {
        if (!column.array.unchanged()) return ErrorValue::with_message(PyExc_ValueError, column.texts.changed);
    }
    if (time && !time->array.unchanged()) return ErrorValue::with_message(PyExc_ValueError, time->texts.changed);
    return errors::success();
}

void FrameCall::release_arrays() noexcept {
    keys.clear();
    values.clear();
    time.reset();
}

Result<FrameCall> read_frame_call(PyObject* described, call::CallBorrows& borrows) {
    FrameCall call;
    Result<std::vector<KeyColumn>> keys = read_keys(described, borrows, call.has_kind);
    if (!keys.ok()) return std::move(keys).error();
    call.keys = std::move(keys).value();
    Result<std::vector<ValueColumn>> values = read_values(described, borrows);
    if (!values.ok()) return std::move(values).error();
    call.values = std::move(values).value();
    call.rows = call.values.front().array.size();
    Result<PyRef> time = optional_attribute(described, "time");
    if (!time.ok()) return std::move(time).error();
    if (time.value()) {
        Result<TimeColumnRead> read = read_time(time.value().get(), borrows);
        if (!read.ok()) return std::move(read).error();
        call.time.emplace(std::move(read).value());
    }
    errors::Status lengths = check_lengths(call);
    if (!lengths.ok()) return std::move(lengths).error();
    return read_flags_and_callbacks(described, std::move(call));
}

}  // namespace orven::bindings::frames
