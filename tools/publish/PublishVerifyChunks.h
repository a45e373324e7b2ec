// --verify's look at the chunk indexes of a served set: an index that a launcher would use must
// describe the file its list entry names, and every chunk it names must be on the server and decode to
// its name. A file without an index is fine: most files have none.
#pragma once

#include "support/ChunkIndex.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
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
    // Why the chunk cannot be had as the entry names it, or "" when it can.
    std::string ChunkProblem(const TChunkEntry& entry);

    std::string base_;
    std::unordered_set<TChunkId, TChunkIdHash> sound_; // checked already (files share chunks)
};

} // namespace publish
