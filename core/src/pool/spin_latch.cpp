#include "pool/spin_latch.hpp"

#include "pool/thread_pool.hpp"
#include "pool/worker_thread.hpp"

namespace orven::pool {

void SpinLatch::set() noexcept {
    WorkerThread& owner = owner_;
    done_.store(true);
    owner.pool().sleep().wake_worker(owner.index());
}

}  // namespace orven::pool
