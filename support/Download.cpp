#include "support/Download.h"

#include "platform/Platform.h"
#include "support/Errors.h"

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr size_t kDownloadBufferBytes = 256 * 1024;

// Writes full buffers to the local file on a thread of its own, so the next buffer fills from the network
// while the last one goes to disk. The thread starts with the first full buffer: a body smaller than one
// buffer, as most payloads do, never starts it.
class TWriteBehind {
public:
    explicit TWriteBehind(platform::File& file) : file_(file) {}
    ~TWriteBehind() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    TWriteBehind(const TWriteBehind&) = delete;
    TWriteBehind& operator=(const TWriteBehind&) = delete;

    // Takes a filled buffer and gives back an empty one of the same size; raises the failure of an
    // earlier write.
    void Write(std::vector<char>& buffer, size_t count) {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [&] { return !busy_; });
        if (error_) std::rethrow_exception(error_);
        if (!thread_.joinable()) {
            spare_.resize(buffer.size());
            thread_ = std::thread([this] { Loop(); });
        }
        std::swap(buffer, spare_);
        count_ = count;
        busy_ = true;
        changed_.notify_all();
    }

    // Waits for the last write; raises its failure.
    void Drain() {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [&] { return !busy_; });
        if (error_) std::rethrow_exception(error_);
    }

private:
    void Loop() {
        std::unique_lock<std::mutex> guard(lock_);
        for (;;) {
            changed_.wait(guard, [&] { return stopping_ || busy_; });
            if (!busy_) return;
            guard.unlock();
            std::exception_ptr error;
            try {
                file_.Write(spare_.data(), count_);
            } catch (...) {
                error = std::current_exception();
            }
            guard.lock();
            if (error) error_ = error;
            busy_ = false;
            changed_.notify_all();
        }
    }

    platform::File& file_;
    std::vector<char> spare_; // the buffer being written, while busy_
    size_t count_ = 0;
    bool busy_ = false;
    bool stopping_ = false;
    std::exception_ptr error_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::thread thread_;
};

} // namespace

TDownloadResult DownloadToFile(const std::string& url, const std::string& localPath,
                               const std::function<void(size_t)>& onPiece, int64_t* received) {
    if (received) *received = 0;
    std::unique_ptr<platform::HttpBody> body = platform::OpenUrl(url);
    if (!body) return TDownloadResult::CannotOpen;
    platform::File file;
    try {
        file = platform::File::Create(localPath);
    } catch (const Exception&) {
        return TDownloadResult::CannotCreate;
    }
    // The body is read in large pieces straight into the write buffer; each piece is reported as
    // it arrives, so the per-file gauge moves as bytes come in.
    std::vector<char> buffer(kDownloadBufferBytes);
    size_t filled = 0;
    bool cut = false;
    {
        TWriteBehind writer(file);
        for (;;) {
            size_t got = 0;
            if (!body->Read(buffer.data() + filled, buffer.size() - filled, &got)) {
                cut = true;
                break;
            }
            filled += got;
            if (filled == buffer.size()) {
                writer.Write(buffer, filled);
                filled = 0;
            }
            if (received) *received += static_cast<int64_t>(got);
            if (onPiece) onPiece(got);
            if (got == 0) break;
        }
        if (!cut) writer.Drain();
    } // the writer is done with the file here, whatever happened
    if (cut) {
        file = platform::File();
        platform::RemoveFile(localPath); // a body cut short is no download
        return TDownloadResult::Cut;
    }
    if (filled > 0) file.Write(buffer.data(), filled);
    body.reset();
    file.Close();
    return TDownloadResult::Complete;
}
