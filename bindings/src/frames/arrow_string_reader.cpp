// Strings of an Arrow C stream turned into key codes (see key_readers.hpp),
// read in place on the pool with the interpreter released: the batches the
// call holds keep the producer's memory alive until every row is coded.
//
// The rows of plain string batches are cut into units, spread over a few
// tasks, each numbering its strings in a dictionary of its own; the
// entries of each dictionary-encoded batch are numbered by one task
// (batches that share one dictionary, as a categorical's chunks often do,
// share its numbering; where all share one, it is numbered on the pool),
// and their rows then read their entry's code.  The
// dictionaries are merged at the end into one numbering in byte order
// (keys/task_numbering.hpp).  Where a task's dictionary outgrows the cache
// (keys/row_numbering.hpp), the rows are numbered by partitions of their
// texts instead.

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "frames/arrow_c.hpp"
#include "frames/key_readers.hpp"
#include "python/released_interpreter.hpp"
#include "keys/string_dictionary.hpp"
#include "keys/partitioned_numbering.hpp"
#include "keys/row_numbering.hpp"
#include "keys/short_key_memo.hpp"
#include "keys/task_numbering.hpp"
#include "memory/row_buffer.hpp"
#include "pool/row_blocks.hpp"
#include "pool/row_passes.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {
namespace {

using arrow::ArrowArray;
using arrow::ArrowArrayStream;
using arrow::ArrowSchema;
using errors::ErrorValue;
using errors::Result;
using keys::ShortKey;
using keys::ShortKeyMemo;
using keys::StringDictionary;
using python::PyRef;

// The package's text, then why (the producer's own words where it gave any).
ErrorValue unreadable(const KeyRules& rules, const std::string& why) {
    return ErrorValue::with_message(PyExc_TypeError, rules.unreadable_message + why);
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

// Codes of `length` strings of `array` from row `offset` into `out`.
template <class Offset>
void code_offset_strings(const ArrowArray& array, std::int64_t offset, std::int64_t length,
                         StringDictionary& dictionary, std::uint32_t* out) {
    const auto* offsets = static_cast<const Offset*>(array.buffers[1]);
    const char* data = static_cast<const char*>(array.buffers[2]);
    // No load reaches past the last string's end.
    const auto end = static_cast<std::int64_t>(offsets[offset + length]);
    ShortKeyMemo memo;
    for (std::int64_t i = 0; i < length; ++i) {
        const auto begin = static_cast<std::int64_t>(offsets[offset + i]);
        const auto size = static_cast<std::int64_t>(offsets[offset + i + 1]) - begin;
        if (size <= 16) {
            const auto bytes = static_cast<std::uint32_t>(size);
            out[i] = memo.code_of(begin + 16 <= end ? ShortKey::load(data + begin, bytes)
                                                    : ShortKey::copy(data + begin, bytes), dictionary);
        } else {
            out[i] = dictionary.code_of(std::string_view(data + begin, static_cast<std::size_t>(size)));
        }
    }
}

void code_view_strings(const ArrowArray& array, std::int64_t offset, std::int64_t length,
                       StringDictionary& dictionary, std::uint32_t* out) {
    const auto* views = static_cast<const char*>(array.buffers[1]) + 16 * offset;
    ShortKeyMemo memo;
    for (std::int64_t i = 0; i < length; ++i) {
        const char* view = views + 16 * i;
        std::int32_t size;
        std::memcpy(&size, view, 4);
        if (size <= 12) {
            // Inline: the bytes follow the length within the view itself.
            std::uint64_t low;
            std::uint32_t high;
            std::memcpy(&low, view + 4, 8);
            std::memcpy(&high, view + 12, 4);
            out[i] = memo.code_of(ShortKey::from_words(low, high, static_cast<std::uint32_t>(size)), dictionary);
        } else {
            std::int32_t buffer;
            std::int32_t at;
            std::memcpy(&buffer, view + 8, 4);
            std::memcpy(&at, view + 12, 4);
            const char* data = static_cast<const char*>(array.buffers[2 + buffer]) + at;
            out[i] = size <= 16 ? memo.code_of(ShortKey::copy(data, static_cast<std::uint32_t>(size)), dictionary)
                                : dictionary.code_of(std::string_view(data, static_cast<std::size_t>(size)));
        }
    }
}

void code_strings(const ArrowArray& array, std::int64_t offset, std::int64_t length, Layout layout,
                  StringDictionary& dictionary, std::uint32_t* out) {
    switch (layout) {
        case Layout::offsets32: code_offset_strings<std::int32_t>(array, offset, length, dictionary, out); break;
        case Layout::offsets64: code_offset_strings<std::int64_t>(array, offset, length, dictionary, out); break;
        case Layout::views: code_view_strings(array, offset, length, dictionary, out); break;
        case Layout::unknown: break;
    }
}

// String `i` (the offset already added) of an array of one layout.
std::string_view string_at(const ArrowArray& array, Layout layout, std::int64_t i) noexcept {
    if (layout == Layout::views) {
        const char* view = static_cast<const char*>(array.buffers[1]) + 16 * i;
        std::int32_t size;
        std::memcpy(&size, view, 4);
        if (size <= 12) return std::string_view(view + 4, static_cast<std::size_t>(size));
        std::int32_t buffer;
        std::int32_t at;
        std::memcpy(&buffer, view + 8, 4);
        std::memcpy(&at, view + 12, 4);
        return std::string_view(static_cast<const char*>(array.buffers[2 + buffer]) + at, static_cast<std::size_t>(size));
    }
    const char* data = static_cast<const char*>(array.buffers[2]);
    std::int64_t begin;
    std::int64_t end;
    if (layout == Layout::offsets32) {
        begin = static_cast<const std::int32_t*>(array.buffers[1])[i];
        end = static_cast<const std::int32_t*>(array.buffers[1])[i + 1];
    } else {
        begin = static_cast<const std::int64_t*>(array.buffers[1])[i];
        end = static_cast<const std::int64_t*>(array.buffers[1])[i + 1];
    }
    return std::string_view(data + begin, static_cast<std::size_t>(end - begin));
}

// Index `i` (the offset already added) of an array of dictionary indices.
std::int64_t index_at(const ArrowArray& array, char format, std::int64_t i) noexcept {
    const void* indices = array.buffers[1];
    switch (format) {
        case 'c': return static_cast<const std::int8_t*>(indices)[i];
        case 'C': return static_cast<const std::uint8_t*>(indices)[i];
        case 's': return static_cast<const std::int16_t*>(indices)[i];
        case 'S': return static_cast<const std::uint16_t*>(indices)[i];
        case 'i': return static_cast<const std::int32_t*>(indices)[i];
        case 'I': return static_cast<const std::uint32_t*>(indices)[i];
        case 'l': return static_cast<const std::int64_t*>(indices)[i];
        default: return static_cast<std::int64_t>(static_cast<const std::uint64_t*>(indices)[i]);
    }
}

// Whether every index of `length` rows from `offset` is below `entries`.
template <class Index>
bool indices_within(const ArrowArray& array, std::int64_t offset, std::int64_t length, std::size_t entries) {
    const auto* indices = static_cast<const Index*>(array.buffers[1]) + offset;
    bool within = true;
    for (std::int64_t i = 0; i < length; ++i) {
        const auto index = static_cast<std::int64_t>(indices[i]);
        within &= index >= 0 && static_cast<std::uint64_t>(index) < entries;
    }
    return within;
}

template <class Index>
void map_indices(const ArrowArray& array, std::int64_t offset, std::int64_t length,
                 const std::vector<std::uint32_t>& codes, std::uint32_t* out) {
    const auto* indices = static_cast<const Index*>(array.buffers[1]) + offset;
    for (std::int64_t i = 0; i < length; ++i) out[i] = codes[static_cast<std::size_t>(indices[i])];
}

// Calls body<Index>() for the index type of an Arrow format character;
// false for one we do not read.
template <class Body>
bool with_index_type(char format, Body&& body) {
    switch (format) {
        case 'c': body.template operator()<std::int8_t>(); return true;
        case 'C': body.template operator()<std::uint8_t>(); return true;
        case 's': body.template operator()<std::int16_t>(); return true;
        case 'S': body.template operator()<std::uint16_t>(); return true;
        case 'i': body.template operator()<std::int32_t>(); return true;
        case 'I': body.template operator()<std::uint32_t>(); return true;
        case 'l': body.template operator()<std::int64_t>(); return true;
        case 'L': body.template operator()<std::uint64_t>(); return true;
        default: return false;
    }
}

// The stream of `exporter.__arrow_c_stream__()`, taken out of its capsule.
Result<bool> open_stream(PyObject* exporter, const KeyRules& rules, arrow::Owned<ArrowArrayStream>& stream) {
    Result<PyRef> capsule = errors::checked(PyObject_CallMethod(exporter, "__arrow_c_stream__", nullptr));
    if (!capsule.ok()) return std::move(capsule).error();
    auto* source = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule.value().get(), "arrow_array_stream"));
    if (source == nullptr) return errors::fetch();
    if (source->release == nullptr) return unreadable(rules, "the stream was already consumed");
    arrow::Owned<ArrowArrayStream> taken(*source);
    std::swap(*stream.get(), *taken.get());
    return true;
}

