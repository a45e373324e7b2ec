// Reading bzip2 payloads: a read-only decompression stream over a compressed source, and the unpack
// routines that turn a downloaded .bz2 file into its destination file.
#pragma once

#include "platform/Errors.h"
#include "support/Stream.h"
#include "support/UnpackObserver.h"

#include <bzlib.h>

#include <functional>
#include <memory>
#include <string>

class TMD5Context;

class EBZip2Error : public Exception {
public:
    using Exception::Exception;
};
class EBZDecompressionError : public EBZip2Error {
public:
    using EBZip2Error::EBZip2Error;
};
class EBZCompressionError : public EBZip2Error {
public:
    using EBZip2Error::EBZip2Error;
};

// Shared state of the bzip2 streams: the source, the library's stream record and the input buffer.
class TCustomBZip2Stream : public TStream {
public:
    static constexpr int32_t kBufferSize = 65536;

    ~TCustomBZip2Stream() override;
    // Called with the stream after every decompression step.
    std::function<void(TCustomBZip2Stream&)> OnProgress;

protected:
    explicit TCustomBZip2Stream(TStream& source);
    virtual void Progress();
    // Raises the error a library call reported: out of memory, an internal failure, or "error %d".
    [[noreturn]] void RaiseLibraryError(int result);
    // Checks a library result; negative results raise.
    int Check(int result);

    TStream& source_;         // not owned
    int64_t sourcePosition_;  // how far the source has been taken into the input buffer
    bz_stream record_{};
    std::unique_ptr<char[]> buffer_;
    bool outOfMemory_ = false; // set by the allocation hook, raised once the library returns

private:
    static void* Allocate(void* opaque, int items, int size);
    static void Release(void* opaque, void* block);
};

class TBZDecompressionStream : public TCustomBZip2Stream {
public:
    explicit TBZDecompressionStream(TStream& source); // EBZDecompressionError "error %d"
    ~TBZDecompressionStream() override;

    // Up to count decompressed bytes; fewer only at the end of the data. A source that ends before the
    // end of the compressed stream (a cut download) raises "error -7".
    int32_t Read(void* buffer, int32_t count) override;
    // Always "Invalid stream operation": the stream is read-only.
    int32_t Write(const void* buffer, int32_t count) override;
    // Only forwards (by reading and discarding) or back to 0 (a restart); returns bytes delivered.
    int32_t Seek(int32_t offset, TSeekOrigin origin) override;
    int64_t Seek64(int64_t offset, TSeekOrigin origin) override;

private:
    void Start();
    void Restart();
    int64_t Delivered() const;

    bool sawInput_ = false;
    bool streamEnded_ = false;
};

// The unpacked data has passed the bound its caller set (a few hundred compressed bytes can unpack
// to gigabytes).
class EUnpackedTooLarge : public EBZip2Error {
public:
    explicit EUnpackedTooLarge(int64_t bound)
        : EBZip2Error("The unpacked data is larger than " + std::to_string(bound) + " bytes") {}
};

// Decompresses the whole source into the target in bounded memory. When digest is given, every
// byte written is also added to it. With maxOutputBytes above 0, unpacking stops with
// EUnpackedTooLarge as soon as more than that would be written. A payload of kParallelUnpackBytes
// or more is decoded on UnpackThreads() threads, block by block; the bytes written, the digest and
// any error are the same as with one decoder.
void UnpackStream(TStream& source, TStream& target, UnpackObserver* observer = nullptr,
                  TMD5Context* digest = nullptr, int64_t maxOutputBytes = 0);

// Below this many compressed bytes one decoder is as fast as several: measured on two cores, a payload
// of one level-9 block gains nothing from them, one and a half blocks take 0.75 of the time and two
// or more about half. 1 MiB holds at most about one block of incompressible data.
constexpr int64_t kParallelUnpackBytes = 1 << 20;

// Threads that decode a large payload: the machine's cores, at most 8. Each holds libbz2's 3.6 MiB of
// tables; with the compressed window (at most 13 MiB) and the output waiting (at most 9 MiB) an
// unpack stays under 64 MiB.
unsigned UnpackThreads();

// UnpackStream with the decoding chosen by the caller, whatever the payload's size: decodeThreads 0
// runs one decoder over the whole stream; 1 or more decode its blocks on that many threads.
void UnpackStreamOn(unsigned decodeThreads, TStream& source, TStream& target,
                    UnpackObserver* observer = nullptr, TMD5Context* digest = nullptr,
                    int64_t maxOutputBytes = 0);

// Unpacks the source into the target and, when digest is given (32 hexadecimal digits in either case),
// checks what was written against it; a mismatch raises. maxOutputBytes bounds the output as in
// UnpackStream. Both streams are the caller's.
void UnpackVerified(TStream& source, TStream& target, const std::string& digest, UnpackObserver* observer = nullptr,
                    int64_t maxOutputBytes = 0);
// The same into a new file (see platform::File::Create), which is closed at the end; on any failure the
// file is removed and the error raised.
void UnpackVerified(TStream& source, const std::string& outputPath, const std::string& digest,
                    UnpackObserver* observer = nullptr, int64_t maxOutputBytes = 0);

// Unpacks a .bz2 file into its destination (created or emptied) and deletes the .bz2 file, after
// success and after failure alike, once it could be opened.
void UnpackFile(const std::string& bz2Path, const std::string& destinationPath, UnpackObserver* observer = nullptr,
                int64_t maxOutputBytes = 0);
