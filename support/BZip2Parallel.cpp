#include "support/BZip2Parallel.h"

#include "support/BZip2Blocks.h"
#include "support/BZip2Memory.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace bzblocks;

namespace {

// Memory: each decoding thread holds libbz2's tables (about 3.6 MiB at level 9) and reads the shared
// compressed window below; decoded output waits in the two allowances.
constexpr size_t kLaterOutputBytes = 8 << 20; // decoded output of the blocks after the one being written
constexpr size_t kHeadOutputBytes = 1 << 20;  // decoded output of the block being written, not yet taken
constexpr int64_t kWindowBytes = 12 << 20;    // compressed bytes read ahead of the block being written
// A piece is written once this much output past its end is in hand. Filling a piece, the single
// decoder looks at most one run of the run-length step (4 + 255 bytes) ahead, and at a block's end it
// goes on to decode the next block; both have then been done without an error here too.
constexpr int64_t kLookAhead = 512;
// More chance magics than this inside one block: a payload made to be slow; the single decoder takes it.
constexpr size_t kMostStops = 64;
constexpr auto kReportEvery = std::chrono::milliseconds(50);

// Compressed bytes one block can take at most: every symbol of a full block at the longest code the
// library accepts (20 bits), and room for its tables.
int64_t BlockReachBytes(char level) {
    return (level - '0') * 100000LL * 20 / 8 + 65536;
}

enum class TTaskState { Queued, Running, Complete, Failed };

// One block being decoded. Its input is fixed before it is queued; the rest belongs to the pool's lock.
struct TBlockTask {
    TBlockInput input;
    uint32_t storedCrc = 0;
    TTaskState state = TTaskState::Queued;
    std::deque<std::vector<char>> ready;
    size_t readyBytes = 0;
    int64_t endBit = -1;
    bool dropped = false; // the stream turned out to go past it
};

// The decoding threads. Blocks are taken in the order queued, so the block being written is always
// decoding or done; only later blocks wait for room, so the writer never waits for ever.
class TDecodePool {
public:
    explicit TDecodePool(unsigned threads) {
        try {
            for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
        } catch (...) {
            Stop();
            throw;
        }
    }
    ~TDecodePool() { Stop(); }
    TDecodePool(const TDecodePool&) = delete;
    TDecodePool& operator=(const TDecodePool&) = delete;

    void Queue(std::shared_ptr<TBlockTask> task) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(std::move(task));
        }
        queued_.notify_one();
    }

    // The task's output is no longer wanted; a thread decoding it stops.
    void Drop(TBlockTask& task) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            task.dropped = true;
            held_ -= task.readyBytes;
            task.readyBytes = 0;
            task.ready.clear();
        }
        room_.notify_all();
    }

    void SetHead(TBlockTask* task) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (head_ == task) return;
            head_ = task;
        }
        room_.notify_all();
    }

    // Takes the task's next piece of output into chunk, if there is one, waiting up to `wait` for
    // output or an end. Returns the task's state.
    TTaskState Take(TBlockTask& task, std::vector<char>& chunk, std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(mutex_);
        auto hasNews = [&] {
            return !task.ready.empty() || task.state == TTaskState::Complete ||
                   task.state == TTaskState::Failed;
        };
        if (!hasNews()) progress_.wait_for(lock, wait, hasNews);
        const TTaskState state = task.state;
        if (task.ready.empty()) return state;
        chunk = std::move(task.ready.front());
        task.ready.pop_front();
        task.readyBytes -= chunk.size();
        held_ -= chunk.size();
        lock.unlock();
        room_.notify_all();
        return state;
    }