std::string stream_error(ArrowArrayStream* stream) {
    const char* text = stream->get_last_error != nullptr ? stream->get_last_error(stream) : nullptr;
    return text != nullptr ? text : "the producer reported an error";
}

// Rows [offset, offset + length) of one batch's string (or index) array,
// which are rows [first_row, first_row + length) of the column.
struct Unit {
    const ArrowArray* array;
    std::int64_t offset;
    std::int64_t length;
    std::size_t first_row;
};

// One dictionary-encoded batch: its rows and the entries they index.
struct EncodedBatch {
    Unit rows;
    std::size_t entries;  // index into the distinct entry arrays
};

// The distinct entry arrays of the dictionary-encoded batches.
struct Entries {
    const ArrowArray* values;
    std::vector<std::uint32_t> codes;

    bool same_as(const ArrowArray& other) const noexcept {
        return values->length == other.length && values->offset == other.offset &&
               values->n_buffers == other.n_buffers &&
               std::equal(values->buffers, values->buffers + values->n_buffers, other.buffers);
    }
};

// Every batch of the stream, held, and what its rows are.
struct ReadBatches {
    std::vector<std::unique_ptr<arrow::Owned<ArrowArray>>> held;
    std::vector<Unit> plain;
    std::vector<EncodedBatch> encoded;
    std::vector<Entries> entries;
    Layout layout = Layout::unknown;
    char index_format = '\0';
};

