// Strings of an Arrow C stream turned into key codes (see key_codes.hpp).

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <string_view>
#include <vector>

#include "frames/arrow_c.hpp"
#include "frames/key_codes.hpp"
#include "frames/string_dictionary.hpp"
#include "memory/row_buffer.hpp"
#include "frames/row_tasks.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {

using memory::RowBuffer;
using memory::row_buffer;
namespace {

using arrow::ArrowArray;
using arrow::ArrowArrayStream;
using arrow::ArrowSchema;
using errors::ErrorValue;
using errors::Result;
using python::PyRef;

ErrorValue unreadable(const std::string& why) {
    return ErrorValue::with_message(PyExc_TypeError, "cannot read the column's Arrow data: " + why);
}

bool any_null(const ArrowArray& array, std::int64_t offset) {
    if (array.null_count == 0 || array.n_buffers == 0 || array.buffers[0] == nullptr) return false;
    const auto* bits = static_cast<const std::uint8_t*>(array.buffers[0]);
    for (std::int64_t i = offset; i < offset + array.length; ++i) {
        if (((bits[i >> 3] >> (i & 7)) & 1) == 0) return true;
    }
    return false;
}

enum class Layout { offsets32, offsets64, views, unknown };

Layout layout_of(const char* format) {
    const std::string_view f(format);
    if (f == "u") return Layout::offsets32;
    if (f == "U") return Layout::offsets64;
    if (f == "vu") return Layout::views;
    return Layout::unknown;
}

// Codes of `array`'s strings (rows [offset, offset + length)) into `out`.
template <class Offset>
void code_offset_strings(const ArrowArray& array, std::int64_t offset, StringDictionary& dictionary,
                         std::uint32_t* out) {
    const auto* offsets = static_cast<const Offset*>(array.buffers[1]);
    const char* data = static_cast<const char*>(array.buffers[2]);
    // No load reaches past the last string's end.
    const auto end = static_cast<std::int64_t>(offsets[offset + array.length]);
    for (std::int64_t i = 0; i < array.length; ++i) {
        const auto begin = static_cast<std::int64_t>(offsets[offset + i]);
        const auto length = static_cast<std::int64_t>(offsets[offset + i + 1]) - begin;
        if (length <= 16) {
            const auto size = static_cast<std::uint32_t>(length);
            out[i] = dictionary.code_of(begin + 16 <= end ? ShortKey::load(data + begin, size)
                                                          : ShortKey::copy(data + begin, size));
        } else {
            out[i] = dictionary.code_of(std::string_view(data + begin, static_cast<std::size_t>(length)));
        }
    }
}

void code_view_strings(const ArrowArray& array, std::int64_t offset, StringDictionary& dictionary,
                       std::uint32_t* out) {
    const auto* views = static_cast<const char*>(array.buffers[1]) + 16 * offset;
    for (std::int64_t i = 0; i < array.length; ++i) {
        const char* view = views + 16 * i;
        std::int32_t length;
        std::memcpy(&length, view, 4);
        if (length <= 12) {
            // Inline: the bytes follow the length within the view itself.
            std::uint64_t low;
            std::uint32_t high;
            std::memcpy(&low, view + 4, 8);
            std::memcpy(&high, view + 12, 4);
            out[i] = dictionary.code_of(ShortKey::from_words(low, high, static_cast<std::uint32_t>(length)));
        } else {
            std::int32_t buffer;
            std::int32_t at;
            std::memcpy(&buffer, view + 8, 4);
            std::memcpy(&at, view + 12, 4);
            const char* data = static_cast<const char*>(array.buffers[2 + buffer]) + at;
            out[i] = length <= 16 ? dictionary.code_of(ShortKey::copy(data, static_cast<std::uint32_t>(length)))
                                  : dictionary.code_of(std::string_view(data, static_cast<std::size_t>(length)));
        }
    }
}

// Codes of a plain string array; false for a layout we do not read.
bool code_strings(const ArrowArray& array, std::int64_t offset, Layout layout, StringDictionary& dictionary,
                  std::uint32_t* out) {
    switch (layout) {
        case Layout::offsets32: code_offset_strings<std::int32_t>(array, offset, dictionary, out); return true;
        case Layout::offsets64: code_offset_strings<std::int64_t>(array, offset, dictionary, out); return true;
        case Layout::views: code_view_strings(array, offset, dictionary, out); return true;
        case Layout::unknown: return false;
    }
    return false;
}

template <class Index>
bool map_indices(const ArrowArray& array, std::int64_t offset, const std::vector<std::uint32_t>& codes,
                 std::uint32_t* out) {
    const auto* indices = static_cast<const Index*>(array.buffers[1]) + offset;
    for (std::int64_t i = 0; i < array.length; ++i) {
        const auto index = static_cast<std::int64_t>(indices[i]);
        if (index < 0 || static_cast<std::uint64_t>(index) >= codes.size()) return false;
        out[i] = codes[static_cast<std::size_t>(index)];
    }
    return true;
}

bool code_dictionary_indices(const ArrowArray& array, std::int64_t offset, char index_format,
                             const std::vector<std::uint32_t>& codes, std::uint32_t* out) {
    switch (index_format) {
        case 'c': return map_indices<std::int8_t>(array, offset, codes, out);
        case 'C': return map_indices<std::uint8_t>(array, offset, codes, out);
        case 's': return map_indices<std::int16_t>(array, offset, codes, out);
        case 'S': return map_indices<std::uint16_t>(array, offset, codes, out);
        case 'i': return map_indices<std::int32_t>(array, offset, codes, out);
        case 'I': return map_indices<std::uint32_t>(array, offset, codes, out);
        case 'l': return map_indices<std::int64_t>(array, offset, codes, out);
        case 'L': return map_indices<std::uint64_t>(array, offset, codes, out);
        default: return false;
    }
}

// The stream of `exporter.__arrow_c_stream__()`, taken out of its capsule.
Result<bool> open_stream(PyObject* exporter, arrow::Owned<ArrowArrayStream>& stream) {
    Result<PyRef> capsule = errors::checked(PyObject_CallMethod(exporter, "__arrow_c_stream__", nullptr));
    if (!capsule.ok()) return std::move(capsule).error();
    auto* source = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule.value().get(), "arrow_array_stream"));
    if (source == nullptr) return errors::fetch();
    if (source->release == nullptr) return unreadable("the stream was already consumed");
    arrow::Owned<ArrowArrayStream> taken(*source);
    std::swap(*stream.get(), *taken.get());
    return true;
}

