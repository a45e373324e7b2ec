// --verify's look at the chunk indexes of a served set: an index that a launcher would use must
// describe the file its list entry names, every chunk it names must be on the server and decode to its
// name, and the chunks in order must make the listed file. A file without an index (the server answers
// 404) is fine: most files have none; any other answer that is no index is a problem.
#pragma once

#include "support/ChunkIndex.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace publish {

class ChunkIndexCheck {
public:
    explicit ChunkIndexCheck(std::string baseUrl); // ends with "/"

    // The problems with the index served for a listed file, one line each without the file's name;
    // none when the server has no index for it. size: what the payload unpacks to, when that is known.
    // The index is downloaded into scratch, which is removed again.
    std::vector<std::string> Check(const std::string& listPath, const std::string& digest,
                                   std::optional<int64_t> size, const std::string& scratch);

private:
    // Why the chunk cannot be had as the entry names it, or "" when it can (its bytes then in *chunk).
    std::string FetchChunk(const TChunkEntry& entry, std::string* chunk);

    std::string base_;
};

} // namespace publish
