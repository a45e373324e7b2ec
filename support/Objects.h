// Objects of an update set: every payload, chunk index, patch, list and list signature is also stored
// under a name derived from its contents (the BLAKE2b-256 hash of its bytes), written once and never
// changed. A launcher that knows an object's name knows its bytes: it can take them from any mirror or
// cache and check them before anything is done with them, and no publish can change them under it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

using TObjectId = std::array<uint8_t, 32>;

// The name of bytes fed piece by piece.
class TObjectHasher {
public:
    TObjectHasher();
    void Update(const void* data, size_t size);
    TObjectId Final();

private:
    alignas(64) unsigned char state_[384]; // crypto_generichash_state, kept opaque here
};

TObjectId ObjectIdOf(const void* data, size_t size);
// The name of a whole file's bytes; nothing when the file cannot be read to its end.
std::optional<TObjectId> ObjectIdOfFile(const std::string& path);
// 64 lower-case hexadecimal digits.
std::string ObjectIdToHex(const TObjectId& id);
// The id 64 hexadecimal digits (either case) name; nothing for any other text.
std::optional<TObjectId> ObjectIdFromHex(const std::string& text);

// What an object holds; its name ends with the kind's suffix.
enum class TObjectKind {
    Payload,   // a listed file's bzip2 payload
    Index,     // a listed file's chunk index
    Patch,     // a listed file's patch from an earlier version (zstd, that version as its prefix)
    List,      // a published files.lst.bz2
    Signature, // the signature of the list whose object has the same name
};

// An object a list names: its id and its exact size in bytes.
struct TObjectRef {
    TObjectId id{};
    int64_t size = 0;
    bool operator==(const TObjectRef& other) const { return id == other.id && size == other.size; }
};