Result<ReadBatches> read_batches(PyObject* exporter, std::size_t rows, const KeyRules& rules,
                                 pool::Interruption& interruption) {
    arrow::Owned<ArrowArrayStream> stream;
    Result<bool> opened = open_stream(exporter, rules, stream);
    if (!opened.ok()) return std::move(opened).error();
    arrow::Owned<ArrowSchema> schema;
    if (stream->get_schema(stream.get(), schema.get()) != 0) return unreadable(rules, stream_error(stream.get()));
    // A table's stream has one struct column per batch: read its child.
    ArrowSchema* column = schema.get();
    const bool batches = std::string_view(column->format) == "+s";
    if (batches) {
        if (column->n_children != 1) return unreadable(rules, "expected one column");
        column = column->children[0];
    }
    const bool dictionary_encoded = column->dictionary != nullptr;
    const char* value_format = dictionary_encoded ? column->dictionary->format : column->format;
    ReadBatches read;
    read.layout = layout_of(value_format);
    if (read.layout == Layout::unknown) return unreadable(rules, std::string("strings of format '") + value_format + "'");
    read.index_format = dictionary_encoded ? column->format[0] : '\0';
    if (dictionary_encoded && !with_index_type(read.index_format, [] <class> {})) {
        return unreadable(rules, std::string("dictionary indices of format '") + column->format + "'");
    }

    std::size_t filled = 0;
    while (true) {
        auto batch = std::make_unique<arrow::Owned<ArrowArray>>();
        if (stream->get_next(stream.get(), batch->get()) != 0) return unreadable(rules, stream_error(stream.get()));
        if (batch->released()) break;
        ArrowArray* array = batch->get();
        std::int64_t offset = array->offset;
        if (batches) {
            if (array->n_children != 1) return unreadable(rules, "expected one column");
            array = array->children[0];
            offset += array->offset;
        }
        if (array->length < 0 || filled + static_cast<std::size_t>(array->length) > rows) {
            return unreadable(rules, "more rows than the frame has");
        }
        pool::poll_on_caller(interruption);
        if (any_null(*array, offset)) return ErrorValue::with_message(PyExc_ValueError, rules.null_message);
        const Unit unit{array, offset, array->length, filled};
        if (dictionary_encoded) {
            const ArrowArray* values = array->dictionary;
            if (values == nullptr) return unreadable(rules, "a dictionary array without its dictionary");
            if (any_null(*values, values->offset)) return ErrorValue::with_message(PyExc_ValueError, rules.null_message);
            std::size_t e = 0;
            while (e < read.entries.size() && !read.entries[e].same_as(*values)) ++e;
            if (e == read.entries.size()) {
                read.entries.push_back(Entries{values, std::vector<std::uint32_t>(static_cast<std::size_t>(values->length))});
            }
            read.encoded.push_back(EncodedBatch{unit, e});
        } else {
            read.plain.push_back(unit);
        }
        filled += static_cast<std::size_t>(array->length);
        read.held.push_back(std::move(batch));
    }
    if (filled != rows) return unreadable(rules, "fewer rows than the frame has");
    return read;
}

