#include "pool/platform.hpp"

#include <unistd.h>

#if defined(__linux__)
#include <sched.h>
#endif

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

namespace orven::pool::platform {

#if defined(__linux__)
namespace {

struct CpuSetDeleter {
    void operator()(cpu_set_t* set) const noexcept { CPU_FREE(set); }
};

}  // namespace
#endif

std::optional<std::size_t> affinity_cpus() {
#if defined(__linux__)
    // The affinity mask may be wider than the default cpu_set_t on very
    // large machines: grow the set until the kernel accepts it.
    for (int cpus = 1024; cpus <= (1 << 22); cpus *= 2) {
        std::unique_ptr<cpu_set_t, CpuSetDeleter> set(CPU_ALLOC(cpus));
        if (!set) {
            return std::nullopt;
        }
        const std::size_t size = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(size, set.get());
        if (::sched_getaffinity(0, size, set.get()) == 0) {
            const int count = CPU_COUNT_S(size, set.get());
            return count > 0 ? std::optional<std::size_t>(count) : std::nullopt;
        }
        if (errno != EINVAL) {
            return std::nullopt;
        }
    }
#endif
    return std::nullopt;
}

std::optional<std::size_t> online_cpus() {
#if defined(_SC_NPROCESSORS_ONLN)
    if (const long count = ::sysconf(_SC_NPROCESSORS_ONLN); count > 0) {
        return static_cast<std::size_t>(count);
    }
#endif
    if (const unsigned count = std::thread::hardware_concurrency(); count > 0) {
        return count;
    }
    return std::nullopt;
}

std::optional<std::string> read_control_file([[maybe_unused]] const std::string& path) {
#if defined(__linux__)
    std::ifstream in(path);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
#else
    return std::nullopt;
#endif
}

ThreadAttributes::ThreadAttributes(std::size_t stack_size) noexcept {
    if (const int error = ::pthread_attr_init(&attr_); error != 0) {
        error_ = error;
        failed_step_ = "cannot prepare worker threads";
        return;
    }
    initialised_ = true;
    if (const int error = ::pthread_attr_setstacksize(&attr_, stack_size); error != 0) {
        error_ = error;
        failed_step_ = "cannot set the worker stack size";
    }
}

ThreadAttributes::~ThreadAttributes() {
    if (initialised_) {
        ::pthread_attr_destroy(&attr_);
    }
}

int start_thread(const ThreadStarter& starter, pthread_t* thread,
                 const ThreadAttributes& attributes, ThreadEntry entry, void* arg) {
    return starter ? starter(thread, attributes.get(), entry, arg)
                   : ::pthread_create(thread, attributes.get(), entry, arg);
}

void join_thread(pthread_t thread) noexcept { ::pthread_join(thread, nullptr); }

std::string describe_os_error(const std::string& what, int error) {
    return what + ": " + std::strerror(error) + " (os error " + std::to_string(error) + ")";
}

}  // namespace orven::pool::platform
