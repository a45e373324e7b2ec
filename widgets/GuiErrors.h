// The window code's own failures, as the launcher's exceptions (platform/Errors.h): a window the system
// would not make, and a COM call that had to succeed.
#pragma once

#include "platform/Errors.h"

#include <windows.h>

#include <string>

// A window class, window or child control the system would not create.
class EWindowError : public Exception {
public:
    using Exception::Exception;
};

// A COM call that failed where the launcher needs it (the shortcut's link object, the news page's
// navigation). The message is the system's text for the result, in the ANSI code page.
class EOleError : public Exception {
public:
    explicit EOleError(HRESULT result);
    HRESULT Result() const { return result_; }

private:
    HRESULT result_;
};

// Raises EOleError for a failed result; in window handlers, where RunGuarded shows it.
inline void OleCheck(HRESULT result) {
    if (FAILED(result)) throw EOleError(result);
}