private:
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        queued_.notify_all();
        room_.notify_all();
        for (std::thread& worker : workers_) worker.join();
    }

    void Work() {
        bzmemory::TThreadCache memory; // libbz2's tables, kept from one block to the next
        for (;;) {
            std::shared_ptr<TBlockTask> task;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                if (stopping_) return;
                task = std::move(queue_.front());
                queue_.pop_front();
                if (task->dropped) continue;
                task->state = TTaskState::Running;
            }
            int64_t endBit = -1;
            TBlockOutcome outcome = TBlockOutcome::Failed;
            try {
                outcome = DecodeBlock(
                    task->input, [&](std::vector<char>&& chunk) { return Deliver(*task, std::move(chunk)); },
                    endBit);
            } catch (...) {
                // out of memory here: the block counts as failed and the single decoder decides
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                task->state = outcome == TBlockOutcome::Complete ? TTaskState::Complete : TTaskState::Failed;
                task->endBit = endBit;
            }
            progress_.notify_all();
        }
    }

    bool Deliver(TBlockTask& task, std::vector<char>&& chunk) {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [&] {
            if (stopping_ || task.dropped) return true;
            return &task == head_ ? task.readyBytes < kHeadOutputBytes
                                  : held_ + chunk.size() <= kLaterOutputBytes;
        });
        if (stopping_ || task.dropped) return false;
        task.readyBytes += chunk.size();
        held_ += chunk.size();
        task.ready.push_back(std::move(chunk));
        lock.unlock();
        progress_.notify_all();
        return true;
    }

    std::mutex mutex_;
    std::condition_variable queued_;   // threads wait for blocks
    std::condition_variable room_;     // threads wait to hand over output
    std::condition_variable progress_; // the writer waits for output
    std::deque<std::shared_ptr<TBlockTask>> queue_;
    TBlockTask* head_ = nullptr;
    size_t held_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

// Raised through the unpack when the sink threw; the sink's own exception is passed on.
struct TSinkThrew {};

// The calling thread's side: reads the source into a sliding window, finds the magics, queues their
// blocks, follows the stream from block to block and writes the output in order.
class TBlockUnpack {
public:
    TBlockUnpack(TStream& source, unsigned threads, int32_t pieceBytes, TBlockSink& sink)
        : source_(source), sink_(sink), mostTasks_(threads + 3), pieceBytes_(pieceBytes), pool_(threads) {}

    bool Run() {
        size_ = source_.Size() - source_.Position();
        if (!ReadPiece()) return false;
        const std::vector<unsigned char>& first = *window_.front();
        if (first.size() < 4 || first[0] != 'B' || first[1] != 'Z' || first[2] != 'h' || first[3] < '1' ||
            first[3] > '9')
            return false;
        level_ = static_cast<char>(first[3]);
        for (;;) {
            if (!QueueAhead()) return false;
            while (!magics_.empty() && magics_.front().bit < chainBit_) magics_.pop_front();
            if (magics_.empty() || magics_.front().bit != chainBit_) {
                // The stream goes on where no magic is, or the magic has not been read yet.
                if (KnownBelow() > chainBit_ || !ReadPiece()) return false;
                continue;
            }
            if (magics_.front().end) return Finish();
            if (tasks_.empty() || tasks_.front()->input.startBit != chainBit_) return false;
            TBlockTask& head = *tasks_.front();
            pool_.SetHead(&head);
            std::vector<char> chunk;
            const TTaskState state = pool_.Take(head, chunk, kReportEvery);
            if (!chunk.empty()) {
                Hold(std::move(chunk));
                WriteSafePieces();
            } else if (state == TTaskState::Complete) {
                Advance(head);
            } else if (state == TTaskState::Failed) {
                return false;
            }
            ToSink([&] { sink_.Consumed(chainBit_ / 8); });
        }
    }

    template <typename Call> void ToSink(Call call) {
        try {
            call();
        } catch (...) {
            sinkError_ = std::current_exception();
            throw TSinkThrew();
        }
    }
    std::exception_ptr SinkError() const { return sinkError_; }

private:
    // Every magic that starts before this bit has been found.
    int64_t KnownBelow() const {
        return read_ == size_ ? std::numeric_limits<int64_t>::max() : (read_ - 7) * 8;
    }

