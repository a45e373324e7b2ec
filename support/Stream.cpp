#include "support/Stream.h"

#include <algorithm>
#include <cstring>

#include "platform/Errors.h"

int64_t TStream::Size() {
    int64_t position = Seek64(0, TSeekOrigin::soCurrent);
    int64_t size = Seek64(0, TSeekOrigin::soEnd);
    Seek64(position, TSeekOrigin::soBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, int32_t count) {
    if (count != 0 && Read(buffer, count) != count) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
    if (count != 0 && Write(buffer, count) != count) throw EWriteError();
}

TFileStream::TFileStream(const std::string& path, Mode mode)
    : owned_(mode == Mode::Create ? platform::File::Create(path) : platform::File::OpenRead(path)), file_(owned_) {}

int32_t TFileStream::Read(void* buffer, int32_t count) {
    if (count <= 0) return 0;
    return static_cast<int32_t>(file_.Read(buffer, static_cast<size_t>(count)));
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
    if (count <= 0) return 0;
    try {
        file_.Write(buffer, static_cast<size_t>(count));
    } catch (const EInOutError&) {
        return 0; // a short write: WriteBuffer turns it into EWriteError
    }
    return count;
}

static platform::File::Origin ToFileOrigin(TSeekOrigin origin) {
    switch (origin) {
    case TSeekOrigin::soBeginning: return platform::File::Origin::Begin;
    case TSeekOrigin::soCurrent: return platform::File::Origin::Current;
    default: return platform::File::Origin::End;
    }
}

int32_t TFileStream::Seek(int32_t offset, TSeekOrigin origin) {
    return static_cast<int32_t>(file_.Seek(offset, ToFileOrigin(origin)));
}

int64_t TFileStream::Seek64(int64_t offset, TSeekOrigin origin) { return file_.Seek(offset, ToFileOrigin(origin)); }

int64_t TFileStream::Size() { return file_.Size(); }

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
    const int64_t n = std::min<int64_t>(count, static_cast<int64_t>(bytes_.size()) - position_);
    if (n <= 0) return 0;
    std::memcpy(buffer, bytes_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return static_cast<int32_t>(n);
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
    if (count <= 0) return 0;
    if (bytes_.size() < static_cast<size_t>(position_)) bytes_.resize(static_cast<size_t>(position_));
    bytes_.replace(static_cast<size_t>(position_), static_cast<size_t>(count), static_cast<const char*>(buffer),
                   static_cast<size_t>(count));
    position_ += count;
    return count;
}

int64_t TMemoryStream::Seek64(int64_t offset, TSeekOrigin origin) {
    const int64_t base = origin == TSeekOrigin::soBeginning ? 0
                         : origin == TSeekOrigin::soCurrent ? position_
                                                            : static_cast<int64_t>(bytes_.size());
    position_ = base + offset;
    return position_;
}
