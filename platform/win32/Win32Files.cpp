#include "platform/Platform.h"
#include "platform/Detail.h"
#include "platform/win32/LateBound.h"
#include "platform/win32/Win32Handles.h"

#include <sddl.h>
#include "platform/Errors.h"

#include <vector>

namespace platform {

using win32::FindHandle;
using win32::Handle;

namespace {
bool Exists(const std::string& path, bool wantFolder) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == wantFolder;
}

// Wine removes a folder link's target instead of the link (and cannot remove the link at all): there
// a folder link is left where it is rather than harm what it points at.
bool RunningUnderWine() {
    static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

bool RemoveFolderLink(const std::string& path) {
    // Windows removes a junction or a folder symbolic link itself, whatever its target holds.
    return !RunningUnderWine() && RemoveDirectoryA(path.c_str()) != FALSE;
}

// A short name in the folder of path that nothing uses yet.
std::string ScratchNameBeside(const std::string& path) {
    static LONG counter = 0;
    const size_t cut = path.find_last_of("\\/");
    const std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    return folder + "~vrm" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(InterlockedIncrement(&counter)) + ".tmp";
}

// Under Wine a link to a file cannot be told from the file, and deleting it deletes what it points at;
// a rename over a name, though, replaces the name itself on every system. So an empty file of our own
// is renamed over the name and then deleted. A read-only file refuses the rename on Windows: it loses
// that attribute first (only here, where the name is known to be a file of its own, not a link).
bool RemoveByReplacing(const std::string& path, DWORD attributes) {
    const std::string ours = ScratchNameBeside(path);
    {
        Handle created(CreateFileA(ours.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!created.Valid()) return false;
    }
    bool renamed = MoveFileExA(ours.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    if (!renamed && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !RunningUnderWine() && SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
        renamed = MoveFileExA(ours.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    if (!renamed) {
        DeleteFileA(ours.c_str());
        return false;
    }
    return DeleteFileA(path.c_str()) != FALSE;
}

// attributes as GetFileAttributesA gave them; INVALID_FILE_ATTRIBUTES where a name is known to be
// there all the same (Wine shows a link to nothing as missing).
bool RemoveName(const std::string& path, DWORD attributes) {
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveFolderLink(path);
        return DeleteFileA(path.c_str()) != FALSE; // a link to a file: Windows deletes the link itself
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    return RemoveByReplacing(path, attributes);
}

bool NameTaken() {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

} // namespace

bool IsFile(const std::string& path) { return Exists(path, false); }
bool IsFolder(const std::string& path) { return Exists(path, true); }

bool IsLink(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

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

bool MakeOwnFolders(const std::string& root, const std::string& relative) {
    std::string folder = root;
    while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    const size_t cut = folder.find_last_of("\\/");
    if (cut != std::string::npos && cut > 0 && folder[cut - 1] != ':' && !MakeFolders(folder.substr(0, cut)))
        return false;
    for (size_t start = 0;;) {
        DWORD attributes = GetFileAttributesA(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (!CreateDirectoryA(folder.c_str(), nullptr)) return false;
            attributes = GetFileAttributesA(folder.c_str());
        }
        const bool ownFolder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                               !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
        if (!ownFolder) return false;
        if (start >= relative.size()) return true;
        size_t end = relative.find_first_of("\\/", start);
        if (end == std::string::npos) end = relative.size();
        if (end > start) folder += "\\" + relative.substr(start, end - start);
        start = end + 1;
    }
}

bool RemoveFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return RemoveName(path, attributes);
}

bool CanWrite(const std::string& path) {
    Handle h(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    return h.Valid();
}

bool CopyFileReplacing(const std::string& from, const std::string& to) {
    // Failing when the name is taken makes the copy exclusive: it never writes through a link.
    if (CopyFileA(from.c_str(), to.c_str(), TRUE)) return true;
    if (!NameTaken()) return false;
    RemoveName(to, GetFileAttributesA(to.c_str()));
    return CopyFileA(from.c_str(), to.c_str(), TRUE) != FALSE;
}

bool MakeHardLink(const std::string& existing, const std::string& newName) {
    return CreateHardLinkA(newName.c_str(), existing.c_str(), nullptr) != FALSE;
}

bool MoveFileReplacing(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

namespace detail {
bool RenameKeepingAttributes(const std::string& replacement, const std::string& target) {
    return ReplaceFileA(target.c_str(), replacement.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                        nullptr) != FALSE;
}
} // namespace detail

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

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA((path + "\\*").c_str(), &found));
    if (search.Get() == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search.Get(), &found));
    return names;
}

void DeleteFolderTree(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveName(path, attributes);
        return;
    }
    {
        WIN32_FIND_DATAA found;
        FindHandle search(FindFirstFileA((path + "\\*").c_str(), &found));
        if (search.Get() != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = found.cFileName;
                if (name == "." || name == "..") continue;
                const std::string item = path + "\\" + name;
                const DWORD kind = found.dwFileAttributes;
                if ((kind & FILE_ATTRIBUTE_DIRECTORY) && !(kind & FILE_ATTRIBUTE_REPARSE_POINT))
                    DeleteFolderTree(item);
                else
                    RemoveName(item, kind);
            } while (FindNextFileA(search.Get(), &found));
        }
    }
    RemoveDirectoryA(path.c_str());
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

File File::TryOpenRead(const std::string& path) {
    Handle h(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h.Valid()) return File();
    return File(std::unique_ptr<Impl>(new Impl{std::move(h)}));
}

File File::TryCreate(const std::string& path) {
    // CREATE_NEW never opens an existing name, so nothing is written through a link; an existing name
    // is removed first as a name (a link to nothing shows as missing under Wine, hence no attributes).
    const auto create = [&] {
        return Handle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    Handle h = create();
    if (!h.Valid() && NameTaken() && RemoveName(path, GetFileAttributesA(path.c_str()))) h = create();
    if (!h.Valid()) return File();
    return File(std::unique_ptr<Impl>(new Impl{std::move(h)}));
}

namespace {
// The path the system resolves an open handle to (links followed), without the "\\?\" prefix; empty
// when it cannot tell.
std::string FinalPathOf(HANDLE handle) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD got = GetFinalPathNameByHandleA(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (got == 0) return std::string();
        if (got < buffer.size()) {
            std::string path(buffer.data(), got);
            if (path.compare(0, 4, "\\\\?\\") == 0) path.erase(0, 4);
            return path;
        }
        buffer.resize(got + 1);
    }
}

// Whether an open file is where its name says: the handle resolves to the anchor's resolved path
// followed by the relative names. A link on any of those names makes them differ (this also catches
// the links Wine does not show as reparse points).
bool IsWhereNamed(HANDLE file, const OwnName& name) {
    Handle anchor(CreateFileA(name.anchor.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!anchor.Valid()) return false;
    std::string anchorPath = FinalPathOf(anchor.Get());
    while (!anchorPath.empty() && anchorPath.back() == '\\') anchorPath.pop_back(); // a drive's root
    std::string relative = name.relative;
    for (char& c : relative)
        if (c == '/') c = '\\';
    const std::string filePath = FinalPathOf(file);
    return !anchorPath.empty() && !filePath.empty() &&
           lstrcmpiA((anchorPath + "\\" + relative).c_str(), filePath.c_str()) == 0;
}

// A file of the launcher's own: the link itself is opened, never what it points at
// (FILE_FLAG_OPEN_REPARSE_POINT), and refused, as is a file found elsewhere than its name says.
Handle OpenOwn(const OwnName& name, DWORD access, DWORD share) {
    Handle h(CreateFileA(name.Path().c_str(), access, share, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h.Valid()) return h;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h.Get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) || !IsWhereNamed(h.Get(), name))
        h.Reset();
    return h;
}
} // namespace

File File::OpenAppend(const OwnName& name) {
    Handle h = OpenOwn(name, GENERIC_READ | GENERIC_WRITE, 0);
    if (!h.Valid()) throw EFOpenError(name.Path());
    File file(std::unique_ptr<Impl>(new Impl{std::move(h)}));
    file.Seek(0, Origin::End);
    return file;
}

File File::TryOpenOwnRead(const OwnName& name) {
    Handle h = OpenOwn(name, GENERIC_READ, FILE_SHARE_READ);
    if (!h.Valid()) return File();
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

void File::FlushToDisk() {
    if (!IsOpen()) throw EInOutError(IoError::FileNotOpen);
    if (!FlushFileBuffers(impl_->handle.Get())) throw EInOutError(IoError::WriteFault);
}

void File::Close() {
    if (!IsOpen()) return;
    if (!impl_->handle.Close()) throw EInOutError(IoError::WriteFault);
}

namespace {
// "Full access for the user running this program, nothing inherited": the text form of a security
// descriptor with that user's SID in it.
std::string OwnerOnlyDescriptor() {
    HANDLE token = nullptr;
    if (!LATE_BOUND(L"advapi32.dll", OpenProcessToken)(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    Handle owned(token);
    std::vector<char> user(256);
    DWORD needed = 0;
    while (!LATE_BOUND(L"advapi32.dll", GetTokenInformation)(token, TokenUser, user.data(),
                                                              static_cast<DWORD>(user.size()), &needed)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= user.size()) return {};
        user.resize(needed);
    }
    char* sid = nullptr;
    if (!LATE_BOUND(L"advapi32.dll", ConvertSidToStringSidA)(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid,
                                                             &sid))
        return {};
    const std::string descriptor = std::string("D:P(A;;FA;;;") + sid + ")";
    LocalFree(sid);
    return descriptor;
}
} // namespace

void WriteNewFile(const std::string& path, const std::string& bytes, bool ownerOnly) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    if (ownerOnly) {
        const std::string descriptor = OwnerOnlyDescriptor();
        if (descriptor.empty() ||
            !LATE_BOUND(L"advapi32.dll", ConvertStringSecurityDescriptorToSecurityDescriptorA)(
                descriptor.c_str(), SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr))
            throw EFCreateError(path); // a secret is never written readable by others
    }
    Handle h(CreateFileA(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (attributes.lpSecurityDescriptor) LocalFree(attributes.lpSecurityDescriptor);
    if (!h.Valid()) throw EFCreateError(path);
    File file(std::unique_ptr<File::Impl>(new File::Impl{std::move(h)}));
    file.Write(bytes.data(), bytes.size());
    file.Close();
}

bool ReadWholeFile(const std::string& path, const std::function<void(const unsigned char*, size_t)>& onPiece) {
    MappedFile file;
    if (!file.Open(path)) return false;
    // Successive views keep the address space needed small, so files of any size are read in a 32-bit
    // process.
    const uint64_t size = file.Size();
    const size_t view = size_t(64) << 20; // a multiple of every view granularity
    for (uint64_t offset = 0; offset < size;) {
        const size_t length = static_cast<size_t>(size - offset < view ? size - offset : view);
        const unsigned char* bytes = file.View(offset, length);
        if (!bytes) return false;
        onPiece(bytes, length);
        offset += length;
    }
    return true;
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