    // Reads the next piece of the window and scans it; false at the end or when the source fails.
    bool ReadPiece() {
        if (read_ >= size_) return false;
        const size_t wanted =
            static_cast<size_t>(std::min<int64_t>(TCompressedSpan::kPieceBytes, size_ - read_));
        auto piece = std::make_shared<std::vector<unsigned char>>(wanted);
        size_t got = 0;
        try {
            for (int32_t more = 1; got < wanted && more > 0; got += static_cast<size_t>(more))
                more = source_.Read(piece->data() + got, static_cast<int32_t>(wanted - got));
        } catch (const std::exception&) {
            return false; // the single decoder meets the same failure where it belongs
        }
        if (got < wanted) return false;
        read_ += static_cast<int64_t>(wanted);
        std::vector<TMagic> found;
        scanner_.Scan(piece->data(), wanted, read_ == size_, found);
        magics_.insert(magics_.end(), found.begin(), found.end());
        window_.push_back(std::move(piece));
        return true;
    }

    TCompressedSpan Span(int64_t fromByte, int64_t toByte) const {
        const int64_t first = fromByte / TCompressedSpan::kPieceBytes;
        const int64_t last = (toByte - 1) / TCompressedSpan::kPieceBytes;
        std::vector<TCompressedSpan::Piece> pieces(window_.begin() + (first - windowFirst_),
                                                   window_.begin() + (last - windowFirst_ + 1));
        return TCompressedSpan(first, std::move(pieces));
    }

    // Queues the blocks that follow the last one queued while there is room; false when the source fails.
    bool QueueAhead() {
        const int64_t reach = BlockReachBytes(level_);
        while (tasks_.size() < mostTasks_) {
            // The next block starts within one block's reach of the last one queued.
            const int64_t from = std::max(queuedTo_, chainBit_);
            const int64_t searchEnd = std::min(size_, (from + reach * 8) / 8 + 16);
            auto next = std::lower_bound(magics_.begin(), magics_.end(), from,
                                         [](const TMagic& magic, int64_t bit) { return magic.bit < bit; });
            while (next != magics_.end() && next->end) ++next;
            // No block can start within reach: the stream ends (or breaks) before the next magic.
            if (next != magics_.end() && next->bit > from + reach * 8) return true;
            if (next == magics_.end()) {
                if (read_ >= searchEnd) return true;
                if (!ReadPiece()) return read_ == size_;
                continue;
            }
            const int64_t startBit = next->bit;
            const int64_t endByte = std::min(size_, startBit / 8 + reach + 16);
            if (endByte > chainBit_ / 8 + kWindowBytes) return true;
            if (read_ < endByte) {
                if (!ReadPiece()) return false;
                continue;
            }
            auto task = std::make_shared<TBlockTask>();
            task->input.startBit = startBit;
            task->input.level = level_;
            task->input.bytes = Span(startBit / 8, endByte);
            for (auto stop = next + 1; stop != magics_.end() && stop->bit <= startBit + reach * 8 &&
                                       task->input.stops.size() < kMostStops;
                 ++stop)
                task->input.stops.push_back(stop->bit);
            if (startBit + 80 <= endByte * 8)
                task->storedCrc = static_cast<uint32_t>(task->input.bytes.Bits(startBit + 48, 32));
            queuedTo_ = startBit + 1;
            tasks_.push_back(task);
            pool_.Queue(std::move(task));
        }
        return true;
    }

    void Hold(std::vector<char>&& chunk) {
        taken_ += static_cast<int64_t>(chunk.size());
        held_.push_back(std::move(chunk));
    }

    // Writes the pieces the single decoder would also have written by now.
    void WriteSafePieces() {
        while (taken_ - written_ >= pieceBytes_ + kLookAhead) WritePiece(pieceBytes_);
    }

