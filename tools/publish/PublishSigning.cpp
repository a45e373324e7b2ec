#include "tools/publish/PublishSigning.h"

#include "platform/Platform.h"
#include "support/Hex.h"
#include "support/LauncherNames.h"
#include "tools/publish/PublishList.h"
#include "tools/publish/PublishNames.h"

namespace publish {
namespace {

std::string ReadSmallFile(const std::string& path, const std::string& what) {
    std::string text;
    try {
        platform::File file = platform::File::OpenRead(path);
        char buffer[4096];
        for (size_t got; text.size() < (1 << 16) && (got = file.Read(buffer, sizeof buffer)) > 0;)
            text.append(buffer, got);
    } catch (const Exception&) {
        throw EPublishError("cannot read the " + what + " " + path);
    }
    return text;
}

// Creates path for the first time; a secret key is readable by its owner only.
void WriteNewFile(const std::string& path, const std::string& text, bool secret) {
    try {
        platform::WriteNewFile(path, text, secret);
    } catch (const EFCreateError&) {
        throw EPublishError("cannot create " + path + " (it must not exist yet)");
    }
}

} // namespace

std::string GenerateKeyFiles(const std::string& folder) {
    if (!platform::IsFolder(folder) && !platform::MakeFolders(folder))
        throw EPublishError("cannot create the folder " + folder);
    const std::string secretPath = folder + "\\" + kSecretKeyFileName, publicPath = folder + "\\" + kPublicKeyFileName;
    if (platform::IsFile(secretPath) || platform::IsFile(publicPath))
        throw EPublishError("a key pair is already in " + folder + "; a new one would lock out every launcher "
                            "built with the old public key");
    TListPublicKey publicKey{};
    TListSecretKey secretKey{};
    GenerateListKeyPair(&publicKey, &secretKey);
    const std::string digits = ToHex(publicKey.data(), publicKey.size());
    WriteNewFile(secretPath, FormatSecretKeyFile(secretKey), true);
    WriteNewFile(publicPath, digits + "\n", false);
    return digits;
}

TListSecretKey LoadSecretKeyFile(const std::string& path) {
    const std::optional<TListSecretKey> key = ParseSecretKeyFile(ReadSmallFile(path, "secret key file"));
    if (!key) throw EPublishError(path + " is not a secret key file written by vandrel-publish --keygen");
    return *key;
}

TListPublicKey LoadPublicKey(const std::string& digitsOrPath) {
    if (std::optional<TListPublicKey> key = ParsePublicKeyHex(digitsOrPath)) return *key;
    const std::optional<TListPublicKey> key = ParsePublicKeyHex(ReadSmallFile(digitsOrPath, "public key file"));
    if (!key) throw EPublishError(digitsOrPath + " holds no public key (64 hexadecimal digits)");
    return *key;
}

void WriteListSignature(const std::string& outDir, const TListSecretKey& key) {
    WriteFileAside(outDir + "\\" + names::kListSignature,
                   FormatSignatureFile(SignFile(outDir + "\\" + names::kListPayload, key)));
}

} // namespace publish
