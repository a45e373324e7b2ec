// Fetches and unpacks the install pass's entries ahead of the one the window shows: payloads come in
// over several connections at once and are unpacked on the spare cores, so an install takes about the
// time of decoding its payloads, and the server's round trips stop adding up. Everything is staged in a
// folder of its own; the install pass puts each file in place at its own turn, in queue order, so the
// window and the folder see exactly what they would see one entry at a time.
#pragma once

#include "support/Download.h"
#include "support/InstallFolder.h"
#include "update/PayloadFetch.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TSources;

struct TAheadEntry {
    bool Wanted = false;     // false: the entry is not fetched ahead (it is placed another way)
    TPayloadSource Payload;  // where its payload comes from; its size bounds what is staged
    std::string Digest;      // what the unpacked file must digest to; empty: not checked
    TOwnFolder Resume;       // where a cut download keeps its part for the next run; empty: nowhere
};

struct TAheadResult {
    TDownloadResult Fetched = TDownloadResult::CannotOpen;
    std::exception_ptr FetchError; // a failure to store the payload (disk full), raised at its turn
    bool Unpacked = false;         // Output holds the unpacked file, its digest checked
    std::string Output;            // the unpacked file in the staging folder
};

// How far an entry has come while the install pass waits for it.
struct TAheadProgress {
    bool unpacking = false; // false: its payload is still coming
    int64_t bytes = 0;      // payload bytes fetched, or consumed by the unpacking
};

class TInstallAhead {
public:
    // stagingFolder must exist and be empty. connections payloads are fetched at once (objects from
    // sources), unpackers are unpacked at once; entries are started in order, at most stagedBytes of
    // payload (and never fewer than one entry) past the one last taken. Raises what starting a thread
    // raises, once the threads already started have ended.
    TInstallAhead(std::vector<TAheadEntry> entries, std::string stagingFolder, TSources* sources,
                  unsigned connections, unsigned unpackers, int64_t stagedBytes);
    // Stops what is running (downloads and unpacks break off at their next piece), waits for it and
    // removes the staging folder with whatever was not taken.
    ~TInstallAhead();
    TInstallAhead(const TInstallAhead&) = delete;
    TInstallAhead& operator=(const TInstallAhead&) = delete;

    // Entry i's outcome, waiting for it; while it waits, onWait is told how far the entry has come
    // about every tenth of a second (on the calling thread). The caller moves Output away or leaves
    // it to the destructor.
    TAheadResult Take(size_t i, const std::function<void(const TAheadProgress&)>& onWait = {});

private:
    enum class State { Waiting, Fetching, Fetched, Unpacking, Done };
    struct Slot {
        TAheadEntry entry;
        State state = State::Waiting;
        bool counted = false; // its payload size is in inFlightBytes_
        TAheadResult result;
        std::atomic<int64_t> bytes{0}; // fetched, then consumed by the unpacking
    };
    // Stops what is running and waits for every thread started.
    void Stop();
    void FetchLoop();
    void UnpackLoop();
    bool MayStart(size_t i) const;
    void Uncount(size_t i);
    void Fetch(size_t i);
    void Unpack(size_t i);
    std::string Staged(size_t i, const char* suffix) const;
    void Finish(size_t i, TAheadResult result);

    std::unique_ptr<Slot[]> slots_; // an array: the atomics never move
    size_t count_;
    std::string staging_;
    TSources* sources_;
    int64_t stagedBytes_;
    size_t next_ = 0;            // the next entry to fetch
    size_t taken_ = 0;           // the entry the install pass waits for or took last
    size_t end_;                 // no entry from here on is started (one past a failed fetch)
    int64_t inFlightBytes_ = 0;  // payload bytes of entries started and not yet taken
    bool stopping_ = false;
    std::atomic<bool> breakOff_{false}; // read by running downloads and unpacks without the lock
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::thread> threads_;
};
