#pragma once

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include "pool/bookkeeping_failure.hpp"

namespace orven::pool {

// Stands in for the result of a task that returns nothing.
struct Unit {};

template <class T>
using ResultOf = std::conditional_t<std::is_void_v<T>, Unit, T>;

// What a task left behind: its result, or the failure that ended it.  The
// task boundary catches everything, so that the failure can travel to the
// thread that waits for the task and be raised there, unchanged.
template <class R>
class TaskOutcome {
public:
    template <class F, class... Args>
    void run(F& task, Args&&... args) noexcept {
        try {
            if constexpr (std::is_void_v<std::invoke_result_t<F&, Args...>>) {
                task(std::forward<Args>(args)...);
                value_.emplace();
            } else {
                value_.emplace(task(std::forward<Args>(args)...));
            }
        } catch (...) {
            failure_ = std::current_exception();
        }
    }

    bool failed() const noexcept { return failure_ != nullptr; }
    const std::exception_ptr& failure() const noexcept { return failure_; }

    // The result, or the task's failure raised again.
    R take() {
        if (failure_) {
            std::rethrow_exception(failure_);
        }
        if (!value_) {
            bookkeeping_failed();  // asked for a result before the task ran
        }
        return std::move(*value_);
    }

private:
    std::optional<R> value_;
    std::exception_ptr failure_;
};

}  // namespace orven::pool
