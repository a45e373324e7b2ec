#include "support/LstFile.h"

#include "platform/Errors.h"

#include <cstring>
#include <vector>

const char* const kListFail = "FAIL";

// Reads lines ending at LF; CR bytes are never part of a line.
class TListFile::LineReader {
public:
    explicit LineReader(platform::File& file) : file_(file), buffer_(64 * 1024) {}

    bool Next(std::string& line) {
        line.clear();
        bool any = false;
        for (;;) {
            if (pos_ == end_) {
                if (!Fill()) return any;
            }
            any = true;
            const char* start = buffer_.data() + pos_;
            const char* stop = buffer_.data() + end_;
            const char* lf = static_cast<const char*>(memchr(start, '\n', stop - start));
            const char* upTo = lf ? lf : stop;
            for (const char* p = start; p < upTo; ++p)
                if (*p != '\r') line.push_back(*p);
            if (line.size() > kMaxListLine) throw EListLineTooLong();
            pos_ = (upTo - buffer_.data()) + (lf ? 1 : 0);
            if (lf) return true;
        }
    }

private:
    bool Fill() {
        const size_t got = file_.Read(buffer_.data(), buffer_.size()); // EInOutError on a failed read
        pos_ = 0;
        end_ = got;
        return got > 0;
    }

    platform::File& file_;
    std::vector<char> buffer_;
    size_t pos_ = 0;
    size_t end_ = 0;
};

TListFile::TListFile(std::string path) : path_(std::move(path)) {}

TListFile::~TListFile() = default;

void TListFile::Reopen() {
    file_ = platform::File::TryOpenRead(path_);
    if (!file_.IsOpen()) throw EInOutError(IoError::FileNotFound); // file not found or not readable
}

template <typename OnLine> void TListFile::ScanSection(const std::string& section, OnLine onLine) {
    Reopen();
    const std::string startLine = "[" + section + "]";
    const std::string endLine = "[/" + section + "]";
    LineReader reader(file_);
    std::string line;
    while (reader.Next(line)) {
        if (Trim(line) != startLine) continue;
        // A missing end line ends the section at the end of the file.
        while (reader.Next(line)) {
            std::string trimmed = Trim(line);
            if (trimmed == endLine) return;
            if (!trimmed.empty() && !onLine(trimmed)) return;
        }
        return;
    }
}

TStringList TListFile::GetSection(const std::string& section) {
    TStringList result;
    ScanSection(section, [&](const std::string& line) {
        result.push_back(line);
        return true;
    });
    if (result.empty()) result.push_back(kListFail);
    return result;
}

std::string TListFile::GetValue(const std::string& section, const std::string& key) {
    std::string value;
    ScanSection(section, [&](const std::string& line) {
        TStringList fields = SplitReversed(line, "|");
        if (fields.empty()) return true; // a line of "|" only has no key: skip it
        if (fields.back() == key) {
            value = fields.front();
            return false;
        }
        return true;
    });
    return value;
}

TFileEntry TFileEntry::Parse(const std::string& line) {
    const TStringList fields = SplitReversed(line, "|");
    const std::string& path = ItemAt(fields, 2);
    return TFileEntry{path, fields[1], fields[0]};
}
