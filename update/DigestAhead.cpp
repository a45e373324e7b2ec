#include "update/DigestAhead.h"

#include "platform/Platform.h"
#include "support/md5.h"

TDigestAhead::TDigestAhead(std::vector<std::string> files, unsigned threads, size_t lookahead)
    : files_(std::move(files)), digests_(files_.size()), done_(files_.size(), false), lookahead_(lookahead) {
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

TDigestAhead::~TDigestAhead() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

std::optional<std::string> TDigestAhead::Take(size_t i) {
    std::unique_lock<std::mutex> guard(lock_);
    taken_ = i;
    changed_.notify_all();
    changed_.wait(guard, [&] { return done_[i]; });
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
            DigestFile(files_[i], value);
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
