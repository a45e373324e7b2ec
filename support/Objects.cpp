#include "support/Objects.h"

#include "platform/Platform.h"
#include "support/Hex.h"

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

std::optional<TObjectId> ObjectIdOfFile(const std::string& path) {
    // An empty file is read without any piece, as one that cannot be read: its size tells them apart.
    TObjectHasher hasher;
    if (!platform::ReadWholeFile(path, [&](const unsigned char* bytes, size_t size) { hasher.Update(bytes, size); })) {
        platform::File file = platform::File::TryOpenRead(path);
        if (!file.IsOpen() || file.Size() != 0) return std::nullopt;
    }
    return hasher.Final();
}

std::string ObjectIdToHex(const TObjectId& id) { return ToHex(id.data(), id.size()); }

std::optional<TObjectId> ObjectIdFromHex(const std::string& text) { return FromHex<std::tuple_size_v<TObjectId>>(text); }
