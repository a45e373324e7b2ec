// Where a run fetches an update set's objects and chunks from: the mirrors its list names, in their
// order, then the update URL. A request goes to the next source on any fault of the one it asked
// (refused, reset, stalled, an HTTP status of 400 or more, a body of the wrong length, bytes that do
// not check out); a fault that may pass (a network error, 5xx, a body cut short) is first tried again
// on the same source a few times, going on from where it broke off: at once after a try that brought
// bytes, else after a pause that grows each time (0.5 s, 1 s, 2 s). A source
// that failed three requests is passed over for the rest of the run (never the update URL, the last
// resort). Sources are untrusted: every body is checked by its sink before it is used.
#pragma once

#include "platform/Platform.h"
#include "support/Objects.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Where one request's body goes, and the rule it must meet. Called on the fetching thread only.
class TBodySink {
public:
    virtual ~TBodySink() = default;
    // Bytes already held from an earlier attempt (or run): the rest is asked for with Range.
    virtual int64_t Have() const = 0;
    // The body's exact size.
    virtual int64_t Size() const = 0;
    // Forgets what is held; the next bytes are the body's first.
    virtual void Restart() = 0;
    // Takes the next bytes; raises EInOutError when they cannot be stored (a full disk).
    virtual void Write(const char* data, size_t size) = 0;
    // The whole body is held: whether it is what the list names. A sink that says no has dropped it.
    virtual bool Accept() = 0;
};

// A body held in memory and checked by a rule of its caller's (a chunk decodes to its name).
class TMemorySink final : public TBodySink {
public:
    TMemorySink(int64_t size, std::function<bool(const std::string&)> accept)
        : size_(size), accept_(std::move(accept)) {}
    int64_t Have() const override { return static_cast<int64_t>(body_.size()); }
    int64_t Size() const override { return size_; }
    void Restart() override { body_.clear(); }
    void Write(const char* data, size_t size) override { body_.append(data, size); }
    bool Accept() override;
    std::string& Body() { return body_; }

private:
    int64_t size_;
    std::function<bool(const std::string&)> accept_;
    std::string body_;
};

// An object stored in a file of the launcher's own, checked against its name as it comes. The file
// is a part that a later attempt or run goes on from: beside it, its tag names the object it is a part
// of, and a part of anything else is never taken up.
class TObjectFileSink final : public TBodySink {
public:
    // Takes up the part a cut attempt left when it is of this object; raises EInOutError when an
    // existing part cannot be read back.
    TObjectFileSink(const TObjectRef& object, platform::OwnName part, std::function<void(int64_t)> onHave = {});
    int64_t Have() const override { return have_; }
    int64_t Size() const override { return object_.size; }
    void Restart() override;
    void Write(const char* data, size_t size) override;
    bool Accept() override;
    // Closes the part (raising EInOutError when its bytes could not be written) and keeps it.
    void Finish();
    // Removes the part and its tag.
    void Drop();

private:
    TObjectRef object_;
    platform::OwnName part_, tag_;
    std::function<void(int64_t)> onHave_;
    platform::File file_;
    std::unique_ptr<TObjectHasher> hasher_;
    int64_t have_ = 0;
};

// How a request fared over every source.
enum class TFetchOutcome {
    Complete,    // the sink holds an accepted body
    Unreachable, // no source could be reached
    Failed,      // sources answered, none with a body the sink accepted
    Stopped,     // the run was told to end
};

struct TRetryPolicy {
    int triesPerSource = 4;      // for faults that may pass: the first try and three more
    int firstPauseMs = 500;      // doubled before each further try
    int failuresToPassOver = 3;  // requests a source may fail before the run passes it over
};

class TSources {
public:
    TSources(const std::vector<std::string>& mirrors, const std::string& updateUrl, TRetryPolicy policy = {});

    // The body of path (below a source's base URL, "/" between names) into sink. stop ends waits and
    // transfers early. Raises what the sink raises.
    TFetchOutcome Fetch(const std::string& path, TBodySink& sink, const std::atomic<bool>& stop);

    // How many sources a request may try (for tests and benchmarks).
    size_t Count() const { return sources_.size(); }
    // Body bytes received over every source.
    uint64_t BytesReceived() const { return received_; }

private:
    struct TSource {
        std::string base;
        std::atomic<int> failures{0};
        bool last = false; // the update URL: never passed over
    };
    // How one try went: a fault that may pass, one that will not, or a whole body the sink refused.
    enum class TAttempt { Complete, Unreachable, Transient, Permanent, Rejected, Stopped };
    TAttempt Attempt(const TSource& source, const std::string& path, TBodySink& sink, const std::atomic<bool>& stop);
    bool Pause(int milliseconds, const std::atomic<bool>& stop) const;

    TRetryPolicy policy_;
    std::deque<TSource> sources_; // a deque: the atomics never move
    std::atomic<uint64_t> received_{0};
};
