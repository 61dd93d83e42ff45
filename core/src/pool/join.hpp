#pragma once

#include <type_traits>
#include <utility>

#include "pool/global_pool.hpp"
#include "pool/interruption.hpp"
#include "pool/job.hpp"
#include "pool/latch.hpp"
#include "pool/thread_pool.hpp"

namespace orven::pool {

// Join on a worker: offer `b` on the worker's own queue, run `a` here, then
// run `b` here too unless a thief took it, in which case keep working on
// other jobs until the thief is done.  Both tasks always run to their end;
// then a failure of `a`, else one of `b`, is raised here.
//
// Each task receives `migrated`: whether it runs on another thread than the
// one that called the join (only `b` can be, when it was stolen).
template <class A, class B>
auto join_on_worker(WorkerThread& worker, A& a, B& b) {
    using ResultA = ResultOf<std::invoke_result_t<A&, bool>>;

    SpinLatch b_done(worker.pool().sleep(), worker.index());
    StackJob job_b(b, b_done, worker.index());
    worker.push(job_b);

    TaskOutcome<ResultA> outcome_a;
    outcome_a.run(a, false);

    while (!b_done.probe()) {
        Job* job = worker.pop_local();
        if (job == &job_b) {
            job_b.run_here();
            break;
        }
        if (job == nullptr) {
            worker.work_until(b_done.flag());
            break;
        }
        // `b` was stolen; this is older work of our own, as good as any.
        worker.execute(*job);
    }

    if (outcome_a.failed()) {
        std::rethrow_exception(outcome_a.failure());
    }
    auto result_b = job_b.outcome().take();
    return std::pair<ResultA, decltype(result_b)>(outcome_a.take(), std::move(result_b));
}

// Runs `a` and `b`, possibly at the same time, and returns both results
// once both have finished.  On a worker this is join_on_worker; any other
// thread hands the whole join to the process-wide pool and waits for it,
// polling `interruption` (if any) meanwhile.
template <class A, class B>
auto join_context(A&& a, B&& b, Interruption* interruption = nullptr) {
    if (WorkerThread* worker = WorkerThread::current()) {
        return join_on_worker(*worker, a, b);
    }
    auto whole_join = [&] { return join_on_worker(*WorkerThread::current(), a, b); };
    return global_pool().run_from_outside(whole_join, interruption);
}

// join_context for tasks that do not care where they run.
template <class A, class B>
auto join(A&& a, B&& b) {
    auto task_a = [&a](bool) { return a(); };
    auto task_b = [&b](bool) { return b(); };
    return join_context(task_a, task_b);
}

}  // namespace orven::pool