// `units` cut into pieces of at most `most` rows.
std::vector<Unit> cut(const std::vector<Unit>& units, std::size_t most) {
    std::vector<Unit> pieces;
    const auto step = static_cast<std::int64_t>(most);
    for (const Unit& whole : units) {
        for (std::int64_t at = 0; at < whole.length; at += step) {
            const std::int64_t length = std::min(whole.length - at, step);
            pieces.push_back(Unit{whole.array, whole.offset + at, length, whole.first_row + static_cast<std::size_t>(at)});
        }
    }
    return pieces;
}

// The text of any row of the column, by the batch that holds it: what the
// rows are numbered by when they hold too many distinct strings for a
// dictionary a task (keys/partitioned_numbering.hpp).  Dictionary indices
// have been checked to be in range before.
class ArrowTexts {
public:
    explicit ArrowTexts(const ReadBatches& read) : layout_(read.layout), index_format_(read.index_format) {
        for (const Unit& unit : read.plain) spans_.push_back(Span{unit, nullptr});
        for (const EncodedBatch& batch : read.encoded) spans_.push_back(Span{batch.rows, read.entries[batch.entries].values});
        std::sort(spans_.begin(), spans_.end(),
                  [](const Span& a, const Span& b) { return a.rows.first_row < b.rows.first_row; });
        for (const Span& span : spans_) first_rows_.push_back(span.rows.first_row);
    }

    std::string_view operator()(std::size_t row) const noexcept {
        const auto after = std::upper_bound(first_rows_.begin(), first_rows_.end(), row);
        const Span& span = spans_[static_cast<std::size_t>(after - first_rows_.begin()) - 1];
        const auto i = span.rows.offset + static_cast<std::int64_t>(row - span.rows.first_row);
        if (span.entries == nullptr) return string_at(*span.rows.array, layout_, i);
        const std::int64_t entry = index_at(*span.rows.array, index_format_, i);
        return string_at(*span.entries, layout_, span.entries->offset + entry);
    }

private:
    struct Span {
        Unit rows;
        const ArrowArray* entries;  // null for a plain batch
    };
    Layout layout_;
    char index_format_;
    std::vector<Span> spans_;
    std::vector<std::size_t> first_rows_;
};

