// The worker's synchronised calls to the main window. The call a worker waits on is kept here, and the
// message that asks the window's thread to run it carries only a number; a message of the same kind
// from anywhere else (any program may send one) names no waiting call and runs nothing.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>

class TSynchronizedCalls {
public:
    // On a worker: keeps fn as the waiting call and has deliver hand its token to the window's thread,
    // which runs it through Run before deliver returns (a sent message). Raises fn's exception again,
    // and Exception "The launcher window has closed" when the window never ran it.
    void Call(const std::function<void()>& fn, const std::function<void(uintptr_t token)>& deliver);
    // On the window's thread: runs the waiting call if token is its own; false when nothing ran.
    bool Run(uintptr_t token);

private:
    struct TPending {
        const std::function<void()>* Fn;
        std::exception_ptr Error;
        bool Ran = false;
    };

    std::mutex callers_; // one waiting call at a time
    std::mutex lock_;    // the fields below
    TPending* pending_ = nullptr;
    uintptr_t pendingToken_ = 0;
    uintptr_t lastToken_ = 0;
};
