#include "tools/publish/PublishVerifyObjects.h"

#include "platform/Platform.h"
#include "support/ChunkIndex.h"
#include "support/Download.h"
#include "support/LauncherNames.h"
#include "support/Stream.h"

#include <memory>
#include <vector>

namespace publish {

namespace {

const char* KindName(TObjectKind kind) {
    switch (kind) {
    case TObjectKind::Payload: return "payload";
    case TObjectKind::Index: return "chunk index";
    case TObjectKind::Patch: return "patch";
    case TObjectKind::List: return "list";
    case TObjectKind::Signature: return "signature";
    }
    return "object";
}

} // namespace

ObjectCheck::ObjectCheck(std::string base) : base_(std::move(base)) {}

std::string ObjectCheck::ObjectProblem(TObjectKind kind, const TObjectRef& ref, std::string* body) {
    const std::string url = base_ + names::ObjectUrlPath(kind, ref.id);
    if (!body && sound_.count({static_cast<int>(kind), ref.id})) return std::string();
    std::unique_ptr<platform::HttpBody> answer = platform::OpenUrl(url);
    if (!answer) return "cannot open " + url;
    if (answer->Status() >= 400)
        return "its " + std::string(KindName(kind)) + " " + url + " is missing (HTTP " + std::to_string(answer->Status()) + ")";
    TObjectHasher hasher;
    std::vector<char> buffer(256 * 1024);
    int64_t received = 0;
    for (;;) {
        size_t got = 0;
        if (!answer->Read(buffer.data(), buffer.size(), &got)) return "the download of " + url + " broke off";
        if (got == 0) break;
        received += static_cast<int64_t>(got);
        if (received > ref.size) return "its " + std::string(KindName(kind)) + " " + url + " is longer than listed";
        hasher.Update(buffer.data(), got);
        if (body) body->append(buffer.data(), got);
    }
    if (received != ref.size)
        return "its " + std::string(KindName(kind)) + " " + url + " is " + std::to_string(received) + " bytes, listed " +
               std::to_string(ref.size);
    if (hasher.Final() != ref.id) return "its " + std::string(KindName(kind)) + " " + url + " is not what its name says";
    sound_.insert({static_cast<int>(kind), ref.id});
    return std::string();
}

std::vector<std::string> ObjectCheck::Check(const TFileObjects& objects, bool chunks) {
    std::vector<std::string> problems;
    const auto note = [&](const std::string& problem) {
        if (!problem.empty()) problems.push_back(problem);
    };
    if (objects.payload) note(ObjectProblem(TObjectKind::Payload, *objects.payload));
    for (const TPatchRef& patch : objects.patches) note(ObjectProblem(TObjectKind::Patch, patch.object));
    if (!objects.index) return problems;
    std::string index;
    const std::string why = ObjectProblem(TObjectKind::Index, *objects.index, chunks ? &index : nullptr);
    note(why);
    if (!why.empty() || !chunks) return problems;
    try {
        TMemoryStream source(std::move(index));
        TChunkIndexReader reader(source);
        std::string compressed, bytes;
        for (TChunkEntry entry; reader.Next(entry);) {
            const std::string url = names::ChunkUrl(base_, entry.id);
            if (DownloadToMemory(url, entry.compressedSize, &compressed) != TDownloadResult::Complete ||
                !DecodeChunk(compressed, entry, &bytes))
                problems.push_back("chunk " + url + " is missing or damaged");
        }
    } catch (const EChunkIndexError& error) {
        problems.push_back(std::string("its chunk index object is not usable: ") + error.what());
    }
    return problems;
}

std::string ObjectCheck::SignatureProblem(const std::string& listPath, const TListPublicKey& key) {
    const std::optional<TObjectId> listId = ObjectIdOfFile(listPath);
    if (!listId) return "cannot read " + listPath;
    const std::string url = base_ + names::ObjectUrlPath(TObjectKind::Signature, *listId);
    std::string text;
    if (DownloadToMemory(url, kSignatureFileMaxBytes, &text) != TDownloadResult::Complete)
        return "the signature named by the list " + url + " cannot be had";
    const std::optional<TListSignature> signature = ParseSignatureFile(text);
    if (!signature) return "the signature named by the list " + url + " is missing or no signature file";
    if (!VerifyFileSignature(listPath, *signature, key)) return "the signature named by the list " + url + " does not match it";
    return std::string();
}

} // namespace publish