    void WritePiece(int32_t size) {
        const char* bytes;
        std::vector<char>& front = held_.front();
        if (front.size() - heldOffset_ >= static_cast<size_t>(size)) {
            bytes = front.data() + heldOffset_;
        } else {
            piece_.resize(static_cast<size_t>(size));
            size_t at = 0;
            for (auto chunk = held_.begin(); at < piece_.size(); ++chunk) {
                const size_t offset = chunk == held_.begin() ? heldOffset_ : 0;
                const size_t count = std::min(chunk->size() - offset, piece_.size() - at);
                std::memcpy(piece_.data() + at, chunk->data() + offset, count);
                at += count;
            }
            bytes = piece_.data();
        }
        ToSink([&] { sink_.Piece(bytes, size); });
        written_ += size;
        for (size_t left = static_cast<size_t>(size); left > 0;) {
            const size_t count = std::min(held_.front().size() - heldOffset_, left);
            heldOffset_ += count;
            left -= count;
            if (heldOffset_ == held_.front().size()) {
                held_.pop_front();
                heldOffset_ = 0;
            }
        }
    }

    // The block being written is complete: the stream goes on at its end.
    void Advance(const TBlockTask& head) {
        combinedCrc_ = ((combinedCrc_ << 1) | (combinedCrc_ >> 31)) ^ head.storedCrc;
        chainBit_ = head.endBit;
        while (!tasks_.empty() && tasks_.front()->input.startBit < chainBit_) {
            pool_.Drop(*tasks_.front());
            tasks_.pop_front();
        }
        pool_.SetHead(nullptr);
        const int64_t keepFrom = chainBit_ / 8 / TCompressedSpan::kPieceBytes;
        while (windowFirst_ < keepFrom && window_.size() > 1) {
            window_.pop_front();
            ++windowFirst_;
        }
    }

    // At the end magic: the combined CRC must match and the source end right after it.
    bool Finish() {
        const int64_t endByte = (chainBit_ + 80 + 7) / 8;
        if (endByte != size_) return false;
        while (read_ < endByte)
            if (!ReadPiece()) return false;
        const uint32_t stored = static_cast<uint32_t>(Span(chainBit_ / 8, endByte).Bits(chainBit_ + 48, 32));
        if (stored != combinedCrc_) return false;
        while (taken_ > written_)
            WritePiece(static_cast<int32_t>(std::min<int64_t>(pieceBytes_, taken_ - written_)));
        ToSink([&] { sink_.Consumed(size_); });
        return true;
    }

    TStream& source_;
    TBlockSink& sink_;
    const size_t mostTasks_;
    const int32_t pieceBytes_;
    std::exception_ptr sinkError_;

    int64_t size_ = 0; // of the stream, from the source's position at the start
    int64_t read_ = 0;
    std::deque<TCompressedSpan::Piece> window_;
    int64_t windowFirst_ = 0; // piece number of window_.front()
    TMagicScanner scanner_;
    std::deque<TMagic> magics_; // found and not yet passed
    char level_ = '9';

    std::deque<std::shared_ptr<TBlockTask>> tasks_; // queued, in stream order
    int64_t queuedTo_ = 0;                          // magics before this bit have been queued or passed
    int64_t chainBit_ = 32;                         // where the next block (or the end magic) starts
    uint32_t combinedCrc_ = 0;

    std::deque<std::vector<char>> held_; // output taken, not yet written
    size_t heldOffset_ = 0;
    int64_t taken_ = 0;
    int64_t written_ = 0;
    std::vector<char> piece_;

    TDecodePool pool_; // last: its threads end before anything they use goes
};

} // namespace

bool UnpackBlocks(TStream& source, unsigned threads, int32_t pieceBytes, TBlockSink& sink) {
    std::unique_ptr<TBlockUnpack> unpack;
    try {
        unpack = std::make_unique<TBlockUnpack>(source, threads, pieceBytes, sink);
        return unpack->Run();
    } catch (const TSinkThrew&) {
        std::exception_ptr error = unpack->SinkError();
        unpack.reset();
        std::rethrow_exception(error);
    } catch (const std::exception&) {
        // no thread or no memory for this path: what was written stands, the single decoder goes on
        return false;
    }
}
