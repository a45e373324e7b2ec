#include "support/Sources.h"

#include "platform/Errors.h"
#include "support/LauncherNames.h"

#include <chrono>
#include <thread>
#include <vector>

namespace {
// Bodies are read in pieces of this size, as every other download reads them.
constexpr size_t kPieceBytes = 256 * 1024;
} // namespace

bool TMemorySink::Accept() {
    if (static_cast<int64_t>(body_.size()) == size_ && accept_(body_)) return true;
    body_.clear();
    return false;
}

// ---- an object in a file of the launcher's own ------------------------------------------------------

TObjectFileSink::TObjectFileSink(const TObjectRef& object, platform::OwnName part, std::function<void(int64_t)> onHave)
    : object_(object), part_(std::move(part)), tag_{part_.anchor, part_.relative + names::kResumeTagSuffix},
      onHave_(std::move(onHave)) {
    // A part goes on only when its tag names this very object, and it is shorter than the object.
    std::string tag;
    platform::File tagFile = platform::File::TryOpenOwnRead(tag_);
    if (tagFile.IsOpen()) {
        char text[80];
        size_t got = 0;
        for (size_t n; got < sizeof text && (n = tagFile.Read(text + got, sizeof text - got)) > 0;) got += n;
        tag.assign(text, got);
    }
    if (tag == ObjectIdToHex(object_.id)) {
        try {
            file_ = platform::File::OpenAppend(part_);
            const int64_t size = file_.Size();
            if (size < object_.size) {
                hasher_ = std::make_unique<TObjectHasher>();
                file_.Seek(0, platform::File::Origin::Begin);
                std::vector<char> buffer(kPieceBytes);
                for (size_t n; (n = file_.Read(buffer.data(), buffer.size())) > 0;) hasher_->Update(buffer.data(), n);
                file_.Seek(0, platform::File::Origin::End);
                have_ = size;
                if (onHave_) onHave_(have_);
                return;
            }
        } catch (const EFOpenError&) {
            // a part that cannot be opened as the launcher's own starts over
        }
    }
    Restart();
}

void TObjectFileSink::Restart() {
    Drop();
    file_ = platform::File::Create(part_.Path());
    platform::File tag = platform::File::Create(tag_.Path());
    const std::string text = ObjectIdToHex(object_.id);
    tag.Write(text.data(), text.size());
    tag.Close();
    hasher_ = std::make_unique<TObjectHasher>();
    have_ = 0;
    if (onHave_) onHave_(have_);
}

void TObjectFileSink::Write(const char* data, size_t size) {
    file_.Write(data, size);
    hasher_->Update(data, size);
    have_ += static_cast<int64_t>(size);
    if (onHave_) onHave_(have_);
}

bool TObjectFileSink::Accept() {
    if (have_ == object_.size && hasher_->Final() == object_.id) {
        file_.Close();
        platform::RemoveFile(tag_.Path()); // whole: nothing is left to go on from
        return true;
    }
    Drop();
    return false;
}

void TObjectFileSink::Finish() { file_.Close(); }

void TObjectFileSink::Drop() {
    file_ = platform::File();
    platform::RemoveFile(tag_.Path());
    platform::RemoveFile(part_.Path());
    hasher_.reset();
    have_ = 0;
}

// ---- the sources --------------------------------------------------------------------------------------

TSources::TSources(const std::vector<std::string>& mirrors, const std::string& updateUrl, TRetryPolicy policy)
    : policy_(policy) {
    for (const std::string& mirror : mirrors) sources_.emplace_back().base = mirror;
    TSource& last = sources_.emplace_back();
    last.base = updateUrl;
    last.last = true;
}

TFetchOutcome TSources::Fetch(const std::string& path, TBodySink& sink, const std::atomic<bool>& stop) {
    bool answered = false;
    for (TSource& source : sources_) {
        if (!source.last && source.failures >= policy_.failuresToPassOver) continue;
        int pause = policy_.firstPauseMs;
        // Bytes another source sent before it failed are taken up here; should the whole then not check
        // out, they may be what was wrong, and this source gets one more try from the start.
        bool taken = sink.Have() > 0;
        for (int attempt = 1;; ++attempt) {
            const int64_t held = sink.Have();
            const TAttempt result = Attempt(source, path, sink, stop);
            if (result == TAttempt::Complete) return TFetchOutcome::Complete;
            if (result == TAttempt::Stopped) return TFetchOutcome::Stopped;
            if (result == TAttempt::Rejected && taken) {
                taken = false;
                --attempt;
                continue;
            }
            answered = answered || result != TAttempt::Unreachable;
            // A mirror out of reach gives way to the next source at once; what is wrong with a body
            // does not pass by asking again.
            if (result == TAttempt::Permanent || result == TAttempt::Rejected ||
                (result == TAttempt::Unreachable && !source.last))
                break;
            if (attempt == policy_.triesPerSource) break;
            // A try that brought bytes is followed at once; one that brought none waits, longer each time.
            if (sink.Have() > held) continue;
            if (!Pause(pause, stop)) return TFetchOutcome::Stopped;
            pause *= 2;
        }
        ++source.failures;
    }
    return answered ? TFetchOutcome::Failed : TFetchOutcome::Unreachable;
}

TSources::TAttempt TSources::Attempt(const TSource& source, const std::string& path, TBodySink& sink,
                                     const std::atomic<bool>& stop) {
    if (stop) return TAttempt::Stopped;
    platform::HttpRequest request;
    if (sink.Have() > 0) request.rangeFrom = sink.Have(); // objects never change: no validator is needed
    std::unique_ptr<platform::HttpBody> body = platform::OpenUrl(source.base + path, request);
    if (body && request.rangeFrom >= 0 && body->Status() == 416) {
        // Nothing past what is held: what is held is not this body's start after all.
        sink.Restart();
        request = platform::HttpRequest();
        body = platform::OpenUrl(source.base + path, request);
    }
    if (!body) return TAttempt::Unreachable;
    const int status = body->Status();
    if (status >= 500) return TAttempt::Transient;
    if (status >= 400) return TAttempt::Permanent;
    if (request.rangeFrom >= 0 && !(status == 206 && body->RangeStart() == sink.Have())) {
        sink.Restart(); // the whole body after all
    } else if (request.rangeFrom < 0 && status == 206) {
        return TAttempt::Permanent; // part of a body nobody asked part of
    }
    std::vector<char> buffer(kPieceBytes);
    for (;;) {
        if (stop) return TAttempt::Stopped;
        size_t got = 0;
        if (!body->Read(buffer.data(), buffer.size(), &got)) return TAttempt::Transient; // reset, cut or stalled
        if (got == 0) break;
        received_ += got;
        if (sink.Have() + static_cast<int64_t>(got) > sink.Size()) {
            sink.Restart(); // longer than the list says: not the object
            return TAttempt::Permanent;
        }
        sink.Write(buffer.data(), got);
    }
    if (sink.Have() < sink.Size()) {
        sink.Restart(); // a whole answer of the wrong length: not the object
        return TAttempt::Permanent;
    }
    return sink.Accept() ? TAttempt::Complete : TAttempt::Rejected;
}

bool TSources::Pause(int milliseconds, const std::atomic<bool>& stop) const {
    for (int waited = 0; waited < milliseconds; waited += 10) {
        if (stop) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !stop;
}
