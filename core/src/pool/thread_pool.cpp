#include "pool/thread_pool.hpp"

#include <cstring>
#include <string>

#include "pool/pool_creation_error.hpp"

namespace orven::pool {
namespace {

void* worker_main(void* worker) {
    static_cast<WorkerThread*>(worker)->run();
    return nullptr;
}

// The attributes every worker thread starts with: a 2 MiB stack.
class WorkerAttributes {
public:
    WorkerAttributes() {
        if (const int error = ::pthread_attr_init(&attr_); error != 0) {
            throw PoolCreationError(describe("cannot prepare worker threads", error));
        }
        if (const int error = ::pthread_attr_setstacksize(&attr_, ThreadPool::worker_stack_size);
            error != 0) {
            ::pthread_attr_destroy(&attr_);
            throw PoolCreationError(describe("cannot set the worker stack size", error));
        }
    }
    ~WorkerAttributes() { ::pthread_attr_destroy(&attr_); }
    WorkerAttributes(const WorkerAttributes&) = delete;
    WorkerAttributes& operator=(const WorkerAttributes&) = delete;

    const pthread_attr_t* get() const noexcept { return &attr_; }

    static std::string describe(const std::string& what, int error) {
        return what + ": " + std::strerror(error) + " (os error " + std::to_string(error) + ")";
    }

private:
    pthread_attr_t attr_{};
};

}  // namespace

ThreadPool::ThreadPool(std::size_t num_threads, const ThreadStarter& start_thread)
    : sleep_(num_threads) {
    if (num_threads == 0) {
        throw PoolCreationError("a pool needs at least one worker thread");
    }
    // Every worker's state exists before the first thread starts, since a
    // running worker may steal from any other.
    workers_.reserve(num_threads);
    for (std::size_t i = 0; i < num_threads; ++i) {
        workers_.push_back(std::make_unique<WorkerThread>(*this, i));
    }
    try {
        start_workers(num_threads, start_thread);
    } catch (...) {
        stop_workers();
        throw;
    }
}

ThreadPool::~ThreadPool() { stop_workers(); }

void ThreadPool::start_workers(std::size_t num_threads, const ThreadStarter& start_thread) {
    const WorkerAttributes attributes;
    threads_.reserve(num_threads);
    for (std::size_t i = 0; i < num_threads; ++i) {
        pthread_t thread{};
        const int error = start_thread
                              ? start_thread(&thread, attributes.get(), &worker_main, workers_[i].get())
                              : ::pthread_create(&thread, attributes.get(), &worker_main,
                                                 workers_[i].get());
        if (error != 0) {
            throw PoolCreationError(WorkerAttributes::describe(
                "failed to start worker thread " + std::to_string(i + 1) + " of " +
                    std::to_string(num_threads),
                error));
        }
        threads_.push_back(thread);
    }
}

void ThreadPool::stop_workers() noexcept {
    terminating_.store(true);
    sleep_.wake_all();
    for (const pthread_t thread : threads_) {
        ::pthread_join(thread, nullptr);
    }
    threads_.clear();
}

}  // namespace orven::pool
