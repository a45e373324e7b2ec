// The narrow operating-system interface of the launcher. Everything the portable code needs from the
// OS goes through here; platform/win32 implements it with the Win32 API, platform/posix with POSIX
// and libcurl. Paths are ANSI byte strings with "\" between folder names, exactly as the launcher
// builds them; the POSIX backend turns "\" into "/".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// ---- files and folders -------------------------------------------------------------------------

bool IsFile(const std::string& path);   // an existing file; a folder of that name does not count
bool IsFolder(const std::string& path); // an existing folder
// Whether the name is a link to something else (a symbolic link, a junction or another reparse point)
// rather than a file or folder of its own. Under Wine only links to folders are seen: a link to a file
// looks like the file.
bool IsLink(const std::string& path);
// Creates the folder with every missing parent; true when the folder exists afterwards. Folders on the
// way may be links (a game folder the player keeps on another disk).
bool MakeFolders(const std::string& path);
// Creates root, then each folder of relative ("\"-separated, may be empty) below it, for a folder the
// launcher owns: false when any of them is a link or a file, so nothing is ever created through a
// link planted on one of its names. root's own parents are made as MakeFolders makes them.
[[nodiscard]] bool MakeOwnFolders(const std::string& root, const std::string& relative = std::string());
// Removes a file as a name: a link (to a file, to a folder, or to nothing) goes, what it points at
// stays. False when nothing was removed: missing, a real folder, or refused. Where the system cannot
// remove a folder link without touching its target (Wine), the link stays and the result is false.
bool RemoveFile(const std::string& path);
// Whether an existing file can be opened for writing (not read-only, not locked, rights granted).
bool CanWrite(const std::string& path);
// Copies a file's contents to a new file at to: an existing name there, link or not, is removed first
// as a name, then the copy is created exclusively. False when either step fails.
bool CopyFileReplacing(const std::string& from, const std::string& to);
// Makes a new name for an existing file (a hard link): both names are then the same file. False when
// the name is taken or the file system cannot (another volume, no links).
bool MakeHardLink(const std::string& existing, const std::string& newName);
// Renames a file over an existing target in one step, so readers see the old or the new file only.
// A link on the target's name is replaced as a name; what it pointed at stays.
bool MoveFileReplacing(const std::string& from, const std::string& to);
// The process's current folder, without a trailing separator (unless it is a root).
std::string CurrentFolder();
bool SetCurrentFolder(const std::string& path);
// The Windows folder (GetWindowsDirectory); empty when it cannot be had.
std::string WindowsFolder();
// The names in a folder (files, folders and links alike; not "." or ".."); empty when it cannot be read.
std::vector<std::string> ListFolder(const std::string& path);
// Deletes a folder and everything in it for good, silently, without crossing links: a link inside it,
// or the folder itself when it is one, is removed as a link (see RemoveFile) and its target is untouched.
void DeleteFolderTree(const std::string& path);
// Starts a program in a restored window without waiting for it; the command line is the quoted path.
void StartProgram(const std::string& path);
// The full path of the running executable.
std::string OwnExecutablePath();

// A name of the launcher's own: relative ("\"-separated) below anchor, a folder that may itself be
// reached through links (the install folder, which a player may keep on another disk). No name of
// relative may be a link.
struct OwnName {
    std::string anchor;
    std::string relative;
    std::string Path() const { return anchor + "\\" + relative; }
};

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
    // Creates a new file for reading and writing, shared with nobody. An existing name, link or not,
    // is removed first as a name (see RemoveFile), then the file is created exclusively, so nothing is
    // ever written through a link.
    static File Create(const std::string& path); // throws EFCreateError
    // The same two where failing is an expected outcome: a file that is not open (IsOpen() false).
    static File TryOpenRead(const std::string& path);
    static File TryCreate(const std::string& path);
    // Opens an existing file for writing and empties it, keeping its attributes and permissions.
    static File Rewrite(const std::string& path); // throws EFCreateError
    // Opens an existing file of the launcher's own for reading and writing, at its end, shared with
    // nobody. Never through a link: the file must be where its name says, with no link on any name of
    // name.relative (on Windows also none the system does not show as a reparse point, such as a
    // Wine link to a file).
    static File OpenAppend(const OwnName& name); // throws EFOpenError
    // The same rule for reading a file of the launcher's own (others may read it too): a file that is
    // not open when it is missing, cannot be read, or is reached through a link.
    static File TryOpenOwnRead(const OwnName& name);

    bool IsOpen() const;
    // Reads up to count bytes; 0 at the end. Throws EInOutError on a failed read.
    size_t Read(void* buffer, size_t count);
    // Writes all bytes or throws EInOutError (disk full, no rights).
    void Write(const void* buffer, size_t count);
    int64_t Seek(int64_t offset, Origin origin);
    int64_t Size();
    // Hands everything written to the disk itself (FlushFileBuffers, fsync). Throws EInOutError.
    void FlushToDisk();
    // Closes the file; throws EInOutError when the system reports a failure (data not written).
    void Close();

