#include "support/ListSignature.h"

#include "platform/Errors.h"
#include "support/Hex.h"
#include "support/Stream.h"

#include <sodium.h>

#include <cstring>
#include <vector>

namespace {
void EnsureSodium() {
    static const bool ready = sodium_init() >= 0;
    if (!ready) throw Exception("The signature library cannot start");
}

// The text after prefix up to an optional final line end ("\n" or "\r\n").
std::optional<std::string> LineAfter(const std::string& text, const char* prefix) {
    const size_t prefixLength = std::strlen(prefix);
    if (text.compare(0, prefixLength, prefix) != 0) return std::nullopt;
    std::string rest = text.substr(prefixLength);
    if (!rest.empty() && rest.back() == '\n') rest.pop_back();
    if (!rest.empty() && rest.back() == '\r') rest.pop_back();
    return rest;
}

// Feeds the file's bytes to the prehashing state in pieces.
void HashFile(const std::string& path, crypto_sign_state* state) {
    TFileStream file(path, TFileStream::Mode::OpenReadDenyWrite);
    std::vector<unsigned char> buffer(1 << 16);
    for (int32_t got; (got = file.Read(buffer.data(), static_cast<int32_t>(buffer.size()))) > 0;)
        crypto_sign_update(state, buffer.data(), static_cast<unsigned long long>(got));
}
} // namespace

std::optional<TListSignature> ParseSignatureFile(const std::string& text) {
    const std::optional<std::string> digits = LineAfter(text, kSignatureFilePrefix);
    if (!digits) return std::nullopt;
    return FromHex<64>(*digits);
}

std::string FormatSignatureFile(const TListSignature& signature) {
    return kSignatureFilePrefix + ToHex(signature.data(), signature.size()) + "\n";
}

std::optional<TListSecretKey> ParseSecretKeyFile(const std::string& text) {
    const std::optional<std::string> digits = LineAfter(text, kSecretKeyFilePrefix);
    if (!digits) return std::nullopt;
    std::optional<TListSecretKey> key = FromHex<64>(*digits);
    // The second half is the public key; it must belong to the first.
    if (key && PublicKeyOf(*key) != *FromHex<32>(digits->substr(64))) return std::nullopt;
    return key;
}

std::string FormatSecretKeyFile(const TListSecretKey& key) {
    return kSecretKeyFilePrefix + ToHex(key.data(), key.size()) + "\n";
}

std::optional<TListPublicKey> ParsePublicKeyHex(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::nullopt;
    const size_t last = text.find_last_not_of(" \t\r\n");
    return FromHex<32>(text.substr(first, last - first + 1));
}

void GenerateListKeyPair(TListPublicKey* publicKey, TListSecretKey* secretKey) {
    EnsureSodium();
    crypto_sign_keypair(publicKey->data(), secretKey->data());
}

TListPublicKey PublicKeyOf(const TListSecretKey& secretKey) {
    EnsureSodium();
    // Derived from the seed (the first half), not copied from the second, so that a damaged key file shows.
    unsigned char seed[crypto_sign_SEEDBYTES];
    crypto_sign_ed25519_sk_to_seed(seed, secretKey.data());
    TListPublicKey key{};
    TListSecretKey derived{};
    crypto_sign_seed_keypair(key.data(), derived.data(), seed);
    sodium_memzero(seed, sizeof seed);
    sodium_memzero(derived.data(), derived.size());
    return key;
}

TListSignature SignFile(const std::string& path, const TListSecretKey& key) {
    EnsureSodium();
    crypto_sign_state state;
    crypto_sign_init(&state);
    HashFile(path, &state);
    TListSignature signature{};
    crypto_sign_final_create(&state, signature.data(), nullptr, key.data());
    return signature;
}

bool VerifyFileSignature(const std::string& path, const TListSignature& signature, const TListPublicKey& key) {
    EnsureSodium();
    crypto_sign_state state;
    crypto_sign_init(&state);
    HashFile(path, &state);
    TListSignature copy = signature; // the library takes a writable pointer
    return crypto_sign_final_verify(&state, copy.data(), key.data()) == 0;
}
