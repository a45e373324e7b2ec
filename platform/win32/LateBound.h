// A function of a system library, loaded at its first use instead of at start-up: the launcher's
// window comes up before libraries it needs only later (network, shell, automation) are loaded.
#pragma once

#include <windows.h>

#include "platform/Errors.h"

#include <string>

namespace platform::win32 {

// The library stays loaded for the life of the process, as an import would. Raises when the system
// lacks the library or the function.
template <typename F> F LateBound(const wchar_t* library, const char* name) {
    HMODULE module = LoadLibraryW(library);
    F function = module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
    if (!function) throw Exception(std::string("The system has no ") + name);
    return function;
}

} // namespace platform::win32

// One late-bound function, looked up once (thread-safe): LATE_BOUND(L"shell32.dll", ShellExecuteA)(...).
#define LATE_BOUND(library, function)                                                                              \
    ([]() -> decltype(&::function) {                                                                               \
        static const auto bound = ::platform::win32::LateBound<decltype(&::function)>(library, #function);        \
        return bound;                                                                                              \
    }())
