#pragma once

// The calls running in this process and the borrows each holds, so that a
// child forked in the middle of them can let go of what threads that no
// longer exist there had borrowed.

#include <Python.h>
#include <pthread.h>

#include <cstddef>
#include <vector>

#include "borrow/registry.hpp"

namespace orven::bindings::borrow {

// One call of one thread, from before its first admission until after its
// last release.  Lives on the calling thread's stack.  Every borrow the call
// takes or drops goes through it, so that the borrow and the call's record
// of it change together as far as fork() can see: a child forked at any
// moment finds exactly the borrows that the registry holds for the call.
//
// In the child, the calls of other threads are gone.  Their borrows in our
// own registry are dropped at the fork.  Another module's registry cannot
// be called there (that needs the interpreter); those borrows are handed
// back at the first call the child makes (release_orphaned_borrows).  A call
// of the forking thread itself goes on in the child and releases normally.
class InFlightCall {
public:
    InFlightCall();
    ~InFlightCall();
    InFlightCall(const InFlightCall&) = delete;
    InFlightCall& operator=(const InFlightCall&) = delete;

    // acquire_shared_at, recorded.  Returns the operation's code; when it is
    // borrow_granted, `slot` names the record for release().
    int acquire(const RegistryHeader& registry, PyObject* array, const Place& place,
                std::size_t& slot);

    // release_shared_at of the borrow recorded in `slot`, and the record
    // dropped with it.
    void release(const RegistryHeader& registry, PyObject* array, const Place& place,
                 std::size_t slot);

private:
    struct Held {
        PyObject* array;  // borrowed: the call owns a reference while it holds it
        Place place;
        const RegistryHeader* registry;  // null once released
    };

    friend void after_fork_in_child() noexcept;

    pthread_t thread_;
    std::vector<Held> held_;
    InFlightCall* previous_ = nullptr;
    InFlightCall* next_ = nullptr;
};

// What fork() must do to the calls' records and to the registry we
// publish: both locks are held across the fork, and the child drops the
// borrows of calls of other threads (see InFlightCall).  Run from the
// module's fork handlers.
void before_fork() noexcept;
void after_fork_in_parent() noexcept;
void after_fork_in_child() noexcept;

// Gives back to another module's registry the borrows that calls of other
// threads held when this process was forked from its parent (a no-op
// everywhere else).  Call attached to the interpreter, before admitting.
void release_orphaned_borrows();

}  // namespace orven::bindings::borrow
