// fork() may be called at any moment, from any thread, also while other
// threads are inside a call; the child has only the forking thread.  This
// is the one place that handles it for all of the library's process-wide
// state, in this order:
//
// Before the fork, in the parent: the locks that a child must find in a
// known state are taken, so that no other thread holds them mid-change as
// the process is copied:
//   1. the calls' borrow records, then the registry we publish (if we do):
//      held only around one registry operation, never while waiting;
//   2. the pool's creation lock: held only while a pool is being made;
//   3. the block cache's lock: held only to look at or change what it holds.
// After the fork, in the parent: released again, in the opposite order.
// After the fork, in the child:
//   1. the pool: the parent's is abandoned (none of its threads exists
//      here); the next call creates a fresh one.  A call of the forking
//      thread that still waits for the old pool (it forked from a signal
//      handler run while it waited) ends with a fatal error at its next
//      poll;
//   2. the one-time values: any fill that another thread was running is
//      re-armed, to be done again on the child's first need;
//   3. the borrows: the locks are released, and the borrows of calls of
//      other threads are dropped from our own registry, or noted to be
//      handed back to another module's registry at the child's next call.
//      The forking thread's own call goes on and releases as usual;
//   4. the block cache: its lock is released and what it held is given
//      back (a child seldom runs the parent's shapes again; its idle
//      waiter is not there).  Blocks in use come back to it as usual.
// The child's steps do not depend on one another; the order is fixed only
// so that it can be read here.

#include "call/fork_handlers.hpp"

#include <pthread.h>

#include <atomic>

#include "borrow/in_flight_calls.hpp"
#include "memory/block_cache.hpp"
#include "pool/global_pool.hpp"
#include "python/once_value.hpp"

namespace orven::bindings::call {
namespace {

void before_fork() noexcept {
    borrow::before_fork();
    pool::before_fork();
    memory::block_cache::before_fork();
}

void after_fork_in_parent() noexcept {
    memory::block_cache::after_fork_in_parent();
    pool::after_fork_in_parent();
    borrow::after_fork_in_parent();
}

void after_fork_in_child() noexcept {
    pool::after_fork_in_child();
    python::rearm_once_values_after_fork();
    borrow::after_fork_in_child();
    memory::block_cache::after_fork_in_child();
}

// Both modules' initialisers install the handlers, and two threads may run
// them at once where the interpreter has no global lock: the first to flip
// the flag installs, and puts it back if the system has no room.  No lock
// is involved, so none is left for a fork to catch.
std::atomic<bool> installed{false};

}  // namespace

errors::Status install_fork_handlers() {
    if (installed.exchange(true, std::memory_order_acq_rel)) {
        return errors::success();
    }
    if (::pthread_atfork(&before_fork, &after_fork_in_parent, &after_fork_in_child) != 0) {
        installed.store(false, std::memory_order_release);
        return errors::ErrorValue::with_message(PyExc_MemoryError,
                                                "no room for the module's fork handlers");
    }
    return errors::success();
}

}  // namespace orven::bindings::call
