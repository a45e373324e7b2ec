#include "update/InstallAhead.h"

#include "platform/Platform.h"
#include "support/BZip2.h"
#include "support/LauncherNames.h"
#include "support/Stream.h"

#include <chrono>
#include <memory>

namespace {

// Raised inside an unpack to break it off when the install pass no longer needs it.
struct TBrokenOff {};

class TBreakingObserver final : public UnpackObserver {
public:
    TBreakingObserver(const std::atomic<bool>& breakOff, std::atomic<int64_t>& consumed)
        : breakOff_(breakOff), consumed_(consumed) {}
    void UnpackStarted(TStream&) override {}
    void UnpackProgress(int64_t consumed) override {
        if (breakOff_) throw TBrokenOff();
        consumed_ = consumed;
    }
    void UnpackFinished() override {}

private:
    const std::atomic<bool>& breakOff_;
    std::atomic<int64_t>& consumed_;
};

// Entries further than this past the one taken are not started, however small their payloads.
constexpr size_t kMostEntriesAhead = 256;

} // namespace

TInstallAhead::TInstallAhead(std::vector<TAheadEntry> entries, std::string stagingFolder, TSources* sources,
                             unsigned connections, unsigned unpackers, int64_t stagedBytes)
    : slots_(new Slot[entries.size()]), count_(entries.size()), staging_(std::move(stagingFolder)),
      sources_(sources), stagedBytes_(stagedBytes) {
    for (size_t i = 0; i < count_; ++i) slots_[i].entry = std::move(entries[i]);
    end_ = count_;
    try {
        for (unsigned i = 0; i < connections; ++i) threads_.emplace_back([this] { FetchLoop(); });
        for (unsigned i = 0; i < unpackers; ++i) threads_.emplace_back([this] { UnpackLoop(); });
    } catch (...) {
        Stop();
        throw;
    }
}

TInstallAhead::~TInstallAhead() {
    Stop();
    platform::DeleteFolderTree(staging_);
}

void TInstallAhead::Stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        breakOff_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
}

TAheadResult TInstallAhead::Take(size_t i, const std::function<void(const TAheadProgress&)>& onWait) {
    std::unique_lock<std::mutex> guard(lock_);
    // Entries passed over without being taken free their share of what may be staged.
    for (size_t j = taken_; j < i; ++j) Uncount(j);
    taken_ = i;
    changed_.notify_all();
    const auto ready = [&] { return slots_[i].state == State::Done || (i >= end_ && slots_[i].state == State::Waiting); };
    while (!ready()) {
        changed_.wait_for(guard, std::chrono::milliseconds(100), ready);
        if (ready() || !onWait) continue;
        const TAheadProgress progress{slots_[i].state == State::Unpacking, slots_[i].bytes.load()};
        guard.unlock();
        onWait(progress); // the window is told without the lock held
        guard.lock();
    }
    Uncount(i);
    changed_.notify_all();
    return std::move(slots_[i].result); // an entry never started reads as not fetched
}

void TInstallAhead::Uncount(size_t i) {
    if (!slots_[i].counted) return;
    inFlightBytes_ -= slots_[i].entry.Payload.size;
    slots_[i].counted = false;
}

bool TInstallAhead::MayStart(size_t i) const {
    if (i >= end_) return false;
    if (i <= taken_) return true;
    return i - taken_ <= kMostEntriesAhead && inFlightBytes_ + slots_[i].entry.Payload.size <= stagedBytes_;
}

void TInstallAhead::FetchLoop() {
    for (;;) {
        size_t i = 0;
        {
            std::unique_lock<std::mutex> guard(lock_);
            changed_.wait(guard, [&] { return stopping_ || next_ >= end_ || MayStart(next_); });
            if (stopping_ || next_ >= end_) return;
            i = next_++;
            if (!slots_[i].entry.Wanted) {
                slots_[i].state = State::Done;
                changed_.notify_all();
                continue;
            }
            slots_[i].state = State::Fetching;
            slots_[i].counted = true;
            inFlightBytes_ += slots_[i].entry.Payload.size;
        }
        Fetch(i);
    }
}

