#include "pool/global_pool.hpp"

#include <new>
#include <utility>

#include "fatal/fatal_error.hpp"
#include "pool/bookkeeping.hpp"
#include "pool/worker_count.hpp"

namespace orven::pool {
namespace {

// Storage for an object that must outlive every static destructor: the
// pool's workers may still be running when the process exits.
template <class T>
class NeverDestroyed {
public:
    template <class... Args>
    explicit NeverDestroyed(Args&&... args) {
        ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
    }
    T& get() noexcept { return *std::launder(reinterpret_cast<T*>(storage_)); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

GlobalPoolCell& process_cell() {
    static NeverDestroyed<GlobalPoolCell> cell(&create_global_pool);
    return cell.get();
}

}  // namespace

ThreadPool& GlobalPoolCell::get() {
    if (ThreadPool* pool = ready_.load(std::memory_order_acquire)) {
        return *pool;
    }
    std::unique_lock lock(creation_);
    if (ThreadPool* pool = ready_.load(std::memory_order_relaxed)) {
        return *pool;
    }
    if (!failure_) {
        try {
            pool_ = factory_();
            if (!pool_) {
                failure_ = "no pool was created";
            }
        } catch (const std::exception& error) {
            failure_ = error.what();
        }
    }
    if (failure_) {
        std::string message = "The global thread pool has not been initialized.: " + *failure_;
        lock.unlock();
        fatal::raise(std::move(message));
    }
    ready_.store(pool_.get(), std::memory_order_release);
    return *pool_;
}

void GlobalPoolCell::before_fork() noexcept {
    abort_if_throws([&] { creation_.lock(); });
}

void GlobalPoolCell::after_fork_in_parent() noexcept { creation_.unlock(); }

void GlobalPoolCell::after_fork_in_child() noexcept {
    // The parent's pool is left as it is: its threads are gone, its locks
    // may be held by them, and destroying it would wait for them forever.
    // A thread of the child that still waits for work it handed to it (the
    // forking thread, if it forked from code run while it waited) is told.
    if (pool_) {
        pool_->abandon_after_fork();
    }
    static_cast<void>(pool_.release());
    ready_.store(nullptr);
    failure_.reset();
    creation_.unlock();
}

ThreadPool& global_pool() { return process_cell().get(); }

std::unique_ptr<ThreadPool> create_global_pool() {
    const std::size_t workers =
        settle_worker_count(read_worker_count_settings(), available_cpus());
    return std::make_unique<ThreadPool>(workers);
}

void before_fork() noexcept { process_cell().before_fork(); }

void after_fork_in_parent() noexcept { process_cell().after_fork_in_parent(); }

void after_fork_in_child() noexcept { process_cell().after_fork_in_child(); }

}  // namespace orven::pool