std::string stream_error(ArrowArrayStream* stream) {
    const char* text = stream->get_last_error != nullptr ? stream->get_last_error(stream) : nullptr;
    return text != nullptr ? text : "the producer reported an error";
}

}  // namespace

Result<KeyCodes> arrow_string_codes(PyObject* exporter, std::size_t rows, const KeyRules& rules,
                                    pool::Interruption& interruption) {
    arrow::Owned<ArrowArrayStream> stream;
    Result<bool> opened = open_stream(exporter, stream);
    if (!opened.ok()) return std::move(opened).error();
    arrow::Owned<ArrowSchema> schema;
    if (stream->get_schema(stream.get(), schema.get()) != 0) return unreadable(stream_error(stream.get()));
    // A table's stream has one struct column per batch: read its child.
    ArrowSchema* column = schema.get();
    const bool batches = std::string_view(column->format) == "+s";
    if (batches) {
        if (column->n_children != 1) return unreadable("expected one column");
        column = column->children[0];
    }
    const bool dictionary_encoded = column->dictionary != nullptr;
    const Layout layout = layout_of(dictionary_encoded ? column->dictionary->format : column->format);
    if (layout == Layout::unknown) {
        return unreadable(std::string("strings of format '") +
                          (dictionary_encoded ? column->dictionary->format : column->format) + "'");
    }
    const char index_format = dictionary_encoded ? column->format[0] : '\0';

    KeyCodes out;
    out.codes = row_buffer<std::uint32_t>(rows);
    // The batches stay alive (and the producer's memory with them) until
    // every row is coded.  Dictionary batches are coded here, into the
    // global dictionary (their dictionaries are small); the rows of plain
    // batches are cut into units, each coded by a task into a dictionary
    // of its own, merged afterwards.
    std::vector<std::unique_ptr<arrow::Owned<ArrowArray>>> held;
    struct Unit {
        const ArrowArray* array;
        std::int64_t offset;
        std::int64_t length;
        std::size_t first_row;
    };
    std::vector<Unit> plain;
    StringDictionary dictionary;
    std::vector<std::pair<std::size_t, std::size_t>> global_rows;  // coded with global codes
    std::size_t filled = 0;
    std::vector<std::uint32_t> entry_codes;
    while (true) {
        auto batch = std::make_unique<arrow::Owned<ArrowArray>>();
        if (stream->get_next(stream.get(), batch->get()) != 0) return unreadable(stream_error(stream.get()));
        if (batch->released()) break;
        ArrowArray* array = batch->get();
        std::int64_t offset = array->offset;
        if (batches) {
            if (array->n_children != 1) return unreadable("expected one column");
            array = array->children[0];
            offset += array->offset;
        }
        if (array->length < 0 || filled + static_cast<std::size_t>(array->length) > rows) {
            return unreadable("more rows than the frame has");
        }
        poll_on_caller(interruption);
        if (any_null(*array, offset)) return ErrorValue::with_message(PyExc_ValueError, rules.null_message);
        if (dictionary_encoded) {
            const ArrowArray* values = array->dictionary;
            if (values == nullptr) return unreadable("a dictionary array without its dictionary");
            entry_codes.assign(static_cast<std::size_t>(values->length), 0);
            if (any_null(*values, values->offset)) {
                return ErrorValue::with_message(PyExc_ValueError, rules.null_message);
            }
            code_strings(*values, values->offset, layout, dictionary, entry_codes.data());
            if (!code_dictionary_indices(*array, offset, index_format, entry_codes, out.codes.get() + filled)) {
                return unreadable("dictionary indices out of range");
            }
            global_rows.emplace_back(filled, filled + static_cast<std::size_t>(array->length));
        } else {
            plain.push_back(Unit{array, offset, array->length, filled});
        }
        filled += static_cast<std::size_t>(array->length);
        held.push_back(std::move(batch));
    }
    if (filled != rows) return unreadable("fewer rows than the frame has");

    // Units of about a piece each, none longer than a task should run
    // between two looks at the interruption.
    const std::size_t unit_rows = std::max<std::size_t>(rows / piece_count(rows) + 1, rows_between_checks);
    std::vector<Unit> units;
    for (const Unit& whole : plain) {
        for (std::int64_t at = 0; at < whole.length; at += static_cast<std::int64_t>(unit_rows)) {
            const std::int64_t length = std::min<std::int64_t>(whole.length - at, static_cast<std::int64_t>(unit_rows));
            units.push_back(Unit{whole.array, whole.offset + at, length, whole.first_row + static_cast<std::size_t>(at)});
        }
    }
    std::vector<StringDictionary> local(units.size());
    run_released_tasks(units.size(), [&](std::size_t u, const Checkpoint& checkpoint) {
        const Unit& unit = units[u];
        for (std::int64_t at = 0; at < unit.length; at += static_cast<std::int64_t>(rows_between_checks)) {
            if (checkpoint.stop()) return;
            ArrowArray slice = *unit.array;
            slice.length = std::min<std::int64_t>(unit.length - at, static_cast<std::int64_t>(rows_between_checks));
            code_strings(slice, unit.offset + at, layout, local[u], out.codes.get() + unit.first_row + at);
        }
    }, interruption);

    // Every local code to its global one, then every global code to its rank.
    std::vector<std::vector<std::uint32_t>> to_global(units.size());
    for (std::size_t u = 0; u < units.size(); ++u) {
        to_global[u].resize(local[u].size());
        for (std::uint32_t code = 0; code < local[u].size(); ++code) {
            to_global[u][code] = dictionary.code_of(local[u].text(code));
        }
    }
    // The tables the fold reads the provisional codes through.
    const std::vector<std::uint32_t> rank = dictionary.ranks();
    for (std::size_t u = 0; u < units.size(); ++u) {
        for (std::uint32_t& code : to_global[u]) code = rank[code];
        out.tables.push_back(std::move(to_global[u]));
        const std::size_t begin = units[u].first_row;
        out.parts.push_back(KeyCodes::Part{begin, begin + static_cast<std::size_t>(units[u].length), u});
    }
    if (!global_rows.empty()) {
        out.tables.push_back(rank);
        for (const auto& [begin, end] : global_rows) {
            out.parts.push_back(KeyCodes::Part{begin, end, out.tables.size() - 1});
        }
    }
    out.range = dictionary.size();
    return out;
}

}  // namespace orven::bindings::frames
