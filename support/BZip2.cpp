#include "support/BZip2.h"

#include "support/BZip2Blocks.h"
#include "support/BZip2Parallel.h"
#include "support/md5.h"

#include <algorithm>
#include <cctype>
#include <new>
#include <thread>
#include <vector>

namespace {
// Set by the library's internal-error hook on the thread that called into the library.
thread_local int pendingInternalError = 0;
} // namespace

#ifdef BZ_NO_STDIO
// The library calls this on an internal consistency failure. It must not throw through the library's
// C frames, so the failure is recorded and raised once the library call returns.
extern "C" void bz_internal_error(int errcode) { pendingInternalError = errcode; }
#endif

int TakeBZip2InternalError() {
    int code = pendingInternalError;
    pendingInternalError = 0;
    return code;
}

TCustomBZip2Stream::TCustomBZip2Stream(TStream& source)
    : source_(source), sourcePosition_(source.Position()), buffer_(new char[kBufferSize]) {
    record_.bzalloc = &TCustomBZip2Stream::Allocate;
    record_.bzfree = &TCustomBZip2Stream::Release;
    record_.opaque = this;
}

TCustomBZip2Stream::~TCustomBZip2Stream() = default;

void* TCustomBZip2Stream::Allocate(void* opaque, int items, int size) {
    void* block = ::operator new(static_cast<size_t>(items) * static_cast<size_t>(size), std::nothrow);
    if (!block) static_cast<TCustomBZip2Stream*>(opaque)->outOfMemory_ = true;
    return block;
}

void TCustomBZip2Stream::Release(void*, void* block) { ::operator delete(block); }

void TCustomBZip2Stream::Progress() {
    if (OnProgress) OnProgress(*this);
}

void TCustomBZip2Stream::RaiseLibraryError(int result) {
    if (pendingInternalError != 0) {
        int code = pendingInternalError;
        pendingInternalError = 0;
        throw EBZip2Error("Compression Error " + std::to_string(code));
    }
    if (outOfMemory_) {
        outOfMemory_ = false;
        throw EOutOfMemory();
    }
    throw EBZDecompressionError("error " + std::to_string(result));
}

int TCustomBZip2Stream::Check(int result) {
    if (result < 0 || pendingInternalError != 0 || outOfMemory_) RaiseLibraryError(result);
    return result;
}

TBZDecompressionStream::TBZDecompressionStream(TStream& source) : TCustomBZip2Stream(source) { Start(); }

TBZDecompressionStream::~TBZDecompressionStream() { BZ2_bzDecompressEnd(&record_); }

void TBZDecompressionStream::Start() {
    Check(BZ2_bzDecompressInit(&record_, 0, 0));
    sawInput_ = false;
    streamEnded_ = false;
}

void TBZDecompressionStream::Restart() {
    BZ2_bzDecompressEnd(&record_);
    Start();
    record_.avail_in = 0;
    record_.next_in = nullptr;
    source_.SetPosition(0);
    sourcePosition_ = 0;
}

int64_t TBZDecompressionStream::Delivered() const {
    return static_cast<int64_t>((static_cast<uint64_t>(record_.total_out_hi32) << 32) | record_.total_out_lo32);
}

int32_t TBZDecompressionStream::Read(void* buffer, int32_t count) {
    if (count <= 0) return 0;
    record_.next_out = static_cast<char*>(buffer);
    record_.avail_out = static_cast<unsigned>(count);
    if (source_.Position() != sourcePosition_) source_.SetPosition(sourcePosition_);
    while (record_.avail_out > 0) {
        if (record_.avail_in == 0) {
            int32_t got = source_.Read(buffer_.get(), kBufferSize);
            if (got == 0) {
                // The source ended before the stream's end marker: a cut download, not a short file.
                if (sawInput_ && !streamEnded_) RaiseLibraryError(BZ_UNEXPECTED_EOF);
                return count - static_cast<int32_t>(record_.avail_out);
            }
            sawInput_ = true;
            record_.next_in = buffer_.get();
            record_.avail_in = static_cast<unsigned>(got);
            sourcePosition_ = source_.Position();
        }
        if (Check(BZ2_bzDecompress(&record_)) == BZ_STREAM_END) streamEnded_ = true;
        Progress();
    }
    return count;
}

int32_t TBZDecompressionStream::Write(const void*, int32_t) {
    throw EBZDecompressionError("Invalid stream operation");
}

int32_t TBZDecompressionStream::Seek(int32_t offset, TSeekOrigin origin) {
    return static_cast<int32_t>(Seek64(offset, origin));
}

int64_t TBZDecompressionStream::Seek64(int64_t offset, TSeekOrigin origin) {
    if (offset == 0 && origin == TSeekOrigin::soBeginning) {
        Restart();
    } else if ((origin == TSeekOrigin::soCurrent && offset >= 0) ||
               (origin == TSeekOrigin::soBeginning && offset > Delivered())) {
        if (origin == TSeekOrigin::soBeginning) offset -= Delivered();
        char discard[4096];
        for (; offset >= static_cast<int64_t>(sizeof discard); offset -= sizeof discard)
            ReadBuffer(discard, sizeof discard);
        ReadBuffer(discard, static_cast<int32_t>(offset));
    } else {
        throw EBZDecompressionError("Invalid stream operation");
    }
    return Delivered();
}

