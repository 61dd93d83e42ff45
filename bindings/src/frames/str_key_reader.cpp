// Object columns of exact str coded on the pool, by content: each task
// numbers its rows' texts in a byte dictionary of its own (their bytes
// written as generalised UTF-8, so byte order is code point order, the
// order of Python's `<` on str), merged at the end (keys/task_numbering.hpp).
// An object met again in a row is looked up by its address first.  Where a
// task's dictionary outgrows the cache (keys/row_numbering.hpp), the texts
// are copied out instead and numbered by partitions.
//
// The workers read the caller's objects, so no Python code may run while
// they do: the calling thread holds the interpreter through each pass and
// polls nothing meanwhile (no signal handler runs, no other thread takes
// the interpreter).  The rows go in chunks of a bounded size; between two,
// the interpreter is let go for a moment (other threads run), the signal
// handlers run, and the column is checked to be as it was viewed.  Since
// code may then have run and freed objects, no address is remembered from
// one chunk to the next; the texts are copies, which stay valid.

#include "frames/str_key_reader.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "frames/python_text.hpp"
#include "python/released_interpreter.hpp"
#include "keys/hashing.hpp"
#include "keys/string_dictionary.hpp"
#include "keys/partitioned_numbering.hpp"
#include "keys/row_numbering.hpp"
#include "keys/task_numbering.hpp"
#include "keys/text_blocks.hpp"
#include "memory/row_buffer.hpp"
#include "pool/row_blocks.hpp"
#include "pool/row_passes.hpp"

namespace orven::bindings::frames {
namespace {

using errors::ErrorValue;
using errors::Result;
using keys::ShortKey;
using keys::StringDictionary;

// Rows between two moments with the interpreter let go: at the pace of
// one worker on distinct strings scattered in memory (150-300 ns a row on
// a loaded virtual machine, the objects prefetched), 20-40 ms, so that
// Ctrl-C still stops a call within about 0.1 s and other threads wait no
// longer than that.
constexpr std::size_t chunk_rows = std::size_t{1} << 17;
static_assert(chunk_rows % keys::TextBlocks::block_rows == 0, "a chunk is whole blocks of texts");

// How far ahead a task asks for the object of a row it will read.
constexpr std::size_t prefetch_distance = 16;

bool never_stop(void*) noexcept { return false; }

// Asks for the lines of an object the pass will read soon: its header and
// what follows (a short str's text lies right after its header).  Rows
// scattered over memory otherwise cost a full memory latency each.
void prefetch_object(const PyObject* object) noexcept {
    __builtin_prefetch(object);
    __builtin_prefetch(reinterpret_cast<const char*>(object) + 64);
}

// What a pass over a chunk met.
enum class ChunkOutcome { read, other_object, many_texts };

// One task's means of coding rows: the codes of the objects it met lately,
// by address (a direct-mapped table, a newer object taking an older one's
// place), and room for a text's UTF-8.
class TextCoder {
public:
    TextCoder() : recent_(slots) {}

