#include "app/SynchronizedCalls.h"

#include "platform/Errors.h"

#include <utility>

void TSynchronizedCalls::Call(const std::function<void()>& fn,
                              const std::function<void(uintptr_t token)>& deliver) {
    std::lock_guard<std::mutex> one(callers_);
    TPending call{&fn, nullptr};
    uintptr_t token = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (++lastToken_ == 0) ++lastToken_; // 0 is never a call's
        token = lastToken_;
        pending_ = &call;
        pendingToken_ = token;
    }
    deliver(token);
    {
        std::lock_guard<std::mutex> guard(lock_);
        pending_ = nullptr;
        if (!call.Ran) throw Exception("The launcher window has closed");
    }
    if (call.Error) std::rethrow_exception(call.Error);
}

bool TSynchronizedCalls::Run(uintptr_t token) {
    TPending* call = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!pending_ || token != pendingToken_) return false;
        call = std::exchange(pending_, nullptr); // runs once, whoever asks again
    }
    std::exception_ptr error;
    try {
        (*call->Fn)();
    } catch (...) {
        error = std::current_exception();
    }
    std::lock_guard<std::mutex> guard(lock_);
    call->Error = error;
    call->Ran = true;
    return true;
}
