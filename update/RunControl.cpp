#include "update/RunControl.h"

void TRunControl::MarkFinished() {
    std::lock_guard<std::mutex> guard(lock_);
    finished_ = true;
    done_.notify_all();
}

void TRunControl::WaitFinished() {
    std::unique_lock<std::mutex> guard(lock_);
    done_.wait(guard, [this] { return finished_.load(); });
}