// Whether every dictionary index of the encoded batches is in range.
bool indices_in_range(const ReadBatches& read, std::size_t unit_rows, pool::Interruption& interruption) {
    std::vector<Unit> units;
    std::vector<std::size_t> sizes;
    for (const EncodedBatch& batch : read.encoded) {
        for (const Unit& unit : cut({batch.rows}, unit_rows)) {
            units.push_back(unit);
            sizes.push_back(static_cast<std::size_t>(read.entries[batch.entries].values->length));
        }
    }
    std::vector<char> within(units.size(), 1);
    pool::run_tasks(units.size(), [&](std::size_t u, const pool::Checkpoint&) {
        with_index_type(read.index_format, [&] <class Index> {
            within[u] = indices_within<Index>(*units[u].array, units[u].offset, units[u].length, sizes[u]) ? 1 : 0;
        });
    }, interruption);
    return std::find(within.begin(), within.end(), 0) == within.end();
}

// The codes of every row of `read`, numbered by partitions of their texts.
KeyCodes coded_by_partitions(const ReadBatches& read, std::size_t rows, pool::Interruption& interruption) {
    return keys::numbered_by_partitions<StringDictionary>(rows, memory::row_buffer<std::uint32_t>(rows),
                                                          ArrowTexts(read), interruption);
}

// The codes of a column whose batches all index one array of entries (a
// categorical's): the entries numbered (keys/row_numbering.hpp), then each
// row given its entry's rank.  Entries that no row uses leave gaps.
std::optional<KeyCodes> coded_by_one_dictionary(ReadBatches& read, std::size_t rows, std::size_t unit_rows,
                                                pool::Interruption& interruption) {
    if (!indices_in_range(read, unit_rows, interruption)) return std::nullopt;
    Entries& entries = read.entries[0];
    const ArrowArray* const values = entries.values;
    const auto count = static_cast<std::size_t>(values->length);
    const Layout layout = read.layout;
    KeyCodes numbered = keys::number_rows<StringDictionary>(
        count, memory::row_buffer<std::uint32_t>(count),
        [values, layout](std::size_t i) { return string_at(*values, layout, values->offset + static_cast<std::int64_t>(i)); },
        interruption);
    entries.codes.assign(numbered.codes.get(), numbered.codes.get() + count);
    for (const KeyCodes::Part& part : numbered.parts) {
        for (std::size_t i = part.begin; i < part.end; ++i) entries.codes[i] = numbered.tables[part.table][entries.codes[i]];
    }
    std::vector<Unit> units;
    for (const EncodedBatch& batch : read.encoded) {
        for (const Unit& unit : cut({batch.rows}, unit_rows)) units.push_back(unit);
    }
    auto codes = memory::row_buffer<std::uint32_t>(rows);
    pool::run_tasks(units.size(), [&](std::size_t u, const pool::Checkpoint&) {
        with_index_type(read.index_format, [&] <class Index> {
            map_indices<Index>(*units[u].array, units[u].offset, units[u].length, entries.codes, codes.get() + units[u].first_row);
        });
    }, interruption);
    KeyCodes out;
    out.codes = std::move(codes);
    out.range = numbered.range;
    return out;
}

