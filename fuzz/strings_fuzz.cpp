// SplitReversed, FindFrom and ReplaceAll against plain reference implementations.
#include "support/Misc.h"

#include <string>

namespace {
TStringList ReferenceSplit(const std::string& text, char delimiter) {
    TStringList forward;
    std::string field;
    for (char c : text) {
        if (c == delimiter) {
            if (!field.empty()) forward.push_back(field);
            field.clear();
        } else {
            field.push_back(c);
        }
    }
    if (!field.empty()) forward.push_back(field);
    return TStringList(forward.rbegin(), forward.rend());
}

size_t ReferenceFind(size_t start, const std::string& text, const std::string& pattern) {
    if (pattern.empty() || start < 1 || start > text.size()) return 0;
    size_t at = text.find(pattern, start - 1);
    return at == std::string::npos ? 0 : at + 1;
}

std::string ReferenceReplace(const std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    std::string out;
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, from.size(), from) == 0) {
            out += to;
            i += from.size();
        } else {
            out.push_back(text[i++]);
        }
    }
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    // Layout: start byte, pattern length byte, pattern, text.
    size_t start = data[0] % 8;
    size_t patternLength = data[1] % 8;
    if (2 + patternLength > size) return 0;
    std::string pattern(reinterpret_cast<const char*>(data + 2), patternLength);
    std::string text(reinterpret_cast<const char*>(data + 2 + patternLength), size - 2 - patternLength);

    if (SplitReversed(text, "|") != ReferenceSplit(text, '|')) __builtin_trap();
    if (start >= 1 && FindFrom(start, text, pattern) != ReferenceFind(start, text, pattern)) __builtin_trap();
    if (ReplaceAll(text, pattern, "/") != ReferenceReplace(text, pattern, "/")) __builtin_trap();
    if (ReplaceAll(text, pattern, pattern + pattern) != ReferenceReplace(text, pattern, pattern + pattern))
        __builtin_trap();
    return 0;
}
