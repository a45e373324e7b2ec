#include "tools/publish/PublishVerifyChunks.h"

#include "platform/Platform.h"
#include "support/Download.h"
#include "support/LauncherNames.h"
#include "support/Misc.h"
#include "support/Stream.h"
#include "support/md5.h"

namespace publish {

namespace {

// Whether the file starts as every chunk index does; anything else is the server saying it has none
// (an error page, most often).
bool StartsAsIndex(TStream& source) {
    const std::string magic = FormatChunkIndexHeader(TChunkIndexHeader{}).substr(0, 8);
    std::string head(magic.size(), '\0');
    const int32_t got = source.Read(&head[0], static_cast<int32_t>(head.size()));
    source.SetPosition(0);
    return got == static_cast<int32_t>(head.size()) && head == magic;
}

} // namespace

ChunkIndexCheck::ChunkIndexCheck(std::string baseUrl) : base_(std::move(baseUrl)) {}

std::vector<std::string> ChunkIndexCheck::Check(const std::string& listPath, const std::string& digest,
                                                std::optional<int64_t> size, const std::string& scratch) {
    const std::string url = names::ListedFileUrl(base_, listPath, names::kChunkIndexSuffix);
    int64_t received = 0;
    int status = 0;
    switch (DownloadToFile(url, scratch, {}, &received, static_cast<int64_t>(kMaxChunkIndexBytes), &status)) {
    case TDownloadResult::Complete: break;
    case TDownloadResult::CannotOpen: return {}; // the payload's own check reports a server out of reach
    case TDownloadResult::CannotCreate: return {"cannot create " + scratch + " for its chunk index"};
    case TDownloadResult::Cut:
        return {"the download of " + url + " broke off after " + std::to_string(received) + " bytes"};
    case TDownloadResult::TooLarge:
        return {"the answer to " + url + " is larger than any chunk index can be; launchers pass it by"};
    case TDownloadResult::Damaged: return {"the answer to " + url + " is not what the list names"};
    }
    struct RemoveAtEnd {
        const std::string& path;
        ~RemoveAtEnd() { platform::RemoveFile(path); }
    } removeAtEnd{scratch};
    // Most files have no index: the server says so with 404 (or 410). Any other answer must be one.
    if (status == 404 || status == 410) return {};
    std::vector<std::string> problems;
    try {
        TFileStream source(scratch, TFileStream::Mode::OpenReadDenyWrite);
        if (!StartsAsIndex(source))
            return {"the answer to " + url + " (HTTP " + std::to_string(status) +
                    ") is no chunk index; launchers take the payload instead"};
        TChunkIndexReader reader(source);
        const TChunkIndexHeader& header = reader.Header();
        if (!SameDigest(DigestToHex(header.md5), digest))
            problems.push_back("its chunk index " + url + " is for other contents (MD5 " + DigestToHex(header.md5) +
                               ", listed " + digest + "); launchers pass it by");
        if (size && header.fileSize != static_cast<uint64_t>(*size))
            problems.push_back("its chunk index " + url + " is for a file of " + std::to_string(header.fileSize) +
                               " bytes; the payload unpacks to " + std::to_string(*size));
        if (!problems.empty()) return problems;
        // The file is rebuilt from its chunks, in order, as a launcher would assemble it.
        TMD5Context rebuilt;
        std::string chunk;
        for (TChunkEntry entry; reader.Next(entry);) {
            const std::string why = FetchChunk(entry, &chunk);
            if (!why.empty()) problems.push_back("chunk " + ChunkIdToHex(entry.id) + " of its index: " + why);
            rebuilt.Update(chunk.data(), chunk.size());
        }
        TMD5Digest md5;
        rebuilt.Final(md5);
        if (problems.empty() && !SameDigest(DigestToHex(md5), digest))
            problems.push_back("the chunks of its index " + url + " make a file of MD5 " + DigestToHex(md5) +
                               ", listed " + digest + "; launchers take the payload instead");
    } catch (const EChunkIndexError& error) {
        problems.push_back("its chunk index " + url + ": " + error.what() + "; launchers pass it by");
    } catch (const Exception& error) {
        problems.push_back("cannot read its chunk index from " + scratch + ": " + error.what());
    }
    return problems;
}

std::string ChunkIndexCheck::FetchChunk(const TChunkEntry& entry, std::string* chunk) {
    chunk->clear();
    const std::string url = names::ChunkUrl(base_, entry.id);
    std::string compressed;
    switch (DownloadToMemory(url, entry.compressedSize, &compressed)) {
    case TDownloadResult::Complete: break;
    case TDownloadResult::CannotOpen: return "cannot open " + url;
    case TDownloadResult::TooLarge:
        return "missing or damaged: the answer to " + url + " is longer than the " +
               std::to_string(entry.compressedSize) + " bytes the index names";
    default: return "the download of " + url + " broke off";
    }
    if (compressed.size() != entry.compressedSize)
        return "missing or damaged: the answer to " + url + " is " + std::to_string(compressed.size()) +
               " bytes, the index names " + std::to_string(entry.compressedSize);
    if (!DecodeChunk(compressed, entry, chunk))
        return "damaged: " + url + " does not unpack to the " + std::to_string(entry.size) + " bytes it is named by";
    return std::string();
}

} // namespace publish
