#include "update/InstallAhead.h"

#include "platform/Platform.h"
#include "support/BZip2.h"
#include "support/LauncherNames.h"
#include "support/Stream.h"

#include <memory>

namespace {

// Raised inside a download or an unpack to break it off when the install pass no longer needs it.
struct TBrokenOff {};

class TBreakingObserver final : public UnpackObserver {
public:
    explicit TBreakingObserver(const std::atomic<bool>& breakOff) : breakOff_(breakOff) {}
    void UnpackStarted(TStream&) override {}
    void UnpackProgress(int64_t) override {
        if (breakOff_) throw TBrokenOff();
    }
    void UnpackFinished() override {}

private:
    const std::atomic<bool>& breakOff_;
};

// Entries further than this past the one taken are not started, however small their payloads.
constexpr size_t kMostEntriesAhead = 256;

} // namespace

TInstallAhead::TInstallAhead(std::vector<TAheadEntry> entries, std::string stagingFolder, unsigned connections,
                             unsigned unpackers, int64_t stagedBytes)
    : staging_(std::move(stagingFolder)), stagedBytes_(stagedBytes) {
    slots_.resize(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) slots_[i].entry = std::move(entries[i]);
    end_ = slots_.size();
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

TAheadResult TInstallAhead::Take(size_t i) {
    std::unique_lock<std::mutex> guard(lock_);
    // Entries passed over without being taken free their share of what may be staged.
    for (size_t j = taken_; j < i; ++j) Uncount(j);
    taken_ = i;
    changed_.notify_all();
    changed_.wait(guard, [&] {
        return slots_[i].state == State::Done || (i >= end_ && slots_[i].state == State::Waiting);
    });
    Uncount(i);
    changed_.notify_all();
    return std::move(slots_[i].result); // an entry never started reads as not fetched
}

void TInstallAhead::Uncount(size_t i) {
    if (!slots_[i].counted) return;
    inFlightBytes_ -= slots_[i].entry.PayloadSize;
    slots_[i].counted = false;
}

bool TInstallAhead::MayStart(size_t i) const {
    if (i >= end_) return false;
    if (i <= taken_) return true;
    return i - taken_ <= kMostEntriesAhead && inFlightBytes_ + slots_[i].entry.PayloadSize <= stagedBytes_;
}

void TInstallAhead::FetchLoop() {
    for (;;) {
        size_t i = 0;
        {
            std::unique_lock<std::mutex> guard(lock_);
            changed_.wait(guard, [&] { return stopping_ || next_ >= end_ || MayStart(next_); });
            if (stopping_ || next_ >= end_) return;
            i = next_++;
            if (slots_[i].entry.Url.empty()) {
                slots_[i].state = State::Done;
                changed_.notify_all();
                continue;
            }
            slots_[i].state = State::Fetching;
            slots_[i].counted = true;
            inFlightBytes_ += slots_[i].entry.PayloadSize;
        }
        Fetch(i);
    }
}

void TInstallAhead::Fetch(size_t i) {
    TAheadResult result;
    const TAheadEntry& entry = slots_[i].entry;
    // A body that has all arrived is not broken off at its end (the last call, with 0): it is complete,
    // never a part that a later run would ask the rest of.
    const auto onPiece = [this](size_t got) {
        if (got > 0 && breakOff_) throw TBrokenOff();
    };
    try {
        if (!entry.Resume.Empty() && entry.Resume.Make()) {
            // A download cut short (here or by the server) is taken up where it broke off next time.
            const platform::OwnName part = entry.Resume / names::kResumePayload;
            result.Fetched = DownloadResumable(entry.Url, part, onPiece, entry.PayloadSize);
            if (result.Fetched == TDownloadResult::Complete && !platform::MoveFileReplacing(part.Path(), Staged(i, ".bz2")))
                result.Fetched = TDownloadResult::CannotCreate;
        } else {
            result.Fetched = DownloadToFile(entry.Url, Staged(i, ".bz2"), onPiece, nullptr, entry.PayloadSize);
        }
    } catch (const TBrokenOff&) {
        result.Fetched = TDownloadResult::Cut;
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
    platform::RemoveFile(Staged(i, ".bz2"));
    std::lock_guard<std::mutex> guard(lock_);
    // The pass ends at a payload that could not be fetched or stored: nothing after it is started. One
    // longer than the list says fails alone, as one that does not unpack does.
    const bool alone = result.Fetched == TDownloadResult::CannotCreate || result.Fetched == TDownloadResult::TooLarge;
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
                for (size_t j = taken_; j < next_ && j < slots_.size(); ++j)
                    if (slots_[j].state == State::Fetched) return j;
                return slots_.size();
            };
            changed_.wait(guard, [&] { return stopping_ || fetched() < slots_.size(); });
            if (stopping_) return;
            i = fetched();
            slots_[i].state = State::Unpacking;
        }
        Unpack(i);
    }
}

void TInstallAhead::Unpack(size_t i) {
    const std::string payload = Staged(i, ".bz2");
    const std::string output = Staged(i, ".out");
    bool unpacked = false;
    try {
        auto source = std::make_unique<TFileStream>(payload, TFileStream::Mode::OpenReadDenyWrite);
        TBreakingObserver observer(breakOff_);
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
