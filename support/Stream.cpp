#include "support/Stream.h"

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