    // Codes of rows [begin, end) into `out` by `dictionary`; stops at an
    // object that is not an exact str, or once the dictionary outgrows the
    // cache (keys/row_numbering.hpp), and says which.
    ChunkOutcome code_rows(PyObject* const* objects, std::size_t begin, std::size_t end,
                           StringDictionary& dictionary, std::uint32_t* out, const pool::Checkpoint& checkpoint) {
        // What stopped the walk; `read` when the checkpoint did.
        ChunkOutcome stopped = ChunkOutcome::read;
        const bool whole = pool::for_each_block(pool::RowRange{begin, end}, checkpoint,
                                                [&](std::size_t block_begin, std::size_t block_end) {
            if (dictionary.size() > keys::cache_values) {
                stopped = ChunkOutcome::many_texts;
                return false;
            }
            for (std::size_t r = block_begin; r < block_end; ++r) {
                if (r + prefetch_distance < end) prefetch_object(objects[r + prefetch_distance]);
                PyObject* const object = objects[r];
                if (object == nullptr) {
                    stopped = ChunkOutcome::other_object;
                    return false;
                }
                // No shortcut for a row that repeats the one before: on
                // shuffled rows its branch would mispredict at most rows.
                Recent& slot = recent_[keys::mix(reinterpret_cast<std::uintptr_t>(object)) & (slots - 1)];
                if (slot.object != object) {
                    PythonText text;
                    if (!read_exact_str(object, text)) {
                        stopped = ChunkOutcome::other_object;
                        return false;
                    }
                    slot = Recent{object, code_of(utf8_of(text, scratch_), dictionary)};
                }
                out[r] = slot.code;
            }
            return true;
        });
        if (!whole) return stopped;
        return dictionary.size() > keys::cache_values ? ChunkOutcome::many_texts : ChunkOutcome::read;
    }

    // Forgets every address: the objects behind them may be gone.
    void forget() { std::fill(recent_.begin(), recent_.end(), Recent{}); }

private:
    static constexpr std::size_t slots = 4096;
    struct Recent {
        PyObject* object = nullptr;
        std::uint32_t code = 0;
    };

