#include "support/Objects.h"

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
