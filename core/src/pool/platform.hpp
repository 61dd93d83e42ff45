#pragma once

// What the pool asks of the operating system, in one place: the CPUs this
// process may use, the files that describe its control groups, and worker
// threads with a stack of a chosen size.  Everything here builds on Linux (x86-64 and
// AArch64) and macOS; where a system lacks a source of information, the
// function says so (nullopt) and the caller falls back.

#include <pthread.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace orven::pool::platform {

// The number of CPUs in this process's affinity mask; nullopt where it
// cannot be read or the system has no such mask (macOS).
std::optional<std::size_t> affinity_cpus();

// The number of CPUs online (or, where the system cannot say, the
// standard library's hint); nullopt where neither knows.
std::optional<std::size_t> online_cpus();

// The contents of a control-group or process-information file; nullopt
// where it cannot be read, and always off Linux, which has no such files.
std::optional<std::string> read_control_file(const std::string& path);

// How a thread is started: pthread_create's signature, so that tests can
// stand in a starter that fails.
using ThreadEntry = void* (*)(void*);
using ThreadStarter = std::function<int(pthread_t*, const pthread_attr_t*, ThreadEntry, void*)>;

// Attributes of a thread with a stack of `stack_size` bytes.  If they
// cannot be made, error() is the system's error number and failed_step()
// says what could not be done.
class ThreadAttributes {
public:
    explicit ThreadAttributes(std::size_t stack_size) noexcept;
    ~ThreadAttributes();
    ThreadAttributes(const ThreadAttributes&) = delete;
    ThreadAttributes& operator=(const ThreadAttributes&) = delete;

    int error() const noexcept { return error_; }
    const char* failed_step() const noexcept { return failed_step_; }
    const pthread_attr_t* get() const noexcept { return &attr_; }

private:
    pthread_attr_t attr_{};
    bool initialised_ = false;
    int error_ = 0;
    const char* failed_step_ = "";
};

// Starts a thread running `entry(arg)` with `attributes`, through `starter`
// if one is given; returns 0 or the system's error number.
int start_thread(const ThreadStarter& starter, pthread_t* thread,
                 const ThreadAttributes& attributes, ThreadEntry entry, void* arg);

// Waits for a thread started by start_thread to end.
void join_thread(pthread_t thread) noexcept;

// "<what>: <the system's description> (os error <error>)".
std::string describe_os_error(const std::string& what, int error);

}  // namespace orven::pool::platform
