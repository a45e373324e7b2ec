// The decompression stream on arbitrary bytes: a clean error or data, never a crash, leak or hang; and
// the block decoding on several threads ends exactly as one decoder does.
#include "support/BZip2.h"
#include "support/md5.h"

#include <cstring>
#include <string>
#include <typeinfo>

namespace {
class TInputBytes : public TStream {
public:
    TInputBytes(const uint8_t* data, size_t size) : data_(data), size_(static_cast<int64_t>(size)) {}
    int32_t Read(void* buffer, int32_t count) override {
        int64_t n = std::min<int64_t>(count, size_ - position_);
        if (n <= 0) return 0;
        std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
        position_ += n;
        return static_cast<int32_t>(n);
    }
    int32_t Write(const void*, int32_t count) override { written_ += count; return count; }
    int32_t Seek(int32_t offset, TSeekOrigin origin) override { return static_cast<int32_t>(Seek64(offset, origin)); }
    int64_t Seek64(int64_t offset, TSeekOrigin origin) override {
        position_ = (origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? position_ : size_) + offset;
        return position_;
    }
    int64_t written_ = 0;

private:
    const uint8_t* data_;
    int64_t size_;
    int64_t position_ = 0;
};

class TSink : public TInputBytes {
public:
    TSink() : TInputBytes(nullptr, 0) {}
};

// What an unpack left: bytes written, their digest, and the error (type and message).
std::string Outcome(unsigned threads, const uint8_t* data, size_t size, int64_t maxOutputBytes) {
    TInputBytes source(data, size);
    TSink sink;
    TMD5Context context;
    std::string error;
    try {
        UnpackStreamOn(threads, source, sink, nullptr, &context, maxOutputBytes);
    } catch (const Exception& e) {
        // every failure is one of the launcher's own errors
        error = std::string(typeid(e).name()) + e.what();
    }
    TMD5Digest digest;
    context.Final(digest);
    return std::to_string(sink.written_) + " " + DigestToHex(digest) + " " + error;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The input's length picks a bound on the unpacked size: none, or one a few pieces long.
    const int64_t bound = static_cast<int64_t>(size % 3) * 70000;
    if (Outcome(0, data, size, bound) != Outcome(2, data, size, bound)) __builtin_trap();
    // A restart after reading must give the same first bytes.
    try {
        TInputBytes again(data, size);
        TBZDecompressionStream stream(again);
        char first[64], second[64];
        int32_t a = stream.Read(first, sizeof first);
        stream.Seek(0, TSeekOrigin::soBeginning);
        int32_t b = stream.Read(second, sizeof second);
        if (a != b || std::memcmp(first, second, static_cast<size_t>(a)) != 0) __builtin_trap();
    } catch (const Exception&) {
    }
    return 0;
}
