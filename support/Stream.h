// Byte streams in the shape the launcher's units share: read, write, seek, exact reads and writes.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <string>
#include <utility>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;
    virtual int32_t Read(void* buffer, int32_t count) = 0;
    virtual int32_t Write(const void* buffer, int32_t count) = 0;
    virtual int32_t Seek(int32_t offset, TSeekOrigin origin) = 0;
    virtual int64_t Seek64(int64_t offset, TSeekOrigin origin) = 0;
    // Size by seeking to the end and back.
    virtual int64_t Size();

    int64_t Position() { return Seek64(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t position) { Seek64(position, TSeekOrigin::soBeginning); }
    // Read or write exactly count bytes, or raise EReadError / EWriteError.
    void ReadBuffer(void* buffer, int32_t count);
    void WriteBuffer(const void* buffer, int32_t count);
};

// A stream over a file on disk.
class TFileStream : public TStream {
public:
    enum class Mode {
        OpenReadDenyWrite, // an existing file, read only; others may read
        Create,            // created or emptied, read and write, shared with nobody
    };
    TFileStream(const std::string& path, Mode mode); // EFOpenError / EFCreateError
    // A stream over a file opened elsewhere (a replacement's new version); the file stays its owner's.
    explicit TFileStream(platform::File& borrowed) : file_(borrowed) {}
    // A stream that owns a file opened elsewhere (one of the launcher's own, opened as such).
    explicit TFileStream(platform::File&& owned) : owned_(std::move(owned)), file_(owned_) {}

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int32_t Seek(int32_t offset, TSeekOrigin origin) override;
    int64_t Seek64(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;
    // Closes the file now, reporting a failed close (data not written) as EInOutError.
    void Close() { file_.Close(); }

private:
    platform::File owned_;
    platform::File& file_; // owned_, or the borrowed file
};

// A stream over bytes held in memory; writes overwrite or extend at the position.
class TMemoryStream : public TStream {
public:
    explicit TMemoryStream(std::string bytes = std::string()) : bytes_(std::move(bytes)) {}
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int32_t Seek(int32_t offset, TSeekOrigin origin) override { return static_cast<int32_t>(Seek64(offset, origin)); }
    int64_t Seek64(int64_t offset, TSeekOrigin origin) override;
    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
    int64_t position_ = 0;
};