private:
    friend void WriteNewFile(const std::string& path, const std::string& bytes, bool ownerOnly);
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

// Writes a file that must not exist yet, not even as a link (EFCreateError otherwise, or when it cannot
// be created; EInOutError when it cannot be written). With ownerOnly, only the user who runs the
// program may read or write it: mode 0600, or on Windows an access list that grants that user alone
// and inherits nothing from the folder.
void WriteNewFile(const std::string& path, const std::string& bytes, bool ownerOnly);

// Feeds a whole file's bytes to onPiece in order, the cheapest way the system has (views of a mapping
// on Windows, one buffer that stays in the processor's cache on POSIX). False when the file cannot be
// opened or read to its end; onPiece may then have seen part of it.
bool ReadWholeFile(const std::string& path, const std::function<void(const unsigned char*, size_t)>& onPiece);

// A new version of a file, written beside it and put in its place in one step: readers see the old
// file or the new one, never a part of either, and the old file is intact until then. The new
// version is written into target + temporarySuffix in the same folder (created new, as File::Create
// creates); an object that is never committed removes it.
class Replacement {
public:
    enum class Mode {
        Plain,          // the new file takes the place of the old one
        KeepAttributes, // the old file's attributes and permissions carry over (ReplaceFileA on Windows)
    };

    Replacement(std::string target, const std::string& temporarySuffix); // throws EFCreateError
    ~Replacement();
    Replacement(Replacement&&) noexcept;
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;
    Replacement& operator=(Replacement&&) = delete;

    File& Output() { return output_; }
    const std::string& Target() const { return target_; }
    const std::string& TemporaryPath() const { return temporary_; }
    // Closes the new version (and with toDisk, flushes it to the disk first). Throws EInOutError when
    // its data could not be written. Commit finishes by itself.
    void Finish(bool toDisk = false);
    // Renames the new version over the target. False when the system refuses: the target is then
    // unchanged and the new version removed.
    [[nodiscard]] bool Commit(Mode mode = Mode::Plain, bool toDisk = false);

private:
    std::string target_;
    std::string temporary_;
    File output_;
    bool committed_ = false;
};

// ---- HTTP ---------------------------------------------------------------------------------------

// The body of one opened URL, read in the order it arrives.
class HttpBody {
public:
    virtual ~HttpBody() = default;
    // Reads up to count bytes into buffer. Returns false when the transfer failed (connection reset,
    // cut body); *received is 0 at the end of the body.
    virtual bool Read(void* buffer, size_t count, size_t* received) = 0;
    // The response's status code; 0 when the system does not tell.
    virtual int Status() const = 0;
    // What names this exact body for a later request of its rest (If-Range): its ETag when that is a
    // strong one, else its Last-Modified date; empty when the response has neither.
    virtual std::string Validator() const = 0;
    // For an answer with part of the body (206), the offset of its first byte; -1 otherwise.
    virtual int64_t RangeStart() const = 0;
};

// What a download asks of the server beyond the whole body.
struct HttpRequest {
    int64_t rangeFrom = -1; // 0 or more: only the bytes from this offset on (a Range request)
    std::string ifRange;    // with rangeFrom: only while the body is still the one this validator names;
                            // a server that finds it changed answers with the whole body
};

// Opens a URL with the launcher's agent name through the system's proxy settings, bypassing and then
// dropping the URL's cache entry. Null when the URL cannot be opened (no connection, unknown host).
// The HTTP status is not examined here: an error page is a body like any other.
std::unique_ptr<HttpBody> OpenUrl(const std::string& url, const HttpRequest& request = HttpRequest());

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