// The codes of every row of `read`, on the pool; empty when a dictionary
// index is out of range.
std::optional<KeyCodes> coded_batches(ReadBatches& read, std::size_t rows, pool::Interruption& interruption) {
    // Dictionaries [0, tasks) number the plain units, task t taking a run
    // of them; one more for each distinct entry array.
    const std::size_t tasks = pool::piece_count(rows);
    const std::size_t unit_rows = std::max<std::size_t>(rows / tasks + 1, pool::rows_between_checks);
    if (read.plain.empty() && read.entries.size() == 1) return coded_by_one_dictionary(read, rows, unit_rows, interruption);
    const std::vector<Unit> units = cut(read.plain, unit_rows);
    const std::size_t entry_count = read.entries.size();
    keys::TaskNumbering<StringDictionary> numbering(tasks + entry_count);
    auto codes = memory::row_buffer<std::uint32_t>(rows);
    const auto first_unit = [&](std::size_t t) { return units.size() * t / tasks; };
    std::atomic<bool> many{false};
    pool::run_tasks(tasks + entry_count, [&](std::size_t t, const pool::Checkpoint& checkpoint) {
        StringDictionary& dictionary = numbering.dictionary(t);
        if (t >= tasks) {
            Entries& entries = read.entries[t - tasks];
            code_strings(*entries.values, entries.values->offset, entries.values->length, read.layout, dictionary,
                         entries.codes.data());
            if (dictionary.size() > keys::cache_values) many.store(true, std::memory_order_relaxed);
            return;
        }
        for (std::size_t u = first_unit(t); u < first_unit(t + 1); ++u) {
            const Unit& unit = units[u];
            const bool whole = pool::for_each_block(pool::RowRange{0, static_cast<std::size_t>(unit.length)}, checkpoint,
                                                    [&](std::size_t begin, std::size_t end) {
                if (many.load(std::memory_order_relaxed)) return false;
                code_strings(*unit.array, unit.offset + static_cast<std::int64_t>(begin),
                             static_cast<std::int64_t>(end - begin), read.layout, dictionary,
                             codes.get() + unit.first_row + begin);
                if (dictionary.size() > keys::cache_values) many.store(true, std::memory_order_relaxed);
                return true;
            });
            if (!whole) return;
        }
    }, interruption);
    if (many.load(std::memory_order_relaxed)) {
        if (!indices_in_range(read, unit_rows, interruption)) return std::nullopt;
        return coded_by_partitions(read, rows, interruption);
    }
    for (std::size_t t = 0; t < tasks; ++t) {
        for (std::size_t u = first_unit(t); u < first_unit(t + 1); ++u) {
            numbering.add_rows(units[u].first_row, units[u].first_row + static_cast<std::size_t>(units[u].length), t);
        }
    }

    // The rows of the encoded batches read their entry's code.
    std::vector<Unit> encoded_units;
    std::vector<std::size_t> encoded_entries;
    for (const EncodedBatch& batch : read.encoded) {
        for (const Unit& unit : cut({batch.rows}, unit_rows)) {
            encoded_units.push_back(unit);
            encoded_entries.push_back(batch.entries);
        }
    }
    std::vector<char> out_of_range(encoded_units.size(), 0);
    pool::run_tasks(encoded_units.size(), [&](std::size_t u, const pool::Checkpoint&) {
        const Unit& unit = encoded_units[u];
        const std::vector<std::uint32_t>& entry_codes = read.entries[encoded_entries[u]].codes;
        with_index_type(read.index_format, [&] <class Index> {
            if (!indices_within<Index>(*unit.array, unit.offset, unit.length, entry_codes.size())) {
                out_of_range[u] = 1;
                return;
            }
            map_indices<Index>(*unit.array, unit.offset, unit.length, entry_codes, codes.get() + unit.first_row);
        });
    }, interruption);
    if (std::find(out_of_range.begin(), out_of_range.end(), 1) != out_of_range.end()) return std::nullopt;
    for (std::size_t u = 0; u < encoded_units.size(); ++u) {
        const Unit& unit = encoded_units[u];
        numbering.add_rows(unit.first_row, unit.first_row + static_cast<std::size_t>(unit.length),
                           tasks + encoded_entries[u]);
    }

    KeyCodes out;
    numbering.finish_into(out, interruption);
    out.codes = std::move(codes);
    return out;
}

}  // namespace

Result<KeyCodes> arrow_string_codes(PyObject* exporter, std::size_t rows, const KeyRules& rules,
                                    pool::Interruption& interruption) {
    Result<ReadBatches> batches = read_batches(exporter, rows, rules, interruption);
    if (!batches.ok()) return std::move(batches).error();
    std::optional<KeyCodes> codes;
    {
        const python::ReleasedInterpreter released;
        codes = coded_batches(batches.value(), rows, interruption);
    }
    if (!codes) return unreadable(rules, "dictionary indices out of range");
    return std::move(*codes);
}

}  // namespace orven::bindings::frames
