#include "support/ListAdditions.h"

#include "platform/Errors.h"
#include "support/LstFile.h"
#include "support/Misc.h"

namespace {

constexpr char kMirrorsSection[] = "mirrors";
constexpr char kObjectsSection[] = "objects";
constexpr char kKeptSection[] = "kept";
constexpr char kEol[] = "\r\n";

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// A file's MD5 as the list writes it: 32 hexadecimal digits.
bool IsDigest(const std::string& text) {
    if (text.size() != 32) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

// An object's id and size, from the last two fields; nothing when they do not read as such.
std::optional<TObjectRef> ObjectRefOf(const std::string& id, const std::string& size) {
    const std::optional<TObjectId> parsed = ObjectIdFromHex(id);
    if (!parsed) return std::nullopt;
    try {
        const int64_t bytes = StrToInt64(size);
        if (bytes < 0) return std::nullopt;
        return TObjectRef{*parsed, bytes};
    } catch (const EConvertError&) {
        return std::nullopt;
    }
}

std::string RefText(const TObjectRef& ref) { return ObjectIdToHex(ref.id) + "|" + std::to_string(ref.size); }

TStringList Lines(TListFile& list, const char* section) {
    TStringList lines = list.GetSection(section);
    if (!lines.empty() && lines.front() == kListFail) lines.clear();
    return lines;
}

} // namespace

std::optional<std::string> MirrorAddress(const std::string& text) {
    if (text.size() > TListAdditions::kMaxMirrorLength) return std::nullopt;
    if (text.compare(0, 7, "http://") != 0 && text.compare(0, 8, "https://") != 0) return std::nullopt;
    const size_t host = text.find("//") + 2;
    if (host >= text.size() || text[host] == '/') return std::nullopt;
    for (unsigned char c : text)
        if (c <= 0x20 || c >= 0x7F) return std::nullopt;
    return text.back() == '/' ? text : text + "/";
}

TListAdditions TListAdditions::Read(TListFile& list) {
    TListAdditions additions;
    for (const std::string& line : Lines(list, kMirrorsSection)) {
        if (additions.mirrors_.size() == kMaxMirrors) break;
        if (const std::optional<std::string> url = MirrorAddress(line)) additions.mirrors_.push_back(*url);
    }
    for (const std::string& line : Lines(list, kObjectsSection)) {
        // Fields from the last: size, id, then the rest by kind.
        const TStringList fields = SplitReversed(line, "|");
        if (fields.size() < 4 || !IsDigest(fields[2])) continue;
        const std::optional<TObjectRef> ref = ObjectRefOf(fields[1], fields[0]);
        if (!ref) continue;
        const std::string& kind = fields.back();
        if (fields.size() == 4 && kind == "payload") {
            additions.objects_[Lower(fields[2])].payload = *ref;
        } else if (fields.size() == 4 && kind == "index") {
            additions.objects_[Lower(fields[2])].index = *ref;
        } else if (fields.size() == 5 && kind == "patch" && IsDigest(fields[3])) {
            additions.objects_[Lower(fields[3])].patches.push_back({Lower(fields[2]), *ref});
        }
    }
    for (const std::string& line : Lines(list, kKeptSection)) {
        if (additions.kept_.size() == kMaxKept) break;
        if (const std::optional<TObjectId> id = ObjectIdFromHex(line)) additions.kept_.push_back(*id);
    }
    return additions;
}

std::string TListAdditions::Format() const {
    std::string text;
    const auto section = [&](const char* name, const std::vector<std::string>& lines) {
        if (lines.empty()) return;
        text += std::string("[") + name + "]" + kEol;
        for (const std::string& line : lines) text += line + kEol;
        text += std::string("[/") + name + "]" + kEol;
    };
    section(kMirrorsSection, mirrors_);
    std::vector<std::string> objects;
    for (const auto& [digest, file] : objects_) {
        if (file.payload) objects.push_back("payload|" + digest + "|" + RefText(*file.payload));
        if (file.index) objects.push_back("index|" + digest + "|" + RefText(*file.index));
        for (const TPatchRef& patch : file.patches)
            objects.push_back("patch|" + digest + "|" + patch.fromDigest + "|" + RefText(patch.object));
    }
    section(kObjectsSection, objects);
    std::vector<std::string> kept;
    for (const TObjectId& id : kept_) kept.push_back(ObjectIdToHex(id));
    section(kKeptSection, kept);
    return text;
}

const TFileObjects* TListAdditions::ObjectsOf(const std::string& digest) const {
    const auto found = objects_.find(Lower(digest));
    return found == objects_.end() ? nullptr : &found->second;
}

TFileObjects& TListAdditions::ObjectsFor(const std::string& digest) { return objects_[Lower(digest)]; }

void TListAdditions::AddMirror(const std::string& url) {
    const std::optional<std::string> address = MirrorAddress(url);
    if (!address) throw EConvertError(url, "mirror address");
    if (mirrors_.size() == kMaxMirrors) throw EConvertError(url, "mirror (at most 16)");
    mirrors_.push_back(*address);
}
