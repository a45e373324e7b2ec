#include "support/Misc.h"

#include "platform/Platform.h"
#include "platform/Errors.h"

#include <cstring>
#include <vector>

TStringList SplitReversed(const std::string& text, const std::string& delimiters) {
    TStringList fields;
    size_t end = text.size(); // the working copy is text[0, end)
    for (;;) {
        size_t p = end == 0 ? std::string::npos : text.find_last_of(delimiters, end - 1);
        size_t fieldStart = p == std::string::npos ? 0 : p + 1;
        if (fieldStart < end) fields.push_back(text.substr(fieldStart, end - fieldStart));
        if (p == std::string::npos) break;
        end = p;
    }
    return fields;
}

size_t FindFrom(size_t start, const std::string& text, const std::string& pattern) {
    const size_t m = pattern.size();
    const size_t n = text.size();
    if (m == 0) return 0;
    if (start < 1) start = 1;

    size_t shift[256];
    for (size_t& s : shift) s = m;
    for (size_t k = m; k >= 1; --k) {
        unsigned char c = static_cast<unsigned char>(pattern[k - 1]);
        if (shift[c] == m) shift[c] = m - k;
    }

    const char last = pattern[m - 1];
    size_t e = start + m - 1; // 1-based text position under the pattern's last byte
    while (e <= n) {
        const char c = text[e - 1];
        if (c != last) {
            e += shift[static_cast<unsigned char>(c)];
            continue;
        }
        size_t j = m - 1;
        while (j >= 1 && pattern[j - 1] == text[e - 1 - (m - j)]) --j;
        if (j == 0) return e - m + 1;
        ++e;
    }
    return 0;
}

std::string ReplaceAll(const std::string& text, const std::string& oldPart, const std::string& newPart) {
    if (oldPart.empty()) return text;
    std::string result;
    result.reserve(text.size());
    size_t rest = 0;
    for (;;) {
        size_t hit = text.find(oldPart, rest);
        if (hit == std::string::npos) break;
        result.append(text, rest, hit - rest);
        result += newPart;
        rest = hit + oldPart.size();
    }
    result.append(text, rest, std::string::npos);
    return result;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void CopyFileInto(const std::string& from, platform::File& to) {
    platform::File source = platform::File::OpenRead(from);
    std::vector<char> buffer(size_t(1) << 20);
    for (size_t got; (got = source.Read(buffer.data(), buffer.size())) > 0;) to.Write(buffer.data(), got);
}

void DeleteFolder(const std::string& path) {
    if (!platform::IsFolder(path) && !platform::IsLink(path)) return;
    platform::DeleteFolderTree(path);
}

std::string ExtractFilePath(const std::string& path) {
    size_t p = path.find_last_of("\\:");
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

void RunProgram(const std::string& path) {
    const std::string folder = ExtractFilePath(path);
    if (!folder.empty() && !platform::SetCurrentFolder(folder)) throw EInOutError(IoError::CannotCreate);
    platform::StartProgram(path);
}

std::string Trim(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32) --e;
    return text.substr(b, e - b);
}

int64_t StrToInt64(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size()) throw EConvertError(text);
    // Accumulated as a magnitude that may reach 2^63 (the most negative value), checked before it could
    // pass it.
    const uint64_t most = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') throw EConvertError(text);
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (value > (most - digit) / 10) throw EConvertError(text);
        value = value * 10 + digit;
    }
    if (!negative) return static_cast<int64_t>(value);
    return value == uint64_t(INT64_MAX) + 1 ? INT64_MIN : -static_cast<int64_t>(value);
}

int32_t StrToInt(const std::string& text) {
    const int64_t value = StrToInt64(text);
    if (value > INT32_MAX || value < INT32_MIN) throw EConvertError(text);
    return static_cast<int32_t>(value);
}

const std::string& ItemAt(const TStringList& list, size_t index) {
    if (index >= list.size()) throw EStringListError(static_cast<long>(index));
    return list[index];
}
