#include "widgets/WideText.h"

#include <windows.h>

namespace {
std::wstring Convert(UINT codePage, const std::string& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), size);
    return wide;
}
} // namespace

std::wstring Utf8ToWide(const std::string& text) { return Convert(CP_UTF8, text); }
std::wstring AnsiToWide(const std::string& text) { return Convert(CP_ACP, text); }
