// The operator's side of signed update sets: the key pair, and the signature beside the list.
#pragma once

#include "support/ListSignature.h"

#include <string>

namespace publish {

inline constexpr char kSecretKeyFileName[] = "list-signing.key";
inline constexpr char kPublicKeyFileName[] = "list-signing.pub";

// Writes a new key pair into folder (created if needed): the secret key readable by its owner only,
// the public key as the 64 hexadecimal digits a launcher is built with. Refuses to replace either
// file. Returns the public key's digits. Throws EPublishError.
std::string GenerateKeyFiles(const std::string& folder);
// Reads a secret key file written by GenerateKeyFiles. Throws EPublishError.
TListSecretKey LoadSecretKeyFile(const std::string& path);
// A public key given as its digits or as the name of a file holding them. Throws EPublishError.
TListPublicKey LoadPublicKey(const std::string& digitsOrPath);
// Signs outDir's files.lst.bz2 and puts files.lst.bz2.sig beside it (written aside, then renamed).
void WriteListSignature(const std::string& outDir, const TListSecretKey& key);

} // namespace publish
