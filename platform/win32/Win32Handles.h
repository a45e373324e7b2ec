// Owners of Win32 handles: each closes its handle in the same scope that opened it.
#pragma once

#include "platform/win32/WinInetApi.h"

#include <windows.h>

namespace platform::win32 {

class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~Handle() { Reset(); }
    Handle(Handle&& other) noexcept : h_(other.h_) { other.h_ = INVALID_HANDLE_VALUE; }
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            Reset();
            h_ = other.h_;
            other.h_ = INVALID_HANDLE_VALUE;
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    // Closes now and reports whether the system accepted the close.
    bool Close() {
        if (!Valid()) return true;
        BOOL ok = CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        return ok != FALSE;
    }
    void Reset() { Close(); }

private:
    HANDLE h_;
};

class InternetHandle {
public:
    explicit InternetHandle(HINTERNET h = nullptr) : h_(h) {}
    ~InternetHandle() {
        if (h_) WinInet().InternetCloseHandle(h_);
    }
    InternetHandle(InternetHandle&& other) noexcept : h_(other.h_) { other.h_ = nullptr; }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    InternetHandle& operator=(InternetHandle&&) = delete;
    HINTERNET Get() const { return h_; }

private:
    HINTERNET h_;
};

class MappedView {
public:
    MappedView() = default;
    ~MappedView() { Reset(); }
    MappedView(const MappedView&) = delete;
    MappedView& operator=(const MappedView&) = delete;
    void Reset(const void* view = nullptr) {
        if (view_) UnmapViewOfFile(view_);
        view_ = view;
    }
    const void* Get() const { return view_; }

private:
    const void* view_ = nullptr;
};

} // namespace platform::win32
