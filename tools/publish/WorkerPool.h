// A fixed set of threads that run submitted jobs in order of submission; results and errors come
// back through futures. Each thread keeps libbz2's working memory from one job to the next.
#pragma once

#include "support/BZip2Memory.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace publish {

class WorkerPool {
public:
    // threads 0: one per core.
    explicit WorkerPool(unsigned threads = 0) {
        if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
    }
    ~WorkerPool() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& worker : workers_) worker.join();
    }
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    unsigned Size() const { return static_cast<unsigned>(workers_.size()); }

    template <typename Job> auto Submit(Job job) -> std::future<decltype(job())> {
        auto task = std::make_shared<std::packaged_task<decltype(job())()>>(std::move(job));
        std::future<decltype(job())> result = task->get_future();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.emplace_back([task] { (*task)(); });
        }
        wake_.notify_one();
        return result;
    }

private:
    void Work() {
        bzmemory::TThreadCache memory; // libbz2's working memory, kept from one piece to the next
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> workers_;
    bool stopping_ = false;
};

} // namespace publish