namespace {

// Hands the observer source positions that never move back: after a switch from the block decoding
// to the single decoder, the latter starts again from the beginning of the source.
class TProgress {
public:
    explicit TProgress(UnpackObserver* observer) : observer_(observer) {}
    void Report(int64_t position) {
        if (!observer_) return;
        last_ = std::max(last_, position);
        observer_->UnpackProgress(last_);
    }

private:
    UnpackObserver* observer_;
    int64_t last_ = 0;
};

// The target's side of an unpack: each piece counted against the bound, written, then digested.
class TPieceWriter {
public:
    TPieceWriter(TStream& target, TMD5Context* digest, int64_t maxOutputBytes)
        : target_(target), digest_(digest), maxOutputBytes_(maxOutputBytes) {}
    void Write(const char* piece, int32_t size) {
        if (maxOutputBytes_ > 0 && written_ + size > maxOutputBytes_)
            throw EUnpackedTooLarge(maxOutputBytes_);
        target_.WriteBuffer(piece, size);
        if (digest_) digest_->Update(piece, static_cast<size_t>(size));
        written_ += size;
    }
    int64_t Written() const { return written_; }

private:
    TStream& target_;
    TMD5Context* digest_;
    int64_t maxOutputBytes_;
    int64_t written_ = 0;
};

class TBlockSinkToWriter final : public TBlockSink {
public:
    TBlockSinkToWriter(TPieceWriter& writer, TProgress& progress, int64_t start)
        : writer_(writer), progress_(progress), start_(start) {}
    void Piece(const char* bytes, int32_t size) override { writer_.Write(bytes, size); }
    void Consumed(int64_t bytes) override { progress_.Report(start_ + bytes); }

private:
    TPieceWriter& writer_;
    TProgress& progress_;
    int64_t start_;
};

// One decoder over the whole stream, a piece at a time. The first `skip` bytes (whole pieces) were
// written already and are only decoded again.
void UnpackWithOneDecoder(TStream& source, TPieceWriter& writer, TProgress& progress, int64_t skip) {
    TBZDecompressionStream stream(source);
    stream.OnProgress = [&](TCustomBZip2Stream&) { progress.Report(source.Position()); };
    std::vector<char> piece(TCustomBZip2Stream::kBufferSize);
    for (int64_t delivered = 0;;) {
        int32_t got = stream.Read(piece.data(), static_cast<int32_t>(piece.size()));
        if (got == 0) break;
        delivered += got;
        if (delivered > skip) writer.Write(piece.data(), got);
    }
}

} // namespace

unsigned UnpackThreads() { return std::min(8u, std::max(1u, std::thread::hardware_concurrency())); }

void UnpackStreamOn(unsigned decodeThreads, TStream& source, TStream& target, UnpackObserver* observer,
                    TMD5Context* digest, int64_t maxOutputBytes) {
    if (observer) observer->UnpackStarted(source);
    try {
        TProgress progress(observer);
        TPieceWriter writer(target, digest, maxOutputBytes);
        const int64_t start = source.Position();
        bool done = false;
        if (decodeThreads > 0) {
            TBlockSinkToWriter sink(writer, progress, start);
            done = UnpackBlocks(source, decodeThreads, TCustomBZip2Stream::kBufferSize, sink);
            // Anything unusual: the single decoder meets it again and fails (or not) as it always has.
            if (!done) source.SetPosition(start);
        }
        if (!done) UnpackWithOneDecoder(source, writer, progress, writer.Written());
    } catch (...) {
        if (observer) {
            try {
                observer->UnpackFinished();
            } catch (...) {
                // the unpack's own error is the one to report
            }
        }
        throw;
    }
    if (observer) observer->UnpackFinished();
}

void UnpackStream(TStream& source, TStream& target, UnpackObserver* observer, TMD5Context* digest,
                  int64_t maxOutputBytes) {
    const unsigned threads = UnpackThreads();
    const bool large = threads > 1 && source.Size() - source.Position() >= kParallelUnpackBytes;
    UnpackStreamOn(large ? threads : 0, source, target, observer, digest, maxOutputBytes);
}

void UnpackVerified(TStream& source, TStream& target, const std::string& digest, UnpackObserver* observer,
                    int64_t maxOutputBytes) {
    TMD5Context context;
    UnpackStream(source, target, observer, digest.empty() ? nullptr : &context, maxOutputBytes);
    if (digest.empty()) return;
    TMD5Digest unpacked;
    context.Final(unpacked);
    if (!SameDigest(DigestToHex(unpacked), digest)) throw Exception("Unpacked file does not match its digest");
}

void UnpackVerified(TStream& source, const std::string& outputPath, const std::string& digest,
                    UnpackObserver* observer, int64_t maxOutputBytes) {
    try {
        TFileStream output(outputPath, TFileStream::Mode::Create);
        UnpackVerified(source, output, digest, observer, maxOutputBytes);
        output.Close();
    } catch (...) {
        platform::RemoveFile(outputPath);
        throw;
    }
}

void UnpackFile(const std::string& bz2Path, const std::string& destinationPath, UnpackObserver* observer,
                int64_t maxOutputBytes) {
    auto source = std::make_unique<TFileStream>(bz2Path, TFileStream::Mode::OpenReadDenyWrite);
    try {
        TFileStream destination(destinationPath, TFileStream::Mode::Create);
        UnpackStream(*source, destination, observer, nullptr, maxOutputBytes);
        destination.Close();
    } catch (...) {
        source.reset();
        platform::RemoveFile(bz2Path);
        throw;
    }
    source.reset();
    platform::RemoveFile(bz2Path);
}
