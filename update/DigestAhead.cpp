#include "update/DigestAhead.h"

#include "platform/Platform.h"
#include "support/md5.h"

#include <chrono>

TDigestAhead::TDigestAhead(std::vector<std::string> files, unsigned threads, size_t lookahead)
    : files_(std::move(files)), read_(new std::atomic<int64_t>[files_.size()]), digests_(files_.size()),
      done_(files_.size(), false), lookahead_(lookahead) {
    for (size_t i = 0; i < files_.size(); ++i) read_[i] = 0;
    try {
        for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
    } catch (...) {
        Stop();
        throw;
    }
}

TDigestAhead::~TDigestAhead() { Stop(); }

void TDigestAhead::Stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
}

std::optional<std::string> TDigestAhead::Take(size_t i, const std::function<void(int64_t)>& onWait) {
    std::unique_lock<std::mutex> guard(lock_);
    taken_ = i;
    changed_.notify_all();
    while (!done_[i]) {
        changed_.wait_for(guard, std::chrono::milliseconds(100), [&] { return done_[i]; });
        if (done_[i] || !onWait) continue;
        const int64_t read = read_[i];
        guard.unlock();
        onWait(read); // the window is told without the lock held
        guard.lock();
    }
    return digests_[i];
}

void TDigestAhead::Work() {
    for (;;) {
        size_t i = 0;
        {
            std::unique_lock<std::mutex> guard(lock_);
            changed_.wait(guard, [&] {
                return stopping_ || next_ == files_.size() || next_ <= taken_ + lookahead_;
            });
            if (stopping_ || next_ == files_.size()) return;
            i = next_++;
        }
        std::optional<std::string> digest;
        if (!files_[i].empty() && platform::IsFile(files_[i])) {
            TMD5Digest value;
            DigestFile(files_[i], value, [&](int64_t read) { read_[i] = read; });
            digest = DigestToHex(value);
        }
        {
            std::lock_guard<std::mutex> guard(lock_);
            digests_[i] = std::move(digest);
            done_[i] = true;
        }
        changed_.notify_all();
    }
}
