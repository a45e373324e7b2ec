// Signed update sets. The operator signs files.lst.bz2 with an Ed25519 key (in its prehashed form,
// so that a list of any size is checked in bounded memory); a launcher built with the public key
// refuses any list the key's holder did not sign. The signature travels beside the list as
// files.lst.bz2.sig, one line of text.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

using TListPublicKey = std::array<uint8_t, 32>;
using TListSecretKey = std::array<uint8_t, 64>;
using TListSignature = std::array<uint8_t, 64>;

// The signature file's one line: this prefix, 128 hexadecimal digits, then an optional line end.
inline constexpr char kSignatureFilePrefix[] = "vandrel-list-signature ed25519ph ";
// The secret key file written by vandrel-publish --keygen: this prefix, 128 hexadecimal digits.
inline constexpr char kSecretKeyFilePrefix[] = "vandrel-list-secret-key ed25519 ";
// A signature file longer than this is not one: its download stops there.
inline constexpr int64_t kSignatureFileMaxBytes = 1024;

std::optional<TListSignature> ParseSignatureFile(const std::string& text);
std::string FormatSignatureFile(const TListSignature& signature);
std::optional<TListSecretKey> ParseSecretKeyFile(const std::string& text);
std::string FormatSecretKeyFile(const TListSecretKey& key);
// 64 hexadecimal digits, as the launcher's build takes it; blanks and a line end around it are allowed.
std::optional<TListPublicKey> ParsePublicKeyHex(const std::string& text);

void GenerateListKeyPair(TListPublicKey* publicKey, TListSecretKey* secretKey);
TListPublicKey PublicKeyOf(const TListSecretKey& secretKey);
// Signs and checks the exact bytes of a file. Both raise EFOpenError or EReadError when it cannot be read.
TListSignature SignFile(const std::string& path, const TListSecretKey& key);
bool VerifyFileSignature(const std::string& path, const TListSignature& signature, const TListPublicKey& key);
