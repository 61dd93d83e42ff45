#include "pool/current_num_threads.hpp"

#include "pool/global_pool.hpp"
#include "pool/thread_pool.hpp"
#include "pool/worker_thread.hpp"

namespace orven::pool {

std::size_t current_num_threads() {
    if (const WorkerThread* worker = WorkerThread::current()) {
        return worker->pool().num_threads();
    }
    return global_pool().num_threads();
}

}  // namespace orven::pool
