// Digests the files of a check pass ahead of the entry the window shows, on the spare cores, so that
// checking a large client takes about the time of reading it once. The window sees none of it: the
// check pass takes each entry's digest in its own order, at its own moment.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class TDigestAhead {
public:
    // files[i]: the file to digest for entry i, or empty for an entry that is not to be digested.
    // At most lookahead entries past the one last taken are digested ahead. Raises what starting a
    // thread raises, once the threads already started have ended.
    TDigestAhead(std::vector<std::string> files, unsigned threads, size_t lookahead);
    // Abandons what was not taken; waits for the digests still running.
    ~TDigestAhead();
    TDigestAhead(const TDigestAhead&) = delete;
    TDigestAhead& operator=(const TDigestAhead&) = delete;

    // Entry i's digest as 32 hexadecimal digits, waiting for it; nothing when the file was not there
    // when it was looked at. While it waits, onWait is told the bytes of the file read so far about
    // every tenth of a second (on the calling thread).
    std::optional<std::string> Take(size_t i, const std::function<void(int64_t read)>& onWait = {});

private:
    void Work();
    void Stop();

    std::vector<std::string> files_;
    std::unique_ptr<std::atomic<int64_t>[]> read_; // bytes of each entry's file read so far
    std::vector<std::optional<std::string>> digests_;
    std::vector<bool> done_;
    size_t next_ = 0;  // the next entry to start
    size_t taken_ = 0; // the entry the check pass waits for or took last
    size_t lookahead_;
    bool stopping_ = false;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::thread> threads_;
};
