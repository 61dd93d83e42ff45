#pragma once

// A fatal error ends the running operation: it writes its failure report to
// standard error on the thread where it arises, then unwinds as a C++
// exception so that every owner on the way out runs its clean-up.  It is
// caught only at the module's entry points and at the pool's task
// boundaries (which carry it to the thread that forked the work).

#include <cstdint>
#include <source_location>
#include <string>
#include <string_view>

namespace orven::fatal {

// Where a fatal error arose: the source path relative to the project root,
// without its extension, and the line and column of the raising expression.
struct Location {
    std::string file;
    std::uint32_t line = 0;
    std::uint32_t column = 0;

    static Location from(const std::source_location& where);
};

// The carrier of a fatal error.  Deliberately not a std::exception, so that
// no generic handler swallows it on the way to an entry point.
class FatalError final {
public:
    FatalError(std::string message, Location location)
        : message_(std::move(message)), location_(std::move(location)) {}

    const std::string& message() const noexcept { return message_; }
    const Location& location() const noexcept { return location_; }

private:
    std::string message_;
    Location location_;
};

// Writes the failure report for `message` at `where`, then throws.
[[noreturn]] void raise(std::string message,
                        std::source_location where = std::source_location::current());

// The same at a location given outright, for a failure whose reported place
// callers match against: compilers disagree on the column of a call, so a
// place that must not move is stated by the code that raises there.
[[noreturn]] void raise(std::string message, Location where);

// Continues a failure whose report has already been written elsewhere (a
// fatal error that came back from Python code, say): throws without a report.
[[noreturn]] void resume(std::string message,
                         std::source_location where = std::source_location::current());

// The failure report, as one piece of text: an empty line, the thread line
// with its location, the message, then either the backtrace hint (only on
// the first report of the process) or a backtrace.
std::string format_report(std::string_view thread_name, std::uint64_t thread_id,
                          const Location& location, std::string_view message,
                          bool first_report, std::string_view backtrace);

// Writes the report of a fatal error arising on the current thread, in one
// write so that reports of concurrent threads never interleave.
void write_report(const Location& location, std::string_view message);

// Writes `text` to standard error as it stands, retrying short writes and
// giving up silently when the stream refuses it.
void write_stderr(std::string_view text) noexcept;

// For failures of the machinery itself, where unwinding cannot be trusted:
// writes `text` to standard error as it stands and aborts the process.
[[noreturn]] void abort_with(std::string_view text) noexcept;

}  // namespace orven::fatal