    static std::uint32_t code_of(std::string_view bytes, StringDictionary& dictionary) {
        if (bytes.size() <= 16) {
            return dictionary.code_of(ShortKey::copy(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
        }
        return dictionary.code_of(bytes);
    }

    std::vector<Recent> recent_;
    std::string scratch_;
};

}  // namespace

namespace {

// pass(chunk_begin, chunk_length, quiet) over every chunk of the rows,
// the interpreter held throughout each and let go between two; stops at
// the first chunk whose outcome is not `read`, and gives it.  An error if
// caller code changed the column between two chunks.
template <class Pass>
Result<ChunkOutcome> in_chunks(const ColumnBuffer& column, const KeyRules& rules, pool::Interruption& interruption,
                               Pass pass) {
    // The pool's wait polls this instead: nothing that could run Python code.
    pool::Interruption quiet(&never_stop, nullptr);
    const std::size_t rows = column.size();
    for (std::size_t chunk = 0; chunk < rows; chunk += chunk_rows) {
        const ChunkOutcome outcome = pass(chunk, std::min(chunk_rows, rows - chunk), quiet);
        if (outcome != ChunkOutcome::read) return outcome;
        {
            const python::ReleasedInterpreter let_others_run;
        }
        pool::poll_on_caller(interruption);
        if (!column.still_as_viewed()) return ErrorValue::with_message(PyExc_ValueError, rules.changed_message);
    }
    return ChunkOutcome::read;
}

ChunkOutcome worst_of(const std::vector<ChunkOutcome>& outcomes) {
    if (std::find(outcomes.begin(), outcomes.end(), ChunkOutcome::other_object) != outcomes.end()) {
        return ChunkOutcome::other_object;
    }
    if (std::find(outcomes.begin(), outcomes.end(), ChunkOutcome::many_texts) != outcomes.end()) {
        return ChunkOutcome::many_texts;
    }
    return ChunkOutcome::read;
}

// Every row's text copied out, for a column of too many distinct texts
// for a dictionary a task; empty if a row holds anything but an exact str.
Result<std::optional<keys::TextBlocks>> copied_texts(const ColumnBuffer& column, const KeyRules& rules,
                                                     pool::Interruption& interruption) {
    PyObject* const* objects = column.as<PyObject*>();
    keys::TextBlocks texts(column.size());
    Result<ChunkOutcome> copied = in_chunks(column, rules, interruption,
                                            [&](std::size_t chunk, std::size_t length, pool::Interruption& quiet) {
        const std::size_t first = chunk / keys::TextBlocks::block_rows;
        const std::size_t count = (length + keys::TextBlocks::block_rows - 1) / keys::TextBlocks::block_rows;
        std::vector<ChunkOutcome> outcomes(count, ChunkOutcome::read);
        pool::run_tasks(count, [&](std::size_t b, const pool::Checkpoint&) {
            keys::TextBlocks::Block& block = texts.block(first + b);
            const std::size_t begin = (first + b) * keys::TextBlocks::block_rows;
            const std::size_t end = std::min(begin + keys::TextBlocks::block_rows, chunk + length);
            block.ends.reserve(end - begin);
            std::string scratch;
            for (std::size_t r = begin; r < end; ++r) {
                if (r + prefetch_distance < end) prefetch_object(objects[r + prefetch_distance]);
                PythonText text;
                if (objects[r] == nullptr || !read_exact_str(objects[r], text)) {
                    outcomes[b] = ChunkOutcome::other_object;
                    return;
                }
                block.append(utf8_of(text, scratch));
            }
        }, quiet);
        return worst_of(outcomes);
    });
    if (!copied.ok()) return std::move(copied).error();
    if (copied.value() != ChunkOutcome::read) return std::optional<keys::TextBlocks>();
    return std::optional<keys::TextBlocks>(std::move(texts));
}

}  // namespace

Result<std::optional<KeyCodes>> exact_str_codes(const ColumnBuffer& column, const KeyRules& rules,
                                                pool::Interruption& interruption) {
    if (!interpreter_is_exclusive()) return std::optional<KeyCodes>();
    const std::size_t rows = column.size();
    PyObject* const* objects = column.as<PyObject*>();
    auto codes = memory::row_buffer<std::uint32_t>(rows);
    // One task a worker: the fewer dictionaries, the less to merge.
    const std::size_t tasks = std::min(pool::piece_count(std::min(rows, chunk_rows)), pool::global_pool().num_threads());
    keys::TaskNumbering<StringDictionary> numbering(tasks);
    std::vector<TextCoder> coders(tasks);
    Result<ChunkOutcome> coded = in_chunks(column, rules, interruption,
                                           [&](std::size_t chunk, std::size_t length, pool::Interruption& quiet) {
        std::vector<ChunkOutcome> outcomes(tasks, ChunkOutcome::read);
        pool::run_tasks(tasks, [&](std::size_t t, const pool::Checkpoint& checkpoint) {
            const pool::RowRange range = pool::piece_rows(length, tasks, t);
            outcomes[t] = coders[t].code_rows(objects, chunk + range.begin, chunk + range.end,
                                              numbering.dictionary(t), codes.get(), checkpoint);
        }, quiet);
        for (std::size_t t = 0; t < tasks; ++t) {
            const pool::RowRange range = pool::piece_rows(length, tasks, t);
            numbering.add_rows(chunk + range.begin, chunk + range.end, t);
            coders[t].forget();
        }
        return worst_of(outcomes);
    });
    if (!coded.ok()) return std::move(coded).error();
    if (coded.value() == ChunkOutcome::other_object) return std::optional<KeyCodes>();
    if (coded.value() == ChunkOutcome::many_texts) {
        // Too many for a dictionary a task: the texts are copied out under
        // the interpreter, then numbered by partitions without it.
        Result<std::optional<keys::TextBlocks>> texts = copied_texts(column, rules, interruption);
        if (!texts.ok()) return std::move(texts).error();
        if (!texts.value().has_value()) return std::optional<KeyCodes>();
        const python::ReleasedInterpreter released;
        return std::optional<KeyCodes>(keys::numbered_by_partitions<StringDictionary>(
            rows, std::move(codes), std::cref(*texts.value()), interruption));
    }
    KeyCodes out;
    {
        const python::ReleasedInterpreter released;
        numbering.finish_into(out, interruption);
    }
    out.codes = std::move(codes);
    return std::optional<KeyCodes>(std::move(out));
}

}  // namespace orven::bindings::frames
