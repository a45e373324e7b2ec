#include "tools/publish/PublishSigning.h"

#include "platform/Platform.h"
#include "support/Stream.h"
#include "tools/publish/PublishList.h"
#include "tools/publish/PublishNames.h"

#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace publish {
namespace {

std::string Native(std::string path) {
#ifndef _WIN32
    for (char& c : path)
        if (c == '\\') c = '/';
#endif
    return path;
}

std::string ReadSmallFile(const std::string& path, const std::string& what) {
    std::ifstream in(Native(path), std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) throw EPublishError("cannot read the " + what + " " + path);
    return text.str();
}

// Creates path for the first time, with owner-only permissions where the system has them.
void WriteNewFile(const std::string& path, const std::string& text, bool secret) {
#ifndef _WIN32
    const int fd = open(Native(path).c_str(), O_WRONLY | O_CREAT | O_EXCL, secret ? 0600 : 0644);
    if (fd < 0) throw EPublishError("cannot create " + path + " (it must not exist yet)");
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (close(fd) != 0 || !written) throw EPublishError("cannot write " + path);
#else
    (void)secret; // on Windows the file takes the folder's permissions: keep the folder private
    if (platform::IsFile(path)) throw EPublishError("cannot create " + path + " (it must not exist yet)");
    TFileStream file(path, TFileStream::Mode::Create);
    file.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
    file.Close();
#endif
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
    const std::string list = outDir + "\\files.lst.bz2";
    WriteFileAside(list + ".sig", FormatSignatureFile(SignFile(list, key)));
}

} // namespace publish
