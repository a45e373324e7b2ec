#include "widgets/WideText.h"

#include <windows.h>

#include <cstdint>

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

namespace {
// Length of the valid UTF-8 sequence at text[i], or 0.
size_t Utf8Sequence(const std::string& text, size_t i, uint32_t* code) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return 0;
    uint32_t value = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *code = value;
    return length;
}
} // namespace

std::wstring ToWide(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t code = 0;
        if (size_t length = Utf8Sequence(text, i, &code)) {
            if (code >= 0x10000) {
                code -= 0x10000;
                wide.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
                wide.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
            } else {
                wide.push_back(static_cast<wchar_t>(code));
            }
            i += length;
        } else {
            wchar_t ansi = L'?';
            MultiByteToWideChar(CP_ACP, 0, &text[i], 1, &ansi, 1);
            wide.push_back(ansi);
            ++i;
        }
    }
    return wide;
}
