// Owners of Win32 handles: each closes its handle in the same scope that opened it.
#pragma once

#include "platform/win32/ScopedOwner.h"
#include "platform/win32/WinInetApi.h"

#include <windows.h>

namespace platform::win32 {

// A kernel handle (file, mapping, process, token). Functions return either null or
// INVALID_HANDLE_VALUE for "none", so both count as none.
struct KernelHandleTraits {
    static HANDLE InvalidValue() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static bool Free(HANDLE h) { return CloseHandle(h) != FALSE; }
};
using Handle = ScopedOwner<HANDLE, KernelHandleTraits>;

// A WinINet session or request.
struct InternetHandleTraits {
    static HINTERNET InvalidValue() { return nullptr; }
    static bool Free(HINTERNET h) { return WinInet().InternetCloseHandle(h) != FALSE; }
};
using InternetHandle = ScopedOwner<HINTERNET, InternetHandleTraits>;

// A mapped view of a file.
struct MappedViewTraits {
    static const void* InvalidValue() { return nullptr; }
    static bool Free(const void* view) { return UnmapViewOfFile(view) != FALSE; }
};
using MappedView = ScopedOwner<const void*, MappedViewTraits>;

// A directory search (FindFirstFile).
struct FindHandleTraits {
    static HANDLE InvalidValue() { return INVALID_HANDLE_VALUE; }
    static bool Free(HANDLE h) { return FindClose(h) != FALSE; }
};
using FindHandle = ScopedOwner<HANDLE, FindHandleTraits>;

} // namespace platform::win32
