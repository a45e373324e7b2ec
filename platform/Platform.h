// The narrow operating-system interface of the launcher. Everything the portable code needs from the
// OS goes through here; platform/win32 implements it with the Win32 API, platform/posix with POSIX
// and libcurl. Paths are ANSI byte strings with "\" between folder names, exactly as the launcher
// builds them; the POSIX backend turns "\" into "/".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// ---- files and folders -------------------------------------------------------------------------

bool IsFile(const std::string& path);   // an existing file; a folder of that name does not count
bool IsFolder(const std::string& path); // an existing folder
// Creates the folder with every missing parent; true when the folder exists afterwards.
bool MakeFolders(const std::string& path);
bool RemoveFile(const std::string& path);
// Whether an existing file can be opened for writing (not read-only, not locked, rights granted).
bool CanWrite(const std::string& path);
// Copies a file, replacing an existing target (CopyFileA with overwriting allowed).
bool CopyFileReplacing(const std::string& from, const std::string& to);
// Renames a file over an existing target in one step, so readers see the old or the new file only.
bool MoveFileReplacing(const std::string& from, const std::string& to);
// Puts replacement in place of target in one step, keeping target's attributes and permissions
// (ReplaceFileA on Windows). False when the system refuses; then target is unchanged.
bool ReplaceFileKeepingAttributes(const std::string& replacement, const std::string& target);
// The process's current folder, without a trailing separator (unless it is a root).
std::string CurrentFolder();
bool SetCurrentFolder(const std::string& path);
// The Windows folder (GetWindowsDirectory); empty when it cannot be had.
std::string WindowsFolder();
// Deletes a folder and everything in it for good, silently (SHFileOperation on Windows).
void DeleteFolderTree(const std::string& path);
// Starts a program in a restored window without waiting for it; the command line is the quoted path.
void StartProgram(const std::string& path);
// The full path of the running executable.
std::string OwnExecutablePath();

// A binary file opened for reading, or created for reading and writing. Errors throw.
class File {
public:
    enum class Origin { Begin, Current, End };

    File();
    ~File();
    File(File&&) noexcept;
    File& operator=(File&&) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens an existing file for reading; other programs may read it but not write it.
    static File OpenRead(const std::string& path); // throws EFOpenError
    // Creates or empties a file for reading and writing, shared with nobody.
    static File Create(const std::string& path); // throws EFCreateError
    // Opens an existing file for writing and empties it, keeping its attributes and permissions.
    static File Rewrite(const std::string& path); // throws EFCreateError

    bool IsOpen() const;
    // Reads up to count bytes; 0 at the end. Throws EInOutError on a failed read.
    size_t Read(void* buffer, size_t count);
    // Writes all bytes or throws EInOutError (disk full, no rights).
    void Write(const void* buffer, size_t count);
    int64_t Seek(int64_t offset, Origin origin);
    int64_t Size();
    // Closes the file; throws EInOutError when the system reports a failure (data not written).
    void Close();

private:
    struct Impl;
    explicit File(std::unique_ptr<Impl> impl); // an opened file's owner
    std::unique_ptr<Impl> impl_;
};

// A read-only mapping of a whole file, viewed piece by piece so that files larger than the address
// space of a 32-bit process can still be read.
class MappedFile {
public:
    MappedFile();
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // False when the file cannot be opened or mapped (missing, locked, empty on Windows).
    bool Open(const std::string& path);
    uint64_t Size() const;
    // Maps [offset, offset + length) and returns its first byte, or null; the previous view is released.
    // offset must be a multiple of ViewGranularity().
    const unsigned char* View(uint64_t offset, size_t length);
    static size_t ViewGranularity();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// ---- HTTP ---------------------------------------------------------------------------------------

// The body of one opened URL, read in the order it arrives.
class HttpBody {
public:
    virtual ~HttpBody() = default;
    // Reads up to count bytes into buffer. Returns false when the transfer failed (connection reset,
    // cut body); *received is 0 at the end of the body.
    virtual bool Read(void* buffer, size_t count, size_t* received) = 0;
};

// Opens a URL with the launcher's agent name through the system's proxy settings, bypassing and then
// dropping the URL's cache entry. Null when the URL cannot be opened (no connection, unknown host).
// The HTTP status is not examined: an error page is a body like any other.
std::unique_ptr<HttpBody> OpenUrl(const std::string& url);

// How long a body may deliver nothing before its read fails (default 60 seconds).
void SetHttpStallTimeout(int seconds);

// ---- INI profile files ---------------------------------------------------------------------------

std::string ReadIniString(const std::string& path, const std::string& section, const std::string& key,
                              const std::string& fallback);
// Creates the file and the section when missing, replaces the key's line in place, keeps every other
// line. False when the system refuses the write.
bool WriteIniString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value);

} // namespace platform
