#include "borrow/in_flight_calls.hpp"

#include <memory>
#include <mutex>
#include <utility>

#include "fatal/fatal_error.hpp"

namespace orven::bindings::borrow {
namespace {

// Guards the list of calls, every call's records, and the orphans.  Held
// only around a registry operation and a record update, never while waiting
// for anything, so the thread that forks takes it without risk of deadlock.
std::mutex calls_mutex;
InFlightCall* first_call = nullptr;

// A borrow in another module's registry whose call ended with the fork.
struct Orphan {
    PyObject* array;
    Place place;
    const RegistryHeader* registry;
};

// Never destroyed, so that no static destructor races a call.
std::vector<Orphan>& orphans() {
    static auto* list = new std::vector<Orphan>();
    return *list;
}

}  // namespace

InFlightCall::InFlightCall() : thread_(::pthread_self()) {
    const std::lock_guard lock(calls_mutex);
    next_ = first_call;
    if (next_ != nullptr) {
        next_->previous_ = this;
    }
    first_call = this;
}

InFlightCall::~InFlightCall() {
    const std::lock_guard lock(calls_mutex);
    if (previous_ != nullptr) {
        previous_->next_ = next_;
    } else {
        first_call = next_;
    }
    if (next_ != nullptr) {
        next_->previous_ = previous_;
    }
}

int InFlightCall::acquire(const RegistryHeader& registry, PyObject* array, const Place& place,
                          std::size_t& slot) {
    const std::lock_guard lock(calls_mutex);
    // Room first (growing geometrically): once the borrow is taken,
    // recording it cannot fail.
    if (held_.size() == held_.capacity()) {
        held_.reserve(held_.empty() ? 16 : 2 * held_.size());
    }
    const int code = acquire_shared_at(registry, array, place);
    if (code == borrow_granted) {
        slot = held_.size();
        held_.push_back(Held{array, place, &registry});
    }
    return code;
}

void InFlightCall::release(const RegistryHeader& registry, PyObject* array, const Place& place,
                           std::size_t slot) {
    const std::lock_guard lock(calls_mutex);
    held_[slot].registry = nullptr;
    release_shared_at(registry, array, place);
}

void before_fork() noexcept {
    calls_mutex.lock();
    if (RegistryState* state = published_state()) {
        state->lock_across_fork();
    }
}

void after_fork_in_parent() noexcept {
    if (RegistryState* state = published_state()) {
        state->unlock_after_fork();
    }
    calls_mutex.unlock();
}

void after_fork_in_child() noexcept {
    if (RegistryState* state = published_state()) {
        state->unlock_after_fork();
    }
    // Only this thread exists now.  The calls of the others never end here:
    // their borrows go, and so do they from the list (their stacks may be
    // reused by threads the child starts).
    const pthread_t self = ::pthread_self();
    InFlightCall* call = first_call;
    first_call = nullptr;
    InFlightCall* kept_last = nullptr;
    while (call != nullptr) {
        InFlightCall* next = call->next_;
        if (::pthread_equal(call->thread_, self) != 0) {
            call->previous_ = kept_last;
            call->next_ = nullptr;
            if (kept_last != nullptr) {
                kept_last->next_ = call;
            } else {
                first_call = call;
            }
            kept_last = call;
        } else {
            for (const InFlightCall::Held& held : call->held_) {
                if (held.registry == nullptr) {
                    continue;
                }
                if (is_ours(*held.registry)) {
                    // Recorded together with the borrow: it is held.
                    try {
                        static_cast<RegistryState*>(held.registry->flags)
                            ->release_shared(held.place.base, held.place.key);
                    } catch (...) {
                        fatal::abort_with("fatal error inside the borrow registry; aborting\n");
                    }
                } else {
                    try {
                        orphans().push_back(Orphan{held.array, held.place, held.registry});
                    } catch (...) {
                        // No memory for the note: the borrow stays in that
                        // registry, as it would have without this list.
                    }
                }
            }
        }
        call = next;
    }
    calls_mutex.unlock();
}

void release_orphaned_borrows() {
    std::vector<Orphan> pending;
    {
        const std::lock_guard lock(calls_mutex);
        if (orphans().empty()) {
            return;
        }
        pending.swap(orphans());
    }
    for (const Orphan& orphan : pending) {
        // The rule of every release through another module: only while the
        // array still describes the view it was borrowed as.  The reference
        // the ended call owned is never dropped: nobody in this process can
        // tell whether that thread had already given it up.
        release_shared_at(*orphan.registry, orphan.array, orphan.place);
    }
}

}  // namespace orven::bindings::borrow
