// What the window keeps of an update run it started.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

// The two flags the window may set on a running worker, and whether its run has ended. The window
// keeps this, not the worker, so a late cancel never touches a worker that has freed itself.
class TRunControl {
public:
    std::atomic<bool> Terminated{false};
    std::atomic<bool> Cancelled{false};
    bool Finished() const { return finished_.load(); }
    void MarkFinished();
    void WaitFinished();

private:
    std::atomic<bool> finished_{false};
    std::mutex lock_;
    std::condition_variable done_;
};