void TInstallAhead::Fetch(size_t i) {
    TAheadResult result;
    const TAheadEntry& entry = slots_[i].entry;
    const auto onHave = [&](int64_t have) { slots_[i].bytes = have; };
    try {
        const platform::OwnName staged{staging_, std::to_string(i) + names::kPayloadSuffix};
        if (!entry.Resume.Empty() && entry.Resume.Make()) {
            // A download cut short (here or by the server) is taken up where it broke off next time.
            const platform::OwnName part = entry.Resume / names::kResumePayload;
            result.Fetched = FetchPayload(entry.Payload, sources_, part, true, onHave, breakOff_);
            if (result.Fetched == TDownloadResult::Complete && !platform::MoveFileReplacing(part.Path(), staged.Path()))
                result.Fetched = TDownloadResult::CannotCreate;
        } else {
            result.Fetched = FetchPayload(entry.Payload, sources_, staged, false, onHave, breakOff_);
        }
    } catch (...) {
        result.FetchError = std::current_exception();
    }
    if (result.Fetched == TDownloadResult::Complete && !result.FetchError) {
        std::lock_guard<std::mutex> guard(lock_);
        slots_[i].result = std::move(result);
        slots_[i].state = State::Fetched;
        changed_.notify_all();
        return;
    }
    platform::RemoveFile(Staged(i, names::kPayloadSuffix));
    std::lock_guard<std::mutex> guard(lock_);
    // The pass ends at a payload that could not be fetched or stored: nothing after it is started. One
    // that is not what the list names fails alone, as one that does not unpack does.
    const bool alone = result.Fetched == TDownloadResult::CannotCreate || result.Fetched == TDownloadResult::TooLarge ||
                       result.Fetched == TDownloadResult::Damaged;
    if ((result.FetchError || !alone) && i + 1 < end_) end_ = i + 1;
    Finish(i, std::move(result));
}

void TInstallAhead::UnpackLoop() {
    for (;;) {
        size_t i = 0;
        {
            std::unique_lock<std::mutex> guard(lock_);
            // The lowest fetched entry first: it is the one the install pass will want soonest.
            auto fetched = [&] {
                for (size_t j = taken_; j < next_ && j < count_; ++j)
                    if (slots_[j].state == State::Fetched) return j;
                return count_;
            };
            changed_.wait(guard, [&] { return stopping_ || fetched() < count_; });
            if (stopping_) return;
            i = fetched();
            slots_[i].state = State::Unpacking;
            slots_[i].bytes = 0;
        }
        Unpack(i);
    }
}

void TInstallAhead::Unpack(size_t i) {
    const std::string payload = Staged(i, names::kPayloadSuffix);
    const std::string output = Staged(i, ".out");
    bool unpacked = false;
    try {
        auto source = std::make_unique<TFileStream>(payload, TFileStream::Mode::OpenReadDenyWrite);
        TBreakingObserver observer(breakOff_, slots_[i].bytes);
        UnpackVerified(*source, output, slots_[i].entry.Digest, &observer);
        unpacked = true;
    } catch (...) {
        // a damaged payload, a wrong digest or a full disk: the entry fails at its turn
    }
    platform::RemoveFile(payload);
    std::lock_guard<std::mutex> guard(lock_);
    TAheadResult result = std::move(slots_[i].result);
    result.Unpacked = unpacked;
    if (unpacked) result.Output = output;
    Finish(i, std::move(result));
}

void TInstallAhead::Finish(size_t i, TAheadResult result) {
    slots_[i].result = std::move(result);
    slots_[i].state = State::Done;
    changed_.notify_all();
}

std::string TInstallAhead::Staged(size_t i, const char* suffix) const {
    return staging_ + "\\" + std::to_string(i) + suffix;
}
