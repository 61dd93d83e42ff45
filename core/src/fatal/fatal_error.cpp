#include "fatal/fatal_error.hpp"

#include <pthread.h>
#include <unistd.h>

// Backtraces come from glibc's or macOS's <execinfo.h>; other C libraries
// (musl) have none, and the report says so instead.
#if __has_include(<execinfo.h>)
#include <execinfo.h>
#define ORVEN_HAS_BACKTRACE 1
#endif
#if defined(__linux__)
#include <sys/syscall.h>
#endif

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace orven::fatal {
namespace {

// Callers already steer backtraces with this variable (and the pool with
// RAYON_NUM_THREADS), so we honour the same setting: set and not "0".
bool backtraces_enabled() {
    static const bool enabled = [] {
        const char* value = std::getenv("RUST_BACKTRACE");
        return value != nullptr && std::string_view(value) != "0";
    }();
    return enabled;
}

#if defined(ORVEN_HAS_BACKTRACE)
std::string capture_backtrace() {
    std::array<void*, 128> frames{};
    const int count = ::backtrace(frames.data(), static_cast<int>(frames.size()));
    std::unique_ptr<char*, decltype(&std::free)> symbols(
        ::backtrace_symbols(frames.data(), count), &std::free);
    std::string text = "stack backtrace:\n";
    for (int i = 0; i < count; ++i) {
        text += "  ";
        text += std::to_string(i);
        text += ": ";
        text += symbols ? symbols.get()[i] : "<unknown>";
        text += '\n';
    }
    return text;
}
#else
std::string capture_backtrace() { return "stack backtrace:\n  <unavailable on this platform>\n"; }
#endif

// The kernel's number for the calling thread, as other tools show it.
std::uint64_t current_thread_id() {
#if defined(__linux__)
    return static_cast<std::uint64_t>(::syscall(SYS_gettid));
#elif defined(__APPLE__)
    std::uint64_t id = 0;
    ::pthread_threadid_np(nullptr, &id);
    return id;
#else
    // No portable numeric id: the handle's bits, where it is an integer.
    const pthread_t self = ::pthread_self();
    std::uint64_t id = 0;
    std::memcpy(&id, &self, sizeof self < sizeof id ? sizeof self : sizeof id);
    return id;
#endif
}

void write_all(int fd, std::string_view text) noexcept {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::atomic<bool> any_report_written{false};

}  // namespace

Location Location::from(const std::source_location& where) {
    // The build maps the source root away, so file_name() is relative to
    // the project; the report names the path without its extension.
    std::string_view path = where.file_name();
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)) {
        path = path.substr(0, dot);
    }
    return Location{std::string(path), where.line(), where.column()};
}

std::string format_report(std::string_view thread_name, std::uint64_t thread_id,
                          const Location& location, std::string_view message,
                          bool first_report, std::string_view backtrace) {
    std::string text = "\nthread '";
    text += thread_name;
    text += "' (";
    text += std::to_string(thread_id);
    text += ") panicked at ";
    text += location.file;
    text += ':';
    text += std::to_string(location.line);
    text += ':';
    text += std::to_string(location.column);
    text += ":\n";
    text += message;
    text += '\n';
    if (!backtrace.empty()) {
        text += backtrace;
    } else if (first_report) {
        text += "note: run with `RUST_BACKTRACE=1` environment variable to display a backtrace\n";
    }
    return text;
}

void write_report(const Location& location, std::string_view message) {
    const bool first = !any_report_written.exchange(true);
    const std::string backtrace = backtraces_enabled() ? capture_backtrace() : std::string();
    // Neither the pool's workers nor the interpreter's threads carry a name
    // that this system gave them.
    write_all(STDERR_FILENO,
              format_report("<unnamed>", current_thread_id(), location, message, first, backtrace));
}

void raise(std::string message, std::source_location where) {
    raise(std::move(message), Location::from(where));
}

void raise(std::string message, Location where) {
    write_report(where, message);
    throw FatalError(std::move(message), std::move(where));
}

void resume(std::string message, std::source_location where) {
    throw FatalError(std::move(message), Location::from(where));
}

void write_stderr(std::string_view text) noexcept { write_all(STDERR_FILENO, text); }

void abort_with(std::string_view text) noexcept {
    write_stderr(text);
    std::abort();
}

}  // namespace orven::fatal
