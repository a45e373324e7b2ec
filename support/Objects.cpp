#include "support/Objects.h"

#include "support/LauncherNames.h"

#include <sodium.h>

#include <cstring>

static_assert(sizeof(crypto_generichash_state) <= 384, "the hasher's state does not fit");

TObjectHasher::TObjectHasher() {
    static const bool ready = sodium_init() >= 0; // picks the fastest code the processor has
    (void)ready;
    crypto_generichash_init(reinterpret_cast<crypto_generichash_state*>(state_), nullptr, 0, sizeof(TObjectId));
}

void TObjectHasher::Update(const void* data, size_t size) {
    crypto_generichash_update(reinterpret_cast<crypto_generichash_state*>(state_),
                              static_cast<const unsigned char*>(data), size);
}

TObjectId TObjectHasher::Final() {
    TObjectId id{};
    crypto_generichash_final(reinterpret_cast<crypto_generichash_state*>(state_), id.data(), id.size());
    return id;
}

TObjectId ObjectIdOf(const void* data, size_t size) {
    TObjectHasher hasher;
    hasher.Update(data, size);
    return hasher.Final();
}

std::string ObjectIdToHex(const TObjectId& id) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(id.size() * 2);
    for (uint8_t byte : id) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

std::optional<TObjectId> ObjectIdFromHex(const std::string& text) {
    TObjectId id{};
    if (text.size() != id.size() * 2) return std::nullopt;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9' ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) return std::nullopt;
        id[i / 2] = static_cast<uint8_t>(id[i / 2] << 4 | digit);
    }
    return id;
}

namespace {
const char* SuffixOf(TObjectKind kind) {
    switch (kind) {
    case TObjectKind::Payload: return names::kPayloadSuffix;
    case TObjectKind::Index: return names::kChunkIndexSuffix;
    case TObjectKind::Patch: return names::kPatchSuffix;
    case TObjectKind::List: return names::kListObjectSuffix;
    case TObjectKind::Signature: return names::kSignatureObjectSuffix;
    }
    return "";
}

std::string StorePath(TObjectKind kind, const TObjectId& id, char separator) {
    const std::string hex = ObjectIdToHex(id);
    return std::string(names::kObjectStoreFolder) + separator + hex.substr(0, 2) + separator + hex + SuffixOf(kind);
}
} // namespace

std::string ObjectStorePath(TObjectKind kind, const TObjectId& id) { return StorePath(kind, id, '\\'); }
std::string ObjectUrlPath(TObjectKind kind, const TObjectId& id) { return StorePath(kind, id, '/'); }

std::optional<TStoredObject> StoredObjectOf(const std::string& folder, const std::string& name) {
    // The longest suffix first: a list object's ".lst.bz2" also ends with a payload's ".bz2".
    for (TObjectKind kind : {TObjectKind::List, TObjectKind::Payload, TObjectKind::Index, TObjectKind::Patch,
                             TObjectKind::Signature}) {
        const std::string suffix = SuffixOf(kind);
        if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string hex = name.substr(0, name.size() - suffix.size());
        const std::optional<TObjectId> id = ObjectIdFromHex(hex);
        if (!id || ObjectIdToHex(*id) != hex || hex.compare(0, 2, folder) != 0) return std::nullopt;
        return TStoredObject{kind, *id};
    }
    return std::nullopt;
}
