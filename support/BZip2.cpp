#include "support/BZip2.h"

#include "support/md5.h"

#include <cctype>
#include <new>
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

void UnpackStream(TStream& source, TStream& target, UnpackObserver* observer, TMD5Context* digest,
                  int64_t maxOutputBytes) {
    if (observer) observer->UnpackStarted(source);
    try {
        TBZDecompressionStream stream(source);
        if (observer) stream.OnProgress = [&](TCustomBZip2Stream&) { observer->UnpackProgress(source); };
        std::vector<char> piece(TCustomBZip2Stream::kBufferSize);
        int64_t written = 0;
        for (;;) {
            int32_t got = stream.Read(piece.data(), static_cast<int32_t>(piece.size()));
            if (got == 0) break;
            written += got;
            if (maxOutputBytes > 0 && written > maxOutputBytes) throw EUnpackedTooLarge(maxOutputBytes);
            target.WriteBuffer(piece.data(), got);
            if (digest) digest->Update(piece.data(), static_cast<size_t>(got));
        }
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

namespace {
bool SameDigestValue(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}
} // namespace

void UnpackVerified(TStream& source, TStream& target, const std::string& digest, UnpackObserver* observer,
                    int64_t maxOutputBytes) {
    TMD5Context context;
    UnpackStream(source, target, observer, digest.empty() ? nullptr : &context, maxOutputBytes);
    if (digest.empty()) return;
    TMD5Digest unpacked;
    context.Final(unpacked);
    if (!SameDigestValue(DigestToHex(unpacked), digest)) throw Exception("Unpacked file does not match its digest");
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
