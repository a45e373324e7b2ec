#include "platform/Platform.h"
#include "platform/posix/PosixPaths.h"
#include "platform/posix/PosixTesting.h"
#include "platform/posix/UniqueFd.h"
#include "support/Errors.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace platform {

using posix::NativePath;
using posix::UniqueFd;

bool IsFile(const std::string& path) {
    struct stat st;
    return stat(NativePath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeFolders(const std::string& path) {
    std::string native = NativePath(path);
    while (native.size() > 1 && native.back() == '/') native.pop_back();
    if (native.empty()) return false;
    for (size_t i = 1; i <= native.size(); ++i) {
        if (i == native.size() || native[i] == '/') {
            std::string part = native.substr(0, i);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return IsFolder(path);
}

bool RemoveFile(const std::string& path) { return IsFile(path) && unlink(NativePath(path).c_str()) == 0; }

bool CanWrite(const std::string& path) { return UniqueFd(open(NativePath(path).c_str(), O_WRONLY | O_CLOEXEC)).Valid(); }

bool CopyFileReplacing(const std::string& from, const std::string& to) {
    UniqueFd in(open(NativePath(from).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (!in.Valid() || fstat(in.Get(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    UniqueFd out(open(NativePath(to).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777));
    if (!out.Valid()) return false;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        ssize_t got = read(in.Get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        for (ssize_t done = 0; done < got;) {
            ssize_t put = write(out.Get(), buffer.data() + done, got - done);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            done += put;
        }
    }
    return out.Close();
}

bool MoveFileReplacing(const std::string& from, const std::string& to) {
    return rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

bool ReplaceFileKeepingAttributes(const std::string& replacement, const std::string& target) {
    struct stat st;
    if (stat(NativePath(target).c_str(), &st) == 0) {
        if (chmod(NativePath(replacement).c_str(), st.st_mode & 07777) != 0) return false;
        // Only an administrator may give a file away; the launcher's own file keeps its owner then.
        if (chown(NativePath(replacement).c_str(), st.st_uid, st.st_gid) != 0) {
        }
    }
    return MoveFileReplacing(replacement, target);
}

std::string CurrentFolder() {
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE) return std::string();
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

bool SetCurrentFolder(const std::string& path) { return chdir(NativePath(path).c_str()) == 0; }

namespace {
std::mutex windowsFolderLock;
std::string windowsFolderOverride;
bool windowsFolderOverridden = false;
} // namespace

void SetWindowsFolderForTesting(const std::string& folder) {
    std::lock_guard<std::mutex> lock(windowsFolderLock);
    windowsFolderOverride = folder;
    windowsFolderOverridden = true;
}

std::string WindowsFolder() {
    {
        std::lock_guard<std::mutex> lock(windowsFolderLock);
        if (windowsFolderOverridden) return windowsFolderOverride;
    }
    const char* fromEnvironment = std::getenv("VANDREL_WINDOWS_DIR");
    return fromEnvironment ? fromEnvironment : "";
}

void DeleteFolderTree(const std::string& path) {
    nftw(
        NativePath(path).c_str(),
        [](const char* item, const struct stat*, int, struct FTW*) {
            ::remove(item);
            return 0;
        },
        16, FTW_DEPTH | FTW_PHYS);
}

void StartProgram(const std::string& path) {
    const std::string native = NativePath(path);
    // Two forks, so the program is not left as our child and nobody has to wait for it.
    pid_t child = fork();
    if (child == 0) {
        if (fork() == 0) {
            execl(native.c_str(), native.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        _exit(0);
    }
    if (child > 0) waitpid(child, nullptr, 0);
}

std::string OwnExecutablePath() {
    std::vector<char> buffer(4096);
    ssize_t got = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    return got > 0 ? std::string(buffer.data(), static_cast<size_t>(got)) : std::string();
}

// ---- File -----------------------------------------------------------------------------------------

struct File::Impl {
    UniqueFd fd;
};

File::File() = default;
File::File(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
File::~File() = default;
File::File(File&&) noexcept = default;
File& File::operator=(File&&) noexcept = default;

File File::OpenRead(const std::string& path) {
    UniqueFd fd(open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (!fd.Valid() || fstat(fd.Get(), &st) != 0 || S_ISDIR(st.st_mode)) throw EFOpenError(path);
    return File(std::unique_ptr<Impl>(new Impl{std::move(fd)}));
}

File File::Create(const std::string& path) {
    UniqueFd fd(open(NativePath(path).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.Valid()) throw EFCreateError(path);
    return File(std::unique_ptr<Impl>(new Impl{std::move(fd)}));
}

File File::Rewrite(const std::string& path) {
    UniqueFd fd(open(NativePath(path).c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!fd.Valid()) throw EFCreateError(path);
    return File(std::unique_ptr<Impl>(new Impl{std::move(fd)}));
}

bool File::IsOpen() const { return impl_ && impl_->fd.Valid(); }

size_t File::Read(void* buffer, size_t count) {
    if (!IsOpen()) throw EInOutError(IoError::FileNotOpen);
    for (;;) {
        ssize_t got = ::read(impl_->fd.Get(), buffer, count);
        if (got >= 0) return static_cast<size_t>(got);
        if (errno != EINTR) throw EInOutError(IoError::ReadFault);
    }
}

void File::Write(const void* buffer, size_t count) {
    if (!IsOpen()) throw EInOutError(IoError::FileNotOpen);
    const char* p = static_cast<const char*>(buffer);
    while (count > 0) {
        ssize_t put = ::write(impl_->fd.Get(), p, count);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) throw EInOutError(IoError::WriteFault);
        p += put;
        count -= static_cast<size_t>(put);
    }
}

int64_t File::Seek(int64_t offset, Origin origin) {
    if (!IsOpen()) throw EInOutError(IoError::FileNotOpen);
    int whence = origin == Origin::Begin ? SEEK_SET : origin == Origin::Current ? SEEK_CUR : SEEK_END;
    off_t at = lseek(impl_->fd.Get(), static_cast<off_t>(offset), whence);
    if (at < 0) throw EInOutError(IoError::SeekFault);
    return at;
}

int64_t File::Size() {
    if (!IsOpen()) throw EInOutError(IoError::FileNotOpen);
    struct stat st;
    if (fstat(impl_->fd.Get(), &st) != 0) throw EInOutError(IoError::ReadFault);
    return st.st_size;
}

void File::Close() {
    if (!IsOpen()) return;
    if (!impl_->fd.Close()) throw EInOutError(IoError::WriteFault);
}

// ---- MappedFile -----------------------------------------------------------------------------------

struct MappedFile::Impl {
    UniqueFd fd;
    uint64_t size = 0;
    void* view = nullptr;
    size_t viewLength = 0;
    void Unmap() {
        if (view) munmap(view, viewLength);
        view = nullptr;
    }
    ~Impl() { Unmap(); }
};

MappedFile::MappedFile() : impl_(std::make_unique<Impl>()) {}
MappedFile::~MappedFile() = default;

bool MappedFile::Open(const std::string& path) {
    impl_ = std::make_unique<Impl>(); // a file opened before is released first
    UniqueFd fd(open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (!fd.Valid() || fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    impl_->fd = std::move(fd);
    impl_->size = static_cast<uint64_t>(st.st_size);
    return true;
}

uint64_t MappedFile::Size() const { return impl_->size; }

size_t MappedFile::ViewGranularity() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

const unsigned char* MappedFile::View(uint64_t offset, size_t length) {
    impl_->Unmap();
    if (!impl_->fd.Valid() || length == 0) return nullptr;
    void* view = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, impl_->fd.Get(), static_cast<off_t>(offset));
    if (view == MAP_FAILED) return nullptr;
    madvise(view, length, MADV_SEQUENTIAL);
    impl_->view = view;
    impl_->viewLength = length;
    return static_cast<const unsigned char*>(view);
}

} // namespace platform
