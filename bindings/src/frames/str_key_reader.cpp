// Object columns of exact str coded on the pool, by content: each task
// numbers its rows' texts in a byte dictionary of its own (their bytes
// written as generalised UTF-8, so byte order is code point order, the
// order of Python's `<` on str), merged at the end (keys/task_numbering.hpp).
// An object met again in a row is looked up by its address first.
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
#include <string>
#include <vector>

#include "frames/python_text.hpp"
#include "frames/released_interpreter.hpp"
#include "keys/hashing.hpp"
#include "keys/string_dictionary.hpp"
#include "keys/task_numbering.hpp"
#include "memory/row_buffer.hpp"
#include "pool/row_passes.hpp"

namespace orven::bindings::frames {
namespace {

using errors::ErrorValue;
using errors::Result;
using keys::ShortKey;
using keys::StringDictionary;

// Rows between two moments with the interpreter let go: at the pace of
// the workers on distinct strings scattered in memory, tens of
// milliseconds, so Ctrl-C still stops a call within about 0.1 s.
constexpr std::size_t chunk_rows = std::size_t{1} << 20;

// How far ahead a task asks for the object of a row it will read.
constexpr std::size_t prefetch_distance = 16;

bool never_stop(void*) noexcept { return false; }

// One task's means of coding rows: the codes of the objects it met lately,
// by address (a direct-mapped table, a newer object taking an older one's
// place), and room for a text's UTF-8.
class TextCoder {
public:
    TextCoder() : recent_(slots) {}

    // Codes of rows [begin, end) into `out` by `dictionary`; false on
    // meeting an object that is not an exact str.
    bool code_rows(PyObject* const* objects, std::size_t begin, std::size_t end, StringDictionary& dictionary,
                   std::uint32_t* out, const pool::Checkpoint& checkpoint) {
        PyObject* previous = nullptr;
        std::uint32_t code = 0;
        for (std::size_t r = begin; r < end; ++r) {
            if ((r - begin) % pool::rows_between_checks == 0 && checkpoint.stop()) return true;
            if (r + prefetch_distance < end) __builtin_prefetch(objects[r + prefetch_distance]);
            PyObject* const object = objects[r];
            if (object == nullptr) return false;
            if (object != previous) {
                Recent& slot = recent_[keys::mix(reinterpret_cast<std::uintptr_t>(object)) & (slots - 1)];
                if (slot.object == object) {
                    code = slot.code;
                } else {
                    PythonText text;
                    if (!read_exact_str(object, text)) return false;
                    code = code_of(utf8_of(text, scratch_), dictionary);
                    slot = Recent{object, code};
                }
                previous = object;
            }
            out[r] = code;
        }
        return true;
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

Result<std::optional<KeyCodes>> exact_str_codes(const ColumnBuffer& column, const KeyRules& rules,
                                                pool::Interruption& interruption) {
    if (!interpreter_is_exclusive()) return std::optional<KeyCodes>();
    const std::size_t rows = column.size();
    PyObject* const* objects = column.as<PyObject*>();
    auto codes = memory::row_buffer<std::uint32_t>(rows);
    const std::size_t tasks = pool::piece_count(std::min(rows, chunk_rows));
    keys::TaskNumbering<StringDictionary> numbering(tasks);
    std::vector<TextCoder> coders(tasks);
    std::vector<char> met_other(tasks, 0);
    // The pool's wait polls this instead: nothing that could run Python code.
    pool::Interruption quiet(&never_stop, nullptr);
    for (std::size_t chunk = 0; chunk < rows; chunk += chunk_rows) {
        const std::size_t length = std::min(chunk_rows, rows - chunk);
        pool::run_tasks(tasks, [&](std::size_t t, const pool::Checkpoint& checkpoint) {
            const pool::RowRange range = pool::piece_rows(length, tasks, t);
            if (!coders[t].code_rows(objects, chunk + range.begin, chunk + range.end, numbering.dictionary(t),
                                     codes.get(), checkpoint)) {
                met_other[t] = 1;
            }
        }, quiet);
        if (std::find(met_other.begin(), met_other.end(), 1) != met_other.end()) return std::optional<KeyCodes>();
        for (std::size_t t = 0; t < tasks; ++t) {
            const pool::RowRange range = pool::piece_rows(length, tasks, t);
            numbering.add_rows(chunk + range.begin, chunk + range.end, t);
            coders[t].forget();
        }
        {
            const ReleasedInterpreter let_others_run;
        }
        pool::poll_on_caller(interruption);
        if (!column.still_as_viewed()) return ErrorValue::with_message(PyExc_ValueError, rules.changed_message);
    }
    KeyCodes out;
    {
        const ReleasedInterpreter released;
        numbering.finish_into(out, interruption);
    }
    out.codes = std::move(codes);
    return std::optional<KeyCodes>(std::move(out));
}

}  // namespace orven::bindings::frames
