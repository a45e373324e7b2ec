#include "platform/Platform.h"
#include "platform/win32/LateBound.h"
#include "platform/win32/Win32Handles.h"
#include "support/Errors.h"

#include <shellapi.h>
#include <vector>

namespace platform {

using win32::Handle;

namespace {
bool Exists(const std::string& path, bool wantFolder) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == wantFolder;
}
} // namespace

bool IsFile(const std::string& path) { return Exists(path, false); }
bool IsFolder(const std::string& path) { return Exists(path, true); }

bool MakeFolders(const std::string& path) {
    std::string folder = path;
    while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    if (folder.empty()) return false;
    if (IsFolder(folder)) return true;
    size_t cut = folder.find_last_of("\\/");
    if (cut != std::string::npos && cut > 0 && folder[cut - 1] != ':') {
        if (!MakeFolders(folder.substr(0, cut))) return false;
    }
    return CreateDirectoryA(folder.c_str(), nullptr) || IsFolder(folder);
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != FALSE; }

bool CanWrite(const std::string& path) {
    Handle h(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    return h.Valid();
}

bool CopyFileReplacing(const std::string& from, const std::string& to) {
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE;
}

bool MoveFileReplacing(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool ReplaceFileKeepingAttributes(const std::string& replacement, const std::string& target) {
    return ReplaceFileA(target.c_str(), replacement.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                        nullptr) != FALSE;
}

std::string CurrentFolder() {
    DWORD needed = GetCurrentDirectoryA(0, nullptr);
    if (needed == 0) return std::string();
    std::vector<char> buffer(needed + 1);
    DWORD got = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    return std::string(buffer.data(), got);
}

bool SetCurrentFolder(const std::string& path) { return SetCurrentDirectoryA(path.c_str()) != FALSE; }

std::string WindowsFolder() {
    char buffer[MAX_PATH];
    UINT length = GetWindowsDirectoryA(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    return std::string(buffer, length);
}

void DeleteFolderTree(const std::string& path) {
    std::string list = path;
    list.push_back('\0'); // the shell's list form: names end with an extra zero
    SHFILEOPSTRUCTA operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = list.c_str();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
    LATE_BOUND(L"shell32.dll", SHFileOperationA)(&operation);
}

void StartProgram(const std::string& path) {
    // Quoted, so a path with blanks cannot start another program; no length limit.
    std::string commandLine = "\"" + path + "\"";
    WinExec(commandLine.c_str(), SW_RESTORE);
}

std::string OwnExecutablePath() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD got = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (got == 0) return std::string();
        if (got < buffer.size()) return std::string(buffer.data(), got);
        buffer.resize(buffer.size() * 2);
    }
}

// ---- File -----------------------------------------------------------------------------------------

struct File::Impl {
    Handle handle;
};

File::File() = default;
File::File(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
File::~File() = default;
File::File(File&&) noexcept = default;
File& File::operator=(File&&) noexcept = default;

File File::OpenRead(const std::string& path) {
    Handle h(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h.Valid()) throw EFOpenError(path);
    return File(std::unique_ptr<Impl>(new Impl{std::move(h)}));
}

File File::Create(const std::string& path) {
    Handle h(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid()) throw EFCreateError(path);
    return File(std::unique_ptr<Impl>(new Impl{std::move(h)}));
}

File File::Rewrite(const std::string& path) {
    // TRUNCATE_EXISTING keeps the file's attributes; CREATE_ALWAYS would reset them (and fails on a
    // hidden or system file).
    Handle h(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid()) throw EFCreateError(path);
    return File(std::unique_ptr<Impl>(new Impl{std::move(h)}));
}

bool File::IsOpen() const { return impl_ && impl_->handle.Valid(); }

size_t File::Read(void* buffer, size_t count) {
    if (!IsOpen()) throw EInOutError(IoError::FileNotOpen);
    DWORD got = 0;
    DWORD ask = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
    if (!ReadFile(impl_->handle.Get(), buffer, ask, &got, nullptr)) throw EInOutError(IoError::ReadFault);
    return got;
}

void File::Write(const void* buffer, size_t count) {
    if (!IsOpen()) throw EInOutError(IoError::FileNotOpen);
    const char* p = static_cast<const char*>(buffer);
    while (count > 0) {
        DWORD ask = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
        DWORD put = 0;
        if (!WriteFile(impl_->handle.Get(), p, ask, &put, nullptr) || put == 0) throw EInOutError(IoError::WriteFault);
        p += put;
        count -= put;
    }
}

int64_t File::Seek(int64_t offset, Origin origin) {
    if (!IsOpen()) throw EInOutError(IoError::FileNotOpen);
    LARGE_INTEGER distance, at;
    distance.QuadPart = offset;
    DWORD method = origin == Origin::Begin ? FILE_BEGIN : origin == Origin::Current ? FILE_CURRENT : FILE_END;
    if (!SetFilePointerEx(impl_->handle.Get(), distance, &at, method)) throw EInOutError(IoError::SeekFault);
    return at.QuadPart;
}

int64_t File::Size() {
    if (!IsOpen()) throw EInOutError(IoError::FileNotOpen);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(impl_->handle.Get(), &size)) throw EInOutError(IoError::ReadFault);
    return size.QuadPart;
}

void File::Close() {
    if (!IsOpen()) return;
    if (!impl_->handle.Close()) throw EInOutError(IoError::WriteFault);
}

// ---- MappedFile -----------------------------------------------------------------------------------

struct MappedFile::Impl {
    // Declared in release order reversed: the view goes first, then the mapping, then the file.
    Handle file;
    Handle mapping{nullptr};
    win32::MappedView view;
    uint64_t size = 0;
};

MappedFile::MappedFile() : impl_(std::make_unique<Impl>()) {}
MappedFile::~MappedFile() = default;

bool MappedFile::Open(const std::string& path) {
    impl_ = std::make_unique<Impl>(); // a file opened before is released first, its view with it
    Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.Valid()) return false;
    // Windows refuses a mapping of an empty file: such a file takes the unreadable path.
    Handle mapping(CreateFileMappingA(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping.Valid()) return false;
    DWORD high = 0;
    DWORD low = GetFileSize(file.Get(), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    impl_->size = (static_cast<uint64_t>(high) << 32) | low;
    impl_->file = std::move(file);
    impl_->mapping = std::move(mapping);
    return true;
}

uint64_t MappedFile::Size() const { return impl_->size; }

size_t MappedFile::ViewGranularity() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwAllocationGranularity;
}

const unsigned char* MappedFile::View(uint64_t offset, size_t length) {
    impl_->view.Reset();
    if (!impl_->mapping.Valid() || length == 0) return nullptr;
    const void* view = MapViewOfFile(impl_->mapping.Get(), FILE_MAP_READ, static_cast<DWORD>(offset >> 32),
                                     static_cast<DWORD>(offset), length);
    impl_->view.Reset(view);
    return static_cast<const unsigned char*>(view);
}

} // namespace platform
