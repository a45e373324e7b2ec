#include "widgets/GuiErrors.h"

#include "platform/win32/ScopedOwner.h"

#include <cstdio>

namespace {
// Memory the system allocated for the program (FORMAT_MESSAGE_ALLOCATE_BUFFER).
struct LocalMemoryTraits {
    static char* InvalidValue() { return nullptr; }
    static bool Free(char* memory) { return LocalFree(memory) == nullptr; }
};

// The system's text for a result, without its line break; a code where the system has none.
std::string ResultText(HRESULT result) {
    platform::win32::ScopedOwner<char*, LocalMemoryTraits> text;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, static_cast<DWORD>(result), 0, reinterpret_cast<char*>(text.Put()), 0, nullptr);
    std::string message = text ? text.Get() : "";
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    if (message.empty()) {
        char code[32];
        std::snprintf(code, sizeof code, "OLE error %08lX", static_cast<unsigned long>(result));
        message = code;
    }
    return message;
}
} // namespace

EOleError::EOleError(HRESULT result) : Exception(ResultText(result)), result_(result) {}
