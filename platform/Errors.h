// The launcher's exception classes. Each carries the message the player or operator sees.
//
// Error policy, for every unit: inside an update run and in window handlers, failures are exceptions
// of these types (never a bare std::runtime_error, and never caught only to be raised again as another
// kind). Where failure is an expected outcome (a download, a rename refused), functions return an
// outcome value marked [[nodiscard]]. Reason strings are for validation messages only.
#pragma once

#include <stdexcept>
#include <string>

// Base of every error the launcher raises itself.
class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What failed in an input/output error; the numbers are the ones the message shows.
enum class IoError : int {
    FileNotFound = 2,  // a file to read is missing or cannot be opened
    CannotCreate = 3,  // a file or folder cannot be created or made current (missing folder, name too long)
    AccessDenied = 5,  // the system refused a write, a rename or a folder
    ReadFault = 100,   // a read failed
    WriteFault = 101,  // a write or a close failed (disk full)
    FileNotOpen = 103, // the file is not open
    SeekFault = 131,   // a seek failed
};

// The text-file layer's input/output error (open, read, write or close of a file failed).
class EInOutError : public Exception {
public:
    explicit EInOutError(IoError code)
        : Exception("I/O error " + std::to_string(static_cast<int>(code))), code_(code) {}
    IoError Code() const { return code_; }

private:
    IoError code_;
};

// A file stream could not open an existing file.
class EFOpenError : public Exception {
public:
    explicit EFOpenError(const std::string& path) : Exception("Cannot open file \"" + path + "\"") {}
};

// A file stream could not create a file.
class EFCreateError : public Exception {
public:
    explicit EFCreateError(const std::string& path) : Exception("Cannot create file \"" + path + "\"") {}
};

// An exact read or write moved fewer bytes than asked for.
class EReadError : public Exception {
public:
    EReadError() : Exception("Stream read error") {}
};
class EWriteError : public Exception {
public:
    EWriteError() : Exception("Stream write error") {}
};

class EOutOfMemory : public Exception {
public:
    EOutOfMemory() : Exception("Out of memory") {}
};

// Text that is not a decimal integer, or (with a kind such as "boolean") not a value of that kind.
class EConvertError : public Exception {
public:
    explicit EConvertError(const std::string& text) : EConvertError(text, "integer") {}
    EConvertError(const std::string& text, const std::string& kind)
        : Exception("'" + text + "' is not a valid " + kind + " value") {}
};

// A string list was asked for an index it does not have.
class EStringListError : public Exception {
public:
    explicit EStringListError(long index) : Exception("List index out of bounds (" + std::to_string(index) + ")") {}
};

// An operation that the object's state does not allow.
class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};
